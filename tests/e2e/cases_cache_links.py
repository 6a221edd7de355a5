"""End-to-end cases of the offline cache and the statistic log meeting
links in the data folder, made as a user could make them: Unix symbolic
links (Wine shows a link to a folder as a reparse point and a link to a
file as the file itself) and hard links. A store must neither change nor
delete nor write anything behind a link.

The stores run in cachestore.exe, as in cases_cache.py, against the
prefix's C:\\ProgramData\\Tolmen, which each case makes and removes itself.
"""
import os
import shutil
import subprocess

from cases_cache import LOG_NAME, install_store_program, request, sqlite
from harness import check, check_equal

JUNK = b"not a database \x00\xff" * 64


def tolmen(h):
    return h.prefix / "drive_c" / "ProgramData" / "Tolmen"


def remove_tolmen(h):
    """Removes the links themselves, never what they point to."""
    top = tolmen(h)
    for place in (top / "Lumbra", top):
        if place.is_symlink():
            place.unlink()
    if top.exists():
        for below in sorted(top.rglob("*"), key=lambda p: len(p.parts), reverse=True):
            below.unlink() if below.is_symlink() or not below.is_dir() else below.rmdir()
        top.rmdir()


def store(h, exe, i=0):
    done = subprocess.run([h.wine, str(exe), *map(str, request(i))], cwd=h.work, env=h.env,
                          capture_output=True, timeout=300)
    return done.returncode, done.stdout.decode("latin-1").strip()


def listing(folder):
    return sorted(str(p.relative_to(folder)) for p in folder.rglob("*"))


def log_records(path):
    text = path.read_bytes().decode("utf-16-le")
    return [line.split("] ", 1)[1] for line in text.lstrip("\ufeff").split("\r\n") if line]


def scratch(h, name):
    """A folder outside the data folder holding a junk feed.cache and a junk log."""
    outside = h.work / name
    outside.mkdir()
    (outside / "feed.cache").write_bytes(JUNK)
    (outside / LOG_NAME).write_bytes(JUNK)
    return outside


def case_cache_links(h):
    exe = install_store_program(h)
    remove_tolmen(h)
    try:
        # The data folder, or the folder above it, a link to another folder.
        for linked in ("Lumbra", "Tolmen"):
            outside = scratch(h, f"outside_{linked}")
            if linked == "Lumbra":
                tolmen(h).mkdir()
                (tolmen(h) / "Lumbra").symlink_to(outside, target_is_directory=True)
            else:
                tolmen(h).symlink_to(outside, target_is_directory=True)
            check_equal((4, "stored 0x80070003"), store(h, exe), f"the store through a linked {linked}")
            check_equal(sorted(["feed.cache", LOG_NAME]), listing(outside), f"behind the linked {linked}")
            for name in ("feed.cache", LOG_NAME):
                check_equal(JUNK, (outside / name).read_bytes(), f"{name} behind the linked {linked}")
            remove_tolmen(h)

        # The cache file a link or a second name of another file: the store
        # fails and says so in the log; the other file keeps every byte.
        lumbra = tolmen(h) / "Lumbra"
        for kind in ("symbolic", "hard"):
            lumbra.mkdir(parents=True)
            target = h.work / f"{kind}.target"
            target.write_bytes(JUNK)
            if kind == "symbolic":
                (lumbra / "feed.cache").symlink_to(target)
            else:
                os.link(target, lumbra / "feed.cache")
            check_equal((4, "stored 0x80070780"), store(h, exe), f"the store into a {kind} link")
            check_equal(JUNK, target.read_bytes(), f"the file behind the {kind} link")
            check_equal(kind == "symbolic", (lumbra / "feed.cache").is_symlink(), f"the {kind} link itself")
            # The request stays kept beside the cache, for a later store.
            check_equal(sorted(["feed.cache", LOG_NAME]), [name for name in listing(lumbra) if not name.endswith(".row")],
                        f"the data folder with a {kind} link")
            url, referer, t = request(0)
            check_equal([f"[ERROR.SaveStatistic] url:{url}, refer_url:{referer}, time:{t}, count:1, err:0x80070780"],
                        log_records(lumbra / LOG_NAME), f"the log beside the {kind} link")
            remove_tolmen(h)
            target.unlink()

        # The log a link, or a link that leads nowhere yet, or a hard link:
        # the request is stored, the line is dropped, nothing is made behind it.
        for kind in ("symbolic", "dangling", "hard"):
            lumbra.mkdir(parents=True)
            target = h.work / f"log.{kind}"
            if kind != "dangling":
                target.write_bytes(JUNK)
            if kind == "hard":
                os.link(target, lumbra / LOG_NAME)
            else:
                (lumbra / LOG_NAME).symlink_to(target)
            check_equal((0, "stored 0x00000000"), store(h, exe), f"the store beside a {kind} log link")
            check_equal(["1"], sqlite(lumbra / "feed.cache", "select count(*) from statistic3"), "rows stored")
            if kind == "dangling":
                check(not target.exists(), "a log was made behind the link that led nowhere")
            else:
                check_equal(JUNK, target.read_bytes(), f"the file behind the {kind} log link")
            remove_tolmen(h)
            if target.exists():
                target.unlink()

        # A log to move aside whose ".old" is a link: the log is moved over
        # the link itself, whose file stays, and the line goes to a new log.
        lumbra.mkdir(parents=True)
        big = b"\xff\xfe" + b"a" * 5242880
        (lumbra / LOG_NAME).write_bytes(big)
        target = h.work / "old.target"
        target.write_bytes(JUNK)
        (lumbra / (LOG_NAME + ".old")).symlink_to(target)
        check_equal((0, "stored 0x00000000"), store(h, exe), "the store beside a linked .old")
        check_equal(JUNK, target.read_bytes(), "the file behind the linked .old")
        check(not (lumbra / (LOG_NAME + ".old")).is_symlink(), "the linked .old was not replaced")
        check_equal(len(big), (lumbra / (LOG_NAME + ".old")).stat().st_size, "the size of the log moved aside")
        check_equal(1, len(log_records(lumbra / LOG_NAME)), "lines of the new log")
    finally:
        remove_tolmen(h)
