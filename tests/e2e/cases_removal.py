"""End-to-end cases of forced deletion."""
from harness import check, check_equal


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
    # A 199-character path, and a 200-character one whose first 199
    # characters name another folder that must stay.
    room = 199 - len(w(h.work)) - 1
    long199 = h.work / ("d" * room)
    long199_other = h.work / ("e" * room)
    long200 = h.work / ("e" * (room + 1))
    assert len(w(long199)) == 199 and len(w(long200)) == 200

    lines, _ = h.run_installer(h.build_installer(
        "power_delete.nsi", TREE=w(tree), SLASHED=w(slashed), LINKED=w(linked), MISSING=w(h.work / "missing"),
        AFILE=w(afile), LONG199=w(long199), LONG199_OTHER=w(long199_other), LONG200=w(long200)))
    check_equal(["made"] + [f"{label}:[below]" for label in
                            ("tree", "slashed", "linked", "missing", "file", "empty", "long199", "long200")],
                lines, "stack after each call")
    check(not tree.exists(), f"{tree} left: {list(tree.rglob('*')) if tree.exists() else ''}")
    check(not slashed.exists(), f"{slashed} left: {list(slashed.rglob('*')) if slashed.exists() else ''}")
    check(not long199.exists(), "the 199-character path was not deleted")
    check((long199_other / "plain.txt").exists(), "a cut path deleted another folder")
    check((long200 / "plain.txt").exists(), "a path longer than 199 characters was acted on")
    check(afile.read_text() == "keep", "a path naming a file deleted it")
    # What a link points to is never entered; everything else of the tree goes.
    check((outside / "keep.txt").read_text() == "keep", "the folder behind the link was touched")
    left = sorted(str(p.relative_to(linked)) for p in linked.rglob("*")) if linked.exists() else []
    check(set(left) <= {"link"}, f"left in the linked tree: {left}")
