"""End-to-end cases of what bounds an install report: the whole call holds
the installer less than 12 s whatever the product's libraries, its disks
and the statistic log do, and nothing the report carries is lost without a
word; a cache the database library refuses again never replaces the one it
refused before.

The stand-ins stall as the environment asks (TM_GLEANOR_STALL,
TM_TARNBASE_SLOW_MS); a share that does not answer is a version library
that is a Unix pipe whose writer never writes; another user's hold on the
log's lock comes from lockhold.exe.
"""
import contextlib
import os
import re
import threading

from cases_beacon import COUNTER_URL, REFERER, Product, check_stored, install_record
from cases_cache import data_folder
from harness import check, check_equal
from loopback import closed_port

TIMEOUT = "err:0x800705b4"  # HRESULT_FROM_WIN32(ERROR_TIMEOUT)


def held_ms(lines):
    check(len(lines) > 1 and lines[0] == "after:[below]" and lines[1].startswith("held:"), f"installer: {lines}")
    return int(lines[1][len("held:"):])


def kept_files(h):
    folder = data_folder(h)
    return sorted(p.name for p in folder.glob("feed.cache.*.row")) if folder.is_dir() else []


@contextlib.contextmanager
def environment(h, **values):
    h.env.update(values)
    try:
        yield
    finally:
        for name in values:
            h.env.pop(name, None)


@contextlib.contextmanager
def unanswered_file(path, release_after):
    """path becomes a pipe that is held open for writing and never written:
    a reader waits as on a share that does not answer, until the writer lets
    go (at the latest after release_after seconds, so that a reader that
    blocks the installer ends too)."""
    path.unlink()
    os.mkfifo(path)
    writer = os.open(path, os.O_RDWR)
    lock, held = threading.Lock(), [True]

    def release():
        with lock:
            if held[0]:
                held[0] = False
                os.close(writer)

    timer = threading.Timer(release_after, release)
    timer.start()
    try:
        yield
    finally:
        timer.cancel()
        release()
        path.unlink()


def unsent_record(time_text, items=""):
    return f"[ERROR.SendRecord] table:lumbra_install{items}, time:{time_text}, {TIMEOUT}"


def case_report_log_lock_held(h):
    """Another program holds the byte every writer of the statistic log
    locks, for a minute: the report waits for it only briefly, and the line
    is written all the same."""
    with Product(h) as product:
        product.proxy(closed_port())
        exe = product.installer(script="report_deadline.nsi")
        data_folder(h).mkdir(parents=True)
        ready = h.work / "lock.ready"
        holder = h.start(h.copy_helper("lockhold.exe", "lockhold.exe"),
                         h.windows_path(data_folder(h) / product.statistic_log), h.windows_path(ready), 60)
        h.wait_for(ready.exists, 60, "the lock to be held")
        lines, started, ended = product.run(exe)
        check(holder.poll() is None, "the lock holder ended before the report")
        print(f"held {held_ms(lines)} ms while the log's lock was held")
        check(held_ms(lines) < 12000, f"the report was held: {lines}")
        check_stored(product, [(COUNTER_URL, REFERER, started, ended)], "with the log's lock held")
        check_equal([install_record()], product.install_records(), "install records")


def case_report_whole_call_deadline(h):
    """Each part of the report that may hang: the component's Commit, a
    database library that takes seconds per call, and the version library in
    an install folder that does not answer. The call returns within 12 s
    each time; what it could not finish is kept (the request, beside the
    cache) or named in the log with why, and a later report folds the kept
    request into the cache."""
    with Product(h) as product:
        product.proxy(closed_port())
        exe = product.installer(script="report_deadline.nsi")
        record_items = ", items:preid=5;update=1;cover=0"

        # A component whose Commit hangs: the request is stored, and the
        # record the component had not taken when the call returned is named.
        with environment(h, TM_GLEANOR_STALL="channel.Commit:40000"):
            lines, started, ended = product.run(exe)
        print(f"hung Commit: held {held_ms(lines)} ms")
        check(held_ms(lines) < 12000, f"a hung Commit held the installer: {lines}")
        stored = [(COUNTER_URL, REFERER, started, ended)]
        check_stored(product, stored, "with a hung Commit")
        records = product.log_records()
        check(re.fullmatch(re.escape(unsent_record("X", record_items)).replace("X", r"(\d+)"), records[-1]) is not None,
              f"no line names the unsent record: {records}")

        # A database library that takes 3 s per call: the store outlasts
        # the call, and the installer ends meanwhile; the request stays
        # kept beside the cache.
        with environment(h, TM_TARNBASE_SLOW_MS="3000"):
            lines, started_slow, ended_slow = product.run(exe)
        print(f"slow database: held {held_ms(lines)} ms")
        check(held_ms(lines) < 12000, f"a slow database held the installer: {lines}")
        check_equal(1, len(kept_files(h)), "requests kept beside the cache after the slow store")
        check_equal(1, len(product.rows()), "rows of feed.cache after the slow store")

        # The next report stores its own request and folds the kept one in.
        lines, started, ended = product.run(exe)
        check(held_ms(lines) < 12000, f"the next report: {lines}")
        check_equal([], kept_files(h), "requests kept after the next report")
        rows = product.rows()
        check_equal([(COUNTER_URL, REFERER)] * 3, [(u, r) for _, u, r in rows], "rows of feed.cache")
        times = sorted(int(t) for t, _, _ in rows)
        check(started_slow <= times[1] <= ended_slow, f"the kept request's time: {times}")

        # The version library lies where reading it never ends: the referer
        # cannot be made in time, and the log says what was dropped and why.
        pelvo = product.root / "pelvo.dll"
        with unanswered_file(pelvo, release_after=40):
            lines, started, ended = product.run(exe)
        print(f"version library that does not answer: held {held_ms(lines)} ms")
        check(held_ms(lines) < 12000, f"an unanswered version library held the installer: {lines}")
        records = product.log_records()[-2:]
        match = re.fullmatch(rf"\[ERROR\.SaveStatistic\] url:{re.escape(COUNTER_URL)}, time:(\d+), count:1, {TIMEOUT}",
                             records[0])
        check(match is not None and started <= int(match.group(1)) <= ended, f"the dropped request's line: {records}")
        check_equal(unsent_record(match.group(1)), records[1], "the unsent record's line")
        check_equal(3, len(product.rows()), "rows of feed.cache")


def case_cache_refused_again(h):
    """A cache the database library refuses is moved aside to the first free
    numbered name: one refused before keeps its rows."""
    with Product(h) as product:
        product.proxy(closed_port())
        folder = data_folder(h)
        folder.mkdir(parents=True)
        older, newer = b"refused before " * 300, b"refused now " * 300
        (folder / "feed.cache.bad").write_bytes(older)
        (folder / "feed.cache").write_bytes(newer)
        _, started, ended = product.run(product.installer())
        check_equal(older, (folder / "feed.cache.bad").read_bytes(), "the cache refused before")
        check_equal(newer, (folder / "feed.cache.bad.2").read_bytes(), "the cache refused now")
        check_stored(product, [(COUNTER_URL, REFERER, started, ended)], "in the new cache")
