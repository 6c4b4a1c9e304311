#!/usr/bin/env python3
"""Mutation check: plants known faults one at a time and sees the tests fail.

Each fault comes from a list under scripts/mutations/ (format below). The
check copies the working tree (tracked and untracked, not ignored files) to
build/mutate/src, builds it once in build/mutate/build and runs the tests a
fault names there without any fault (a test that already fails cannot kill
anything). Then for each fault it replaces the fault's text in the copy,
rebuilds, runs the tests, and puts the text back. The working tree itself is
never written. A fault is

  killed    when the build succeeds and at least one test fails (or times out),
  survived  when every test passes,
  invalid   when its text does not occur exactly once, or the mutant does not
            build (a fault must compile to say anything about the tests).

A fault in the build description itself (a CMakeLists.txt or cmake/ module)
may carry "expect: configure-error": the build's own checks are then what
must catch it, and the fault is killed when CMake stops the configure with an
error (any other build failure leaves it invalid; a mutant that builds is
tested as usual).

The kill rate (killed out of killed + survived) is printed last. Exit code:
0 when every valid fault was killed, 1 when one survived, 2 on bad usage, an
unreadable list or a failing baseline.

List format (blocks separated by blank lines, '#' starts a comment line):

  = area.what-breaks            a unique name
  file: path/from/repo/root     the file to change
  tests: CTEST_REGEX            optional: the tests to run (default: all)
  expect: configure-error       optional: see above
  build: SHELL COMMAND          optional: builds the copy instead of the Linux
                                build (run in build/mutate/src; a failure
                                makes the fault invalid)
  check: SHELL COMMAND          optional: runs instead of ctest (in
                                build/mutate/src; non-zero exit: killed).
                                $MUTATE_ROOT names the working tree, whose
                                own builds (say, pagersim) the command may use
  - original text               one or more lines, joined with newlines; the
  - ...                         text after "- " must occur exactly once
  + replacement text            zero or more lines ("+" alone: an empty line)

This is a developer tool, too slow for CI: a whole list takes minutes to an
hour. Usage:

  scripts/mutate.py                        every list
  scripts/mutate.py --list scripts/mutations/tarn.txt --only 'protocol\\.'
  scripts/mutate.py --dry-run              check the lists only
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Fault:
    def __init__(self, name, where):
        self.name = name
        self.where = where
        self.file = None
        self.tests = None
        self.expect = None
        self.build = None
        self.check = None
        self.minus = []
        self.plus = []

    @property
    def original(self):
        return "\n".join(self.minus)

    @property
    def replacement(self):
        return "\n".join(self.plus)


def parse_list(path):
    """Reads one list; raises ValueError naming the line of a bad block."""
    faults, cur = [], None
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    for no, raw in enumerate(lines, 1):
        where = f"{path}:{no}"
        line = raw.rstrip("\r")
        if line.startswith("#"):
            continue
        if not line.strip():
            cur = None
            continue
        if line.startswith("= "):
            cur = Fault(line[2:].strip(), where)
            faults.append(cur)
        elif cur is None:
            raise ValueError(f"{where}: text outside a block (a block starts with '= NAME')")
        elif line.startswith("file:"):
            cur.file = line[5:].strip()
        elif line.startswith("tests:"):
            cur.tests = line[6:].strip() or None
        elif line.startswith("build:"):
            cur.build = line[6:].strip()
        elif line.startswith("check:"):
            cur.check = line[6:].strip()
        elif line.startswith("expect:"):
            cur.expect = line[7:].strip()
            if cur.expect != "configure-error":
                raise ValueError(f"{where}: unknown expectation {cur.expect!r}")
        elif line.startswith("- ") or line == "-":
            cur.minus.append(line[2:])
        elif line.startswith("+ ") or line == "+":
            cur.plus.append(line[2:])
        else:
            raise ValueError(f"{where}: unknown line {line!r}")
    for fault in faults:
        if not fault.file or not fault.minus:
            raise ValueError(f"{fault.where}: block {fault.name!r} needs 'file:' and '- ' lines")
    return faults


def tree_files():
    out = subprocess.run(
        ["git", "ls-files", "-co", "--exclude-standard", "-z"],
        cwd=ROOT, check=True, capture_output=True).stdout
    return [p for p in out.decode().split("\0") if p]


def sync_copy(src_dir):
    """Copies changed files only, so the copy's build stays incremental."""
    wanted = set()
    for rel in tree_files():
        a = os.path.join(ROOT, rel)
        if not os.path.isfile(a):
            continue
        b = os.path.join(src_dir, rel)
        wanted.add(rel)
        with open(a, "rb") as fa:
            data = fa.read()
        if os.path.isfile(b):
            with open(b, "rb") as fb:
                if fb.read() == data:
                    continue
        os.makedirs(os.path.dirname(b), exist_ok=True)
        with open(b, "wb") as fb:
            fb.write(data)
        shutil.copymode(a, b)
    # Files deleted from the tree leave the copy too.
    for dirpath, _, names in os.walk(src_dir):
        for n in names:
            rel = os.path.relpath(os.path.join(dirpath, n), src_dir)
            if rel not in wanted:
                os.remove(os.path.join(dirpath, n))


def run(cmd, cwd, timeout, log):
    start = time.time()
    try:
        p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=timeout)
        out, rc = p.stdout.decode(errors="replace"), p.returncode
    except subprocess.TimeoutExpired as e:
        out, rc = (e.stdout or b"").decode(errors="replace") + "\n[timed out]", -1
    with open(log, "a", encoding="utf-8") as f:
        f.write(f"$ {' '.join(cmd)}  ({time.time() - start:.1f} s, rc {rc})\n{out}\n")
    return rc, out


def failed_tests(ctest_output):
    names = re.findall(r"^\s*\d+ - (\S+) \(", ctest_output, re.M)
    return names or ["(ctest failed)"]


class Runner:
    def __init__(self, args):
        self.work = os.path.abspath(args.work)
        self.src = os.path.join(self.work, "src")
        self.build = os.path.join(self.work, "build")
        self.log = os.path.join(self.work, "mutate.log")
        self.jobs = str(args.jobs)
        self.test_timeout = str(args.test_timeout)
        self.baselines = {}

    def prepare(self, faults):
        os.makedirs(self.src, exist_ok=True)
        sync_copy(self.src)
        if all(f.build for f in faults):
            return  # each fault builds what its check needs
        if not os.path.isfile(os.path.join(self.build, "build.ninja")):
            rc, out = run(["cmake", "-S", self.src, "-B", self.build, "-G", "Ninja",
                           "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DTH_BENCH=OFF"],
                          self.work, 600, self.log)
            if rc != 0:
                sys.exit(f"mutate: configure failed, see {self.log}")
        rc, out = self.build_tree()
        if rc != 0:
            sys.exit(f"mutate: the unmutated tree does not build, see {self.log}")

    def build_tree(self, fault=None):
        if fault is not None and fault.build:
            return self.shell(fault.build, 3600)
        return run(["cmake", "--build", self.build, "-j", self.jobs], self.work, 1800, self.log)

    def shell(self, command, timeout):
        env = dict(os.environ, MUTATE_ROOT=ROOT)
        start = time.time()
        try:
            p = subprocess.run(["bash", "-c", command], cwd=self.src, env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               timeout=timeout)
            out, rc = p.stdout.decode(errors="replace"), p.returncode
        except subprocess.TimeoutExpired as e:
            out, rc = (e.stdout or b"").decode(errors="replace") + "\n[timed out]", -1
        with open(self.log, "a", encoding="utf-8") as f:
            f.write(f"$ {command}  ({time.time() - start:.1f} s, rc {rc})\n{out}\n")
        return rc, out

    def run_check(self, fault):
        if fault.check:
            rc, out = self.shell(fault.check, 3600)
            return rc, out, ["the check " + fault.check.split()[0]]
        rc, out = self.test(fault.tests)
        return rc, out, failed_tests(out)[:3] if rc != 0 else []

    def test(self, regex):
        cmd = ["ctest", "--test-dir", self.build, "-j", self.jobs, "--timeout",
               self.test_timeout, "--stop-on-failure"]
        if regex:
            cmd += ["-R", regex]
        return run(cmd, self.work, 3600, self.log)

    def baseline(self, fault):
        key = (fault.build, fault.check, fault.tests)
        if key not in self.baselines:
            # The previous fault was put back in the source only: rebuild
            # first, so the baseline runs the unmutated tree.
            if self.build_tree(fault)[0] != 0:
                sys.exit(f"mutate: the unmutated tree does not build, see {self.log}")
            rc, out, _ = self.run_check(fault)
            if rc != 0 or (not fault.check and "No tests were found" in out):
                sys.exit(f"mutate: without any fault the tests "
                         f"{fault.check or fault.tests or '(all)'!r} "
                         f"do not pass or do not exist; see {self.log}")
            self.baselines[key] = True

    def try_fault(self, fault):
        path = os.path.join(self.src, fault.file)
        if not os.path.isfile(path):
            return "invalid", f"no file {fault.file}"
        with open(path, encoding="utf-8") as f:
            text = f.read()
        count = text.count(fault.original)
        if count != 1:
            return "invalid", f"text found {count} times in {fault.file}"
        self.baseline(fault)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace(fault.original, fault.replacement, 1))
        try:
            rc, out = self.build_tree(fault)
            if rc != 0 and fault.expect == "configure-error" and "CMake Error" in out:
                return "killed", "by the configure"
            if rc != 0:
                return "invalid", "does not build"
            rc, out, failed = self.run_check(fault)
            if rc != 0:
                return "killed", "by " + ", ".join(failed)
            return "survived", ""
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--list", action="append", help="a list file (repeatable)")
    ap.add_argument("--only", help="regex: the fault names to try")
    ap.add_argument("--dry-run", action="store_true", help="check the lists and texts only")
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "mutate"))
    ap.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--test-timeout", type=int, default=120, help="seconds per test")
    args = ap.parse_args()

    lists = args.list or sorted(
        os.path.join(ROOT, "scripts", "mutations", n)
        for n in os.listdir(os.path.join(ROOT, "scripts", "mutations")) if n.endswith(".txt"))
    faults = []
    try:
        for path in lists:
            faults += parse_list(path)
    except (OSError, ValueError) as e:
        print(f"mutate: {e}", file=sys.stderr)
        return 2
    seen = set()
    for fault in faults:
        if fault.name in seen:
            print(f"mutate: {fault.where}: name {fault.name!r} used twice", file=sys.stderr)
            return 2
        seen.add(fault.name)
    if args.only:
        faults = [f for f in faults if re.search(args.only, f.name)]

    if args.dry_run:
        bad = 0
        for fault in faults:
            with open(os.path.join(ROOT, fault.file), encoding="utf-8") as f:
                n = f.read().count(fault.original)
            if n != 1:
                bad += 1
                print(f"invalid   {fault.name}: text found {n} times in {fault.file}")
        print(f"{len(faults) - bad} of {len(faults)} faults apply")
        return 1 if bad else 0

    runner = Runner(args)
    runner.prepare(faults)
    tally = {"killed": 0, "survived": 0, "invalid": 0}
    survivors = []
    for fault in faults:
        start = time.time()
        verdict, why = runner.try_fault(fault)
        tally[verdict] += 1
        if verdict == "survived":
            survivors.append(fault.name)
        print(f"{verdict:9} {fault.name}  {why} ({time.time() - start:.0f} s)", flush=True)
    if faults:
        runner.build_tree(faults[-1])  # leave the copy built without faults
    valid = tally["killed"] + tally["survived"]
    rate = 100.0 * tally["killed"] / valid if valid else 0.0
    print(f"\n{tally['killed']} killed, {tally['survived']} survived, "
          f"{tally['invalid']} invalid")
    for name in survivors:
        print(f"  survived: {name}")
    print(f"kill rate: {tally['killed']}/{valid} = {rate:.1f} %")
    return 0 if tally["survived"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
