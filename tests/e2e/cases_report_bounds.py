"""End-to-end cases of what bounds an install report (under 12 s, what it
cannot finish kept or named in the log)."""
import os
import re
import threading

from cases_beacon import COUNTER_URL, REFERER, Product, check_stored, install_record
from cases_cache import data_folder
from harness import check, check_equal
from loopback import closed_port

TIMEOUT = "err:0x800705b4"  # HRESULT_FROM_WIN32(ERROR_TIMEOUT)


def run_bounded(h, product, exe, what, **env):
    """Runs the installer with env, checks that it was held under 12 s."""
    h.env.update(env)
    try:
        lines, started, ended = product.run(exe)
    finally:
        for name in env:
            h.env.pop(name)
    check(len(lines) == 2 and lines[0] == "after:[below]", f"{what}: {lines}")
    print(f"{what}: {lines[1]}")
    check(int(lines[1][len("held:"):]) < 12000, f"{what} held the installer: {lines}")
    return started, ended


def kept_files(h):
    return list(data_folder(h).glob("feed.cache.*.row"))


def case_report_log_lock_held(h):
    """Another program holds the byte every writer of the log locks: the
    line waits for it only briefly and is written all the same."""
    with Product(h) as product:
        product.proxy(closed_port())
        data_folder(h).mkdir(parents=True)
        ready = h.work / "lock.ready"
        holder = h.start(h.copy_helper("lockhold.exe", "lockhold.exe"),
                         h.windows_path(data_folder(h) / product.statistic_log), h.windows_path(ready), 600)
        h.wait_for(ready.exists, 60, "the lock to be held")
        started, ended = run_bounded(h, product, product.installer(script="report_deadline.nsi"), "held lock")
        check(holder.poll() is None, "the lock holder ended before the report")
        check_stored(product, [(COUNTER_URL, REFERER, started, ended)], "with the log's lock held")
        check_equal([install_record()], product.install_records(), "install records")


def case_report_whole_call_deadline(h):
    """A component whose Commit hangs, a database library that takes 3 s per
    call, and a version library in an install folder that does not answer:
    each time the call returns in time; the request is kept beside the cache
    (and folded in by the next report) or the log names what went undone."""
    with Product(h) as product:
        product.proxy(closed_port())
        exe = product.installer(script="report_deadline.nsi")
        started, ended = run_bounded(h, product, exe, "hung Commit", TM_GLEANOR_STALL="channel.Commit:40000")
        check_stored(product, [(COUNTER_URL, REFERER, started, ended)], "with a hung Commit")
        check(re.fullmatch(rf"\[ERROR\.SendRecord\] table:lumbra_install, items:preid=5;update=1;cover=0, "
                           rf"time:\d+, {TIMEOUT}", product.log_records()[-1]), f"log: {product.log_records()}")

        slow = run_bounded(h, product, exe, "slow database", TM_TARNBASE_SLOW_MS="3000")
        check_equal((1, 1), (len(kept_files(h)), len(product.rows())), "kept requests and rows after it")
        run_bounded(h, product, exe, "the next report")
        times = sorted(int(t) for t, _, _ in product.rows())
        check_equal(([], 3), (kept_files(h), len(times)), "kept requests and rows after the next report")
        check(slow[0] <= times[1] <= slow[1], f"the kept request's time: {times}, {slow}")

        pelvo = product.root / "pelvo.dll"
        pelvo.unlink()
        os.mkfifo(pelvo)
        writer, released = os.open(pelvo, os.O_RDWR), []
        # Let go at the latest after 40 s, so that a reader holding the installer ends.
        release = threading.Timer(40, lambda: released.append(os.close(writer)))
        release.start()
        try:
            started, ended = run_bounded(h, product, exe, "unanswered version library")
        finally:
            release.cancel()
            release.join()
            if not released:
                os.close(writer)
        dropped, unsent = product.log_records()[-2:]
        match = re.fullmatch(rf"\[ERROR\.SaveStatistic\] url:{re.escape(COUNTER_URL)}, time:(\d+), count:1, {TIMEOUT}",
                             dropped)
        check(match and started <= int(match.group(1)) <= ended, f"the dropped request's line: {dropped}")
        check_equal(f"[ERROR.SendRecord] table:lumbra_install, time:{match.group(1)}, {TIMEOUT}", unsent,
                    "the unsent record's line")

