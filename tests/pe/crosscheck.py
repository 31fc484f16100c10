#!/usr/bin/python3
"""`kqhelp pe --json` against Debian's python3-pefile over real PE files: the
given ones, or every file starting with "MZ" that the installed packages named
in the packages file ship. Headers, section table, raw entry-point offset and
overlay are compared; differences the documented rules explain (docs/pe.md)
are counted by rule, any other fails the run, as do fewer than --min files.

crosscheck.py --tool PATH [--runner CMD] [--packages-file FILE] [--limit N] [--min N] [FILE...]
"""
import argparse, json, os, subprocess, sys

try:
    import pefile
except ImportError:
    print("pe crosscheck: python3-pefile is not installed; skipped")
    sys.exit(77)

MAX_SECTIONS = 256


def package_files(packages_file):
    names = []
    with open(packages_file) as f:
        for line in f:
            names += line.split("#")[0].split()
    files = set()
    for name in names:
        listing = subprocess.run(["dpkg", "-L", name], capture_output=True, text=True)
        for path in listing.stdout.splitlines():
            if not os.path.isfile(path) or os.path.islink(path):
                continue
            try:
                with open(path, "rb") as f:
                    if f.read(2) == b"MZ":
                        files.add(os.path.realpath(path))
            except OSError:
                pass
    return sorted(files)


def numbers(obj):
    """The tool writes addresses, offsets and flags as "0x..." strings; compare them as numbers."""
    return {k: int(v, 16) if isinstance(v, str) and v.startswith("0x") and k not in ("name", "file") else v
            for k, v in obj.items()}


def run_tool(tool, runner, files):
    """{path: record}: one JSON object a line, the tool run on batches of files."""
    results = {}
    for start in range(0, len(files), 100):
        cmd = (runner.split() if runner else []) + [tool, "pe", "--json"] + files[start:start + 100]
        for line in subprocess.run(cmd, capture_output=True, text=True).stdout.splitlines():
            record = json.loads(line, object_hook=numbers)
            results[record["file"]] = record
    return results


def u32(v):
    return v & 0xFFFFFFFF


def compare(path, ours):
    """Returns (mismatches, explained): lists of field names and of rules."""
    size = os.path.getsize(path)
    try:
        pe = pefile.PE(path, fast_load=True)
    except pefile.PEFormatError as e:
        if "error" in ours:
            return [], ["both-reject"]
        return ["pefile rejects (%s) but the module reads it" % e], []
    if "error" in ours:
        return ["the module rejects (%s) but pefile reads it" % ours["error"]], []

    mismatches, explained = [], []
    fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    expected = {
        "e_lfanew": pe.DOS_HEADER.e_lfanew, "machine": fh.Machine,
        "number_of_sections": fh.NumberOfSections, "size_of_optional_header": fh.SizeOfOptionalHeader,
        "characteristics": fh.Characteristics, "magic": oh.Magic,
        "entry_point": oh.AddressOfEntryPoint, "image_base": oh.ImageBase,
        "section_alignment": oh.SectionAlignment, "file_alignment": oh.FileAlignment,
        "size_of_image": oh.SizeOfImage, "size_of_headers": oh.SizeOfHeaders, "subsystem": oh.Subsystem,
    }
    expected["format"] = {0x10B: "PE32", 0x20B: "PE32+"}.get(oh.Magic)
    for field, value in expected.items():
        if ours.get(field) != value:
            mismatches.append("%s: module %r, pefile %r" % (field, ours.get(field), value))

    sections = ours.get("sections", [])
    theirs = pe.sections[:MAX_SECTIONS]
    if fh.NumberOfSections > MAX_SECTIONS and len(sections) == MAX_SECTIONS:
        explained.append("section-cap-256")
    if len(theirs) != len(sections):
        if len(theirs) < len(sections):
            explained.append("table-cut-short-zero-filled")
        else:
            mismatches.append("section count: module %d, pefile %d" % (len(sections), len(theirs)))
    for i, (m, p) in enumerate(zip(sections, theirs)):
        want = {"name": p.Name.split(b"\0")[0].decode("latin-1"), "virtual_address": p.VirtualAddress,
                "virtual_size": p.Misc_VirtualSize, "raw_pointer": p.PointerToRawData,
                "raw_size": p.SizeOfRawData, "characteristics": p.Characteristics}
        for field, value in want.items():
            if m[field] != value:
                mismatches.append("section %d %s: module %r, pefile %r" % (i, field, m[field], value))

    # The raw entry-point offset: the last section containing the RVA wins
    # and raw pointers are used as stored; pefile takes the first section and
    # rounds pointers to 512 when FileAlignment is at least 512.
    ep = oh.AddressOfEntryPoint
    try:
        their_entry = pe.get_offset_from_rva(ep)
    except pefile.PEFormatError:
        their_entry = None
    our_entry = ours.get("entry_offset_raw")
    if sections and our_entry != their_entry:
        containing = [s for s in sections if s["virtual_address"] <= ep and
                      (ep < u32(s["virtual_address"] + s["virtual_size"]) or
                       ep < u32(s["virtual_address"] + s["raw_size"]))]
        lowest = min(s["virtual_address"] for s in sections)
        if len(containing) > 1:
            explained.append("entry-last-section-wins")
        elif containing and containing[0]["raw_pointer"] % 512 and oh.FileAlignment >= 512:
            explained.append("entry-raw-pointer-not-rounded")
        elif not containing and ep >= lowest and our_entry is None:
            explained.append("entry-outside-sections-no-offset")
        elif containing and their_entry is not None and \
                our_entry == their_entry + containing[0]["raw_pointer"] % 512:
            explained.append("entry-raw-pointer-not-rounded")
        else:
            mismatches.append("entry_offset_raw: module %r, pefile %r" % (our_entry, their_entry))

    # The overlay: the module takes the largest raw end over all sections and
    # reports none when it passes the end of the file; pefile skips sections
    # that pass the end and also counts data directories and the optional
    # header.
    their_start = pe.get_overlay_data_start_offset()
    if their_start is None:
        their_start = size  # no overlay: the module says offset = file size, size 0
    our_start = ours.get("overlay_offset")
    if sections and our_start != their_start:
        ends = [u32(s["raw_pointer"] + s["raw_size"]) for s in sections]
        if max(ends) > size and our_start == 0 and ours.get("overlay_size") == 0:
            explained.append("overlay-section-past-end-of-file")
        elif our_start == max(ends) and their_start > our_start:
            explained.append("overlay-data-beyond-sections-counted-by-pefile")
        else:
            mismatches.append("overlay_offset: module %r, pefile %r" % (our_start, their_start))
    elif not sections and ours.get("overlay_offset") != 0:
        mismatches.append("overlay without sections")
    if not mismatches and ours.get("overlay_offset") == their_start:
        size_expected = size - their_start
        if ours.get("overlay_size") != size_expected:
            mismatches.append("overlay_size: module %r, expected %r" % (ours.get("overlay_size"), size_expected))
    pe.close()
    return mismatches, explained


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--runner", default="")
    parser.add_argument("--packages-file")
    parser.add_argument("--limit", type=int, default=0, help="compare every Nth file to keep at most this many")
    parser.add_argument("--min", type=int, default=0)
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()

    files = args.files or (package_files(args.packages_file) if args.packages_file else [])
    if args.limit and len(files) > args.limit:
        step = len(files) / args.limit
        files = [files[int(i * step)] for i in range(args.limit)]
    results = run_tool(args.tool, args.runner, files)

    agree, rules, failures = 0, {}, []
    kinds = {}
    for path in files:
        ours = results.get(path)
        if ours is None:
            failures.append((path, ["no output from the tool"]))
            continue
        kinds[ours.get("format", "rejected")] = kinds.get(ours.get("format", "rejected"), 0) + 1
        mismatches, explained = compare(path, ours)
        if mismatches:
            failures.append((path, mismatches))
            continue
        agree += 1
        for rule in explained:
            rules[rule] = rules.get(rule, 0) + 1

    print("pe crosscheck: %d files compared (%s), %d agree, %d differ"
          % (len(files), ", ".join("%s %d" % kv for kv in sorted(kinds.items())), agree, len(failures)))
    for rule, count in sorted(rules.items()):
        print("  agreeing after a documented rule: %-48s %d files" % (rule, count))
    for path, mismatches in failures:
        print("  DIFFERS %s:" % path)
        for m in mismatches[:10]:
            print("    " + m)
    if len(files) < args.min:
        print("pe crosscheck: only %d files, at least %d wanted (are the packages installed?)" % (len(files), args.min))
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
