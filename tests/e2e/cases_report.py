"""End-to-end cases of the uninstall report: real installers (and one real
uninstaller) hand their records to the info-collection stand-in, a real
gleanor.dll that logs what it receives to gleanor.log beside itself.

Every case that writes HKLM\\SOFTWARE\\Vardo deletes it at its start and end.
"""
import shutil
import subprocess
import threading
import time

from harness import check, check_equal, read_lines

UID = "00112233445566778899AABBCCDDEEFF"
OS_DESCRIPTION = {"main": "win6.1.sp1", "xp64": "win6.1.sp2", "win32": "win6.1.sp3"}


class ProductKey:
    """HKLM\\SOFTWARE\\Vardo in the 32-bit view, as the plug-in reads it."""

    def __init__(self, h):
        self.h = h

    def __enter__(self):
        self.delete()
        return self

    def __exit__(self, *_):
        self.delete()

    def delete(self):
        self.h.wine_reg("delete", r"HKLM\SOFTWARE\Vardo", "/f", "/reg:32")

    def set(self, key, name, text):
        code = self.h.wine_reg("add", key, "/v", name, "/d", text, "/f", "/reg:32")
        check_equal(0, code, f"reg add {key} {name}")

    def identity(self, install=None, uid=UID, oem_id="7"):
        self.set(r"HKLM\SOFTWARE\Vardo", "uid", uid)
        self.set(r"HKLM\SOFTWARE\Vardo\Coop", "OEMID", oem_id)
        if install is not None:
            self.set(r"HKLM\SOFTWARE\Vardo", "Install Path", self.h.windows_path(install))


def install_standin(h, folder):
    """Puts the stand-in at folder\\ovec\\gleanor.dll; returns its log."""
    (folder / "ovec").mkdir(parents=True, exist_ok=True)
    shutil.copyfile(h.standins / "gleanor" / "gleanor.dll", folder / "ovec" / "gleanor.dll")
    return folder / "ovec" / "gleanor.log"


def place_version(h, tag, name, folder):
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(h.bin / "versions" / tag / name, folder / name)


def log_lines(log):
    return log.read_text(encoding="utf-8").splitlines() if log.exists() else []


def starting(lines, prefix):
    return [line for line in lines if line.startswith(prefix)]


def public_record(version, kind, uid=UID, oem_id="7"):
    return (f"xlumbra_public|uuid=bytes:{uid.lower()}|pid=int:{oem_id}|ver=str:{version}"
            f"|win=str:{OS_DESCRIPTION[kind]}")


def split_time(write):
    """The write line without its collect time, and the time."""
    head, _, time_text = write.partition("|collect_time=int:")
    return head, int(time_text) if time_text else None


def check_reports(lines, expected, started, ended):
    """Each report: its public record first (on the public channel), then
    its own record, committed; every object given back once; the library
    freed before the next report."""
    writes = starting(lines, "write")
    check_equal(2 * len(expected), len(writes), f"records written: {writes}")
    for i, (public, own) in enumerate(expected):
        head, collect_time = split_time(writes[2 * i])
        check_equal(f"write public#4 {public}", head, f"public record of report {i + 1}")
        check(started - 2 <= collect_time <= ended + 2, f"collect_time {collect_time} not in [{started}, {ended}]")
        check_equal(f"write channel#1 {own}", writes[2 * i + 1], f"record of report {i + 1}")
    check_equal(["commit channel#1 1"] * len(expected), starting(lines, "commit"), "commits")
    check_equal(["unload freed"] * len(expected), starting(lines, "unload"), "unloads")
    check_equal(["summary objects=4 released=4 errors=0"] * len(expected), starting(lines, "summary"), "summaries")
    check_equal([], starting(lines, "ERROR"), "errors")


def run_timed(h, exe, result_name="result.txt"):
    """Runs an installer; its result lines and the seconds around the run."""
    started = int(time.time())
    lines, _ = h.run_installer(exe, result_name=result_name)
    return lines, started, int(time.time())


UNINSTALL_1 = "lumbra_uninstall|uninstall=int:1"


def case_report_uninstall(h):
    log = install_standin(h, h.work)
    place_version(h, "pelvo_3_1", "pelvo.dll", h.work)
    with ProductKey(h) as key:
        key.identity()
        lines, started, ended = run_timed(h, h.build_installer("report_uninstall.nsi"))
    check_equal(["after:[below]"], lines, "stack after the reports")
    public = public_record("3.1.4.15", h.kind)
    check_reports(log_lines(log), [(public, f"lumbra_uninstall|uninstall=int:{flag}") for flag in (1, 0, 0, 0)],
                  started, ended)


def case_report_places(h):
    """The library beside the installer, below the install folder the
    registry names, or on neither path; the folders and the installer
    named with the flavour's foreign text."""
    f = h.foreign
    install = h.work / f"install{f}"
    install_log = install_standin(h, install)
    place_version(h, "pelvo_2_5", "pelvo.dll", install)

    def report_from(folder, log):
        """Runs the installer from its own folder; the library that log
        belongs to received the reports."""
        (h.work / folder).mkdir(exist_ok=True)
        exe = h.build_installer("report_marked.nsi", f"{folder}/setup{f}.exe")
        lines, started, ended = run_timed(h, exe, result_name=f"{folder}/result.txt")
        check_equal(["after:[below]"], lines, f"stack, installer in {folder}")
        if log is not None:
            check_reports(log_lines(log), [(public_record("2.5.0.1234", h.kind), UNINSTALL_1)], started, ended)

    with ProductKey(h) as key:
        key.identity(install=install)
        # Nothing beside the installer: the install folder's library and version.
        report_from(f"alone{f}", install_log)
        # Beside the installer as well: that one is loaded.
        install_log.unlink()
        report_from(f"beside{f}", install_standin(h, h.work / f"beside{f}"))
        check(not install_log.exists(), "the install folder's library was loaded as well")

    # No install folder named and nothing beside: no record, no failure.
    report_from(f"neither{f}", None)
    check(not install_log.exists(), "a library was loaded from the install folder without a registry value")


def case_report_once_per_process(h):
    log = install_standin(h, h.work)
    place_version(h, "pelvo_3_1", "pelvo.dll", h.work)
    with ProductKey(h) as key:
        key.identity()
        lines, started, ended = run_timed(h, h.build_installer("report_once.nsi"))
        out = subprocess.run([h.wine, "reg", "query", r"HKLM\SOFTWARE\Vardo\Coop", "/v", "OEMID", "/reg:32"],
                             env=h.env, capture_output=True, text=True, timeout=120).stdout
        check("77" in out, f"the installer did not change OEMID: {out!r}")
    check_equal(["after:[below]"], lines, "stack after the reports")
    # A new client per report sends the public record again, but the
    # identity was read once: the second keeps the first OEMID.
    public = public_record("3.1.4.15", h.kind)
    check_reports(log_lines(log), [(public, UNINSTALL_1)] * 2, started, ended)


def case_report_faults(h):
    """Records the library cannot take are handed back; every object is
    given back once and the library is freed before the installer goes on."""
    log = install_standin(h, h.work)
    exe = h.build_installer("report_marked.nsi", MARK=h.windows_path(log))
    record = UNINSTALL_1
    cases = {
        # The channel never becomes ready: replaced, and the record deferred.
        "channel.IsReady": (["write public#4 "], [f"defer record#2 1 {record}"], 5),
        # Sealing refused: deferred, and taken.
        "record.Seal#2": (["write public#4 "], [f"defer record#2 1 {record}"], 4),
        # Deferring refused: kept, and handed back again when the client closes.
        "record.Seal#2,record.Defer": (["write public#4 "], [f"defer record#2 0 {record}"] * 2, 4),
        # No public channel: no record is written at all.
        "public.Create": ([], [f"defer record#2 1 {record}"], 3),
    }
    with ProductKey(h) as key:
        key.identity()
        for faults, (writes, defers, objects) in cases.items():
            if log.exists():
                log.unlink()
            h.env["TM_GLEANOR_FAIL"] = faults
            try:
                lines, _ = h.run_installer(exe)
            finally:
                h.env.pop("TM_GLEANOR_FAIL")
            check_equal(["after:[below]"], lines, f"stack with {faults}")
            logged = log_lines(log)
            check_equal(writes, [w.partition("xlumbra_public")[0] for w in starting(logged, "write")],
                        f"writes with {faults}")
            check_equal(defers, starting(logged, "defer"), f"records handed back with {faults}")
            check_equal([f"summary objects={objects} released={objects} errors=0"], starting(logged, "summary"),
                        f"objects given back with {faults}")
            # Freed by the plug-in, not at the installer's end.
            check_equal(["unload freed", "installer goes on"], [l for l in logged if l in
                        ("unload freed", "unload exit", "installer goes on")], f"order with {faults}")


class UninstallerCopyRacer:
    """A user planting ovec\\gleanor.dll beside every uninstaller's
    temporary copy as soon as its folder appears in the Temp folder."""

    def __init__(self, h):
        self.h = h
        self.temps = list((h.prefix / "drive_c" / "users").glob("*/Temp"))
        # Copies of earlier uninstallers go first: NSIS would reuse a folder.
        for folder in (p for temp in self.temps for p in temp.glob("~nsu*.tmp")):
            shutil.rmtree(folder, ignore_errors=True)
        self.planted = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()

    def _run(self):
        while not self._stop.is_set():
            for folder in (p for temp in self.temps for p in temp.glob("~nsu*.tmp")):
                if folder not in self.planted:
                    try:
                        self.planted.append(folder)
                        install_standin(self.h, folder)
                    except OSError:
                        pass
            time.sleep(0.001)

    def logs(self):
        return [folder / "ovec" / "gleanor.log" for folder in self.planted]


def case_report_uninstaller(h):
    """A real uninstaller runs from a temporary copy of itself, so the
    library and the version file are found in the install folder; a library
    a user plants beside the copy is not loaded."""
    install = h.work / "install"
    log = install_standin(h, install)
    place_version(h, "pelvo_2_5", "pelvo.dll", install)
    with ProductKey(h) as key:
        key.identity(install=install)
        lines, _ = h.run_installer(h.build_installer("report_uninstaller.nsi", INSTALL_DIR=h.windows_path(install)))
        check_equal(["written"], lines, "installer result")
        result = install / "uninstall-result.txt"
        started = int(time.time())
        # The uninstaller copies itself away, starts the copy and ends at once.
        with UninstallerCopyRacer(h) as racer:
            subprocess.run([h.wine, str(install / "uninst.exe"), "/S"], cwd=h.work, env=h.env, capture_output=True,
                           timeout=120)
            h.wait_for(result.exists, 120, "the uninstaller's copy to write its result")
        h.wait_for(lambda: "after:[below]" in read_lines(result), 60,
                   "the uninstaller's copy to finish its result")
        check(racer.planted, "no library was planted beside the uninstaller's copy: no race was run")
        check_equal([[]] * len(racer.planted), [log_lines(planted) for planted in racer.logs()],
                    "what the libraries beside the uninstaller's copy received")
        ended = int(time.time())
        lines = read_lines(result)
        copy = lines[0].partition("exepath:")[2]
        check(copy and not copy.lower().startswith(h.windows_path(install).lower()),
              f"the uninstaller ran in place: {lines}")
        copy_name = copy.rpartition("\\")[2].lower()
        h.wait_for(lambda: copy_name not in (n.lower() for n in h.names_running()), 120,
                   f"the uninstaller's copy {copy_name} to end")
        for planted in racer.planted:
            shutil.rmtree(planted / "ovec", ignore_errors=True)
    check_equal("after:[below]", lines[1], "stack in the uninstaller")
    check_reports(log_lines(log), [(public_record("2.5.0.1234", h.kind), UNINSTALL_1)], started, ended)



def case_report_long_host_path(h):
    """The plug-in in a host whose own path is longer than the 260
    characters it is read into. Installers do not start from such a path,
    so a small host program calls the export as an installer does. The
    host's folder and the folder above it (which the first 259 characters
    of a longer path name) both hold the stand-in and a version library:
    a whole path uses the host's folder, a cut one neither of them."""
    install = h.work / "install"
    install_log = install_standin(h, install)
    place_version(h, "pelvo_2_5", "pelvo.dll", install)
    parent = h.work / "p"
    parent_log = install_standin(h, parent)
    place_version(h, "pelvo_max", "pelvo.dll", parent)
    plugin = h.windows_path(h.plugin_dir / "tmnsisplug.dll")
    with ProductKey(h) as key:
        key.identity(install=install)
        for length in (258, 259, 260, 261, 300):
            folder = parent / ("f" * (length - len(h.windows_path(parent)) - 1 - len("\\h.exe")))
            beside_log = install_standin(h, folder)
            place_version(h, "pelvo_3_1", "pelvo.dll", folder)
            host = folder / "h.exe"
            check_equal(length, len(h.windows_path(host)), "host path length")
            shutil.copyfile(h.bin / "plughost.exe", host)
            started = int(time.time())
            completed = subprocess.run([h.wine, str(host), plugin, "ReportUninstall", "1"], cwd=h.work, env=h.env,
                                       capture_output=True, timeout=120)
            ended = int(time.time())
            check_equal(0, completed.returncode, f"host of a {length}-character path")
            whole = length < 260
            version = "3.1.4.15" if whole else "2.5.0.1234"
            check_reports(log_lines(beside_log if whole else install_log), [(public_record(version, h.kind), UNINSTALL_1)],
                          started, ended)
            check(whole != install_log.exists(), f"install folder's library with a {length}-character path")
            check(not parent_log.exists(), f"the parent folder's library was loaded with a {length}-character path")
            if install_log.exists():
                install_log.unlink()


def case_report_no_install_folder(h):
    """Without an install folder the product's version library is not
    looked for anywhere else: joined to the empty folder its name would
    name the root of the current drive. Drive T: of this prefix is mapped
    to a scratch folder holding a version library at its root, and is the
    host's current drive."""
    root = h.work / "troot"
    place_version(h, "pelvo_2_5", "pelvo.dll", root)
    host_folder = root / "host"
    log = install_standin(h, host_folder)
    host = host_folder / "h.exe"
    shutil.copyfile(h.bin / "plughost.exe", host)
    drive = h.prefix / "dosdevices" / "t:"
    if drive.is_symlink():
        drive.unlink()
    drive.symlink_to(root, target_is_directory=True)
    try:
        with ProductKey(h) as key:
            key.identity()
            started = int(time.time())
            completed = subprocess.run([h.wine, str(host), h.windows_path(h.plugin_dir / "tmnsisplug.dll"),
                                        "ReportUninstall", "1"], cwd=root, env=h.env, capture_output=True, timeout=120)
            ended = int(time.time())
    finally:
        drive.unlink()
    check_equal(0, completed.returncode, "exit code of the host")
    check_equal("T:\\", completed.stdout.decode("utf-8", "replace").splitlines()[0].strip(), "the host's current folder")
    check_reports(log_lines(log), [(public_record("0.0.0.0", h.kind), UNINSTALL_1)], started, ended)
