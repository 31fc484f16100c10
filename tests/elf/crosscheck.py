#!/usr/bin/env python3
"""Compares what `kqhelp elf --json` reports with `readelf -W -h -S -l` over
real ELF files nobody here wrote: the system's x86_64 programs and libraries,
its 32-bit libraries, and the big-endian libraries of the cross libc packages.

A file agrees when the header, every section record (name, type, address,
offset, size, entry size, flags, link, info, alignment) and every program
header agree, and the image base is the lowest LOAD address. Differences that
the reader's documented rules explain (docs/elf.md) are listed as explained;
any other difference fails the run.

Usage: crosscheck.py --tool PATH [--runner CMD] [--sample N] [--report FILE]
"""
import argparse
import json
import os
import re
import subprocess
import sys
import time

FILE_SETS = [
    ("x86_64 programs", ["/usr/bin"]),
    ("x86_64 libraries", ["/usr/lib/x86_64-linux-gnu"]),
    ("i386 libraries", ["/usr/lib32", "/usr/lib/i386-linux-gnu"]),
    ("big-endian s390x", ["/usr/s390x-linux-gnu"]),
    ("big-endian powerpc", ["/usr/powerpc-linux-gnu"]),
]

SECTION_TYPES = {
    "NULL": 0, "PROGBITS": 1, "SYMTAB": 2, "STRTAB": 3, "RELA": 4, "HASH": 5, "DYNAMIC": 6, "NOTE": 7,
    "NOBITS": 8, "REL": 9, "SHLIB": 10, "DYNSYM": 11, "INIT_ARRAY": 14, "FINI_ARRAY": 15,
    "PREINIT_ARRAY": 16, "GROUP": 17, "SYMTAB SECTION INDICES": 18, "RELR": 19,
    "GNU_HASH": 0x6FFFFFF6, "VERDEF": 0x6FFFFFFD, "VERNEED": 0x6FFFFFFE, "VERSYM": 0x6FFFFFFF,
    "GNU_ATTRIBUTES": 0x6FFFFFF5, "GNU_LIBLIST": 0x6FFFFFF7, "LLVM_ADDRSIG": 0x6FFF4C03,
    "X86_64_UNWIND": 0x70000001,
}
SEGMENT_TYPES = {
    "NULL": 0, "LOAD": 1, "DYNAMIC": 2, "INTERP": 3, "NOTE": 4, "SHLIB": 5, "PHDR": 6, "TLS": 7,
    "GNU_EH_FRAME": 0x6474E550, "GNU_STACK": 0x6474E551, "GNU_RELRO": 0x6474E552, "GNU_PROPERTY": 0x6474E553,
}
FLAG_LETTERS = {"W": 0x1, "A": 0x2, "X": 0x4, "M": 0x10, "S": 0x20, "I": 0x40, "L": 0x80, "O": 0x100,
                "G": 0x200, "T": 0x400, "C": 0x800, "E": 0x80000000}
STANDARD_FLAGS = sum(FLAG_LETTERS.values())
TYPE_NAMES = {"NONE": 0, "REL": 1, "EXEC": 2, "DYN": 3, "CORE": 4}
HEADER_NUMBERS = {"Entry point address": "entry", "Start of program headers": "phoff",
                  "Start of section headers": "shoff", "Flags": "flags", "Size of this header": "ehsize",
                  "Size of program headers": "phentsize", "Number of program headers": "phnum",
                  "Size of section headers": "shentsize", "Section header string table index": "shstrndx"}

NAME_CAP = 32768      # bytes of section names the reader loads
SECTION_CAP = 8192    # section records it loads
SEGMENT_CAP = 256     # program headers it loads


def elf_files(dirs):
    seen, out = set(), []
    for top in dirs:
        for root, _, names in os.walk(top):
            for n in sorted(names):
                p = os.path.join(root, n)
                if os.path.islink(p) or not os.path.isfile(p):
                    continue
                real = os.path.realpath(p)
                if real in seen:
                    continue
                try:
                    with open(p, "rb") as f:
                        if f.read(4) != b"\x7fELF":
                            continue
                except OSError:
                    continue
                seen.add(real)
                out.append(p)
    return sorted(out)


def num(text):
    text = text.strip()
    return int(text, 16) if text.startswith("0x") else int(text)


def parse_readelf(text):
    """Header, sections and program headers of one file's readelf -W output."""
    r = {"header": {}, "sections": [], "segments": [], "section_count": None}
    h = r["header"]
    mode = None
    for line in text.splitlines():
        s = line.strip()
        if s.startswith("Section Headers:"):
            mode = "sections"
            continue
        if s.startswith("Program Headers:"):
            mode = "segments"
            continue
        if s.startswith("Section to Segment mapping") or s.startswith("Key to Flags"):
            mode = None
            continue
        if ":" in s and mode is None:
            key, _, value = s.partition(":")
            value = value.strip()
            first = value.split()[0] if value else ""
            if key == "Class":
                h["class"] = 1 if value == "ELF32" else 2
            elif key == "Data":
                h["encoding"] = 1 if "little" in value else 2
            elif key == "Type":
                h["type"] = TYPE_NAMES.get(first)
            elif key in HEADER_NUMBERS or (key == "Version" and value.startswith("0x")):
                h[HEADER_NUMBERS.get(key, "version")] = num(first.rstrip(","))
            elif key == "Number of section headers":
                h["shnum"] = num(first)
                m = re.search(r"\((\d+)\)", value)
                r["section_count"] = int(m.group(1)) if m else h["shnum"]
            continue
        if mode == "sections":
            m = re.match(r"\s*\[\s*(\d+)\]\s?(.*)$", line)
            if not m:
                continue
            toks = m.group(2).split()
            # From the right: Al Inf Lk [Flg] ES Size Off Address Type, then the name.
            al, inf, lk = toks[-1], toks[-2], toks[-3]
            rest = toks[:-3]
            flags = ""
            if rest and not re.search(r"\d", rest[-1]):
                flags = rest.pop()
            es, size, off, addr = rest[-1], rest[-2], rest[-3], rest[-4]
            head = rest[:-4]
            # The type may be two words ("SYMTAB SECTION INDICES" is three).
            type_name = head[-1] if head else ""
            name_tokens = head[:-1]
            for k in (3, 2):
                if len(head) >= k and " ".join(head[-k:]) in SECTION_TYPES:
                    type_name, name_tokens = " ".join(head[-k:]), head[:-k]
                    break
            r["sections"].append({
                "name": " ".join(name_tokens), "type_name": type_name, "addr": int(addr, 16),
                "offset": int(off, 16), "size": int(size, 16), "entsize": int(es, 16), "flag_letters": flags,
                "link": int(lk), "info": int(inf), "addralign": int(al)})
        elif mode == "segments":
            m = re.match(r"\s+(\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)"
                         r"\s+0x([0-9a-f]+)\s(.{3})\s+0x([0-9a-f]+)\s*$", line)
            if not m:
                continue
            g = m.groups()
            r["segments"].append({"type_name": g[0], "offset": int(g[1], 16), "vaddr": int(g[2], 16),
                                  "paddr": int(g[3], 16), "filesz": int(g[4], 16), "memsz": int(g[5], 16),
                                  "flag_text": g[6], "align": int(g[7], 16)})
    return r


def readelf(path):
    p = subprocess.run(["readelf", "-W", "-h", "-S", "-l", path], capture_output=True, text=True,
                       errors="replace", timeout=60)
    return p.returncode, p.stdout, p.stderr


def numbers(obj):
    """The tool writes 64-bit values as "0x..." strings; compare them as numbers."""
    return {k: int(v, 16) if isinstance(v, str) and v.startswith("0x") and k not in ("name", "file") else v
            for k, v in obj.items()}


def run_tool(tool, runner, paths):
    cmd = (runner.split() if runner else []) + [tool, "elf", "--json"] + paths
    p = subprocess.run(cmd, capture_output=True, text=True, errors="replace", timeout=600)
    try:
        records = [json.loads(line, object_hook=numbers) for line in p.stdout.splitlines() if line.strip()]
    except json.JSONDecodeError as e:
        raise SystemExit("kqhelp elf --json printed invalid JSON for %s...: %s" % (paths[0], e))
    records = [rec for rec in records if "error" not in rec]  # refused files: the message is on stderr too
    messages = {}
    for line in p.stderr.splitlines():
        m = re.match(r"kqhelp: (.*?): (.*)$", line)
        if m:
            messages[m.group(1)] = m.group(2)
    return {rec["file"]: rec for rec in records}, messages


def segment_flags(text):
    return (4 if text[0] == "R" else 0) | (2 if text[1] == "W" else 0) | (1 if text[2] == "E" else 0)


def within_cap(mine, ref, cap, what, diffs, explained):
    """The reference records to compare with: all of them, or the first cap when the reader stopped there."""
    if len(mine) != len(ref):
        if len(ref) > cap and len(mine) == cap:
            explained.append("%d %s, the first %d loaded (cap)" % (len(ref), what, cap))
            return ref[:cap]
        diffs.append("%d %s vs readelf %d" % (len(mine), what, len(ref)))
    return ref


def compare(mine, ref):
    """(differences, explained) as lists of strings."""
    diffs, explained = [], []
    h, rh = mine["header"], ref["header"]
    for key in ("type", "version", "entry", "phoff", "shoff", "flags", "ehsize", "phentsize", "phnum",
                "shentsize", "shnum", "shstrndx"):
        if key in rh and rh[key] is not None and h[key] != rh[key]:
            diffs.append("header %s: %s vs readelf %s" % (key, h[key], rh[key]))
    for key in ("class", "encoding"):
        if key in rh and mine[key] != rh[key]:
            diffs.append("%s: %s vs readelf %s" % (key, mine[key], rh[key]))
    if ref["section_count"] is not None and h["shoff"] and mine["section_count"] != ref["section_count"]:
        diffs.append("section count %s vs readelf %s" % (mine["section_count"], ref["section_count"]))

    secs = mine["sections"]
    rsecs = within_cap(secs, ref["sections"], SECTION_CAP, "section records", diffs, explained)
    for i, (s, rs) in enumerate(zip(secs, rsecs)):
        for key in ("addr", "offset", "size", "entsize", "link", "info", "addralign"):
            if s[key] != rs[key]:
                diffs.append("section %d %s: %s vs readelf %s" % (i, key, s[key], rs[key]))
        if rs["type_name"] in SECTION_TYPES and s["type"] != SECTION_TYPES[rs["type_name"]]:
            diffs.append("section %d type %#x vs readelf %s" % (i, s["type"], rs["type_name"]))
        want = sum(FLAG_LETTERS.get(c, 0) for c in rs["flag_letters"])
        if s["flags"] & STANDARD_FLAGS != want:
            diffs.append("section %d flags %#x vs readelf %s" % (i, s["flags"], rs["flag_letters"]))
        name = s["name"] if s["name"] is not None else ""
        if name != rs["name"]:
            if s["name"] is None and h["shstrndx"] != 0xFFFF and h["shstrndx"] >= len(secs):
                explained.append("section %d name %r not loaded: the name table is section %d, past the %d "
                                 "records loaded" % (i, rs["name"], h["shstrndx"], len(secs)))
            elif s["name"] is None and s["name_offset"] + len(rs["name"].encode()) >= NAME_CAP:
                explained.append("section %d name %r at %d not loaded: it ends beyond the %d-byte name cap"
                                 % (i, rs["name"], s["name_offset"], NAME_CAP))
            else:
                diffs.append("section %d name %r vs readelf %r" % (i, name, rs["name"]))

    segs = mine["segments"]
    rsegs = within_cap(segs, ref["segments"], SEGMENT_CAP, "program headers", diffs, explained)
    for i, (p, rp) in enumerate(zip(segs, rsegs)):
        for key in ("offset", "vaddr", "paddr", "filesz", "memsz", "align"):
            if p[key] != rp[key]:
                diffs.append("segment %d %s: %s vs readelf %s" % (i, key, p[key], rp[key]))
        if rp["type_name"] in SEGMENT_TYPES and p["type"] != SEGMENT_TYPES[rp["type_name"]]:
            diffs.append("segment %d type %#x vs readelf %s" % (i, p["type"], rp["type_name"]))
        if p["flags"] & 7 != segment_flags(rp["flag_text"]):
            diffs.append("segment %d flags %#x vs readelf %r" % (i, p["flags"], rp["flag_text"]))

    loads = [p["vaddr"] for p in rsegs if p["type_name"] == "LOAD"]
    base = min(loads) if loads else None
    if mine["image_base"] != base:
        diffs.append("image base %s vs lowest LOAD %s" % (mine["image_base"], base))
    return diffs, explained


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--runner", default="")
    ap.add_argument("--sample", type=int, default=0, help="at most N files per set, spread evenly")
    ap.add_argument("--batch", type=int, default=64)
    ap.add_argument("--report", default="")
    args = ap.parse_args()

    started = time.time()
    lines, failures = [], 0
    total_compared = total_agree = 0
    for label, dirs in FILE_SETS:
        present = [d for d in dirs if os.path.isdir(d)]
        files = elf_files(present)
        if args.sample and len(files) > args.sample:
            step = len(files) / args.sample
            files = [files[int(i * step)] for i in range(args.sample)]
        if not files:
            lines.append("%s: no ELF files found (%s), skipped" % (label, ", ".join(dirs)))
            continue
        compared = agree = explained_files = refused = 0
        for start in range(0, len(files), args.batch):
            chunk = files[start:start + args.batch]
            records, messages = run_tool(args.tool, args.runner, chunk)
            for path in chunk:
                rc, out, err = readelf(path)
                ref = parse_readelf(out)
                if path not in records:
                    # The reader refused the file: acceptable only when its
                    # documented checks explain it (a rule readelf does not apply).
                    why = messages.get(path, "no output")
                    refused += 1
                    if "not a valid ELF file" in why or rc != 0 or err.strip():
                        lines.append("  EXPLAINED %s: refused: %s" % (path, why))
                    else:
                        failures += 1
                        lines.append("  DIFFERENT %s: refused: %s" % (path, why))
                    continue
                compared += 1
                diffs, explained = compare(records[path], ref)
                if err.strip() and diffs:
                    # readelf itself found the file damaged; its view is no reference.
                    explained.extend("readelf warns (%s): %s" % (err.strip().splitlines()[0], d) for d in diffs)
                    diffs = []
                if diffs:
                    failures += 1
                    lines.append("  DIFFERENT %s: %s" % (path, "; ".join(diffs[:5])))
                elif explained:
                    explained_files += 1
                    lines.append("  EXPLAINED %s: %s" % (path, "; ".join(explained[:3])))
                else:
                    agree += 1
        total_compared += compared
        total_agree += agree
        lines.append("%s: %d files compared, %d agree, %d differ only as documented, %d refused"
                     % (label, compared, agree, explained_files, refused))
    lines.append("total: %d files compared, %d agree, %d unexplained differences (%.0f s)"
                 % (total_compared, total_agree, failures, time.time() - started))
    text = "\n".join(lines) + "\n"
    sys.stdout.write(text)
    if args.report:
        with open(args.report, "w") as f:
            f.write(text)
    if total_compared == 0:
        print("no files compared")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
