#!/usr/bin/python3
"""`kqhelp pe --json` against Debian's python3-pefile over the given PE files, or every file starting with "MZ" that
the packages named in the packages file ship: headers, section table, raw entry offset and overlay must agree; any
difference fails, as do fewer than --min files."""
import collections, os, subprocess, sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from realfiles import differ, magic_files, options, records, sample, verdict

try:
    import pefile
except ImportError:
    print("pe crosscheck: python3-pefile is not installed; skipped")
    sys.exit(77)


def compare(path, ours):
    """The differences, as lines."""
    try:
        pe = pefile.PE(path, fast_load=True)
    except pefile.PEFormatError as e:
        return [] if "error" in ours else ["pefile rejects (%s) but the module reads it" % e]
    if "error" in ours:
        return ["the module rejects (%s) but pefile reads it" % ours["error"]]
    fh, oh, size, sections = pe.FILE_HEADER, pe.OPTIONAL_HEADER, os.path.getsize(path), ours.get("sections", [])
    mismatches = differ("", ours, {
        "e_lfanew": pe.DOS_HEADER.e_lfanew, "machine": fh.Machine, "number_of_sections": fh.NumberOfSections,
        "size_of_optional_header": fh.SizeOfOptionalHeader, "characteristics": fh.Characteristics,
        "magic": oh.Magic, "entry_point": oh.AddressOfEntryPoint, "image_base": oh.ImageBase,
        "section_alignment": oh.SectionAlignment, "file_alignment": oh.FileAlignment, "size_of_image": oh.SizeOfImage,
        "size_of_headers": oh.SizeOfHeaders, "subsystem": oh.Subsystem, "format": {0x10B: "PE32", 0x20B: "PE32+"}.get(oh.Magic)})
    mismatches += differ("", {"sections": len(sections)}, {"sections": len(pe.sections)})
    for i, (m, p) in enumerate(zip(sections, pe.sections)):
        mismatches += differ("section %d " % i, m, {
            "name": p.Name.split(b"\0")[0].decode("latin-1"), "virtual_address": p.VirtualAddress,
            "virtual_size": p.Misc_VirtualSize, "raw_pointer": p.PointerToRawData, "raw_size": p.SizeOfRawData,
            "characteristics": p.Characteristics})
    try:  # without sections the module has no entry offset and no overlay
        entry = pe.get_offset_from_rva(oh.AddressOfEntryPoint) if sections else None
    except pefile.PEFormatError:
        entry = None
    start = (pe.get_overlay_data_start_offset() or size) if sections else 0  # none: the file's size, 0 bytes
    pe.close()
    return mismatches + differ("", ours, {"entry_offset_raw": entry, "overlay_offset": start,
                                          "overlay_size": size - start if sections else 0})


def main():
    args = options(("--packages-file", {}), ("--limit", {"type": int, "default": 0}), ("--min", {"type": int, "default": 0}),
                   ("files", {"nargs": "*"}))
    names = [w for n in open(args.packages_file) for w in n.split("#")[0].split()] if args.packages_file and not args.files else []
    listed = subprocess.run(["dpkg", "-L"] + names, capture_output=True, text=True).stdout.splitlines() if names else []
    files = sample(args.files or magic_files(listed, b"MZ"), args.limit)
    found, lines = records(args.tool, args.runner, "pe", files, 100), []
    kinds = collections.Counter(found.get(p, {}).get("format", "rejected") for p in files)
    for path in files:
        mismatches = compare(path, found[path]) if path in found else ["no output from the tool"]
        lines += ["  DIFFERS %s:" % path] + ["    " + m for m in mismatches[:10]] if mismatches else []
    failures = sum(line.startswith("  DIFFERS") for line in lines)
    lines.insert(0, "pe crosscheck: %d files compared (%s), %d agree, %d differ" % (
        len(files), ", ".join("%s %d" % kv for kv in sorted(kinds.items())), len(files) - failures, failures))
    if len(files) < args.min:
        lines.append("pe crosscheck: only %d files, at least %d wanted (are the packages installed?)" % (len(files), args.min))
    return verdict(lines, failures + (len(files) < args.min), len(files) or not args.min)


if __name__ == "__main__":
    sys.exit(main())
