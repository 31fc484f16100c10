#!/usr/bin/env python3
"""`kqhelp elf --json` against `readelf -W -h -S -l` over the system's x86_64 programs and libraries, its 32-bit
libraries and the big-endian libraries of the cross libc packages: header, section and program headers and image
base must agree; differences the reader's caps explain (docs/elf.md) are listed as explained, any other fails."""
import os, re, subprocess, sys, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from realfiles import differ, magic_files, options, records, sample, verdict

FILE_SETS = [("x86_64 programs", ["/usr/bin"]), ("x86_64 libraries", ["/usr/lib/x86_64-linux-gnu"]),
             ("i386 libraries", ["/usr/lib32", "/usr/lib/i386-linux-gnu"]),
             ("big-endian s390x", ["/usr/s390x-linux-gnu"]), ("big-endian powerpc", ["/usr/powerpc-linux-gnu"])]
SECTION_TYPES = dict(map(reversed, enumerate("NULL PROGBITS SYMTAB STRTAB RELA HASH DYNAMIC NOTE NOBITS REL SHLIB DYNSYM - - INIT_ARRAY "
                               "FINI_ARRAY PREINIT_ARRAY GROUP SYMTAB_SECTION_INDICES RELR".split())),
                     GNU_HASH=0x6FFFFFF6, VERDEF=0x6FFFFFFD, VERNEED=0x6FFFFFFE, VERSYM=0x6FFFFFFF)
SEGMENT_TYPES = dict(map(reversed, enumerate("NULL LOAD DYNAMIC INTERP NOTE SHLIB PHDR TLS".split())),
                     GNU_EH_FRAME=0x6474E550, GNU_STACK=0x6474E551, GNU_RELRO=0x6474E552)
FLAGS = "WAX?MSILOGTC"  # bits 0-11, then E for bit 31
HEADER = {"Entry point address": "entry", "Start of program headers": "phoff", "Start of section headers": "shoff",
          "Flags": "flags", "Size of this header": "ehsize", "Size of program headers": "phentsize",
          "Number of program headers": "phnum", "Size of section headers": "shentsize",
          "Number of section headers": "shnum", "Section header string table index": "shstrndx", "Version": "version"}
CAPS, NAME_CAP = {"sections": 8192, "segments": 256}, 32768  # what the reader loads at most
SECTION = re.compile(r"\s*\[\s*\d+\] (.*?) +(SYMTAB SECTION INDICES|\S+) +" + r"([0-9a-f]+) +" * 4 + r"(\w*) +(\d+) +(\d+) +(\d+)$")
SEGMENT = re.compile(r"\s+(\S+)" + r"\s+0x([0-9a-f]+)" * 5 + r"\s(.{3})\s+0x([0-9a-f]+)\s*$")


def readelf(text):
    """The header fields, the section and program header records, the true section count, of readelf -W."""
    ref = {"header": {}, "sections": [], "segments": [], "count": None}
    for line in text.splitlines():
        key, _, value = (x.strip() for x in line.partition(":"))
        first = (value.split() or [""])[0].rstrip(",")
        if m := SECTION.match(line):
            g = m.groups()
            flags = sum(1 << FLAGS.index(c) if c in FLAGS else 1 << 31 if c == "E" else 0 for c in g[6])
            ref["sections"].append(dict(zip(("name", "type", "addr", "offset", "size", "entsize"), (g[0], g[1].replace(" ", "_")) + tuple(
                int(x, 16) for x in g[2:6])), flags=flags, link=int(g[7]), info=int(g[8]), addralign=int(g[9])))
        elif m := SEGMENT.match(line):
            g = m.groups()
            ref["segments"].append(dict(zip(("type", "offset", "vaddr", "paddr", "filesz", "memsz"), (g[0],) + tuple(
                int(x, 16) for x in g[1:6])), flags=sum(b for c, b in zip(g[6], (4, 2, 1)) if c != " "), align=int(g[7], 16)))
        elif key in HEADER and re.fullmatch(r"0x[0-9a-f]+|\d+", first) and not ref["sections"]:
            ref["header"][HEADER[key]] = int(first, 0)
            if key.startswith("Number of section"):
                ref["count"] = int((re.search(r"\((\d+)\)", value) or [0, first])[1])
        elif key in ("Class", "Data", "Type") and not ref["sections"]:
            ref[key] = {"ELF32": 1, "ELF64": 2}.get(value, 1 if "little" in value else 2) if key != "Type" else first
    return ref


def compare(mine, ref):
    """(differences, explained) as lists of strings."""
    h, explained = mine["header"], []
    diffs = differ("", h, ref["header"]) + differ("", mine, {"class": ref.get("Class"), "encoding": ref.get("Data")})
    diffs += differ("", {"type": ["NONE", "REL", "EXEC", "DYN", "CORE"][h["type"]] if h["type"] < 5 else h["type"]}, {"type": ref.get("Type")})
    if h["shoff"] and mine["section_count"] != ref["count"]:
        diffs.append("section count %s vs readelf %s" % (mine["section_count"], ref["count"]))
    for what in ("sections", "segments"):
        ours, theirs, types = mine[what], ref[what], SECTION_TYPES if what == "sections" else SEGMENT_TYPES
        if len(ours) != len(theirs):
            (explained if len(theirs) > CAPS[what] == len(ours) else diffs).append("%d %s vs readelf %d" % (len(ours), what, len(theirs)))
        for i, (o, t) in enumerate(zip(ours, theirs)):
            t = dict(t, type=types.get(t["type"], o["type"]))
            o = dict(o, flags=o["flags"] & (0x80000FF7 if what == "sections" else 7))
            if o.get("name", "") is None and (not t["name"] or 0xFFFF != h["shstrndx"] >= len(ours)
                                              or o["name_offset"] + len(t["name"].encode()) >= NAME_CAP):
                explained += ["section %d: no name, past the name table loaded" % i] if t["name"] else []
                o["name"] = t["name"]
            diffs += differ("%s %d " % (what, i), o, t)
    loads = [p["vaddr"] for p in ref["segments"] if p["type"] == "LOAD"]
    return diffs + differ("", mine, {"image_base": min(loads) if loads else None}), explained


def main():
    args = options(("--sample", {"type": int, "default": 0}), ("--report", {"default": ""}))
    started, lines, failures, total = time.time(), [], 0, 0
    for label, dirs in FILE_SETS:
        files = sample(magic_files([os.path.join(r, n) for d in dirs for r, _, ns in os.walk(d) for n in ns], b"\x7fELF"), args.sample)
        counts, found = {"agree": 0, "EXPLAINED": 0, "DIFFERENT": 0}, records(args.tool, args.runner, "elf", files)
        for path, mine in ((p, found.get(p, {"error": "no output"})) for p in files):
            ref = subprocess.run(["readelf", "-W", "-h", "-S", "-l", path], capture_output=True, text=True, errors="replace")
            warns = ref.returncode != 0 or ref.stderr.strip()  # readelf finds the file damaged: its view is no reference
            diffs, explained = compare(mine, readelf(ref.stdout)) if "error" not in mine else (
                [] if "not a valid ELF file" in mine["error"] else ["refused"], [mine["error"]])
            diffs, explained = ([], explained + diffs) if warns else (diffs, explained)
            kind = "DIFFERENT" if diffs else "EXPLAINED" if explained else "agree"
            counts[kind] += 1
            lines += ["  %s %s: %s" % (kind, path, "; ".join((diffs or explained)[:5]))] if kind != "agree" else []
        failures, total = failures + counts["DIFFERENT"], total + len(files)
        lines.append("%s: %d files, %d agree, %d differ only as documented, %d differ"
                     % (label, len(files), counts["agree"], counts["EXPLAINED"], counts["DIFFERENT"]))
    lines.append("total: %d files, %d unexplained differences (%.0f s)" % (total, failures, time.time() - started))
    return verdict(lines, failures, total, args.report)


if __name__ == "__main__":
    sys.exit(main())
