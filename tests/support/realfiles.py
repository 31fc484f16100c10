"""What the real-file cross-checks (tests/elf, tests/pe) share: an even sample
of the files, the tool's JSON records, field-by-field differences, the verdict."""
import json, subprocess, sys


def sample(files, n):
    """At most n of the files, spread evenly (all of them when n is 0)."""
    return [files[int(i * len(files) / n)] for i in range(n)] if 0 < n < len(files) else files


def numbers(o):
    return {k: int(v, 16) if isinstance(v, str) and v.startswith("0x") and k not in ("name", "file") else v
            for k, v in o.items()}


def records(tool, runner, kind, files, batch=64):
    """{path: record} of `kqhelp KIND --json`, its "0x..." strings as numbers; refused files have "error"."""
    out = {}
    for i in range(0, len(files), batch):
        cmd = runner.split() + [tool, kind, "--json"] + files[i:i + batch]
        for line in subprocess.run(cmd, capture_output=True, text=True, errors="replace", timeout=600).stdout.splitlines():
            r = json.loads(line, object_hook=numbers)
            out[r["file"]] = r
    return out


def differ(what, ours, theirs, keys=None):
    """"what key: ours vs theirs" for each key (all of theirs by default) whose values differ."""
    return ["%s%s: %r vs %r" % (what, k, ours.get(k), theirs[k]) for k in keys or theirs if ours.get(k) != theirs[k]]


def verdict(lines, failures, compared, report=""):
    """Prints the lines (and writes them to report); the exit status: 1 on any failure or nothing compared."""
    text = "\n".join(lines) + "\n"
    sys.stdout.write(text)
    if report:
        with open(report, "w") as f:
            f.write(text)
    return 1 if failures or not compared else 0
