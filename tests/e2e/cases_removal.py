"""End-to-end cases of forced deletion."""
import os
import string
import subprocess
import time
from contextlib import contextmanager

from cases_cache import data_folder
from cases_cache_links import log_records
from harness import check, check_equal, race_deletion


@contextmanager
def mapped_drive(h, target):
    """A drive letter of the prefix mapped to a scratch folder, for the
    length of the block; never one that is already in use."""
    dosdevices = h.prefix / "dosdevices"
    taken = {entry.name[0].lower() for entry in dosdevices.iterdir() if entry.name.endswith(":")}
    letter = next(c for c in reversed(string.ascii_lowercase[3:25]) if c not in taken)
    link = dosdevices / f"{letter}:"
    os.symlink(target, link)
    try:
        yield letter.upper()
    finally:
        link.unlink()


def case_power_delete(h):
    w = h.windows_path
    tree, slashed, linked = h.work / "tree", h.work / "slashed", h.work / "linked"
    outside = h.work / "outside"
    outside.mkdir()
    (outside / "keep.txt").write_text("keep")
    (linked / "sub").mkdir(parents=True)
    (linked / "sub" / "x.txt").write_text("x")
    (linked / "plain.txt").write_text("x")
    (linked / "link").symlink_to(outside, target_is_directory=True)
    afile = h.work / "afile.txt"
    afile.write_text("keep")
    # A tree named with the flavour's foreign text, and neighbours whose
    # names start as its name does.
    foreign = h.work / f"d{h.foreign}"
    (foreign / h.foreign).mkdir(parents=True)
    (foreign / h.foreign / f"{h.foreign}.txt").write_text("own")
    (foreign / f"x{h.foreign}.txt").write_text("own")
    neighbours = [h.work / f"d{h.foreign}2", h.work / f"d{h.foreign[:-1]}_"]
    for neighbour in neighbours:
        neighbour.mkdir()
        (neighbour / f"{h.foreign}.txt").write_text("keep")
    # A 199-character path, and a 200-character one whose first 199
    # characters name another folder that must stay.
    # A root that is itself a link to a folder outside.
    linked_outside = h.work / "linked-outside"
    linked_outside.mkdir()
    (linked_outside / "keep.txt").write_text("keep")
    rootlink = h.work / "rootlink"
    rootlink.symlink_to(linked_outside, target_is_directory=True)
    # A volume root: a drive letter mapped to a scratch folder.
    volume = h.work / "volume"
    (volume / "inner").mkdir(parents=True)
    (volume / "keep.txt").write_text("keep")
    (volume / "inner" / "x.txt").write_text("x")
    room = 199 - len(w(h.work)) - 1
    long199 = h.work / ("d" * room)
    long199_other = h.work / ("e" * room)
    long200 = h.work / ("e" * (room + 1))
    assert len(w(long199)) == 199 and len(w(long200)) == 200
    # A tree where the installer stands, named as it would be found from there.
    standing = h.work / "standing"
    (standing / "rel" / "sub").mkdir(parents=True)
    (standing / "rel" / "sub" / "keep.txt").write_text("keep")
    rel = w(standing / "rel")

    with mapped_drive(h, volume) as drive:
        lines, _ = h.run_installer(h.build_installer(
            "power_delete.nsi", TREE=w(tree), FOREIGN=w(foreign), SLASHED=w(slashed), LINKED=w(linked),
            MISSING=w(h.work / "missing"),
            AFILE=w(afile), LONG199=w(long199), LONG199_OTHER=w(long199_other), LONG200=w(long200),
            ROOTLINK=w(rootlink), DRIVE=drive, STANDING=w(standing), ROOTED=rel[2:],
            DRIVE_RELATIVE=rel[:2] + "rel"))
    check_equal(["made"] + [f"{label}:[below]" for label in
                            ("tree", "foreign", "slashed", "linked", "missing", "file", "empty", "long199", "long200",
                             "rootlink", "rootlink-slash", "drive-root", "drive", "drive-long-form", "drive-up",
                             "drive-folder", "relative", "drive-rooted", "drive-relative")],
                lines, "stack after each call")
    check((linked_outside / "keep.txt").read_text() == "keep", "the folder behind a root that is a link was touched")
    check((volume / "keep.txt").read_text() == "keep", "a volume root was deleted")
    check(not (volume / "inner").exists(), "the mapped drive's folder was not deleted: the mapping did not work")
    check(not tree.exists(), f"{tree} left: {list(tree.rglob('*')) if tree.exists() else ''}")
    check(not foreign.exists(), f"{foreign} left: {list(foreign.rglob('*')) if foreign.exists() else ''}")
    for neighbour in neighbours:
        check((neighbour / f"{h.foreign}.txt").exists(), f"the neighbour {neighbour.name} was touched")
    check(not slashed.exists(), f"{slashed} left: {list(slashed.rglob('*')) if slashed.exists() else ''}")
    check(not long199.exists(), "the 199-character path was not deleted")
    check((long199_other / "plain.txt").exists(), "a cut path deleted another folder")
    check((long200 / "plain.txt").exists(), "a path longer than 199 characters was acted on")
    check(afile.read_text() == "keep", "a path naming a file deleted it")
    check((standing / "rel" / "sub" / "keep.txt").exists(), "a path that is not fully qualified was acted on")
    # What a link points to is never entered; everything else of the tree goes.
    check((outside / "keep.txt").read_text() == "keep", "the folder behind the link was touched")
    left = sorted(str(p.relative_to(linked)) for p in linked.rglob("*")) if linked.exists() else []
    check(set(left) <= {"link"}, f"left in the linked tree: {left}")


def case_power_delete_race(h):
    w = h.windows_path
    # Links and names there before the call: a folder "m." beside a link
    # "m" (Win32 reads "m.\*" as "m\*"), a link to a file, and roots with a
    # trailing blank or dots that are links, beside the folder Win32 would
    # read them as.
    tree, outside = h.work / "names", h.work / "names-outside"
    (tree / "m.").mkdir(parents=True)
    outside.mkdir()
    for name in ("a.txt", "b.txt"):
        (outside / name).write_text("outside")
        (tree / "m." / name).write_text("own")
    (tree / "x.txt").write_text("own")
    (tree / "m").symlink_to(outside, target_is_directory=True)
    (tree / "f.txt").symlink_to(outside / "b.txt")
    plain, target = h.work / "tree", h.work / "tree-target"
    for folder in (plain, target):
        folder.mkdir()
        (folder / "keep.txt").write_text("keep")
    (h.work / "tree ").symlink_to(target, target_is_directory=True)
    (h.work / "tree..").symlink_to(target, target_is_directory=True)
    h.run_installer(h.build_installer("power_delete_race.nsi", "names.exe", ROOT=w(tree), ROOT2=w(h.work / "tree "),
                                      ROOT3=w(h.work / "tree.."), ROOT4=w(h.work / "tree ") + "\\"))
    check(sorted(p.name for p in outside.iterdir()) == ["a.txt", "b.txt"], "a file behind a link present before went")
    check((target / "keep.txt").exists() and (plain / "keep.txt").exists(), "a root was looked up as another name")
    left = sorted(p.name for p in tree.iterdir())
    check(left == ["f.txt", "m"], f"the tree's own entries were not all deleted, or a link went: {left}")

    # The racer, over several rounds.
    race = h.work / "race"
    setup = h.build_installer("power_delete_race.nsi", ROOT=w(race))
    lost, swaps = race_deletion(h, lambda: h.run_installer(setup), race)
    print(f"racer: {lost} outside files lost, {swaps} folders swapped in 3 rounds")


def refused_links(h, exe):
    """The links the statistic log of installer exe names as refused."""
    log = data_folder(h) / f"{exe}_statistic.log"
    records = log_records(log) if log.exists() else []
    return [r[len("[ERROR.FollowLink] url:"):].split(", err:")[0] for r in records if r.startswith("[ERROR.FollowLink]")]


def case_power_delete_above_link(h):
    """A tree named through a folder that a user made a link to another
    place: nothing behind the link is deleted, and the statistic log names
    the link. A tree named through its real folders goes."""
    w = h.windows_path
    behind = h.work / "vp" / "racetree"
    for i in range(10):
        for j in range(20):
            (behind / f"d{i}").mkdir(parents=True, exist_ok=True)
            (behind / f"d{i}" / f"f{j}.txt").write_text("behind the link")
    (h.work / "outer").symlink_to(h.work / "vp", target_is_directory=True)
    plain = h.work / "plain" / "tree"
    (plain / "sub").mkdir(parents=True)
    (plain / "sub" / "x.txt").write_text("own")
    log = data_folder(h) / "abovelink.exe_statistic.log"
    log.unlink(missing_ok=True)
    h.run_installer(h.build_installer("power_delete_race.nsi", "abovelink.exe", ROOT=w(h.work / "outer" / "racetree"),
                                      ROOT2=w(plain), ROOT3=w(h.work / "none"), ROOT4=w(h.work / "none")))
    check_equal(200, sum(1 for _ in behind.rglob("*.txt")), "files behind the link that stayed")
    check(not plain.exists(), "the tree named through its own folders was not deleted")
    check_equal([w(h.work / "outer")], refused_links(h, "abovelink.exe"), "links the statistic log names")
    log.unlink(missing_ok=True)


def case_power_delete_current_folder(h):
    """A folder of the tree is another process's current folder (held
    without sharing its deletion): what it holds goes, and so does the rest
    of the tree; that folder and the root stay."""
    w = h.windows_path
    tree = h.work / "tree"
    for name in ("busy/f.txt", "busy/sub/g.txt", "other/o.txt", "a.txt", "z/z.txt"):
        (tree / name).parent.mkdir(parents=True, exist_ok=True)
        (tree / name).write_text("own")
    ready = h.work / "busy.ready"
    child = subprocess.Popen([h.wine, str(h.bin / "tmwait.exe"), "600", w(ready)], cwd=tree / "busy", env=h.env,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    h.children.append(child)
    deadline = time.monotonic() + 120
    while not ready.exists():
        check(child.poll() is None and time.monotonic() < deadline, "the process in the tree did not start")
        time.sleep(0.1)
    h.run_installer(h.build_installer("power_delete_race.nsi", ROOT=w(tree)))
    left = sorted(str(p.relative_to(tree)) for p in tree.rglob("*")) if tree.exists() else None
    check_equal(["busy"], left, "what stayed of the tree")
