"""End-to-end cases of what bounds an install report (under 12 s, what it
cannot finish kept or named in the log)."""
import os
import re
import threading

from cases_beacon import COUNTER_URL, REFERER, Product, check_stored, install_record
from cases_cache import data_folder
from cases_report import place_version
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


def unanswered_version_library(product):
    """pelvo.dll in the install folder as a FIFO no one writes to: a reader
    waits for it until the writer lets go, at the latest after 40 s.
    Returns what lets go."""
    pelvo = product.root / "pelvo.dll"
    pelvo.unlink()
    os.mkfifo(pelvo)
    writer, released = os.open(pelvo, os.O_RDWR), []
    release = threading.Timer(40, lambda: released.append(os.close(writer)))
    release.start()

    def let_go():
        release.cancel()
        release.join()
        if not released:
            os.close(writer)
    return let_go


def log_tail(h, product, count):
    """The records of the log's last count lines, read from its end: the log
    may hold megabytes of filler before them."""
    text = (data_folder(h) / product.statistic_log).read_bytes()[-4096:].decode("utf-16-le", "replace")
    lines = text.split("\r\n")[:-1][-count:]
    return [line.split("] ", 1)[1] if "] " in line else line for line in lines]


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

        # The record goes on a worker of its own: no delay of the cache's
        # costs it.
        before = len(product.log_records())
        slow = run_bounded(h, product, exe, "slow database", TM_TARNBASE_SLOW_MS="3000")
        check_equal((1, 1), (len(kept_files(h)), len(product.rows())), "kept requests and rows after it")
        check_equal([install_record()] * 2, product.install_records(), "install records after the slow database")
        check_equal([], product.log_records()[before:], "lines of the report with the slow database")
        run_bounded(h, product, exe, "the next report")
        times = sorted(int(t) for t, _, _ in product.rows())
        check_equal(([], 3), (kept_files(h), len(times)), "kept requests and rows after the next report")
        check(slow[0] <= times[1] <= slow[1], f"the kept request's time: {times}, {slow}")

        let_go = unanswered_version_library(product)
        try:
            started, ended = run_bounded(h, product, exe, "unanswered version library")
        finally:
            let_go()
        dropped, unsent = product.log_records()[-2:]
        match = re.fullmatch(rf"\[ERROR\.SaveStatistic\] url:{re.escape(COUNTER_URL)}, time:(\d+), count:1, {TIMEOUT}",
                             dropped)
        check(match and started <= int(match.group(1)) <= ended, f"the dropped request's line: {dropped}")
        check_equal(f"[ERROR.SendRecord] table:lumbra_install, time:{match.group(1)}, {TIMEOUT}", unsent,
                    "the unsent record's line")



def case_report_everything_slow(h):
    """Everything slow at once: a log due to be moved aside whose lock
    another program holds, a database library that takes 3 s per call, a
    component whose Commit hangs; first with a version library that never
    answers as well, then without it. Each time the call returns within
    12 s, and the log says what went undone."""
    with Product(h) as product:
        product.proxy(closed_port())
        exe = product.installer(script="report_deadline.nsi")
        log = data_folder(h) / product.statistic_log
        data_folder(h).mkdir(parents=True)
        log.write_bytes(b"\xff\xfe" + "a".encode("utf-16-le") * 2700000)  # 5.4 MB: due to be moved aside
        ready = h.work / "lock.ready"
        holder = h.start(h.copy_helper("lockhold.exe", "lockhold.exe"), h.windows_path(log), h.windows_path(ready), 600)
        h.wait_for(ready.exists, 60, "the lock to be held")
        slow = dict(TM_GLEANOR_STALL="channel.Commit:40000", TM_TARNBASE_SLOW_MS="3000")
        let_go = unanswered_version_library(product)
        try:
            started, ended = run_bounded(h, product, exe, "everything slow, the version library too", **slow)
        finally:
            let_go()
        check(holder.poll() is None, "the lock holder ended before the report")
        dropped, unsent = log_tail(h, product, 2)
        check(re.fullmatch(rf"\[ERROR\.SaveStatistic\] url:{re.escape(COUNTER_URL)}, time:\d+, count:1, {TIMEOUT}",
                           dropped), f"the dropped request's line: {dropped}")
        check(re.fullmatch(rf"\[ERROR\.SendRecord\] table:lumbra_install, time:\d+, {TIMEOUT}", unsent),
              f"the unsent record's line: {unsent}")

        (product.root / "pelvo.dll").unlink()
        place_version(h, "pelvo_2_5", "pelvo.dll", product.root)
        run_bounded(h, product, exe, "everything slow", **slow)
        # The request is kept, the record handed over: its line names its items.
        check(re.fullmatch(rf"\[ERROR\.SendRecord\] table:lumbra_install, items:preid=5;update=1;cover=0, "
                           rf"time:\d+, {TIMEOUT}", log_tail(h, product, 1)[0]), f"log: {log_tail(h, product, 3)}")
        check(len(kept_files(h)) >= 1, "the request was not kept")
        check(log.stat().st_size > 5242880, "the log was moved aside under another program's lock")
