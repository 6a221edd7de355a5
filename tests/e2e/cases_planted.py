"""End-to-end cases of what any user may put where the plug-in looks: files
named as kept requests beside the offline cache, a second name at the old
statistic log's name, the product's libraries in folders every user may
write.

Each case clears HKLM\\SOFTWARE\\Vardo and the data folder at its start and
end (cases_beacon.Product).
"""
import os
import re

from cases_beacon import COUNTER_URL, REFERER, Product, install_record
from cases_cache import data_folder
from cases_report import install_standin, log_lines
from harness import check, check_equal
from loopback import closed_port


def case_cache_junk_kept_files(h):
    """A user fills the data folder with files named as kept requests that
    hold none: the next report still folds in what an earlier one kept,
    moves each such file aside once, whole, and names them in one line."""
    with Product(h) as product:
        product.proxy(closed_port())
        exe = product.installer()
        h.env["TM_TARNBASE_FAIL"] = "begin"  # the first store fails: its request stays kept
        try:
            product.run(exe)
        finally:
            h.env.pop("TM_TARNBASE_FAIL")
        check_equal(1, len(list(data_folder(h).glob("feed.cache.*.row"))), "requests kept by the first report")
        for i in range(100):
            (data_folder(h) / f"feed.cache.{i:04}.row").write_bytes(b"junk %d" % i)
        product.run(exe)
        check_equal(2, len(product.rows()), "rows once the next report has stored")
        check_equal(0, len(list(data_folder(h).glob("feed.cache.*.row"))), "files left named as kept requests")
        aside = list(data_folder(h).glob("feed.cache.0042.row.*.refused"))
        check_equal(1, len(aside), "the file moved aside")
        check_equal(b"junk 42", aside[0].read_bytes(), "what the file moved aside holds")
        refused = [record for record in product.log_records() if record.startswith("[ERROR.KeptRequest]")]
        check_equal(1, len(refused), f"lines naming the files moved aside: {product.log_records()}")
        check(refused[0].endswith(", count:100, err:0x8007000d"), f"the line naming them: {refused[0][-80:]}")


def case_report_log_old_linked(h):
    """The old log's name is a second name of another file: the large log
    is moved over that name, the other file stays, and the report's lines
    go to a new log."""
    with Product(h) as product:
        product.proxy(closed_port())
        data_folder(h).mkdir(parents=True)
        log = data_folder(h) / product.statistic_log
        log.write_bytes(b"\xff\xfe" + "a".encode("utf-16-le") * 2700000)
        other = h.work / "other.txt"
        other.write_bytes(b"another file")
        os.link(other, data_folder(h) / (product.statistic_log + ".old"))
        lines, started, ended = product.run(product.installer())
        check_equal(["after:[below]"], lines, "stack after the report")
        records = product.log_records()
        check_equal(1, len(records), f"the new log's lines: {records}")
        check(records[0].startswith(f"[INFO.SaveStatistic] url:{COUNTER_URL}, refer_url:{REFERER}, time:"), records[0])
        check_equal(5400002, (data_folder(h) / (product.statistic_log + ".old")).stat().st_size, "the old log")
        check_equal(b"another file", other.read_bytes(), "the other file")


def case_report_writable_folder(h):
    """An installer run from a folder every user may write, as Downloads
    is: neither the database library beside it nor the info-collection
    library below it is loaded. Each counts as missing and the log names it;
    the request stays kept, and the record goes to the install folder's
    library."""
    with Product(h) as product:
        product.proxy(closed_port())
        planted_log = install_standin(h, h.work)
        for folder in (h.work, h.work / "ovec"):
            folder.chmod(0o777)
        lines, _, _ = product.run(product.installer())
        check_equal(["after:[below]"], lines, "stack after the report")
        check_equal([], log_lines(planted_log), "what the library beside the installer received")
        check_equal([install_record()], product.install_records(), "install records")
        check_equal(1, len(list(data_folder(h).glob("feed.cache.*.row"))), "requests kept")
        not_own = "err:0x80070005"
        expected = [f"[ERROR.LoadLibrary] file:{h.windows_path(h.work / 'tarnbase.dll')}, {not_own}",
                    f"[ERROR.LoadLibrary] file:{h.windows_path(h.work / 'ovec' / 'gleanor.dll')}, {not_own}",
                    f"[ERROR.SaveStatistic] url:{COUNTER_URL}, refer_url:{REFERER}"]
        records = [re.sub(r", time:\d+, count:1, err:0x80004005$", "", record) for record in product.log_records()]
        check_equal(sorted(expected), sorted(records), "the statistic log")

