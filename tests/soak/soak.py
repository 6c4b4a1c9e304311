#!/usr/bin/env python3
"""Soak run: random jobs through tarnctl against simulated pagers that fail at
random, every result checked against what the pager really holds.

Seeded and reproducible in what it chooses (the job kinds, files, faults,
signals and their moments, the load); the timing of a real machine still
varies. Each job starts one pagersim per pager over a pseudo-terminal with the
memory the pager held after the previous job (--image) and, maybe, one fault
(--fault STEP:KIND), runs one tarnctl command (single pager or fleet), maybe
sends tarnctl SIGINT or SIGTERM or kills and restarts a pager at a random
moment, maybe with the CPU saturated (stress-ng), then stops the simulators
and reads their memory dumps: the ground truth. A job may fail; it must never

  - report success for bytes the pager does not hold (write, verify), data it
    did not send (read) or an identity it did not give (identify);
  - change the pager's memory in a job that does not write;
  - run past the protocol's own bound (a hang), end by a crash, or leave a
    port locked or a process behind.

It prints the jobs by kind and result, the faults by step and kind, the
chaos injected, and the counts of false successes, hangs, crashes and leaks,
with the seed; the exit status is 1 when any of those is not zero.

    tests/soak/soak.py --tarnctl build/ci/tools/tarnctl/tarnctl \\
        --pagersim build/ci/tools/pagersim/pagersim --seed 7 --minutes 2
"""
import argparse
import collections
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

STEPS = ["wake", "header", "option", "info", "records", "status", "password", "verdict",
         "read-data", "write-data", "first-ack", "second-ack", "activate-ack", "command-ack",
         "command-block", "probe", "any"]
KINDS = ["silence", "wrong", "drop", "echo", "disconnect"]
JOB_KINDS = ["identify", "read", "write", "write-changed", "verify", "activate", "cmd",
             "fleet-write", "fleet-verify", "fleet-identify"]
MEMORY = 0x10000
# The protocol's own bounds, in seconds: a silent pager costs at most the
# wake-up (2 s) and a 2 s byte time-out per step; a write waits up to 60 s for
# each acknowledgement, an activation 120 s; tarnctl's start-up and the
# pauses come on top.
BOUND_BASE = 30
BOUND_WRITE = 130
BOUND_ACTIVATE = 130


def s19(address, data, path):
    """An S19 file with one S1 record per 16 bytes."""
    lines = ["S0030000FC"]
    for at in range(0, len(data), 16):
        chunk = data[at:at + 16]
        addr = address + at
        body = bytes([len(chunk) + 3, addr >> 8, addr & 0xFF]) + bytes(chunk)
        lines.append("S1" + body.hex().upper() + "%02X" % (~sum(body) & 0xFF))
    lines.append("S9030000FC")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def changed_on_the_line(got, want, fault):
    """A read whose data a wrong-byte fault on the read data changed: the
    read data carries no checksum, so no host can doubt it. True when the
    addresses are the same and every differing byte is the fault's byte."""
    if not fault or fault[0] != "read-data" or fault[1] != "wrong":
        return False
    wrong = int(fault[2].rsplit(":", 1)[1], 16)
    return got.keys() == want.keys() and any(got[a] != want[a] for a in want) and all(
        got[a] == wrong for a in want if got[a] != want[a])


def read_s19(path):
    """Address -> byte from the S1 records of a file tarnctl wrote."""
    out = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line.startswith("S1"):
                continue
            raw = bytes.fromhex(line[2:])
            addr = raw[1] << 8 | raw[2]
            for i, b in enumerate(raw[3:-1]):
                out[addr + i] = b
    return out


class Pager:
    """One simulated pager: its memory between jobs and its pagersim process."""

    def __init__(self, index, work, pagersim):
        self.index = index
        self.dir = os.path.join(work, "pager%d" % index)
        os.makedirs(self.dir)
        self.pagersim = pagersim
        self.memory = os.path.join(self.dir, "memory.bin")
        with open(self.memory, "wb") as f:
            f.write(b"\xff" * MEMORY)
        self.info = "SOAKPAGER%06d." % index  # info id: bytes 9..14
        self.proc = None

    def info_id(self):
        return self.info[9:15]

    def start(self, args):
        self.link = os.path.join(self.dir, "tty")
        self.dump = os.path.join(self.dir, "dump.bin")
        cmd = [self.pagersim, "--fast", "--symlink", self.link, "--info", self.info,
               "--image", self.memory, "--dump", self.dump,
               "--transcript", os.path.join(self.dir, "transcript.txt")] + args
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True)
        line = self.proc.stdout.readline()
        if "serving on" not in line:
            raise RuntimeError("pagersim did not start: " + " ".join(cmd))

    def stop(self):
        """Stops pagersim; its memory dump becomes the pager's memory. False
        when it does not end within 10 s."""
        if self.proc is None:
            return True
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            self.proc = None
            return False
        self.proc = None
        if os.path.exists(self.dump):
            shutil.copyfile(self.dump, self.memory)
            os.unlink(self.dump)
        return True

    def held(self):
        with open(self.memory, "rb") as f:
            return f.read()


class Soak:
    def __init__(self, opts):
        self.opts = opts
        self.rng = random.Random(opts.seed)
        self.work = tempfile.mkdtemp(prefix="tarnholm-soak-")
        self.pagers = [Pager(i, self.work, opts.pagersim) for i in range(opts.pagers)]
        self.env = dict(os.environ, COMRT_REGISTRY=os.path.join(self.work, "registry"),
                        XDG_CONFIG_HOME=os.path.join(self.work, "config"))
        self.jobs = collections.Counter()
        self.results = collections.Counter()
        self.faults = collections.Counter()
        self.chaos = collections.Counter()
        self.bad = collections.Counter()
        self.cases = []
        self.written = {}  # pager -> (address, data) of its last successful write

    # The choices of one job ------------------------------------------------
    def choose_fault(self):
        if self.rng.random() < 0.5:
            return None
        step, kind = self.rng.choice(STEPS), self.rng.choice(KINDS)
        text = "%s:%s" % (step, kind)
        if kind == "wrong":
            text += ":0x%02X" % self.rng.randrange(256)
        return step, kind, text

    def file_for(self, job):
        address = self.rng.randrange(0, 0xF000)
        size = self.rng.choice([1, 7, 16, 33, 64, 100])
        data = bytes(self.rng.randrange(256) for _ in range(size))
        path = os.path.join(self.work, "job%d.s19" % job)
        s19(address, data, path)
        return path, address, data

    # One job -----------------------------------------------------------------
    def run_job(self, job):
        rng = self.rng
        kind = rng.choice(JOB_KINDS)
        fleet = kind.startswith("fleet-")
        count = rng.randint(2, len(self.pagers)) if fleet else 1
        pagers = rng.sample(self.pagers, count)
        password = rng.random() < 0.2
        faults = {}
        for p in pagers:
            args = ["--status", "Y", "--password", "soakpass01"] if password else []
            fault = self.choose_fault()
            if fault:
                args += ["--fault", fault[2]]
                self.faults[(fault[0], fault[1])] += 1
            faults[p.index] = fault
            p.start(args)
        before = {p.index: p.held() for p in pagers}
        stress = None
        if rng.random() < self.opts.stress_share and shutil.which("stress-ng"):
            stress = subprocess.Popen(["stress-ng", "--cpu", "4", "--timeout", "600"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.chaos["cpu saturated"] += 1
        verb = kind.replace("fleet-", "")
        path, address, data = self.file_for(job)
        last = self.written.get(pagers[0].index)
        if verb in ("verify", "read") and last and rng.random() < 0.7:
            address, data = last  # what the pager should hold
            s19(address, data, path)
        out = os.path.join(self.work, "read%d.s19" % job)
        args = {"identify": ["identify"], "read": ["read", hex(address), str(len(data)), "-o", out],
                "write": ["write", path], "write-changed": ["write", path, "--changed-only"],
                "verify": ["verify", path], "activate": ["activate"],
                "cmd": ["cmd", "13", "ff", "pair:1,2", "42:0x10", "probe"]}[verb]
        args = [self.opts.tarnctl, "--no-window"] + args
        if verb in ("identify", "write", "verify", "activate"):
            args.append("--json")  # the job options
        for p in pagers:
            args += ["--port", "device = %s baud = 9600" % p.link]
        if password:
            pw = os.path.join(self.work, "password")
            password = "right" if rng.random() < 0.9 else "wrong"
            with open(pw, "w") as f:
                f.write("soakpass01" if password == "right" else "wrongpass!")
            os.chmod(pw, 0o600)
            args += ["--password-file", pw]
        bound = BOUND_BASE + (BOUND_WRITE if "write" in kind or verb == "write" else 0) + \
            (BOUND_ACTIVATE if verb == "activate" else 0)
        chaos = rng.random()
        at = rng.uniform(0.2, 6.0)
        victim = rng.choice(pagers)
        start = time.monotonic()
        proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                env=self.env, start_new_session=True)
        signalled = None
        if chaos < 0.1 or chaos > 0.94:
            try:
                proc.wait(at)
            except subprocess.TimeoutExpired:
                if chaos < 0.1:
                    signalled = rng.choice([signal.SIGINT, signal.SIGTERM])
                    proc.send_signal(signalled)
                    self.chaos["tarnctl " + signal.Signals(signalled).name] += 1
                else:
                    victim.stop()  # killed mid-job; comes back with what it held
                    victim.start([])
                    self.chaos["pager killed and restarted"] += 1
        try:
            stdout, stderr = proc.communicate(timeout=max(1, bound - (time.monotonic() - start)))
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            stdout, stderr = proc.communicate()
            self.fault_found("hang", job, kind, args, faults, "ran past %d s" % bound)
        if stress:
            stress.terminate()
            stress.wait()
        code = proc.returncode
        if code is not None and code < 0 and -code not in (signal.SIGINT, signal.SIGTERM,
                                                             signal.SIGKILL):
            self.fault_found("crash", job, kind, args, faults, "signal %d" % -code)
        self.check_leftovers(job, kind, args, faults, pagers, proc.pid)
        for p in pagers:
            if not p.stop():
                self.fault_found("hang", job, kind, args, faults, "pagersim did not stop")
        reports = []
        for line in stdout.splitlines():
            try:
                reports.append(json.loads(line))
            except ValueError:
                pass
        self.jobs[kind] += 1
        self.results["exit %s" % code] += 1
        if self.opts.verbose:
            first = " / ".join(stderr.strip().splitlines()[:2])
            print("job %d %s on %s%s, faults %s: exit %s %s" % (
                job, kind, [p.index for p in pagers],
                ", %s password" % password if password else "",
                [v[2] for v in faults.values() if v], code, first), flush=True)
        if self.opts.verbose:
            for r in reports:
                if r.get("result") != "ok":
                    print("    %s: %s %s" % (r.get("port"), r.get("result"), r.get("error_text")))
        for p in pagers:
            report = next((r for r in reports if r.get("port") == p.link), None)
            ok = report.get("result") == "ok" if report else (code == 0 and not fleet)
            self.check_truth(job, kind, verb, args, faults, p, ok, before[p.index],
                             address, data, out, report)

    def check_leftovers(self, job, kind, args, faults, pagers, session):
        for p in pagers:
            dev = os.path.realpath(p.link)
            lock = "/var/lock/LCK.." + os.path.basename(dev)
            if os.path.exists(lock):
                self.fault_found("leak", job, kind, args, faults, "lock file left: " + lock)
        # tarnctl ran in a session of its own: nothing of it may outlive it.
        left = subprocess.run(["pgrep", "-s", str(session)], capture_output=True,
                              text=True).stdout.split()
        if left:
            self.fault_found("leak", job, kind, args, faults,
                             "processes left behind: " + " ".join(left))
            os.killpg(session, signal.SIGKILL)

    def check_truth(self, job, kind, verb, args, faults, pager, ok, before, address, data, out,
                    report):
        held = pager.held()
        span = held[address:address + len(data)]
        if not verb.startswith("write") and held != before:
            diff = next(i for i in range(MEMORY) if held[i] != before[i])
            self.fault_found("false", job, kind, args, faults,
                             "%s changed the pager's memory at 0x%04X" % (verb, diff))
        if not ok:
            return
        self.results["pager ok"] += 1
        if verb.startswith("write"):
            self.written[pager.index] = (address, data)
        if verb.startswith("write") and span != data:
            self.fault_found("false", job, kind, args, faults,
                             "write reported success; pager %d holds other bytes" % pager.index)
        if verb == "verify" and span != data:
            self.fault_found("false", job, kind, args, faults,
                             "verify reported equal; pager %d holds other bytes" % pager.index)
        if verb == "read":
            got = read_s19(out) if os.path.exists(out) else {}
            want = {address + i: b for i, b in enumerate(span)}
            if got != want:
                if changed_on_the_line(got, want, faults.get(pager.index)):
                    self.results["read data changed on the line"] += 1
                    return
                self.fault_found("false", job, kind, args, faults,
                                 "read reported success with bytes the pager does not hold")
        if verb == "identify" and report and report.get("info_id") != pager.info_id():
            fault = faults.get(pager.index)
            if fault and fault[1] == "echo":
                # The answers carry no checksum and come in fixed counts: a
                # line that echoes a host byte shifts them, and no host can
                # tell. Counted apart; it is the protocol's limit, not ours.
                self.results["identity shifted by an echo"] += 1
                return
            self.fault_found("false", job, kind, args, faults,
                             "identify reported info id %r, pager %d is %r" %
                             (report.get("info_id"), pager.index, pager.info_id()))

    def fault_found(self, what, job, kind, args, faults, detail):
        self.bad[what] += 1
        case = "job %d (%s) seed %d: %s: %s; faults %s; %s" % (
            job, kind, self.opts.seed, what, detail,
            {k: v[2] if v else None for k, v in faults.items()}, " ".join(args))
        self.cases.append(case)
        print("FOUND " + case, file=sys.stderr, flush=True)

    # The run ------------------------------------------------------------------
    def run(self):
        begin = time.monotonic()
        job = 0
        try:
            while (self.opts.jobs and job < self.opts.jobs) or \
                    (not self.opts.jobs and time.monotonic() - begin < self.opts.minutes * 60):
                self.run_job(job)
                job += 1
        finally:
            for p in self.pagers:
                p.stop()
        self.report(job, time.monotonic() - begin)
        if not self.opts.keep:
            shutil.rmtree(self.work, ignore_errors=True)
        return 1 if sum(self.bad.values()) else 0

    def report(self, jobs, seconds):
        print("soak: seed %d, %d jobs in %.0f s, %d pagers" % (self.opts.seed, jobs, seconds,
                                                               len(self.pagers)))
        print("  jobs by kind:   " + ", ".join("%s %d" % kv for kv in sorted(self.jobs.items())))
        print("  results:        " + ", ".join("%s %d" % kv for kv in sorted(self.results.items())))
        by_kind = collections.Counter()
        for (step, kind), n in self.faults.items():
            by_kind[kind] += n
        print("  faults by kind: " + ", ".join("%s %d" % kv for kv in sorted(by_kind.items())))
        print("  faults by step: " + ", ".join(
            "%s %d" % (s, sum(n for (st, _), n in self.faults.items() if st == s))
            for s in STEPS))
        print("  chaos:          " + (", ".join("%s %d" % kv for kv in sorted(self.chaos.items()))
                                      or "none"))
        print("  false successes %d, hangs %d, crashes %d, leaks %d" % (
            self.bad["false"], self.bad["hang"], self.bad["crash"], self.bad["leak"]))
        for case in self.cases:
            print("  " + case)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tarnctl", required=True)
    parser.add_argument("--pagersim", required=True)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=0, help="number of jobs (else --minutes)")
    parser.add_argument("--minutes", type=float, default=2)
    parser.add_argument("--pagers", type=int, default=4)
    parser.add_argument("--stress-share", type=float, default=0.25,
                        help="share of jobs run with the CPU saturated")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("-v", "--verbose", action="store_true", help="one line per job")
    opts = parser.parse_args()
    opts.tarnctl = os.path.abspath(opts.tarnctl)
    opts.pagersim = os.path.abspath(opts.pagersim)
    return Soak(opts).run()


if __name__ == "__main__":
    sys.exit(main())
