"""What the real-file cross-checks (tests/elf, tests/pe) share: the command line, the files, an even sample,
the tool's JSON records, field-by-field differences, the verdict."""
import argparse, json, os, subprocess, sys


def options(*extra):
    """--tool, --runner and the script's own options, each given as (flag, keyword arguments)."""
    ap = argparse.ArgumentParser()
    for flag, kw in (("--tool", {"required": True}), ("--runner", {"default": ""})) + extra:
        ap.add_argument(flag, **kw)
    return ap.parse_args()


def magic_files(paths, magic):
    """The regular files among paths (no links) that start with magic, sorted, each real file once (its first path)."""
    return sorted({os.path.realpath(p): p for p in reversed(paths) if os.path.isfile(p) and not os.path.islink(p)
                   and open(p, "rb").read(len(magic)) == magic}.values())


def sample(files, n):
    """At most n of the files, spread evenly (all of them when n is 0)."""
    return [files[int(i * len(files) / n)] for i in range(n)] if 0 < n < len(files) else files


def records(tool, runner, kind, files, batch=64):
    """{path: record} of `kqhelp KIND --json`, its "0x..." strings as numbers; refused files have "error"."""
    hexes = lambda o: {k: int(v, 16) if str(v)[:2] == "0x" and k not in ("name", "file") else v for k, v in o.items()}
    runs = (subprocess.run(runner.split() + [tool, kind, "--json"] + files[i:i + batch], capture_output=True, text=True,
                           errors="replace", timeout=600).stdout for i in range(0, len(files), batch))
    return {r["file"]: r for out in runs for r in (json.loads(line, object_hook=hexes) for line in out.splitlines())}


def differ(what, ours, theirs):
    """"what key: ours vs theirs" for each key of theirs whose values differ."""
    return ["%s%s: %r vs %r" % (what, k, ours.get(k), theirs[k]) for k in theirs if ours.get(k) != theirs[k]]


def verdict(lines, failures, compared, report=""):
    """Prints the lines (and writes them to report); the exit status: 1 on any failure or nothing compared."""
    text = "\n".join(lines) + "\n"
    sys.stdout.write(text)
    if report:
        open(report, "w").write(text)
    return 1 if failures or not compared else 0
