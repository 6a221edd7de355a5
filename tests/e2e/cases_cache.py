"""End-to-end cases of the offline cache and the statistic log: processes
that store at the same time, and the teardown at the end of a process.

Each store runs in cachestore.exe, which loads tmcachehost.dll (the cache
and log with the plug-in's entry routine) and the stand-in tarnbase.dll
from its own folder. Both write to the prefix's data folder,
C:\\ProgramData\\Tolmen\\Lumbra, which each case clears at its start and end.
The cache is read with Debian's sqlite3.
"""
import re
import shutil
import sqlite3
import subprocess

from harness import check, check_equal

LOG_NAME = "cachestore.exe_statistic.log"
LINE = re.compile(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}\] (.*)$")


def data_folder(h):
    return h.prefix / "drive_c" / "ProgramData" / "Tolmen" / "Lumbra"


def install_store_program(h):
    for name in ("cachestore.exe", "tmcachehost.dll"):
        shutil.copyfile(h.bin / name, h.work / name)
    shutil.copyfile(h.standins / "tarnbase.dll", h.work / "tarnbase.dll")
    return h.work / "cachestore.exe"


def sqlite(path, sql):
    result = subprocess.run(["sqlite3", str(path), sql], capture_output=True, text=True, timeout=60)
    check(result.returncode == 0, f"sqlite3 {sql!r} failed: {result.stderr}")
    return result.stdout.splitlines()


def request(i):
    return (f"http://counter.test/2813985/tongji.gif?n={i}", f"http://report.test/install/{i}", 1700000000 + i)


def check_stored(h, count):
    """The cache holds the first count requests, intact, and the log has
    one whole line for each, after a single FF FE."""
    cache = data_folder(h) / "feed.cache"
    check_equal(["ok"], sqlite(cache, "pragma integrity_check"), "integrity of feed.cache")
    rows = sqlite(cache, "select CommitTime, ID, URL, RefererURL from statistic3 order by CommitTime")
    check_equal([f"{t}|{url}|{referer}" for url, referer, t in map(request, range(count))],
                [re.sub(r"^(\d+)\|\d+\|", r"\1|", row) for row in rows], "rows of statistic3")
    check_equal(list(range(1, count + 1)), sorted(int(row.split("|")[1]) for row in rows), "row ids")

    raw = (data_folder(h) / LOG_NAME).read_bytes()
    check(raw.startswith(b"\xff\xfe"), f"the log starts with {raw[:2]!r}")
    text = raw.decode("utf-16-le")
    check_equal(1, text.count("\ufeff"), "FF FE marks in the log")
    check(text.endswith("\r\n"), "the log's last line is cut")
    lines = text[1:].split("\r\n")[:-1]
    records = sorted(LINE.match(line).group(1) if LINE.match(line) else f"not a line: {line!r}" for line in lines)
    expected = sorted(f"[INFO.SaveStatistic] url:{url}, refer_url:{referer}, time:{t}, count:1"
                      for url, referer, t in map(request, range(count)))
    check_equal(expected, records, "records of the log")


def case_cache_eight_processes(h):
    shutil.rmtree(data_folder(h), ignore_errors=True)
    try:
        store = install_store_program(h)
        children = [h.start(store, *request(i)) for i in range(8)]
        for i, child in enumerate(children):
            check_equal(0, child.wait(timeout=300), f"exit code of store {i}")
        check_stored(h, 8)
    finally:
        shutil.rmtree(data_folder(h), ignore_errors=True)


def case_cache_process_end(h):
    shutil.rmtree(data_folder(h), ignore_errors=True)
    try:
        store = install_store_program(h)
        # Kept loaded to the end of the process, then freed before it.
        for i, mode in enumerate(((), ("unload",))):
            done = subprocess.run([h.wine, str(store), *map(str, request(i)), *mode], cwd=h.work, env=h.env,
                                  capture_output=True, timeout=300)
            check_equal(0, done.returncode, f"exit code of the store {mode or '(kept loaded)'}: {done.stdout!r}")
        check_stored(h, 2)
    finally:
        shutil.rmtree(data_folder(h), ignore_errors=True)


def case_cache_long_host_path(h):
    """A host executable whose path fills the 260-character buffer finds no
    library, neither beside it nor above it; one character less does."""
    shutil.rmtree(data_folder(h), ignore_errors=True)
    try:
        install_store_program(h)
        room = 260 - len(h.windows_path(h.work)) - 1 - len("\\cachestore.exe")
        for length, name in ((259, "b"), (260, "c")):
            folder = h.work / (name * (room + length - 260))
            folder.mkdir()
            for item in ("cachestore.exe", "tmcachehost.dll", "tarnbase.dll"):
                shutil.copyfile(h.work / item, folder / item)
            store = folder / "cachestore.exe"
            check_equal(length, len(h.windows_path(store)), "length of the host's path")
            done = subprocess.run([h.wine, str(store), *map(str, request(0))], cwd=h.work, env=h.env,
                                  capture_output=True, timeout=300)
            if length == 259:
                check_equal(0, done.returncode, f"exit code at {length}: {done.stdout!r}")
                check_stored(h, 1)
            else:
                check_equal((4, b"stored 0x80004005"), (done.returncode, done.stdout.strip()),
                            f"store at {length}")
                check_equal(["1"], sqlite(data_folder(h) / "feed.cache", "select count(*) from statistic3"),
                            "rows after the store at 260")
    finally:
        shutil.rmtree(data_folder(h), ignore_errors=True)


def case_cache_exclusive_and_held(h):
    """A library that opens feed.cache for itself alone keeps a row for each
    of three requests. A cache another program holds locked through a whole
    store keeps its rows: the store fails, and nothing is moved aside."""
    shutil.rmtree(data_folder(h), ignore_errors=True)
    try:
        store = install_store_program(h)

        def run(i, env):
            done = subprocess.run([h.wine, str(store), *map(str, request(i))], cwd=h.work, env=env,
                                  capture_output=True, timeout=300)
            return done.returncode, done.stdout.strip()
        for i in range(3):
            check_equal((0, b"stored 0x00000000"), run(i, {**h.env, "TM_TARNBASE_EXCLUSIVE": "1"}), f"store {i}")
        check_stored(h, 3)
        cache = data_folder(h) / "feed.cache"
        holder = sqlite3.connect(str(cache), isolation_level=None)
        holder.executemany("insert into statistic3 (URL) values (?)", [(f"http://held.test/{i}",) for i in range(77)])
        holder.execute("begin exclusive")
        check_equal((4, b"stored 0x80040105"), run(3, h.env), "the store into a held cache")
        holder.close()
        check_equal(["80"], sqlite(cache, "select count(*) from statistic3"), "rows of the held cache")
        check(not (data_folder(h) / "feed.cache.bad").exists(), "the held cache was moved aside")
    finally:
        shutil.rmtree(data_folder(h), ignore_errors=True)
