#!/usr/bin/python3
"""`kqhelp pe --json` against Debian's python3-pefile over real PE files: the
given ones, or every file starting with "MZ" that the installed packages named
in the packages file ship. Headers, section table, raw entry-point offset and
overlay are compared; differences the documented rules explain (docs/pe.md)
are counted by rule, any other fails the run, as do fewer than --min files.

crosscheck.py --tool PATH [--runner CMD] [--packages-file FILE] [--limit N] [--min N] [FILE...]
"""
import argparse, os, subprocess, sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from realfiles import differ, records, sample, verdict

try:
    import pefile
except ImportError:
    print("pe crosscheck: python3-pefile is not installed; skipped")
    sys.exit(77)


def package_files(packages_file):
    names = open(packages_file).read().split("\n")
    paths = subprocess.run(["dpkg", "-L"] + [w for n in names for w in n.split("#")[0].split()],
                           capture_output=True, text=True).stdout.splitlines()
    return sorted({os.path.realpath(p) for p in paths if os.path.isfile(p) and not os.path.islink(p)
                   and open(p, "rb").read(2) == b"MZ"})


def contains(s, rva):  # the module's rule, sums wrapping at 32 bits
    return s["virtual_address"] <= rva and (rva < (s["virtual_address"] + s["virtual_size"]) & 0xFFFFFFFF or
                                            rva < (s["virtual_address"] + s["raw_size"]) & 0xFFFFFFFF)


def compare(path, ours):
    """Returns (mismatches, explained): lists of field names and of rules."""
    try:
        pe = pefile.PE(path, fast_load=True)
    except pefile.PEFormatError as e:
        return ([], ["both-reject"]) if "error" in ours else (["pefile rejects (%s) but the module reads it" % e], [])
    if "error" in ours:
        return ["the module rejects (%s) but pefile reads it" % ours["error"]], []
    fh, oh, size = pe.FILE_HEADER, pe.OPTIONAL_HEADER, os.path.getsize(path)
    mismatches = differ("", ours, {
        "e_lfanew": pe.DOS_HEADER.e_lfanew, "machine": fh.Machine, "number_of_sections": fh.NumberOfSections,
        "size_of_optional_header": fh.SizeOfOptionalHeader, "characteristics": fh.Characteristics,
        "magic": oh.Magic, "entry_point": oh.AddressOfEntryPoint, "image_base": oh.ImageBase,
        "section_alignment": oh.SectionAlignment, "file_alignment": oh.FileAlignment, "size_of_image": oh.SizeOfImage,
        "size_of_headers": oh.SizeOfHeaders, "subsystem": oh.Subsystem, "format": {0x10B: "PE32", 0x20B: "PE32+"}.get(oh.Magic)})
    sections, theirs, explained = ours.get("sections", []), pe.sections[:256], []
    if fh.NumberOfSections > 256 and len(sections) == 256:
        explained.append("section-cap-256")
    if len(theirs) < len(sections):
        explained.append("table-cut-short-zero-filled")
    elif len(theirs) > len(sections):
        mismatches.append("section count: module %d, pefile %d" % (len(sections), len(theirs)))
    for i, (m, p) in enumerate(zip(sections, theirs)):
        mismatches += differ("section %d " % i, m, {
            "name": p.Name.split(b"\0")[0].decode("latin-1"), "virtual_address": p.VirtualAddress,
            "virtual_size": p.Misc_VirtualSize, "raw_pointer": p.PointerToRawData, "raw_size": p.SizeOfRawData,
            "characteristics": p.Characteristics})
    # The raw entry-point offset: the last section containing the RVA wins
    # and raw pointers are used as stored; pefile takes the first section and
    # rounds pointers to 512 when FileAlignment is at least 512.
    ep, our_entry = oh.AddressOfEntryPoint, ours.get("entry_offset_raw")
    try:
        their_entry = pe.get_offset_from_rva(ep)
    except pefile.PEFormatError:
        their_entry = None
    if sections and our_entry != their_entry:
        holding = [s for s in sections if contains(s, ep)]
        rounded = holding and holding[0]["raw_pointer"] % 512 and (oh.FileAlignment >= 512 or (
            their_entry is not None and our_entry == their_entry + holding[0]["raw_pointer"] % 512))
        rule = "entry-last-section-wins" if len(holding) > 1 else "entry-raw-pointer-not-rounded" if rounded else \
            "entry-outside-sections-no-offset" if not holding and our_entry is None and \
            ep >= min(s["virtual_address"] for s in sections) else None
        explained += [rule] if rule else []
        mismatches += [] if rule else ["entry_offset_raw: module %r, pefile %r" % (our_entry, their_entry)]
    # The overlay: the module takes the largest raw end over all sections and
    # reports none when it passes the end of the file; pefile skips sections
    # that pass the end and also counts data directories and the optional header.
    their_start = pe.get_overlay_data_start_offset() or size  # none: the module says the file's size, 0 bytes
    our_start, ends = ours.get("overlay_offset"), [(s["raw_pointer"] + s["raw_size"]) & 0xFFFFFFFF for s in sections]
    if sections and our_start != their_start:
        if max(ends) > size and our_start == 0 and ours.get("overlay_size") == 0:
            explained.append("overlay-section-past-end-of-file")
        elif our_start == max(ends) < their_start:
            explained.append("overlay-data-beyond-sections-counted-by-pefile")
        else:
            mismatches.append("overlay_offset: module %r, pefile %r" % (our_start, their_start))
    elif not sections and our_start != 0:
        mismatches.append("overlay without sections")
    if not mismatches and our_start == their_start:
        mismatches += differ("", ours, {"overlay_size": size - their_start})
    pe.close()
    return mismatches, explained


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--runner", default="")
    ap.add_argument("--packages-file")
    ap.add_argument("--limit", type=int, default=0, help="compare at most this many, spread evenly")
    ap.add_argument("--min", type=int, default=0)
    ap.add_argument("files", nargs="*")
    args = ap.parse_args()
    files = sample(args.files or (package_files(args.packages_file) if args.packages_file else []), args.limit)
    found, kinds, rules, lines, failures = records(args.tool, args.runner, "pe", files, 100), {}, {}, [], 0
    for path in files:
        ours = found.get(path, {"format": "no output", "error": "no output from the tool"})
        kinds[ours.get("format", "rejected")] = kinds.get(ours.get("format", "rejected"), 0) + 1
        mismatches, explained = compare(path, ours) if path in found else (["no output from the tool"], [])
        failures += bool(mismatches)
        lines += ["  DIFFERS %s:" % path] + ["    " + m for m in mismatches[:10]] if mismatches else []
        for rule in [] if mismatches else explained:
            rules[rule] = rules.get(rule, 0) + 1
    lines.insert(0, "pe crosscheck: %d files compared (%s), %d agree, %d differ" % (
        len(files), ", ".join("%s %d" % kv for kv in sorted(kinds.items())), len(files) - failures, failures))
    lines[1:1] = ["  agreeing after a documented rule: %-48s %d files" % kv for kv in sorted(rules.items())]
    if len(files) < args.min:
        lines.append("pe crosscheck: only %d files, at least %d wanted (are the packages installed?)" % (len(files), args.min))
    return verdict(lines, failures + (len(files) < args.min), len(files) or not args.min)


if __name__ == "__main__":
    sys.exit(main())
