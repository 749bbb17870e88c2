#!/usr/bin/env python3
"""Mutation run: how many small faults planted in src/ do the tests catch?

Draws a fixed, seeded sample of single-point mutations (a comparison flipped,
a constant changed by one, a statement dropped, && and || swapped, a function
returning success at once), spread evenly over the source layers. Each one is
applied to a private copy of the tree, built incrementally in the copy's own
build folder, and the test binaries of the mutated layer and the layers above
it run with a timeout; a mutation is caught when one of them fails. Mutations
that do not compile are replaced by the next draw of the same layer.

    python3 tools/mutate.py [--count 45] [--seed 1] [--work build-mut] [--list]

Prints one line per mutation and "caught C of N (P %)", then the survivors.
The tree is copied from `git ls-files` of the checkout, uncommitted edits
included; the checkout itself is never changed.
"""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys

LAYERS = ["platform", "common", "frame", "stat", "doctor", "webstat", "dbfeed", "app", "report"]
MODES = ["stat", "doctor", "webstat", "dbfeed"]


def tests_above(layer):
    """Test binaries that can see a fault of the layer: its own and every one above."""
    if layer == "platform":
        above = ["platform", "common", "frame"] + MODES + ["app", "report"]
    elif layer == "common":
        above = ["common", "frame"] + MODES + ["app", "report"]
    elif layer == "frame":
        above = ["frame"] + MODES + ["app"]
    elif layer in MODES:
        above = [layer, "app"]
    else:
        above = [layer]
    return [name + "_tests" for name in above] + ["e2e_tests"]


COMPARISONS = {" < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > ", " == ": " != ", " != ": " == "}
STATEMENT = re.compile(r"^\s+(?:\+\+|--)?[A-Za-z_][\w.\->\[\]:]*(?:\(.*\)|\s*[-+*|&^]?=\s.*|\+\+|--);\s*$")
NUMBER = re.compile(r"(?<![\w.'])(\d+)(?![\w.'])")
FUNCTION = re.compile(r"^(ResultCode|bool) [A-Za-z_][\w:]*\(")


def code_part(line):
    """The line with string and char literals and // comments blanked out."""
    out, quote, i = [], None, 0
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            out.append(" " if c != quote else c)
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out).ljust(len(line))


def sites_of(path, lines):
    """Every (kind, line index, column, old text, new text) a mutation can take."""
    sites = []
    in_function = None
    for n, raw in enumerate(lines):
        stripped = raw.strip()
        if not stripped or stripped.startswith(("#", "//", "*", "/*")):
            continue
        code = code_part(raw)
        for old, new in COMPARISONS.items():
            for m in re.finditer(re.escape(old), code):
                sites.append(("compare", n, m.start(), old, new))
        for old, new in ((" && ", " || "), (" || ", " && ")):
            for m in re.finditer(re.escape(old), code):
                sites.append(("andor", n, m.start(), old, new))
        # Constants of declarations, case labels and array sizes would mostly
        # not build or change nothing but a size.
        if not ("constexpr" in code or "case " in code or "[" in code.split("=")[0]):
            for m in NUMBER.finditer(code):
                sites.append(("constant", n, m.start(), m.group(1), str(int(m.group(1)) + 1)))
        if STATEMENT.match(code) and not stripped.startswith(("return", "else", "case", "default")):
            sites.append(("drop", n, 0, raw, re.match(r"^\s*", raw).group(0) + "(void)0;"))
        match = FUNCTION.match(raw)
        if match:
            in_function = match.group(1)
        if in_function and raw.rstrip().endswith("{") and not raw.startswith(" "):
            success = "return kOk;" if in_function == "ResultCode" else "return true;"
            sites.append(("early", n, len(raw), "", " " + success))
            in_function = None
    return sites


def sample_order(tree, layer, seed):
    """The layer's sites in the order of a seeded hash of what they change, not
    of where: moving code between files of the layer keeps the sample."""
    keyed, seen = [], {}
    for path in source_files(tree, layer):
        lines = open(path, encoding="utf-8", errors="surrogateescape").read().split("\n")
        for site in sites_of(path, lines):
            kind, n, col, old, new = site
            text = lines[n].strip()
            offset = col - (len(lines[n]) - len(lines[n].lstrip()))
            what = "|".join([str(seed), kind, text, str(offset), old, new])
            seen[what] = seen.get(what, 0) + 1
            digest = hashlib.sha1(("%s|%d" % (what, seen[what])).encode("utf-8", "surrogateescape"))
            keyed.append((digest.hexdigest(), path, site))
    keyed.sort()
    return [(path, site) for _, path, site in keyed]


def source_files(tree, layer):
    folder = os.path.join(tree, "src", layer)
    return sorted(os.path.join(folder, f) for f in os.listdir(folder)
                  if f.endswith(".cpp") and not f.endswith("_win32.cpp") and f != "main.cpp")


def apply(lines, site):
    kind, n, col, old, new = site
    line = lines[n]
    if kind == "drop":
        changed = new
    elif kind == "early":
        changed = line + new
    else:
        changed = line[:col] + new + line[col + len(old):]
    return lines[:n] + [changed] + lines[n + 1:]


def run(cmd, cwd, timeout=None, log=None):
    try:
        done = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout, text=True, errors="replace")
        if log is not None:
            log.append(done.stdout[-3000:])
        return done.returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def copy_tree(checkout, tree):
    files = subprocess.run(["git", "ls-files", "-z"], cwd=checkout, stdout=subprocess.PIPE,
                           check=True).stdout.decode().split("\0")
    for rel in filter(None, files):
        source = os.path.join(checkout, rel)
        if not os.path.isfile(source):
            continue
        target = os.path.join(tree, rel)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if not os.path.exists(target) or open(source, "rb").read() != open(target, "rb").read():
            shutil.copyfile(source, target)  # a new time stamp: the build sees the change


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--count", type=int, default=45)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--work", default="build-mut", help="folder for the copy and its build")
    parser.add_argument("--timeout", type=int, default=600, help="seconds per test binary")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--exclude", default="",
                        help="gtest negative filter for every binary, e.g. '*Large*:*Abort*'")
    parser.add_argument("--list", action="store_true", help="only print the sample")
    parser.add_argument("--only", default="",
                        help="comma-separated numbers (from 1) of the sample's mutations to run alone")
    args = parser.parse_args()

    checkout = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
    work = os.path.abspath(args.work)
    tree, build = os.path.join(work, "tree"), os.path.join(work, "build")
    os.makedirs(tree, exist_ok=True)
    copy_tree(checkout, tree)

    per_layer = {layer: sample_order(tree, layer, args.seed) for layer in LAYERS}

    if args.list:
        for i in range(args.count):
            layer = LAYERS[i % len(LAYERS)]
            path, site = per_layer[layer][i // len(LAYERS)]
            print(describe(tree, path, site))
        return 0

    print("configuring and building the unmutated copy ...", flush=True)
    if run(["cmake", "-S", tree, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
            "-DVARNO_BENCH=OFF"], cwd=work) != 0:
        sys.exit("configure failed")
    if run(["cmake", "--build", build, "-j", str(args.jobs)], cwd=work) != 0:
        sys.exit("build of the unmutated tree failed")
    env_filter = "--gtest_filter=-" + args.exclude if args.exclude else "--gtest_filter=*"
    binaries = {}
    for layer in LAYERS:
        for test in tests_above(layer):
            binaries[test] = os.path.join(build, "bin", test)
    broken = set()
    for test, binary in sorted(binaries.items()):
        if not os.path.exists(binary):
            broken.add(test)
            continue
        log = []
        if run([binary, env_filter, "--gtest_brief=1"], cwd=work, timeout=args.timeout, log=log) != 0:
            print("unmutated %s fails; left out:\n%s" % (test, log[-1] if log else ""), flush=True)
            broken.add(test)

    caught, survivors, results = 0, [], []
    next_draw = {layer: 0 for layer in LAYERS}
    only = {int(n) - 1 for n in args.only.split(",") if n}
    for i in range(args.count):
        layer = LAYERS[i % len(LAYERS)]
        if only and i not in only:
            # Skipped: one draw of its layer, as when it built in the full
            # run (the printed lines show whether the sample stayed the same).
            next_draw[layer] += 1
            continue
        while True:
            path, site = per_layer[layer][next_draw[layer]]
            next_draw[layer] += 1
            verdict = try_mutation(path, site, layer, build, work, binaries, broken, env_filter, args)
            if verdict != "no build":
                break
            print("  (%s does not compile; next draw)" % describe(tree, path, site), flush=True)
        line = "%-9s %s" % (verdict, describe(tree, path, site))
        print(line, flush=True)
        results.append(line)
        if verdict == "survived":
            survivors.append(describe(tree, path, site))
        else:
            caught += 1
    # Leave the copy's build matching the unmutated tree for the next run.
    run(["cmake", "--build", build, "-j", str(args.jobs)], cwd=work)
    total = len(results)
    print("caught %d of %d (%.1f %%)" % (caught, total, 100.0 * caught / max(total, 1)))
    if survivors:
        print("survivors:")
        for s in survivors:
            print("  " + s)
    return 0


def describe(tree, path, site):
    kind, n, col, old, new = site
    rel = os.path.relpath(path, tree)
    if kind == "drop":
        return "%s:%d drop `%s`" % (rel, n + 1, old.strip())
    if kind == "early":
        return "%s:%d early `%s`" % (rel, n + 1, new.strip())
    return "%s:%d %s `%s` -> `%s`" % (rel, n + 1, kind, old.strip(), new.strip())


def try_mutation(path, site, layer, build, work, binaries, broken, env_filter, args):
    original = open(path, encoding="utf-8", errors="surrogateescape").read()
    mutated = "\n".join(apply(original.split("\n"), site))
    try:
        with open(path, "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write(mutated)
        targets = ["varno", "varno-report"] + [t for t in tests_above(layer) if t not in broken]
        if run(["cmake", "--build", build, "-j", str(args.jobs), "--target"] + targets, cwd=work) != 0:
            return "no build"
        for test in tests_above(layer):
            if test in broken:
                continue
            result = run([binaries[test], env_filter, "--gtest_brief=1", "--gtest_fail_fast"],
                         cwd=work, timeout=args.timeout)
            if result != 0:
                return "caught" if result != "timeout" else "caught(t)"
        return "survived"
    finally:
        with open(path, "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write(original)


if __name__ == "__main__":
    sys.exit(main())
