#!/usr/bin/env python3
"""`kqhelp elf --json` against `readelf -W -h -S -l` over ELF files nobody here
wrote: the system's x86_64 programs and libraries, its 32-bit libraries and the
big-endian libraries of the cross libc packages. Header, section records,
program headers and image base must agree; differences the reader's documented
caps explain (docs/elf.md) are listed as explained, any other fails the run.

crosscheck.py --tool PATH [--runner CMD] [--sample N] [--report FILE]
"""
import argparse, json, os, re, subprocess, sys, time

FILE_SETS = [("x86_64 programs", ["/usr/bin"]), ("x86_64 libraries", ["/usr/lib/x86_64-linux-gnu"]),
             ("i386 libraries", ["/usr/lib32", "/usr/lib/i386-linux-gnu"]),
             ("big-endian s390x", ["/usr/s390x-linux-gnu"]), ("big-endian powerpc", ["/usr/powerpc-linux-gnu"])]
SECTION_TYPES = {
    "NULL": 0, "PROGBITS": 1, "SYMTAB": 2, "STRTAB": 3, "RELA": 4, "HASH": 5, "DYNAMIC": 6, "NOTE": 7, "NOBITS": 8,
    "REL": 9, "SHLIB": 10, "DYNSYM": 11, "INIT_ARRAY": 14, "FINI_ARRAY": 15, "PREINIT_ARRAY": 16, "GROUP": 17,
    "SYMTAB SECTION INDICES": 18, "RELR": 19, "GNU_HASH": 0x6FFFFFF6, "VERDEF": 0x6FFFFFFD, "VERNEED": 0x6FFFFFFE,
    "VERSYM": 0x6FFFFFFF, "GNU_ATTRIBUTES": 0x6FFFFFF5, "GNU_LIBLIST": 0x6FFFFFF7, "LLVM_ADDRSIG": 0x6FFF4C03,
    "X86_64_UNWIND": 0x70000001}
SEGMENT_TYPES = {"NULL": 0, "LOAD": 1, "DYNAMIC": 2, "INTERP": 3, "NOTE": 4, "SHLIB": 5, "PHDR": 6, "TLS": 7,
                 "GNU_EH_FRAME": 0x6474E550, "GNU_STACK": 0x6474E551, "GNU_RELRO": 0x6474E552,
                 "GNU_PROPERTY": 0x6474E553}
FLAG_LETTERS = {"W": 0x1, "A": 0x2, "X": 0x4, "M": 0x10, "S": 0x20, "I": 0x40, "L": 0x80, "O": 0x100, "G": 0x200,
                "T": 0x400, "C": 0x800, "E": 0x80000000}
TYPE_NAMES = {"NONE": 0, "REL": 1, "EXEC": 2, "DYN": 3, "CORE": 4}
HEADER_NUMBERS = {"Entry point address": "entry", "Start of program headers": "phoff",
                  "Start of section headers": "shoff", "Flags": "flags", "Size of this header": "ehsize",
                  "Size of program headers": "phentsize", "Number of program headers": "phnum",
                  "Size of section headers": "shentsize", "Section header string table index": "shstrndx"}
NAME_CAP, SECTION_CAP, SEGMENT_CAP = 32768, 8192, 256  # what the reader loads at most


def numbers(line):
    """A record whose "0x..." strings (the tool's 64-bit values) are numbers again."""
    return json.loads(line, object_hook=lambda o: {
        k: int(v, 16) if isinstance(v, str) and v.startswith("0x") and k not in ("name", "file") else v
        for k, v in o.items()})


def elf_files(dirs):
    seen = set()
    for top in dirs:
        for root, _, names in os.walk(top):
            for p in (os.path.join(root, n) for n in names):
                if os.path.islink(p) or not os.path.isfile(p) or os.path.realpath(p) in seen:
                    continue
                try:
                    with open(p, "rb") as f:
                        if f.read(4) == b"\x7fELF":
                            seen.add(os.path.realpath(p))
                            yield p
                except OSError:
                    pass


def num(text):
    return int(text, 16) if text.startswith("0x") else int(text)


def parse_readelf(text):
    """Header, sections and program headers of one file's readelf -W output."""
    h, secs, segs, count, mode = {}, [], [], None, None
    for line in text.splitlines():
        s = line.strip()
        if s.startswith(("Section Headers:", "Program Headers:", "Section to Segment", "Key to Flags")):
            mode = {"Se": "sections", "Pr": "segments"}.get(s[:2]) if s.endswith("Headers:") else None
            continue
        if mode is None and ":" in s:
            key, _, value = (x.strip() for x in s.partition(":"))
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
                count = int(m.group(1)) if m else h["shnum"]
        elif mode == "sections" and re.match(r"\s*\[\s*\d+\]", line):
            toks = re.sub(r"^\s*\[\s*\d+\]\s?", "", line).split()
            # From the right: Al Inf Lk [Flg] ES Size Off Address Type, then the name.
            al, inf, lk, rest = toks[-1], toks[-2], toks[-3], toks[:-3]
            flags = rest.pop() if rest and not re.search(r"\d", rest[-1]) else ""
            es, size, off, addr, head = rest[-1], rest[-2], rest[-3], rest[-4], rest[:-4]
            type_name, name = (head[-1] if head else ""), head[:-1]
            for k in (3, 2):  # "SYMTAB SECTION INDICES" and other types of several words
                if len(head) >= k and " ".join(head[-k:]) in SECTION_TYPES:
                    type_name, name = " ".join(head[-k:]), head[:-k]
                    break
            secs.append({"name": " ".join(name), "type_name": type_name, "addr": int(addr, 16),
                         "offset": int(off, 16), "size": int(size, 16), "entsize": int(es, 16), "flags": flags,
                         "link": int(lk), "info": int(inf), "addralign": int(al)})
        elif mode == "segments":
            m = re.match(r"\s+(\S+)" + r"\s+0x([0-9a-f]+)" * 5 + r"\s(.{3})\s+0x([0-9a-f]+)\s*$", line)
            if m:
                g = m.groups()
                segs.append(dict(zip(("type_name", "offset", "vaddr", "paddr", "filesz", "memsz"),
                                     [g[0]] + [int(x, 16) for x in g[1:6]]), flag_text=g[6], align=int(g[7], 16)))
    return {"header": h, "sections": secs, "segments": segs, "section_count": count}


def capped(mine, ref, cap, what, diffs, explained):
    """The reference records to compare with: all, or the first cap when the reader stopped there."""
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
    for key, value in rh.items():
        got = mine[key] if key in ("class", "encoding") else h.get(key)
        if value is not None and got != value:
            diffs.append("%s: %s vs readelf %s" % (key, got, value))
    if ref["section_count"] is not None and h["shoff"] and mine["section_count"] != ref["section_count"]:
        diffs.append("section count %s vs readelf %s" % (mine["section_count"], ref["section_count"]))
    secs = mine["sections"]
    for i, (s, rs) in enumerate(zip(secs, capped(secs, ref["sections"], SECTION_CAP, "sections", diffs, explained))):
        for key in ("addr", "offset", "size", "entsize", "link", "info", "addralign"):
            if s[key] != rs[key]:
                diffs.append("section %d %s: %s vs readelf %s" % (i, key, s[key], rs[key]))
        if s["type"] != SECTION_TYPES.get(rs["type_name"], s["type"]):
            diffs.append("section %d type %#x vs readelf %s" % (i, s["type"], rs["type_name"]))
        if s["flags"] & sum(FLAG_LETTERS.values()) != sum(FLAG_LETTERS.get(c, 0) for c in rs["flags"]):
            diffs.append("section %d flags %#x vs readelf %s" % (i, s["flags"], rs["flags"]))
        if (s["name"] or "") != rs["name"]:
            if s["name"] is None and h["shstrndx"] != 0xFFFF and h["shstrndx"] >= len(secs):
                explained.append("section %d name: the name table lies past the records loaded" % i)
            elif s["name"] is None and s["name_offset"] + len(rs["name"].encode()) >= NAME_CAP:
                explained.append("section %d name ends beyond the %d-byte name cap" % (i, NAME_CAP))
            else:
                diffs.append("section %d name %r vs readelf %r" % (i, s["name"], rs["name"]))
    segs = mine["segments"]
    rsegs = capped(segs, ref["segments"], SEGMENT_CAP, "program headers", diffs, explained)
    for i, (p, rp) in enumerate(zip(segs, rsegs)):
        for key in ("offset", "vaddr", "paddr", "filesz", "memsz", "align"):
            if p[key] != rp[key]:
                diffs.append("segment %d %s: %s vs readelf %s" % (i, key, p[key], rp[key]))
        if p["type"] != SEGMENT_TYPES.get(rp["type_name"], p["type"]):
            diffs.append("segment %d type %#x vs readelf %s" % (i, p["type"], rp["type_name"]))
        f = rp["flag_text"]
        if p["flags"] & 7 != (4 if f[0] == "R" else 0) | (2 if f[1] == "W" else 0) | (1 if f[2] == "E" else 0):
            diffs.append("segment %d flags %#x vs readelf %r" % (i, p["flags"], f))
    loads = [p["vaddr"] for p in rsegs if p["type_name"] == "LOAD"]
    if mine["image_base"] != (min(loads) if loads else None):
        diffs.append("image base %s vs lowest LOAD %s" % (mine["image_base"], min(loads) if loads else None))
    return diffs, explained


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--runner", default="")
    ap.add_argument("--sample", type=int, default=0, help="at most N files per set, spread evenly")
    ap.add_argument("--report", default="")
    args = ap.parse_args()
    started, lines, failures, total, total_agree = time.time(), [], 0, 0, 0
    for label, dirs in FILE_SETS:
        files = sorted(elf_files(d for d in dirs if os.path.isdir(d)))
        if args.sample and len(files) > args.sample:
            files = [files[int(i * len(files) / args.sample)] for i in range(args.sample)]
        if not files:
            lines.append("%s: no ELF files found (%s), skipped" % (label, ", ".join(dirs)))
            continue
        counts = {"agree": 0, "explained": 0, "refused": 0}
        for start in range(0, len(files), 64):
            chunk = files[start:start + 64]
            p = subprocess.run((args.runner.split() if args.runner else []) + [args.tool, "elf", "--json"] + chunk,
                               capture_output=True, text=True, errors="replace", timeout=600)
            # JSON Lines; a refused file's record has "error" and its message is on stderr too
            records = {r["file"]: r for r in map(numbers, p.stdout.splitlines()) if "error" not in r}
            messages = dict(re.findall(r"^kqhelp: (.*?): (.*)$", p.stderr, re.M))
            for path in chunk:
                ref = subprocess.run(["readelf", "-W", "-h", "-S", "-l", path], capture_output=True, text=True,
                                     errors="replace", timeout=60)
                if path not in records:
                    # Refused: acceptable when readelf finds the file damaged too, or a documented check explains it.
                    why = messages.get(path, "no output")
                    counts["refused"] += 1
                    ok = "not a valid ELF file" in why or ref.returncode != 0 or ref.stderr.strip()
                    failures += not ok
                    lines.append("  %s %s: refused: %s" % ("EXPLAINED" if ok else "DIFFERENT", path, why))
                    continue
                diffs, explained = compare(records[path], parse_readelf(ref.stdout))
                if ref.stderr.strip() and diffs:  # readelf itself warns: its view is no reference
                    explained, diffs = explained + ["readelf warns: " + d for d in diffs], []
                if diffs:
                    failures += 1
                    lines.append("  DIFFERENT %s: %s" % (path, "; ".join(diffs[:5])))
                elif explained:
                    counts["explained"] += 1
                    lines.append("  EXPLAINED %s: %s" % (path, "; ".join(explained[:3])))
                else:
                    counts["agree"] += 1
        compared = len(files) - counts["refused"]
        total, total_agree = total + compared, total_agree + counts["agree"]
        lines.append("%s: %d files compared, %d agree, %d differ only as documented, %d refused"
                     % (label, compared, counts["agree"], counts["explained"], counts["refused"]))
    lines.append("total: %d files compared, %d agree, %d unexplained differences (%.0f s)"
                 % (total, total_agree, failures, time.time() - started))
    text = "\n".join(lines) + "\n"
    sys.stdout.write(text)
    if args.report:
        with open(args.report, "w") as f:
            f.write(text)
    return 1 if failures or not total else 0


if __name__ == "__main__":
    sys.exit(main())
