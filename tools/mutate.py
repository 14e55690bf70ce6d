#!/usr/bin/env python3
"""One-operator mutation testing of the filters, the decoders, qvinspect and the CUPS driver.

A mutant changes one operator or constant on one line of a .cc file of mono/, colour/,
decode/, inspect/ or cups/. Each mutant is applied to the tree, the fast test programs are
rebuilt (a -O1 build without sanitizers, in DIR/build-mut unless --build says otherwise) and run
with --gtest_fail_fast (--label picks other tests), and the file is restored. Results, one line per mutant:

  killed    a test failed (or a test program timed out: status "timeout")
  survived  every fast test passed
  invalid   the mutant does not compile
  gone      the mutated line no longer exists in this tree

Mutants are stored by text (file, the line, its neighbours, the operator and which occurrence
on the line), so the same list can be re-applied to a changed tree:

  tools/mutate.py --tree . --mutants mutants.jsonl --generate 320   # pick mutants, then run
  tools/mutate.py --tree OTHER --mutants mutants.jsonl --out after.tsv
  tools/mutate.py --tree . --mutants mutants.jsonl --only m0042 --show   # print one mutant
  tools/mutate.py --compare before.tsv after.tsv   # killed before and after, and what was lost

Run it niced in the background; --out is appended to as it goes and a rerun skips the mutants
already in it.
"""

import argparse
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

MODULES = ["mono", "colour", "decode", "inspect", "cups"]

# Binary operators are recognised only with a blank on each side, as clang-format writes
# them; template brackets, pointers, references and unary signs never are.
BINARY_SWAPS = {
    "rel": [("<", "<="), ("<=", "<"), (">", ">="), (">=", ">")],
    "eq": [("==", "!="), ("!=", "==")],
    "arith": [("+", "-"), ("-", "+"), ("*", "/"), ("/", "*"), ("%", "*"), ("+=", "-="),
              ("-=", "+="), ("<<", ">>"), (">>", "<<")],
    "logic": [("&&", "||"), ("||", "&&")],
    "bit": [("&", "|"), ("|", "&"), ("^", "|"), ("&=", "|="), ("|=", "&=")],
}
KEYWORDS = {"return", "if", "while", "for", "switch", "case", "do", "else", "sizeof", "delete",
            "new", "throw", "co_return", "static_assert", "using", "typedef", "template"}


def mask_line(line, in_comment):
    """The line with comments, string and character literals blanked; and the comment state."""
    out = []
    i, n = 0, len(line)
    while i < n:
        if in_comment:
            end = line.find("*/", i)
            if end < 0:
                out.append(" " * (n - i))
                return "".join(out), True
            out.append(" " * (end + 2 - i))
            i = end + 2
            in_comment = False
            continue
        c = line[i]
        if line.startswith("//", i):
            out.append(" " * (n - i))
            break
        if line.startswith("/*", i):
            in_comment = True
            continue
        if c in "\"'":
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            out.append(c + " " * (min(j, n) - i - 1) + (c if j < n else ""))
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out), in_comment


def candidates_in_line(masked):
    """(op, start, end, original, replacement) for every mutation the line allows."""
    found = []
    for cls, swaps in BINARY_SWAPS.items():
        for orig, repl in swaps:
            for m in re.finditer(r"(?<= )" + re.escape(orig) + r"(?= )", masked):
                found.append((cls, m.start(), m.end(), orig, repl))
    for m in re.finditer(r"!(?![=])", masked):
        if m.start() > 0 and masked[m.start() - 1] in "!=<>":
            continue
        found.append(("not", m.start(), m.end(), "!", ""))
    for m in re.finditer(r"(?<![\w.])(0[xX][0-9A-Fa-f]+|\d+)([uUlL]*)(?![\w.'])", masked):
        text = m.group(1)
        value = int(text, 16) if text[:2] in ("0x", "0X") else int(text)
        repl = str(value + 1) if value in (0, 1) or len(found) % 2 else str(value - 1)
        if value == 1 and len(found) % 2 == 0:
            repl = "0"
        found.append(("const", m.start(1), m.end(1), text, repl))
    for m in re.finditer(r"\breturn (true|false)\b", masked):
        flip = "false" if m.group(1) == "true" else "true"
        found.append(("return", m.start(1), m.end(1), m.group(1), flip))
    for m in re.finditer(r"\breturn ([A-Za-z_][\w:.>-]*(?:\([^;]*\))?);", masked):
        if m.group(1) in ("true", "false", "nullptr"):
            continue
        found.append(("return", m.start(1), m.end(1), m.group(1), "{}"))
    stripped = masked.strip()
    call = re.match(r"^([A-Za-z_][\w:]*(?:(?:\.|->)[A-Za-z_]\w*)*)\s*\((.*)\);$", stripped)
    if call and call.group(1).split("::")[0] not in KEYWORDS and stripped.count("(") == stripped.count(")"):
        start = masked.index(stripped)
        found.append(("delete", start, start + len(stripped), stripped, "(void)0;"))
    return found


def scan_file(tree, rel):
    with open(os.path.join(tree, rel), encoding="utf-8") as f:
        lines = f.read().split("\n")
    in_comment = False
    result = []
    for idx, line in enumerate(lines):
        masked, in_comment = mask_line(line, in_comment)
        s = masked.strip()
        if not s or s.startswith("#") or "static_assert" in s or 'R"' in line or s.startswith("//"):
            continue
        for op, start, end, orig, repl in candidates_in_line(masked):
            occurrence = sum(1 for c in candidates_in_line(masked)
                             if c[0] == op and c[3] == orig and c[1] < start)
            result.append({"file": rel, "line": idx + 1, "text": line,
                           "before": lines[max(0, idx - 2):idx], "after": lines[idx + 1:idx + 3],
                           "op": op, "orig": orig, "repl": repl, "nth": occurrence})
    return result


def generate(tree, count, seed):
    rng = random.Random(seed)
    per_module = -(-count // len(MODULES))
    mutants = []
    for module in MODULES:
        files = sorted(f for f in os.listdir(os.path.join(tree, module)) if f.endswith(".cc"))
        pool = [c for f in files for c in scan_file(tree, f"{module}/{f}")]
        by_op = {}
        for c in pool:
            by_op.setdefault(c["op"], []).append(c)
        for group in by_op.values():
            rng.shuffle(group)
        chosen = []
        while len(chosen) < per_module and any(by_op.values()):
            for op in sorted(by_op):
                if by_op[op] and len(chosen) < per_module:
                    chosen.append(by_op[op].pop())
        mutants.extend(chosen)
    mutants.sort(key=lambda m: (m["file"], m["line"]))
    for i, m in enumerate(mutants):
        m["id"] = f"m{i + 1:04d}"
    return mutants


def locate(tree, m):
    """The file's lines and the index of the mutant's line in this tree, or None."""
    path = os.path.join(tree, m["file"])
    if not os.path.exists(path):
        return None, None
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    want = m["text"].strip()
    hits = [i for i, l in enumerate(lines) if l.strip() == want]
    if not hits:
        return lines, None

    def score(i):
        ctx = sum(1 for k, b in enumerate(reversed(m["before"]))
                  if i - 1 - k >= 0 and lines[i - 1 - k].strip() == b.strip())
        ctx += sum(1 for k, a in enumerate(m["after"])
                   if i + 1 + k < len(lines) and lines[i + 1 + k].strip() == a.strip())
        return (-ctx, abs(i + 1 - m["line"]))

    return lines, min(hits, key=score)


def mutate_line(line, m):
    masked, _ = mask_line(line, False)
    hits = [c for c in candidates_in_line(masked) if c[0] == m["op"] and c[3] == m["orig"]]
    if m["nth"] >= len(hits):
        return None
    _, start, end, orig, _ = hits[m["nth"]]
    return line[:start] + m["repl"] + line[end:]


def run(cmd, cwd=None, timeout=None, env=None):
    """(returncode or 'timeout', output); the whole process group goes on a timeout."""
    proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out.decode(errors="replace")
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        return "timeout", out.decode(errors="replace")


def configure(tree, build):
    if os.path.exists(os.path.join(build, "build.ninja")):
        return
    cmd = ["cmake", "-S", tree, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
           "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g0", "-DQV_BUILD_BENCH=OFF", "-DQV_BUILD_TESTS=ON"]
    if shutil.which("ccache"):
        cmd.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
    rc, out = run(cmd)
    if rc != 0:
        sys.exit("configure failed:\n" + out)


def test_programs(build, label):
    """The gtest programs behind the tests with the label: [(path, workdir, env)]."""
    rc, out = run(["ctest", "--test-dir", build, "-N", "-L", label, "--show-only=json-v1"])
    if rc != 0:
        sys.exit("ctest -N failed:\n" + out)
    programs = {}
    for t in json.loads(out)["tests"]:
        cmd = t.get("command") or []
        if not any(a.startswith("--gtest_filter") for a in cmd[1:]):
            continue
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        env = dict(os.environ)
        for kv in props.get("ENVIRONMENT", []):
            k, _, v = kv.partition("=")
            env[k] = v
        programs.setdefault(cmd[0], (cmd[0], props.get("WORKING_DIRECTORY", build), env))
    return list(programs.values())


def build_programs(build, programs, timeout=900):
    targets = [os.path.basename(p[0]) for p in programs]
    return run(["cmake", "--build", build, "-j", str(os.environ.get("MUTATE_JOBS", "2")),
                "--target", *targets], timeout=timeout)


def run_programs(programs, limits, module, excluded):
    """('killed'|'timeout'|'survived', detail)."""
    order = sorted(programs, key=lambda p: (module not in os.path.basename(p[0]), p[0]))
    for path, cwd, env in order:
        cmd = [path, "--gtest_fail_fast", "--gtest_brief=1"]
        if excluded.get(path):
            cmd.append("--gtest_filter=-" + ":".join(excluded[path]))
        rc, out = run(cmd, cwd=cwd, env=env, timeout=limits[path])
        name = os.path.basename(path)
        if rc == "timeout":
            return "timeout", name
        if rc != 0:
            failed = re.search(r"\[  FAILED  \] (\S+)", out)
            return "killed", f"{name}:{failed.group(1) if failed else 'exit ' + str(rc)}"
    return "survived", ""


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tree", help="source tree to mutate (restored after each mutant)")
    ap.add_argument("--mutants", help="mutant list (JSON lines)")
    ap.add_argument("--out", help="results (TSV), appended to; mutants already in it are skipped")
    ap.add_argument("--build", help="build directory (default TREE/build-mut)")
    ap.add_argument("--generate", type=int, metavar="N", help="first pick N mutants from TREE into --mutants")
    ap.add_argument("--seed", type=int, default=9)
    ap.add_argument("--label", default="^fast$", help="ctest label regex of the tests to run (default ^fast$)")
    ap.add_argument("--only", nargs="*", help="mutant ids to run")
    ap.add_argument("--show", action="store_true", help="print the mutated lines, run nothing")
    ap.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"), help="compare two result files")
    ap.add_argument("--summary", metavar="RESULTS", help="print the figures of a result file")
    args = ap.parse_args()
    if args.summary:
        summarise(args.summary)
        return
    if args.compare:
        compare(*args.compare)
        return
    if not args.tree or not args.mutants:
        ap.error("--tree and --mutants are required")
    tree = os.path.abspath(args.tree)
    build = os.path.abspath(args.build or os.path.join(tree, "build-mut"))

    if args.generate:
        with open(args.mutants, "w") as f:
            for m in generate(tree, args.generate, args.seed):
                f.write(json.dumps(m) + "\n")
    with open(args.mutants) as f:
        mutants = [json.loads(l) for l in f if l.strip()]
    if args.only:
        mutants = [m for m in mutants if m["id"] in args.only]
    if args.show:
        for m in mutants:
            lines, idx = locate(tree, m)
            new = mutate_line(lines[idx], m) if idx is not None else None
            print(f"{m['id']} {m['file']}:{idx + 1 if idx is not None else '-'} {m['op']}\n"
                  f"  - {m['text'].strip()}\n  + {new.strip() if new else 'gone'}")
        return
    if not args.out:
        sys.exit("--out is required to run mutants")

    done = set()
    if os.path.exists(args.out):
        with open(args.out) as f:
            done = {l.split("\t")[0] for l in f}
    else:
        with open(args.out, "w") as f:
            f.write("id\tmodule\tfile\tline\top\tstatus\tdetail\tseconds\toriginal\tmutated\n")

    configure(tree, build)
    rc, out = run(["cmake", "--build", build, "-j", os.environ.get("MUTATE_JOBS", "2")])
    if rc != 0:
        sys.exit("the unmutated tree does not build:\n" + out[-3000:])
    programs = test_programs(build, args.label)
    rc, out = build_programs(build, programs)
    limits, excluded = {}, {}
    for path, cwd, env in programs:
        t0 = time.time()
        rc, out = run([path, "--gtest_brief=1"], cwd=cwd, env=env, timeout=1800)
        took = time.time() - t0
        limits[path] = max(20.0, 4 * took + 10)
        if rc != 0:
            excluded[path] = sorted(set(re.findall(r"\[  FAILED  \] ([\w/.]+)", out)))
        print(f"baseline {os.path.basename(path)}: {took:.1f}s, failing before any mutant: "
              f"{excluded.get(path, [])}", flush=True)

    originals = {}

    def restore_all(*_):
        for path, text in originals.items():
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        if _:
            sys.exit(1)

    signal.signal(signal.SIGTERM, restore_all)
    try:
        for m in mutants:
            if m["id"] in done:
                continue
            t0 = time.time()
            lines, idx = locate(tree, m)
            new = mutate_line(lines[idx], m) if idx is not None else None
            status, detail = "gone", ""
            if new is not None:
                path = os.path.join(tree, m["file"])
                originals[path] = "\n".join(lines)
                mutated = lines[:idx] + [new] + lines[idx + 1:]
                with open(path, "w", encoding="utf-8") as f:
                    f.write("\n".join(mutated))
                try:
                    rc, out = build_programs(build, programs)
                    if rc != 0:
                        status = "invalid"
                        err = re.search(r"error: (.*)", out)
                        detail = err.group(1)[:80] if err else str(rc)
                    else:
                        status, detail = run_programs(programs, limits, m["file"].split("/")[0], excluded)
                finally:
                    # The next build recompiles the restored file; nothing is built here.
                    restore_all()
                    originals.clear()
            row = [m["id"], m["file"].split("/")[0], m["file"], str(m["line"] if idx is None else idx + 1),
                   f"{m['op']}:{m['orig']}->{m['repl']}", status, detail, f"{time.time() - t0:.1f}",
                   m["text"].strip().replace("\t", " "), (new or "").strip().replace("\t", " ")]
            with open(args.out, "a") as f:
                f.write("\t".join(row) + "\n")
            print(f"{m['id']} {m['file']}:{row[3]} {row[4]} -> {status} {detail} ({row[7]}s)", flush=True)
    finally:
        restore_all()
    build_programs(build, programs)
    summarise(args.out)


def summarise(path):
    with open(path) as f:
        rows = [l.rstrip("\n").split("\t") for l in f][1:]
    stats = {}
    for r in rows:
        for key in (r[1], "total"):
            s = stats.setdefault(key, {})
            s[r[5]] = s.get(r[5], 0) + 1
    for key in MODULES + ["total"]:
        s = stats.get(key, {})
        print(f"{key:8} mutants {sum(s.values()):4}  killed {s.get('killed', 0):4}  "
              f"timeout {s.get('timeout', 0):3}  survived {s.get('survived', 0):4}  "
              f"invalid {s.get('invalid', 0):3}  gone {s.get('gone', 0):3}")


def compare(before_path, after_path):
    """Mutants that change behaviour (killed in either run) and where the runs differ."""
    def load(path):
        with open(path) as f:
            return {r[0]: r for r in (l.rstrip("\n").split("\t") for l in list(f)[1:])}
    before, after = load(before_path), load(after_path)
    caught = ("killed", "timeout")
    print("before:")
    summarise(before_path)
    print("after:")
    summarise(after_path)
    both = [i for i in before if i in after and before[i][5] != "gone" and after[i][5] != "gone"]
    k_before = sum(before[i][5] in caught for i in both)
    k_after = sum(after[i][5] in caught for i in both)
    print(f"mutants present in both trees: {len(both)}; killed before {k_before}, after {k_after}")
    for i in both:
        if before[i][5] in caught and after[i][5] not in caught:
            print(f"  lost {i} {after[i][2]}:{after[i][3]} {after[i][4]} ({after[i][5]}): {after[i][8]}")
        if after[i][5] in caught and before[i][5] not in caught:
            print(f"  new  {i} {after[i][2]}:{after[i][3]} {after[i][4]}: {after[i][8]}")


if __name__ == "__main__":
    main()
