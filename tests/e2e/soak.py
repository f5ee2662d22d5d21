#!/usr/bin/env python3
"""soak.py: random operator actions against the real console under Wine, with the
simulated device misbehaving, and the invariants checked all along.

Started by scripts/soak.sh inside a Wine session (Xvfb, prefix, COM1 mapped, the
wineserver with the pty shim); it starts the simulator, the console and one long-running
tqdrive.exe (its serve mode) itself. The plan of actions and the simulator's faults per
phase follow from the seed alone, so a failing run can be replayed with --seed; what
the console answers may still differ with timing.

Invariants, each counted as checks and violations:
  answers   the console's window answers a message within a second, after every action
            and every poll (a hang fails it; a crash fails "alive")
  alive     the console's process and window are there (a crash is counted, the console
            started again, and the soak goes on)
  workers   at most one worker thread at a time (the console's own threads, less the
            receiver while a port is open)
  log       the log never holds more than 100 lines
  frames    every byte the console sent is part of a well-formed frame or boot step (the
            simulator's --frame-check, one file per phase)
  ends      every operation ends: a worker is gone within its bound (60 s; a running
            pattern sequence within 15 s of its stop), and at each phase's end the
            console is idle again within the bound
Exit code 0 when there was no violation, 1 otherwise, 2 for a soak that could not run.
"""

import argparse
import collections
import os
import queue
import random
import signal
import subprocess
import sys
import threading
import time

import command_ids

WORKER_BOUND_S = 60.0  # a firmware update or a short transfer, with faults and boxes
PATTERN_STOP_BOUND_S = 15.0  # a stop takes effect after the answer being awaited
PATTERN_RUN_S = 2.0  # the operator stops a pattern sequence after about this long
ANSWER_BOUND_MS = 1000
LOG_CAPACITY = 100
REQUEST_BOUND_S = 60.0  # one request to the driver, its own step bounds included

# The console's control and system-menu command ids, by their names in shell/command_ids.h.
IDS = command_ids.ids()

TEMPLATE_BUTTONS = {
    IDS.kIdOpen: "open", IDS.kIdClose: "close", IDS.kIdRecovery: "recovery", IDS.kIdFarmUpdate: "farm udt",
    IDS.kIdApStop: "ap-stop", IDS.kIdApResume: "ap-resume",
}
PANEL_BUTTONS = {
    IDS.kIdFlashWrite: "flash write", IDS.kIdFlashRead: "flash read", IDS.kIdFlashErase: "flash erase",
    IDS.kIdSetClock: "set clock", IDS.kIdReadClock: "read clock", IDS.kIdClearLog: "clear log",
    IDS.kIdSequenceStart: "pattern start", IDS.kIdSequenceStop: "pattern stop", IDS.kIdRequest62: "request 62",
    IDS.kIdParamBlock0: "param 0", IDS.kIdParamBlock0 + 1: "param 1", IDS.kIdParamBlock0 + 2: "param 2",
    IDS.kIdParamBlock3: "param 3",
}

# What a phase's simulator gets: none, or one to three of these.
APP_FAULTS = [
    "60:silent", "60:late", "60:garbage", "61:badsum", "62:split", "21:oversize", "21:garbage",
    "20:refuse", "50.04:silent:0:3", "50.04:late", "50.04:split", "50.04:cut:0:2", "50.04:short",
    "21:cut", "50.84:refuse:0:2", "50.84:badsum", "50.44:silent", "50.83:garbage", "50.83:silent:0:2", "70:refuse",
    "70:silent", "70:late",
]
BOOT_FAULTS = [
    "erase:silent::2", "erase:status:A0", "write:wrong", "write:silent", "addr:wrong::3",
    "addr:silent::2", "data:wrong::2", "data:silent::4", "program:status:90", "program:silent::3",
]

HOSTILE_NUMBERS = [
    "99999999", "4294967295", "-1", "zzz", "h", "0x100", "100H", "1FFFFFFh", "FFFFFFFFFFh",
    "1" * 300, "9" * 299 + "h", "長さ", "ｱﾄﾞﾚｽ1000h", "", " 12", "+5",
]
# Each with its weight: mostly short, valid transfers.
LENGTHS = ["256", "100h", "1000", "4096", "80h", "1", "0", "1000h", "2000h", ""]
STARTS = ["0", "3000h", "11f80h", "E200h", "73600", "FFFF00h", "16777215", "1000h", "e000h"]
PARAM_TEXTS = [
    "", "abc", "TQ7300 unit 7", "パラメータ", "ﾃｽﾄ", "x" * 300, "設定値" * 60, "1000h", "\\",
    "a\\tb", "漢字とカナ混じりの長い設定" * 8,
]
PORTS = ["1"] * 10 + ["2", "0", "zzz", "", "-1", "99999", "1" * 300, "ポート", " 1", "1x"]


def log(msg):
    print(msg, flush=True)


# ---- the plan -------------------------------------------------------------------------

def make_plan(rng, total, phase_size):
    """The phases' faults and every action with its values, from the seed alone."""
    kinds = [
        ("click.open", 10), ("click.close", 2), ("click.recovery", 2), ("click.farm udt", 4),
        ("click.ap-stop", 6), ("click.ap-resume", 5), ("press.template", 3),
        ("panel.toggle", 3), ("click.flash write", 5), ("click.flash read", 6),
        ("click.flash erase", 4), ("click.set clock", 3), ("click.read clock", 3),
        ("click.clear log", 2), ("click.pattern start", 1), ("click.pattern stop", 2),
        ("click.request 62", 4), ("click.param", 4), ("settext", 18), ("wait.idle", 2),
        ("wait.pause", 3), ("restart.console", 0.5),
    ]
    names = [k for k, _ in kinds]
    weights = [w for _, w in kinds]
    phases = []
    done = 0
    index = 0
    while done < total:
        count = min(phase_size, total - done)
        if index == 0:
            faults = []
        else:
            faults = []
            for f in rng.sample(APP_FAULTS, rng.randint(1, 3)):
                faults += ["--fault", f]
            if rng.random() < 0.6:
                faults += ["--boot-fault", normalise_boot_fault(rng.choice(BOOT_FAULTS))]
        actions = [plan_action(rng, rng.choices(names, weights)[0]) for _ in range(count)]
        phases.append({"faults": faults, "actions": actions})
        done += count
        index += 1
    return phases


def normalise_boot_fault(text):
    # STEP:KIND[:VALUE[:N]]; an empty VALUE in the table means none (00 is ignored by silent).
    parts = text.split(":")
    if len(parts) == 4 and parts[2] == "":
        parts[2] = "00"
    return ":".join(parts)


def plan_action(rng, kind):
    a = {"kind": kind, "pause": rng.choice([0, 0, 0.02, 0.05, 0.1, 0.2, 0.4])}
    if kind == "click.param":
        a["block"] = rng.randrange(4)
    elif kind == "click.open":
        # Mostly the operator types the port number before pressing "open".
        a["port"] = rng.choice(PORTS) if rng.random() < 0.7 else None
    elif kind == "press.template":
        a["id"] = rng.choice(sorted(TEMPLATE_BUTTONS))
    elif kind == "settext":
        target = rng.choices(["start", "length", "file", "port", "param"], [3, 4, 3, 2, 4])[0]
        a["target"] = target
        if target == "start":
            a["text"] = rng.choice(STARTS) if rng.random() < 0.7 else rng.choice(HOSTILE_NUMBERS)
        elif target == "length":
            a["text"] = rng.choice(LENGTHS) if rng.random() < 0.7 else rng.choice(HOSTILE_NUMBERS)
        elif target == "file":
            a["file"] = rng.choices(
                ["source", "output", "missing", "folder", "long", "japanese", "empty", "nodir"],
                [4, 4, 1, 1, 1, 1, 1, 1])[0]
        elif target == "port":
            a["text"] = rng.choice(PORTS)
        else:
            a["id"] = rng.choice([IDS.kIdParamFirstText0 + k for k in range(4)] +
                                 [IDS.kIdParamSecondText0 + k for k in range(4)])
            a["text"] = rng.choice(PARAM_TEXTS)
    elif kind == "wait.pause":
        a["pause"] = rng.choice([0.5, 1.0, 2.0])
    return a


# ---- the processes --------------------------------------------------------------------

class Env:
    def __init__(self):
        e = os.environ
        self.loader = e.get("TQ_WINE_LOADER", "/usr/lib/wine/wine64")
        self.panel_exe = e["TQ_PANEL_EXE"]
        self.drive_exe = e["TQ_DRIVE_EXE"]
        self.sim = e["TQ_SIM"]
        self.link = e["TQ_COM1_LINK"]
        self.work = e["TQ_WORK"]
        self.sample = e.get("TQ_SAMPLE_MOT", "")
        self.pids = e.get("WINEPREFIX", "") + ".pids"

    def remember(self, pid, name):
        # The session reaps what a killed soak leaves (scripts/wine-env.sh).
        try:
            with open(self.pids, "a") as f:
                f.write(f"{pid} {name}\n")
        except OSError:
            pass


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Driver:
    """One tqdrive.exe in serve mode: a request is a step list, the answer its output."""

    def __init__(self, env):
        self.env = env
        self.proc = subprocess.Popen(
            [env.loader, env.drive_exe, "serve"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, cwd=env.work)
        env.remember(self.proc.pid, env.drive_exe)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        self.lines.put(None)

    @staticmethod
    def _field(text):
        return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")

    def request(self, *steps, bound=REQUEST_BOUND_S):
        """(ok, output lines, reason)."""
        line = "\t".join(self._field(str(s)) for s in steps) + "\n"
        try:
            self.proc.stdin.write(line.encode("utf-8"))
            self.proc.stdin.flush()
        except OSError as e:
            return False, [], f"driver gone: {e}"
        out = []
        deadline = time.monotonic() + bound
        while True:
            try:
                got = self.lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                return False, out, f"driver gave no answer within {bound:.0f} s"
            if got is None:
                return False, out, "driver ended"
            if got.startswith("="):
                return got == "=ok", out, got[1:]
            out.append(got)

    def stop(self):
        try:
            self.proc.stdin.write(b"quit\n")
            self.proc.stdin.flush()
            self.proc.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait(timeout=10)


def start_sim(env, faults, check_file):
    out = open(os.path.join(env.work, "sim.out"), "w")
    err = open(os.path.join(env.work, "sim.err"), "a")
    run_env = dict(os.environ)
    run_env.pop("LD_PRELOAD", None)  # the shim is for Wine's side of the line only
    proc = subprocess.Popen(
        [env.sim, "--link", env.link, "--flash-fill", "FF", "--frame-check", check_file] + faults,
        stdout=out, stderr=err, env=run_env)
    env.remember(proc.pid, env.sim)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        with open(os.path.join(env.work, "sim.out")) as f:
            if f.read().startswith("READY "):
                return proc
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    raise RuntimeError("the simulator did not say READY; see sim.err")


def stop_process(proc, bound=10):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=bound)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(timeout=10)
    return proc.returncode


def read_frame_check(path):
    counts, violations = {}, []
    try:
        with open(path) as f:
            for line in f:
                name, _, value = line.rstrip("\n").partition(" ")
                if name == "violation":
                    violations.append(value)
                elif value.isdigit():
                    counts[name] = int(value)
    except OSError:
        pass
    return counts, violations


# ---- the soak -------------------------------------------------------------------------

class Invariant:
    def __init__(self, name, what):
        self.name, self.what = name, what
        self.checks = 0
        self.violations = 0
        self.examples = []
        self.trace = None

    def check(self, ok, detail=""):
        self.checks += 1
        if not ok:
            self.violations += 1
            if len(self.examples) < 10:
                self.examples.append(detail)
            log(f"VIOLATION {self.name}: {detail}")
            if self.trace:
                self.trace(f"VIOLATION {self.name}: {detail}")
        return ok


class Soak:
    def __init__(self, env, args):
        self.env = env
        self.args = args
        self.inv = collections.OrderedDict((n, Invariant(n, w)) for n, w in [
            ("answers", "the window answers within 1 s"),
            ("alive", "the console's process and window are there"),
            ("workers", "at most one worker thread at a time"),
            ("log", "the log holds at most 100 lines"),
            ("frames", "every byte sent is part of a well-formed frame or boot step"),
            ("ends", "every operation ends within its bound"),
        ])
        self.actions = collections.Counter()
        self.boxes = collections.Counter()
        self.lines = collections.Counter()
        self.frame_totals = collections.Counter()
        self.slowest_answer_ms = 0
        self.max_workers = 0
        self.max_log = 0
        self.busy_since = None
        self.busy_periods = 0
        self.longest_busy = 0.0
        self.busy_reported = False
        self.pattern_running = False
        self.pattern_since = None
        self.pattern_stop_at = None
        self.panel_shown = False
        self.port_open = False
        self.panel = None
        self.driver = None
        self.restarts = 0
        self.crashes = 0
        self.hiccups = 0
        self.sim = None
        self.sim_started = 0.0
        self.t0 = time.monotonic()
        self.trace_file = open(os.path.join(env.work, "actions.log"), "w", encoding="utf-8")
        for inv in self.inv.values():
            inv.trace = self.trace
        self.source = os.path.join(env.work, "source.bin")
        with open(self.source, "wb") as f:
            f.write(random.Random(args.seed).randbytes(4096))

    def trace(self, text):
        """The run's own record (actions.log in the scratch folder): seconds since the
        soak began, and since the phase's simulator started (its frame-check stamps)."""
        now = time.monotonic()
        self.trace_file.write(f"{now - self.t0:9.3f} sim+{(now - self.sim_started) * 1000:8.0f}ms {text}\n")
        self.trace_file.flush()

    def host_closed(self):
        # The simulator's frame check forgets a step the console left unfinished.
        if self.sim is not None and self.sim.poll() is None:
            self.sim.send_signal(signal.SIGHUP)
            self.trace("the console's session ended: told the simulator")

    # -- the console --
    def start_console(self):
        tail = [windows_path(self.env.sample)] if self.env.sample else []
        self.panel = subprocess.Popen(
            [self.env.loader, self.env.panel_exe] + tail, cwd=self.env.work,
            stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.env.work, "panel.err"), "a"))
        self.env.remember(self.panel.pid, self.env.panel_exe)
        if self.driver is None:
            self.driver = Driver(self.env)
        ok, _, why = self.driver.request("window", "60")
        if not ok:
            raise RuntimeError(f"the console window did not appear: {why}")
        # The window is there before its dialog procedure has made the panel's controls.
        deadline = time.monotonic() + 10
        while not self.driver.request("gettext", IDS.kIdFlashRead)[0]:
            if time.monotonic() > deadline:
                raise RuntimeError("the console's window has no service panel")
            time.sleep(0.05)
        self.panel_shown = False
        self.port_open = False
        self.pattern_running = False
        self.busy_since = None

    def stop_console(self, expect_clean):
        ok, _, why = self.driver.request("close", "20")
        try:
            rc = self.panel.wait(timeout=20)
        except subprocess.TimeoutExpired:
            rc = None
            self.panel.kill()
            self.panel.wait(timeout=10)
        if expect_clean:
            self.inv["ends"].check(ok and rc == 0, f"WM_CLOSE: {why or 'ok'}, exit code {rc}")
        self.panel = None

    def console_alive(self):
        return self.panel is not None and self.panel.poll() is None

    def recover_from_crash(self, why):
        self.crashes += 1
        self.inv["alive"].check(False, why)
        if self.panel is not None and self.panel.poll() is None:
            self.panel.kill()
            self.panel.wait(timeout=10)
        if self.driver.proc.poll() is not None:
            self.driver = Driver(self.env)
        self.host_closed()
        self.driver.request("dismiss")
        self.start_console()

    # -- observations --
    def poll(self):
        """One look at the console: the invariants that a look can check."""
        if not self.console_alive():
            self.recover_from_crash(f"the console's process ended (exit code {self.panel.returncode})")
            return None
        # alive first: the state step's own messages would wait out a stall unseen.
        ok, out, why = self.driver.request("answers", str(ANSWER_BOUND_MS), "state")
        state = {"new": []}
        for line in out:
            if line.startswith("+ "):
                state["new"].append(line[2:])
            elif line.startswith("answers "):
                ms = int(line.split()[1])
                self.slowest_answer_ms = max(self.slowest_answer_ms, ms)
                state["alive"] = ms
            else:
                k, _, v = line.partition(" ")
                if v.lstrip("-").isdigit():
                    state[k] = int(v)
        if not ok:
            if "no window" in why:
                self.recover_from_crash(f"the console's window has gone: {why}")
                return None
            if self.driver.proc.poll() is not None:  # the driver itself ended: a new one
                self.hiccups += 1
                self.trace(f"poll: {why}; driver started again")
                self.driver = Driver(self.env)
            elif "answer" in why:  # a message unanswered within its bound
                self.inv["answers"].check(False, why)
                if why.startswith("driver gave no answer"):  # its answer would come out of turn
                    self.driver.proc.kill()
                    self.driver.proc.wait(timeout=10)
                    self.driver = Driver(self.env)
            else:  # e.g. the log kept changing while it was read: look again next time
                self.hiccups += 1
                self.trace(f"poll: {why}")
            return None
        self.inv["answers"].check(True)
        self.inv["alive"].check(True)
        for line in state["new"]:
            self.count_line(line)
        self.port_open = state.get("port") == 0
        self.panel_shown = state.get("panel") == 1
        workers = state.get("threads", 0) - (1 if self.port_open else 0)
        workers = max(workers, 0)
        self.max_workers = max(self.max_workers, workers)
        self.inv["workers"].check(workers <= 1, f"{workers} workers at once (threads {state.get('threads')}, "
                                                f"port {'open' if self.port_open else 'closed'})")
        self.max_log = max(self.max_log, state.get("count", 0))
        self.inv["log"].check(state.get("count", 0) <= LOG_CAPACITY, f"the log holds {state.get('count')} lines")
        self.track_busy(workers > 0)
        if state.get("box") == 1:
            self.dismiss()
        return state

    def count_line(self, line):
        self.trace(f"log: {line}")
        if line.startswith("T-"):
            self.lines["T (frame sent)"] += 1
        elif line.startswith("R-"):
            self.lines["R (frame received)"] += 1
        elif line.startswith("開始!!"):
            self.lines["開始!! (pattern start)"] += 1
            self.pattern_running = True
            self.pattern_since = time.monotonic()
            self.pattern_stop_at = None
        elif line.startswith("停止!!"):
            self.lines["停止!! (pattern stop)"] += 1
            self.pattern_running = False
        elif line.startswith("busy:"):
            self.lines["busy: (refused)"] += 1
        elif line.startswith("書込") and line != "書込中":
            self.lines["書込xxxx (page)"] += 1
        else:
            key = line.split(" 0x")[0].split(": no answer")[0][:48]
            self.lines[key] += 1

    def track_busy(self, busy):
        now = time.monotonic()
        if busy and self.busy_since is None:
            self.busy_since = now
            self.busy_reported = False
            self.busy_periods += 1
        elif not busy and self.busy_since is not None:
            self.longest_busy = max(self.longest_busy, now - self.busy_since)
            self.inv["ends"].check(True)
            self.busy_since = None
        if busy and not self.busy_reported:
            if self.pattern_running:
                late = self.pattern_stop_at is not None and now - self.pattern_stop_at > PATTERN_STOP_BOUND_S
                what = f"the pattern sequence still runs {now - (self.pattern_stop_at or now):.1f} s after its stop"
            else:
                late = now - self.busy_since > WORKER_BOUND_S
                what = f"a worker still runs after {now - self.busy_since:.1f} s"
            if late:
                self.inv["ends"].check(False, what)
                self.busy_reported = True

    def dismiss(self):
        ok, out, why = self.driver.request("dismiss")
        for line in out:
            if line.startswith("box: "):
                self.boxes[line[5:]] += 1
                self.trace(f"dismissed {line}")
        if not ok:
            self.inv["answers"].check(False, f"a box could not be dismissed: {why}")

    def wait_idle(self, bound):
        """Polls until no worker runs; stops a pattern sequence first. True when idle."""
        deadline = time.monotonic() + bound
        while time.monotonic() < deadline:
            state = self.poll()
            if state is None:
                continue
            if self.pattern_running and self.pattern_stop_at is None:
                self.stop_pattern()
            workers = max(0, state.get("threads", 0) - (1 if self.port_open else 0))
            if workers == 0 and state.get("box") != 1:
                return True
            time.sleep(0.1)
        return False

    def stop_pattern(self):
        self.driver.request("press", IDS.kIdSequenceStop)
        self.actions["(operator) pattern stop"] += 1
        self.pattern_stop_at = time.monotonic()

    # -- actions --
    def ensure_panel(self):
        if not self.panel_shown:
            self.driver.request("syscmd", IDS.kSysCmdServicePanel, "visible", IDS.kIdFlashRead, "1", "5")
            self.actions["(operator) show the panel"] += 1
            self.panel_shown = True

    def file_text(self, which):
        w = self.env.work
        return {
            "source": windows_path(self.source),
            "output": windows_path(os.path.join(w, "read.bin")),
            "missing": windows_path(os.path.join(w, "missing.bin")),
            "folder": windows_path(w),
            "long": "C:\\" + "d" * 300 + ".bin",
            "japanese": windows_path(os.path.join(w, "読出しデータ.bin")),
            "empty": "",
            "nodir": windows_path(os.path.join(w, "no", "such", "dir", "x.bin")),
        }[which]

    def act(self, a):
        kind = a["kind"]
        self.actions[kind] += 1
        d = self.driver
        if kind.startswith("click."):
            name = kind[6:]
            if name == "param":
                self.ensure_panel()
                return d.request("click", IDS.kIdParamBlock0 + a["block"])
            if name == "open" and a.get("port") is not None:
                return d.request("settext", IDS.kIdPortEdit, a["port"], "click", IDS.kIdOpen)
            for ids in (TEMPLATE_BUTTONS, PANEL_BUTTONS):
                for cid, cname in ids.items():
                    if cname == name:
                        if ids is PANEL_BUTTONS:
                            self.ensure_panel()
                        if cid == IDS.kIdSequenceStop and self.pattern_running:
                            self.pattern_stop_at = time.monotonic()
                        return d.request("click", cid)
            raise KeyError(name)
        if kind == "press.template":
            return d.request("press", a["id"])
        if kind == "panel.toggle":
            return d.request("syscmd", IDS.kSysCmdServicePanel, "sleep", "0.05")
        if kind == "settext":
            t = a["target"]
            if t == "file":
                return d.request("settext", IDS.kIdFileEdit, self.file_text(a["file"]))
            edits = {"start": IDS.kIdStartAddressEdit, "length": IDS.kIdLengthEdit, "port": IDS.kIdPortEdit}
            cid = edits.get(t, a.get("id"))
            return d.request("settext", cid, a["text"])
        if kind == "wait.idle":
            if not self.wait_idle(WORKER_BOUND_S):
                self.inv["ends"].check(False, "the console did not become idle when the operator waited")
            return True, [], ""
        if kind == "wait.pause":
            return True, [], ""
        if kind == "restart.console":
            self.restarts += 1
            self.stop_console(expect_clean=True)
            self.host_closed()
            self.start_console()
            return True, [], ""
        raise KeyError(kind)

    def run_phase(self, number, phase):
        check_file = os.path.join(self.env.work, f"frames-{number}.txt")
        sim = start_sim(self.env, phase["faults"], check_file)
        self.sim, self.sim_started = sim, time.monotonic()
        log(f"phase {number}: {len(phase['actions'])} actions, simulator faults: "
            f"{' '.join(phase['faults']) or 'none'}")
        self.trace(f"phase {number}: faults {' '.join(phase['faults']) or 'none'}")
        try:
            for i, a in enumerate(phase["actions"]):
                ok, out, why = self.act(a)
                self.trace(f"#{number}.{i} {a} -> {'ok' if ok else why}")
                if not ok and ("no window" in why or "driver" in why):
                    self.recover_from_crash(f"{a['kind']}: {why}")
                elif a["kind"] == "click.close" or (a["kind"] == "press.template" and a["id"] == IDS.kIdClose):
                    # Once the port edit is enabled again the session has ended.
                    closed, _, why = self.driver.request("enabled", IDS.kIdPortEdit, "1", "15")
                    self.inv["ends"].check(closed, f"close did not end the session within 15 s: {why}")
                    if closed:
                        self.host_closed()
                if a["pause"]:
                    time.sleep(a["pause"])
                self.poll()
                if self.pattern_running and self.pattern_stop_at is None and \
                        time.monotonic() - self.pattern_since > PATTERN_RUN_S:
                    self.stop_pattern()
            # The phase ends as an operator would end the session: let the operation
            # finish, then close the port before the device goes away.
            idle = self.wait_idle(WORKER_BOUND_S)
            self.inv["ends"].check(idle, f"phase {number}: the console was not idle {WORKER_BOUND_S:.0f} s after "
                                         "its last action")
            self.driver.request("click", IDS.kIdClose)
            self.poll()
        finally:
            stop_process(sim)
            self.sim = None
        counts, violations = read_frame_check(check_file)
        self.frame_totals.update(counts)
        frames_inv = self.inv["frames"]
        frames_inv.checks += counts.get("frames", 0) + counts.get("boot_pages", 0) + counts.get("boot_erases", 0)
        for v in violations:
            frames_inv.check(False, f"phase {number}: {v}")
        missing = counts.get("violations", 0) - len(violations)
        if missing > 0:
            frames_inv.violations += missing
        if not counts:
            frames_inv.check(False, f"phase {number}: no frame-check report at {check_file}")


def report(soak, phases, seed, seconds):
    total = sum(len(p["actions"]) for p in phases)
    log("")
    log(f"soak: seed {seed}, {total} actions in {len(phases)} phases, {seconds:.0f} s")
    log("actions:")
    for k, v in sorted(soak.actions.items()):
        log(f"  {k:32s} {v:5d}")
    log("boxes dismissed:")
    for k, v in soak.boxes.most_common():
        log(f"  {k[:60]:60s} {v:5d}")
    log("log lines seen (by kind):")
    for k, v in soak.lines.most_common(25):
        log(f"  {k[:60]:60s} {v:5d}")
    f = soak.frame_totals
    log(f"wire: {f.get('bytes', 0)} bytes, {f.get('frames', 0)} frames, {f.get('wake_bytes', 0)} wake bytes, "
        f"{f.get('boot_erases', 0)} boot erases, {f.get('boot_pages', 0)} pages, {f.get('boot_ends', 0)} end bytes, "
        f"{f.get('boot_write_modes_given_up', 0)} write modes given up unconfirmed; "
        f"{f.get('host_closes', 0)} sessions ended ({f.get('left_mid_step', 0)} inside a step, "
        f"{f.get('breaks_at_close', 0)} breaks after them)")
    per_cmd = sorted((k[7:], v) for k, v in f.items() if k.startswith("frames."))
    log("frames by command: " + ", ".join(f"{c} {v}" for c, v in per_cmd))
    log(f"console restarts {soak.restarts}, crashes {soak.crashes}, polls looked at again {soak.hiccups}; "
        f"worker periods {soak.busy_periods}, "
        f"longest {soak.longest_busy:.1f} s; most workers at once {soak.max_workers}; most log lines "
        f"{soak.max_log}; slowest answer {soak.slowest_answer_ms} ms")
    log("invariants:")
    bad = 0
    for inv in soak.inv.values():
        log(f"  {inv.name:8s} {inv.checks:7d} checks {inv.violations:4d} violations  ({inv.what})")
        for e in inv.examples:
            log(f"           - {e}")
        bad += inv.violations
    log(f"{'FAIL' if bad else 'PASS'} soak seed {seed}: {bad} violations")
    return bad


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("actions", nargs="?", type=int, default=1000)
    p.add_argument("--seed", type=int, default=None, help="replay a run (default: from the clock)")
    p.add_argument("--phase", type=int, default=100, help="actions per simulator phase (default 100)")
    args = p.parse_args()
    if args.seed is None:
        args.seed = int(time.time() * 1000) % 1000000
    log(f"soak: seed {args.seed} (replay with --seed {args.seed}), {args.actions} actions")
    rng = random.Random(args.seed)
    phases = make_plan(rng, args.actions, args.phase)
    env = Env()
    soak = Soak(env, args)
    t0 = time.monotonic()
    try:
        soak.start_console()
        for i, phase in enumerate(phases):
            soak.run_phase(i, phase)
        soak.stop_console(expect_clean=True)
    except RuntimeError as e:
        log(f"soak: could not go on: {e}")
        return 2
    finally:
        if soak.panel is not None and soak.panel.poll() is None:
            soak.panel.kill()
        if soak.driver is not None:
            soak.driver.stop()
    bad = report(soak, phases, args.seed, time.monotonic() - t0)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
