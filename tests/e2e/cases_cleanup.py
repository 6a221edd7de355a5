"""End-to-end cases of the downloaded-files cleanup: a product installed
into the prefix ("Install Path" in the registry, Cfg\\config.ini, download
folders), cleaned by real installers. The cases that run in both flavours
name the install folder, the download folders and the ledger's files with
the flavour's foreign text."""
import contextlib
import os
import shutil
import threading

from cases_cache import data_folder
from cases_cache_links import log_records
from cases_removal import mapped_drive, refused_links
from harness import check, check_equal, race_deletion, read_lines

KEY = r"HKLM\SOFTWARE\Vardo"


@contextlib.contextmanager
def installed_product(h, root):
    """The product's key names root while the case runs; the key is gone
    before and after, as the other cases expect."""
    h.wine_reg("delete", KEY, "/f", "/reg:32")
    root.mkdir(parents=True, exist_ok=True)
    try:
        check_equal(0, h.wine_reg("add", KEY, "/v", "Install Path", "/d", h.windows_path(root), "/f", "/reg:32"),
                    "reg add")
        yield root
    finally:
        h.wine_reg("delete", KEY, "/f", "/reg:32")


def write_config(h, root, text):
    (root / "Cfg").mkdir(parents=True, exist_ok=True)
    (root / "Cfg" / "config.ini").write_bytes(h.profile_bytes(text))


def sections(root):
    """The configuration file as {section: [lines]}, in file order."""
    result, current = {}, None
    for line in read_lines(root / "Cfg" / "config.ini"):
        line = line.strip()
        if line.startswith("["):
            current = result.setdefault(line.strip("[]"), [])
        elif line and current is not None:
            current.append(line)
    return result


def make(path, data="data"):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(data)
    return path


def left_below(folder):
    return sorted(str(p.relative_to(folder)) for p in folder.rglob("*")) if folder.exists() else None


def case_cleanup_answers(h):
    with installed_product(h, h.work / f"Vardo{h.foreign}") as root:
        dl = h.windows_path(root / "Dl")
        write_config(h, root, f"[SoftMain]\nSoftDownDir={dl}\n[DrvMain]\nDrvDownDir={dl}\n"
                              "[DownFiles]\n1=kb.msu\n")
        lines, _ = h.run_installer(h.build_installer("cleanup_answers.nsi", PRODUCT=h.windows_path(root)))
    expected = []
    for function in ("PromptDeleteSoftDownloadedFiles", "PromptDeleteDriverDownloadedFiles",
                     "PromptDeleteHotfixFiles"):
        # Leftovers go with every answer, but only in the software and driver cleanups.
        leftover = 1 if function == "PromptDeleteHotfixFiles" else 0
        for answer in ("Y", "yes", "", "y"):
            download = 0 if answer == "y" else 1
            expected.append(f"{function}({answer}) download={download} leftover={leftover}:[below]")
    # It pops nothing and answers "y" to all three.
    expected.append("PromptDelHotfixFiles soft=0 driver=0 hotfix=0 leftover=0:[below]")
    check_equal(expected, lines, "what each answer deleted")


def case_cleanup_leftovers(h):
    f = h.foreign
    with installed_product(h, h.work / f"Vardo{f}") as root:
        dl = root / f"Configured{f}"
        write_config(h, root, f"[SoftMain]\nSoftDownDir={h.windows_path(dl)}\\\n")
        leftovers = [f"pkg{f}{extension}{suffix}" for extension in (".exe", ".msu", ".zip")
                     for suffix in (".tmp", ".nfo", "_kt", "_kti", ".fd", ".fd.cfg", "c")]
        leftovers += ["UPPER.EXE.TMP", "Mixed.Msu.Fd.Cfg"]
        kept = [f"setup{f}.exe", "notes.txt", ".exe.tmp", "a.exe.tmp.txt", "x.exe.tmp/inner.exe.tmp",
                "sub/deeper.msuc"]
        for name in leftovers + kept:
            make(dl / name)
        os.chmod(dl / f"pkg{f}.zipc", 0o444)  # read-only: its attribute is cleared first
        lines, _ = h.run_installer(h.build_installer("cleanup_exports.nsi", CALLS="soft-n"))
        check_equal(["PromptDeleteSoftDownloadedFiles:[below]"], lines, "stack")
        check_equal(sorted(kept + ["x.exe.tmp", "sub"]), left_below(dl), "left in the configured folder")
        check((root / "Orvik" / "Download").is_dir(), "the default software folder was not made")


def case_cleanup_hotfix(h):
    with installed_product(h, h.work / "Vardo") as root:
        # A link of the user's that leads below "Hotfix", as a junction would.
        (root / "Linked").symlink_to(root / "Hotfix" / "dl", target_is_directory=True)
        lines, _ = h.run_installer(h.build_installer("cleanup_hotfix.nsi", PRODUCT=h.windows_path(root)))
        with mapped_drive(h, root / "Hotfix") as drive:
            exe = h.build_installer("cleanup_hotfix.nsi", "drive.exe", PRODUCT=h.windows_path(root), DRIVE=f"{drive}:")
            lines += h.run_installer(exe)[0]
    # With "n" and downloads present, the folder holding them stays whole;
    # "Hotfix" goes only when the downloads lie elsewhere.
    check_equal(["n-letter-case hotfix=1 pending=1 installed=1",
                 "n-trailing-backslash hotfix=1 pending=1 installed=1",
                 "n-below hotfix=1 pending=1 installed=1",
                 "n-elsewhere hotfix=0 pending=1 installed=1",
                 "y-same hotfix=0 pending=0 installed=0",
                 "y-trailing-backslash hotfix=0 pending=0 installed=0",
                 "y-elsewhere hotfix=0 pending=1 installed=0",
                 "n-link-below hotfix=1 pending=1 installed=1",
                 "n-drive-letter hotfix=1 pending=1 installed=1"], lines, "what each scenario left")


def case_cleanup_ledger(h):
    f = h.foreign
    with installed_product(h, h.work / f"Vardo{f}") as root:
        downloads = root / f"Downloads{f}"
        outside = make(root / f"outside{f}.msu")
        for name in (f"a{f}.msu", f"b{f}.msu", "c.msu", f"sub{f}/d{f}.msu"):
            make(downloads / name)
        write_config(h, root, f"[VulMain]\nDownPath={h.windows_path(downloads)}\n"
                              f"[DownFiles]\n1=a{f}.msu\n2=b{f}.msu\n3=..\\outside{f}.msu\n007=c.msu\n"
                              f"4=sub{f}\\d{f}.msu\n5={h.windows_path(outside)}\n"
                              "[InstedRet]\n1=1\n3=1\n7=-1\n5=2\n")
        lines, _ = h.run_installer(h.build_installer("cleanup_exports.nsi", CALLS="hotfix-y"))
        check_equal(["PromptDeleteHotfixFiles:[below]"], lines, "stack")
        check_equal(sorted([f"b{f}.msu", f"sub{f}", f"sub{f}/d{f}.msu"]), left_below(downloads),
                    "left in the download folder")
        check(outside.exists(), "a ledger value leading out of the folder deleted its file")
        after = sections(root)
        check_equal([f"2=b{f}.msu", f"4=sub{f}\\d{f}.msu"], after.get("DownFiles"), "DownFiles rewritten")
        check("InstedRet" not in after, f"the emptied InstedRet section stayed: {after}")


def case_cleanup_ledger_not_own(h):
    """A ledger that is not the product's own: config.ini a link to a user's
    file, a second name of one, or in a Cfg folder everyone may change. The
    elevated cleanup deletes nothing by it, leaves the file as it is, and
    the statistic log says why."""
    f = h.foreign
    why = {"link": "0x80070780", "second-name": "0x80070476", "open-cfg": "0x80070005"}
    for scenario in why:
        with installed_product(h, h.work / scenario / f"Vardo{f}") as root:
            download = make(root / f"Downloads{f}" / f"kb{f}.msu")
            ledger = h.profile_bytes(f"[VulMain]\nDownPath={h.windows_path(download.parent)}\n"
                                     f"[DownFiles]\n1=kb{f}.msu\n[InstedRet]\n1=1\n")
            user = h.work / scenario / "startup.cmd"
            user.write_bytes(ledger)
            config = root / "Cfg" / "config.ini"
            config.parent.mkdir(parents=True)
            if scenario == "link":
                config.symlink_to(user)
            elif scenario == "second-name":
                os.link(user, config)
            else:
                config.write_bytes(ledger)
                os.chmod(config.parent, 0o777)
            exe = f"ledger-{scenario}.exe"
            log = data_folder(h) / f"{exe}_statistic.log"
            log.unlink(missing_ok=True)
            lines, _ = h.run_installer(h.build_installer("cleanup_exports.nsi", exe, CALLS="hotfix-y"))
            check_equal(["PromptDeleteHotfixFiles:[below]"], lines, f"{scenario}: stack")
            check(download.exists(), f"{scenario}: the ledger deleted what it lists")
            check_equal(ledger, user.read_bytes() if scenario != "open-cfg" else config.read_bytes(),
                        f"{scenario}: the ledger's bytes")
            records = log_records(log) if log.exists() else []
            check_equal([f"[ERROR.ObeyLedger] url:{h.windows_path(config)}, err:{why[scenario]}"],
                        [r for r in records if r.startswith("[ERROR.ObeyLedger]")], f"{scenario}: the log")
            log.unlink(missing_ok=True)


def case_cleanup_links(h):
    outside = h.work / "outside"
    make(outside / "keep.txt", "keep")
    make(outside / "pkg.exe.tmp", "keep")  # named as a leftover
    with installed_product(h, h.work / "Vardo") as root:
        configured = root / "Configured"
        write_config(h, root, f"[SoftMain]\nSoftDownDir={h.windows_path(configured)}\n"
                              f"[VulMain]\nDownPath={h.windows_path(root / 'Downloads')}\n"
                              "[DownFiles]\n1=a.msu\n2=link\\keep.txt\n[InstedRet]\n1=1\n2=1\n")
        # Download 2 is listed through the folder link below. (Wine shows a
        # Unix link to a file as a plain file and deletes its target, so file
        # links are left to the unit tests.)
        for folder in ("Hotfix", "Orvik/Download", "Downloads", "Configured"):
            make(root / folder / "sub" / "a.msu")
            make(root / folder / "a.msu")
            make(root / folder / "b.exe.tmp")
            (root / folder / "link").symlink_to(outside, target_is_directory=True)
        # A default folder that is itself a link.
        (root / "Driver").mkdir()
        (root / "Driver" / "Download").symlink_to(outside, target_is_directory=True)
        lines, _ = h.run_installer(h.build_installer("cleanup_exports.nsi", CALLS="all"))
        check_equal([f"{f}:[below]" for f in ("PromptDeleteHotfixFiles", "PromptDeleteSoftDownloadedFiles",
                                              "PromptDeleteDriverDownloadedFiles", "PromptDelHotfixFiles")],
                    lines, "stacks")
        check_equal(["keep.txt", "pkg.exe.tmp"], left_below(outside), "the folder behind the links")
        check_equal("keep", (outside / "keep.txt").read_text(), "the file behind the links")
        # Everything but the links themselves went where the cleanup deletes whole folders.
        for folder in ("Hotfix", "Orvik/Download"):
            check(set(left_below(root / folder) or []) <= {"link"}, f"left in {folder}: {left_below(root / folder)}")
        check_equal(["b.exe.tmp", "link", "sub", "sub/a.msu"], left_below(root / "Downloads"),
                    "left in the hotfix download folder")
        check_equal(["a.msu", "link", "sub", "sub/a.msu"], left_below(configured), "left in the configured folder")


def case_cleanup_no_key(h):
    h.wine_reg("delete", KEY, "/f", "/reg:32")
    lines, _ = h.run_installer(h.build_installer("cleanup_no_key.nsi"))
    check_equal(["soft download=0 leftover=0 other=1", "all hotfix=0 driver=0 config=1 plugin=1"], lines,
                "what went in $PLUGINSDIR")
    for made in ("Cfg", "Hotfix", "Orvik", "Driver"):
        check(not (h.plugin_dir / made).exists(), f"{made} was made beside the built plug-in")


def case_cleanup_race(h):
    """A local user racing the cleanup with "y": links planted in place of
    the folders not yet deleted must not lead the deletion outside, nor may
    a link there before the call."""
    exe = h.build_installer("cleanup_exports.nsi", CALLS="soft-y")
    before = h.work / "before"
    for n in range(50):
        make(before / f"f{n:02}.txt", "before")
    with installed_product(h, h.work / "Vardo") as root:
        tree = root / "Orvik" / "Download"

        def clean():
            (tree / "zz_before").symlink_to(before, target_is_directory=True)
            lines, _ = h.run_installer(exe)
            check_equal(["PromptDeleteSoftDownloadedFiles:[below]"], lines, "stack")
            check_equal(50, len(list(before.iterdir())), "files behind the link made before the call")

        lost, swaps = race_deletion(h, clean, tree)
    print(f"racer: {lost} outside files lost, {swaps} folders swapped in 3 rounds")


def case_cleanup_above_link(h):
    """Links a user made in the install folder before the cleanup: "Orvik"
    leads to another folder holding a "Download" folder, "Cfg" and
    "Driver" are links to files. Nothing behind them is deleted or made,
    and the statistic log names the folder link."""
    elsewhere = h.work / "elsewhere"
    make(elsewhere / "Download" / "pkg" / "setup.exe")
    make(elsewhere / "Download" / "x.exe.tmp")  # named as a leftover
    files = [make(h.work / "keep.cfg", "keep"), make(h.work / "keep.drv", "keep")]
    log = data_folder(h) / "abovelink.exe_statistic.log"
    log.unlink(missing_ok=True)
    with installed_product(h, h.work / "Vardo") as root:
        (root / "Orvik").symlink_to(elsewhere, target_is_directory=True)
        (root / "Cfg").symlink_to(files[0])
        (root / "Driver").symlink_to(files[1])
        lines, _ = h.run_installer(h.build_installer("cleanup_exports.nsi", "abovelink.exe", CALLS="all"))
        check_equal(4, len(lines), "calls made")
        check_equal(["pkg", "pkg/setup.exe", "x.exe.tmp"], left_below(elsewhere / "Download"), "behind the folder link")
        for path in files:
            check(path.is_file() and path.read_text() == "keep", f"the file behind the link to {path.name} was touched")
        linked = h.windows_path(root / "Orvik")
        names = refused_links(h, "abovelink.exe")
        check(names and set(names) == {linked}, f"the statistic log names {names}, not {linked}")
    log.unlink(missing_ok=True)


def case_cleanup_ledger_race(h):
    """The folder above DownPath is moved aside and a link to a folder of
    the same names put in its place once the first download has gone: the
    ledger's deletes stay with the download folder it reached, nothing
    behind the link goes (but the one file in flight under Wine), and a
    download that was not deleted keeps its ledger lines."""
    names = [f"kb{i:03}.msu" for i in range(500)]
    exe = h.build_installer("cleanup_exports.nsi", "ledgerrace.exe", CALLS="hotfix-y")
    with installed_product(h, h.work / "Vardo") as root:
        for round_ in range(2):
            base, moved, victim = h.work / "base", h.work / "base-moved", h.work / "vbase"
            if base.is_symlink():
                base.unlink()
            for folder in (base, moved, victim):
                shutil.rmtree(folder, ignore_errors=True)
            for name in names:
                make(base / "dl" / name, "own")
                make(victim / "dl" / name, "victim")
            ledger = "".join(f"{i}={name}\n" for i, name in enumerate(names, 1))
            results = "".join(f"{i}=1\n" for i in range(1, len(names) + 1))
            write_config(h, root, f"[VulMain]\nDownPath={h.windows_path(base / 'dl')}\n"
                                  f"[DownFiles]\n{ledger}[InstedRet]\n{results}")
            swapped = threading.Event()

            def swap():
                first = base / "dl" / names[0]
                while first.exists() and not swapped.is_set():
                    pass
                os.rename(base, moved)
                os.symlink(victim, base, target_is_directory=True)
                swapped.set()

            racer = threading.Thread(target=swap, daemon=True)
            racer.start()
            h.run_installer(exe)
            swapped.set()
            racer.join()
            check(moved.exists(), f"round {round_}: the folder was never swapped")
            lost = len(names) - sum(1 for _ in (victim / "dl").iterdir())
            check(lost <= 1, f"round {round_}: {lost} files behind the link went")
            stayed = sorted(p.name for p in (moved / "dl").iterdir())
            check(stayed, f"round {round_}: every download had gone before the swap: no race was run")
            # A line leaves with its file, and only with it.
            listed = sorted(line.split("=", 1)[1] for line in sections(root).get("DownFiles", []))
            check_equal(stayed, listed, f"round {round_}: the ledger's downloads against those left")
            print(f"round {round_}: {len(names) - len(stayed)} downloads deleted before the swap, {lost} lost behind it")
    (data_folder(h) / "ledgerrace.exe_statistic.log").unlink(missing_ok=True)
