#!/usr/bin/env python3
"""tq73 against tq7300-sim on a pty: the bytes on the line, the files and the
flash, the exit codes, the output forms, Ctrl+C, and parallel updates.

Usage: cli_test.py GROUP   (wire, exit_codes, output, interrupt, parallel, port_lost, complete, station)
Needs TQ73, TQ_SIM and TQ_SAMPLE_MOT in the environment.
"""
import datetime
import hashlib
import json
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TQ73 = os.environ["TQ73"]
SIM = os.environ["TQ_SIM"]
SAMPLE = os.environ["TQ_SAMPLE_MOT"]
WORK = tempfile.mkdtemp(prefix="tq73-test.")
FAILURES = []

PATTERN_TABLE = bytes([
    0x02, 0x03, 0x00, 0x00, 0x02, 0x0C, 0x00, 0x00, 0x02, 0x30, 0x00, 0x00, 0x02, 0xC0,
    0x00, 0x00, 0x02, 0x00, 0x03, 0x00, 0x02, 0x00, 0x0C, 0x00, 0x02, 0x00, 0x30, 0x00,
    0x02, 0x00, 0xC0, 0x00, 0x02, 0x00, 0x00, 0x03, 0x02, 0x00, 0x00, 0x0C, 0x02, 0x00,
    0x00, 0x30, 0x02, 0x00, 0x00, 0xC0, 0x02, 0xFF, 0xFF, 0xFF, 0xFF])
# The device's flash blocks that the boot-mode programmer erases and writes.
BOOT_BLOCKS = [(0x3000, 0x400, 0x0A), (0x3400, 0x400, 0x0B), (0x3800, 0x400, 0x0C), (0x3C00, 0x400, 0x0D),
               (0xA000, 0x2000, 0x03), (0xC000, 0x2000, 0x02), (0xE000, 0x1000, 0x01)]


def check(ok, what, detail=""):
    """Prints the check; the detail only when it failed."""
    print(("ok   " if ok else "FAIL ") + what + ("" if ok or not detail else f": {detail}"), flush=True)
    if not ok:
        FAILURES.append(what)
    return ok


def frame(command, payload=b""):
    head = bytes([0x02, command, len(payload) & 0xFF, len(payload) >> 8]) + bytes(payload)
    return head + bytes([0x03, (sum(head) + 3) & 0xFF, 0x0D])


def path(name):
    return os.path.join(WORK, name)


def write_file(name, data):
    with open(path(name), "wb") as f:
        f.write(data)
    return path(name)


def read_file(p):
    with open(p, "rb") as f:
        return f.read()


# ---- the firmware file as the device should end up ---------------------------------

def load_mot(mot):
    image = bytearray(b"\xff" * 0x10000)
    with open(mot) as f:
        for line in f:
            line = line.strip()
            if line[:2] in ("S1", "S2"):
                width = 2 if line[1] == "1" else 3
                count = int(line[2:4], 16) - width - 1
                address = int(line[4:4 + 2 * width], 16)
                data = bytes.fromhex(line[4 + 2 * width:4 + 2 * width + 2 * count])
                if address >= 0x3000:
                    for k, b in enumerate(data):
                        if address + k < 0x10000:
                            image[address + k] = b
    return image


def used(image, start, size):
    return any(b != 0xFF for b in image[start:start + size])


def boot_traffic(image):
    """What the programmer sends: erases, W, each non-empty page, FF."""
    out = bytearray()
    for start, size, code in BOOT_BLOCKS:
        if used(image, start, size):
            out += bytes([0x45, code, code])
    out += b"W"
    for start, size, _ in BOOT_BLOCKS:
        for page in range(start, start + size, 128):
            if used(image, page, 128):
                out += bytes([page & 0xFF, page >> 8]) + image[page:page + 128] + b"U"
    out += b"\xff"
    return bytes(out)


def flash_after_update(image, fill):
    flash = bytearray([fill] * 0x10000)
    for start, size, _ in BOOT_BLOCKS:
        if used(image, start, size):
            flash[start:start + size] = b"\xff" * size
            for a in range(start, start + size):
                if image[a] != 0xFF:
                    flash[a] = image[a]
    return bytes(flash)


# ---- the simulator and tq73 -----------------------------------------------------------

class Sim:
    """tq7300-sim on a pty reached through a link, recording what it receives."""

    def __init__(self, name, *args):
        self.link = path(name + ".link")
        self.record = path(name + ".rec")
        self.dump = path(name + ".flash")
        for old in (self.record, self.dump, self.link):
            if os.path.lexists(old):
                os.remove(old)  # the record is appended to
        self.proc = subprocess.Popen([SIM, "--link", self.link, "--record", self.record,
                                      "--flash-dump", self.dump] + list(args),
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        if not ready or not self.proc.stdout.readline().startswith(b"READY"):
            raise RuntimeError("the simulator did not start")

    def received(self):
        return read_file(self.record) if os.path.exists(self.record) else b""

    def stop(self):
        """SIGTERM, so that it writes its final flash dump."""
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(10)
        self.proc.stdout.close()
        return read_file(self.dump)


def tq73(*args, timeout=60, stdin=None, cwd=None):
    return subprocess.run([TQ73] + list(args), capture_output=True, timeout=timeout, input=stdin, cwd=cwd)


def text(result):
    return result.stdout.decode("utf-8") + result.stderr.decode("utf-8")


# ---- wire: every command puts the window's bytes on the line -----------------------------

def clock_payload_now():
    now = datetime.datetime.now()
    days = (now.date() - datetime.date(2000, 1, 1)).days
    return days


def wire_cases():
    fill = 0xA5
    src300 = write_file("src300.bin", bytes((i * 7 + 3) & 0xFF for i in range(300)))
    src32 = write_file("src32.bin", bytes(range(0x40, 0x60)))
    block = bytearray(256)
    block[0:6] = bytes([0x00, 0x05, 0x41, 0x42, 0x00, 0x43])
    # A Japanese text goes out as the CP932 bytes the window's edit gives.
    block_jp = bytearray(256)
    block_jp[0:10] = bytes([0x00, 0x07, 0x8D, 0x58, 0x90, 0x56, 0x00, 0x78, 0x79, 0x00])
    return [
        # (name, arguments, expected bytes on the line, extra check)
        ("stop", ["stop"], bytes([0x5C]) + frame(0x60), None),
        ("resume", ["resume"], frame(0x61), None),
        ("request62", ["request62"], frame(0x62), None),
        ("clock get", ["clock", "get"], frame(0x21),
         lambda r, sim: "device clock: 2000-01-01 00:00:00 (day 0)" in text(r)),
        ("read", ["read", "3000h", "256", path("read.bin")], frame(0x50, [0x04, 0x00, 0x30, 0x00, 0x00, 0x01]),
         lambda r, sim: read_file(path("read.bin")) == bytes([fill]) * 256),
        ("erase", ["erase", "2000h", "300"], frame(0x50, [0x44, 0x00, 0x20, 0x00, 0x2C, 0x01]),
         lambda r, sim: sim.stop()[0x2000:0x212C] == b"\xff" * 300),
        ("write", ["write", "1000h", src300],
         frame(0x50, bytes([0x84, 0x00, 0x10, 0x00]) + read_file(src300)[:256]) +
         frame(0x50, bytes([0x84, 0x00, 0x11, 0x00]) + read_file(src300)[256:]),
         lambda r, sim: sim.stop()[0x1000:0x112C] == read_file(src300)),
        # Chunks end on 256-byte boundaries: 16 bytes up to 0x1100, then 16.
        ("write with LEN", ["write", "4336", src32, "20h"],
         frame(0x50, bytes([0x84, 0xF0, 0x10, 0x00]) + read_file(src32)[:16]) +
         frame(0x50, bytes([0x84, 0x00, 0x11, 0x00]) + read_file(src32)[16:]),
         lambda r, sim: sim.stop()[0x10F0:0x1110] == read_file(src32)),
        ("param", ["param", "1", "AB", "C"],
         bytes([0x5C]) + frame(0x60) + frame(0x50, [0x44, 0x00, 0xE2, 0x00, 0x00, 0x01]) +
         frame(0x50, bytes([0x84, 0x00, 0xE2, 0x00]) + block) + frame(0x62),
         lambda r, sim: sim.stop()[0xE200:0xE300] == bytes(block)),
        ("param in Japanese", ["param", "3", "更新", "xy"],
         bytes([0x5C]) + frame(0x60) + frame(0x50, [0x44, 0x00, 0xE2, 0x00, 0x00, 0x01]) +
         frame(0x50, bytes([0x84, 0x00, 0xE2, 0x00]) + block_jp) + frame(0x62), None),
        # A name in any characters is the file made; Linux takes its bytes as given.
        ("read into a non-ASCII name", ["read", "3000h", "16", path("Zoë データ Ελλάδα.bin")],
         frame(0x50, [0x04, 0x00, 0x30, 0x00, 0x10, 0x00]),
         lambda r, sim: read_file(path("Zoë データ Ελλάδα.bin")) == bytes([fill]) * 16 and
         not os.path.exists(path("Zoe.bin"))),
        # Stopped while the table is shown: the empty pattern takes it off before "停止!!".
        ("pattern", ["pattern", "--seconds", "1"],
         frame(0x50, bytes([0x83, 0, 0, 0]) + PATTERN_TABLE) + frame(0x50, bytes([0x83, 0, 0, 0])),
         lambda r, sim: "開始!!" in text(r) and "停止!!" in text(r)),
        ("monitor", ["monitor", "--seconds", "1"], b"", lambda r, sim: "monitor: 0 frames received" in text(r)),
    ]


def group_wire():
    for name, args, expected, extra in wire_cases():
        sim = Sim("wire", "--flash-fill", "A5")
        try:
            r = tq73("--port", sim.link, *args)
            time.sleep(0.2)  # the last answer's bytes reach the record
            got = sim.received()
            check(r.returncode == 0, f"{name}: exit code {r.returncode}", text(r).strip()[-300:])
            check(got == expected, f"{name}: the bytes on the line",
                  f"{got.hex().upper()[:160]}, expected {expected.hex().upper()[:160]}")
            if extra is not None:
                check(extra(r, sim), f"{name}: files, flash or output")
        finally:
            if sim.proc.poll() is None:
                sim.stop()

    # Clock set: the local day number and BCD time, and the query reads them back.
    sim = Sim("clock")
    r = tq73("--port", sim.link, "clock", "set")
    got = sim.received()
    sent = got[4:9]
    check(r.returncode == 0 and got[:4] == bytes([0x02, 0x20, 0x05, 0x00]) and got[9] == 0x03,
          f"clock set: frame {got.hex().upper()}")
    day = sent[0] | sent[1] << 8
    check(abs(day - clock_payload_now()) <= 1, f"clock set: day number {day}, today is {clock_payload_now()}")
    shown = f"{sent[2]:02X}:{sent[3]:02X}:{sent[4]:02X} (day {day})"
    check(shown in text(r), f"clock set: the result names {shown}", text(r).strip())
    r = tq73("--port", sim.link, "clock", "get")
    check(r.returncode == 0 and shown in text(r), f"clock get reads back {shown}", text(r).strip())
    sim.stop()

    # Update and recovery: the model request, then exactly the programmer's boot traffic.
    image = load_mot(SAMPLE)
    for name, sim_args, args, expected in [
            ("update", [], ["update", SAMPLE], frame(0x70) + boot_traffic(image)),
            ("recover", ["--boot"], ["recover", SAMPLE], boot_traffic(image))]:
        sim = Sim(name, *sim_args)
        r = tq73("--port", sim.link, *args)
        time.sleep(0.2)
        got = sim.received()
        check(r.returncode == 0 and "更新完了" in text(r), f"{name}: exit {r.returncode}", text(r).strip()[-200:])
        check(got == expected, f"{name}: the {len(expected)} bytes on the line", f"{len(got)} bytes")
        check(sim.stop()[:0x10000] == flash_after_update(image, 0x00), f"{name}: the flash holds the image")

    # --sim: the simulated device inside tq73 answers every command.
    for args in (["stop"], ["update", SAMPLE], ["recover", SAMPLE], ["read", "0", "16", path("sim.bin")]):
        r = tq73("--sim", *args)
        check(r.returncode == 0, f"--sim {' '.join(args)}: exit {r.returncode}", text(r).strip()[-200:])
    check(read_file(path("sim.bin")) == bytes(16), "--sim read: the simulated flash starts as 00")


# ---- exit codes -------------------------------------------------------------------

def group_exit_codes():
    nomodel = write_file("nomodel.mot", b"S1133000000102030405060708090A0B0C0D0E0F00\r\nS9030000FC\r\n")
    # A model record and data only below the unit's blocks.
    lowonly = write_file("lowonly.mot", b"TQ1\r\nS10720000102030AC8\r\nS9030000FC\r\n")
    empty = write_file("empty.bin", b"")
    src = write_file("src.bin", bytes(0x300))
    # The sample with one data record's checksum wrong, one cut short, one with a non-hex digit.
    sample_lines = open(SAMPLE, "rb").read().decode().splitlines()
    first_data = next(i for i, l in enumerate(sample_lines) if l.startswith("S1"))

    def damaged(name, fix):
        lines = list(sample_lines)
        lines[first_data] = fix(lines[first_data])
        return write_file(name, ("\r\n".join(lines) + "\r\n").encode())
    badsum = damaged("badsum.mot", lambda l: l[:-2] + "%02X" % (int(l[-2:], 16) ^ 1))
    cutrec = damaged("cut.mot", lambda l: l[:-6])
    nothex = damaged("nothex.mot", lambda l: l[:12] + "G" + l[13:])
    where = f"line {first_data + 1}"
    cases = [
        # (name, simulator options or None for no simulator, tq73 arguments, exit code, text in the output)
        ("no command", None, [], 2, "no command given"),
        ("unknown command", None, ["frobnicate"], 2, "unknown command"),
        ("capital H", None, ["--sim", "read", "10H", "5", "x"], 2, "lower-case h"),
        ("block 4", None, ["--sim", "param", "4", "a", "b"], 2, "0 to 3"),
        ("read too long", None, ["--sim", "read", "0", "20001h", "x"], 2, "larger than 20000h"),
        ("quiet and verbose", None, ["--quiet", "--verbose", "stop"], 2, "exclude each other"),
        ("no port", None, ["stop"], 2, "--sim"),
        ("LEN past the file", None, ["--sim", "write", "0", src, "301h"], 2, "more than"),
        ("bad port", None, ["--port", path("no-such-tty"), "stop"], 3, "does not exist"),
        ("a file as the port", None, ["--port", src, "stop"], 3, "is not a serial port (a regular file)"),
        ("/dev/null as the port", None, ["--port", "/dev/null", "stop"], 3, "is not a serial port"),
        ("write past FFFFFFh", None, ["--sim", "write", "FFFF00h", src], 2, "runs past the top"),
        ("write LEN past FFFFFFh", None, ["--sim", "write", "FFFF00h", src, "101h"], 2, "runs past the top"),
        ("erase past FFFFFFh", None, ["--sim", "erase", "FFFFFFh", "2"], 2, "runs past the top"),
        ("ADDR of 256 characters", None, ["--sim", "erase", "0" * 251 + "3000h", "100h"], 2, "longer than the 255"),
        ("cut clock answer", ["--fault", "21:cut"], ["clock", "get"], 4, "(8 bytes): no time is shown"),
        ("clock answer with a wrong checksum", ["--fault", "21:badsum"], ["clock", "get"], 4, "no time is shown"),
        ("over-long clock answer", ["--fault", "21:oversize"], ["clock", "get"], 4, "(607 bytes): no time"),
        ("silent stop", ["--fault", "60:silent"], ["stop"], 4, "ap-stop: no answer"),
        ("silent model request", ["--fault", "70:silent"], ["update", SAMPLE], 4, "did not answer the model request"),
        ("silent clock", ["--fault", "21:silent"], ["clock", "get"], 4, "no answer to the query"),
        ("silent read", ["--fault", "50.04:silent"], ["read", "0", "16", path("silent.bin")], 4, "no answer at 0x0"),
        ("cut read answer", ["--fault", "50.04:cut:0:2"], ["read", "0", "300h", path("cut.bin")], 4,
         "damaged answer at 0x100"),
        ("model refused", ["--model", "q"], ["update", SAMPLE], 5, "does not take this firmware's model"),
        ("write refused", ["--fault", "50.84:refuse:0:2"], ["write", "0", src], 5, "refused at 0x100"),
        ("missing firmware", [], ["update", path("missing.mot")], 6, "cannot read"),
        ("firmware without model", [], ["update", nomodel], 6, "no model record"),
        ("missing write source", [], ["write", "0", path("missing.bin")], 6, "missing.bin does not exist"),
        ("read into no folder", [], ["read", "0", "16", path("no/such/dir.bin")], 6, "could not be written"),
        ("wrong data echo", ["--boot-fault", "data:wrong"], ["update", SAMPLE], 7, "err 07"),
        ("firmware with a wrong checksum", [], ["update", badsum], 6, f"{where}: the checksum does not match"),
        ("firmware with a cut record", ["--boot"], ["recover", cutrec], 6, f"{where}: the record is shorter"),
        ("firmware with a non-hex digit", [], ["update", nothex], 6, f"{where}: a character that is not a hex"),
        ("silent boot loader", ["--boot"], ["update", SAMPLE], 4, "model request"),
        ("verify equal", [], ["verify", "3000h", src], 0, "768 bytes equal"),
        ("write --verify, a stuck bit", ["--flash-fill", "FF", "--stuck", "3010:01"], ["write", "--verify", "3000h", src],
         8, "0x003010-0x003010 (1 byte): file 00, flash 01"),
        ("firmware not on the unit", [], ["verify", SAMPLE], 8, "firmware verify: 255 of 256 bytes differ"),
        ("page not programmed", ["--boot-fault", "program:status:90:2"], ["update", SAMPLE], 7,
         "err 09: the device reported 1 page not programmed, the first at 0xA000"),
        ("no return for the verify", ["--fault", "50.04:silent"], ["update", "--verify", SAMPLE], 4,
         "update complete in"),
        ("--verify on read", None, ["--sim", "read", "--verify", "0", "1", "x"], 2, "belongs to write"),
        ("stop refused", ["--fault", "60:refuse"], ["stop"], 5, "ap-stop refused"),
        ("stop answered with a wrong checksum", ["--fault", "60:badsum"], ["stop"], 4, "ap-stop: damaged answer"),
        ("resume answered with a wrong checksum", ["--fault", "61:badsum"], ["resume"], 4, "came cut or corrupted"),
        ("pattern refused", ["--fault", "50.83:refuse"], ["pattern", "--seconds", "1"], 5, "pattern sequence refused"),
        ("pattern unanswered", ["--fault", "50.83:silent"], ["pattern", "--seconds", "1"], 4, "pattern sequence: no answer"),
        ("request 0x62 refused in a chain", ["--fault", "62:refuse"], ["param", "1", "a", "b"], 5,
         "parameter block 1: request 0x62 refused"),
        ("texts that do not fit", [], ["--quiet", "param", "1", "x" * 200, "y" * 200], 2,
         "need 404 bytes in the parameter block, which holds 256: nothing was sent"),
        ("nothing to program", [], ["update", lowonly], 6, "holds no data for the unit's programmed blocks"),
        ("empty file to write", [], ["write", "0", empty], 6, "is empty"),
        ("a negative LEN", None, ["--sim", "read", "0", "-5", "x"], 2, "\"-5\" is not a number"),
        ("recover a unit in its application", [], ["recover", SAMPLE], 7, "did not answer in boot mode"),
    ]
    for name, sim_args, args, code, words in cases:
        sim = Sim("codes", *sim_args) if sim_args is not None else None
        try:
            r = tq73(*(["--port", sim.link] if sim else []), *args)
            out = text(r)
            check(r.returncode == code, f"{name}: exit code {r.returncode}, expected {code}", out.strip()[-300:])
            check(words in out, f"{name}: the output says \"{words}\"", out.strip()[-300:])
            failure_lines = [l for l in r.stderr.decode().splitlines() if l.startswith("tq73: ")]
            check(code == 0 or len(failure_lines) == 1, f"{name}: one failure line", failure_lines)
        finally:
            if sim:
                sim.stop()
    r = tq73("--sim", "write", "0", src)
    check(r.returncode == 0, "write of the whole file by default")
    # A long ADDR is used as checked: 0x3000, not the 3 its first 31 characters say.
    sim = Sim("long-addr")
    r = tq73("--port", sim.link, "erase", "0" * 30 + "3000h", "100h")
    check(r.returncode == 0 and sim.received() == frame(0x50, [0x44, 0x00, 0x30, 0x00, 0x00, 0x01]),
          "a 35-character ADDR erases at 0x3000", sim.received().hex())
    sim.stop()
    # A damaged firmware file sends nothing without --force, and is programmed as it is with it.
    for args, code in ((["update", badsum], 6), (["--force", "update", badsum], 0)):
        sim = Sim("force")
        r = tq73("--port", sim.link, *args)
        time.sleep(0.2)
        got = sim.received()
        sim.stop()
        check(r.returncode == code and (got == b"") == (code != 0) and
              (code != 0 or "answer: yes (--force)" in text(r)), f"{' '.join(args[:-1])}: exit {r.returncode}, "
              f"{len(got)} bytes on the line", text(r)[-300:])
    # Nothing is written into a file given as the port.
    before = read_file(src)
    tq73("--port", src, "stop")
    check(read_file(src) == before, "a file given as the port is not changed")
    # A read writes only bytes it read: the target as it was, the bytes read beside it.
    for name, fault, length, kept in [("refused at once", "50.04:refuse", "100h", None),
                                      ("refused at the second chunk", "50.04:refuse:0:2", "300h", 256)]:
        target = write_file("keep.bin", b"keep")
        if os.path.exists(target + ".partial"):
            os.remove(target + ".partial")
        sim = Sim("keep", "--fault", fault)
        r = tq73("--port", sim.link, "read", "0", length, target)
        sim.stop()
        partial = read_file(target + ".partial") if os.path.exists(target + ".partial") else None
        check(r.returncode == 5 and read_file(target) == b"keep", f"read {name}: exit {r.returncode}, the file kept",
              text(r)[-300:])
        check((partial is None) if kept is None else (partial == b"\x00" * kept and f"{target}.partial" in text(r)),
              f"read {name}: the bytes read beside it", partial[:16] if partial else partial)
    # A parameter text that code page 932 cannot hold: refused naming the character,
    # before the port is opened, so nothing reaches the line.
    sim = Sim("greek")
    r = tq73("--port", sim.link, "param", "2", "ok", "Ελλάδα")
    time.sleep(0.2)
    check(r.returncode == 2 and 'parameter block 2: TEXT2 "Ελλάδα" holds "ά" (U+03AC)' in text(r),
          f"Greek parameter text: exit code {r.returncode}", text(r).strip()[-300:])
    check(sim.received() == b"", "Greek parameter text: nothing on the line", sim.received().hex())
    sim.stop()
    # A second tq73 on a port that one already uses is refused; the first goes on.
    sim = Sim("shared")
    first = subprocess.Popen([TQ73, "--port", sim.link, "pattern", "--seconds", "2"], stdout=subprocess.PIPE)
    time.sleep(0.5)
    r = tq73("--port", os.path.realpath(sim.link), "stop")
    check(r.returncode == 3 and "in use by another tq73" in text(r), "a port in use", text(r))
    check(first.wait(10) == 0 and b"pattern sequence stopped" in first.stdout.read(), "the first tq73 ends normally")
    first.stdout.close()
    sim.stop()
    r = tq73("--help")
    check(r.returncode == 0 and all(f"  {c} " in r.stdout.decode() for c in (0, 2, 3, 4, 5, 6, 7, 8, 130)),
          "--help lists every exit code")


# ---- complete means complete: files that are not what they seem, answers that never came -----

def mot(*lines):
    return ("\r\n".join(lines) + "\r\n").encode()


def s1(address, data):
    body = bytes([len(data) + 3, address >> 8, address & 0xFF]) + bytes(data)
    return "S1" + body.hex().upper() + "%02X" % (~sum(body) & 0xFF)


def group_complete():
    big = bytes((i * 13 + (i >> 9)) & 0xFF for i in range(100000))
    changed = bytearray(big)
    changed[80000] ^= 0x5A
    link = path("link.bin")
    victim = write_file("victim.bin", b"victim")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(victim, link)
    read_only = write_file("read-only.bin", b"ro")
    os.chmod(read_only, 0o444)
    if os.path.lexists(path("via.bin.partial")):
        os.remove(path("via.bin.partial"))
    os.symlink(victim, path("via.bin.partial"))
    fifo = path("fifo")
    if not os.path.exists(fifo):
        os.mkfifo(fifo)
    ff = write_file("ff.bin", b"\x11" * 256 + b"\xff" * 512)
    outside = write_file("outside.mot", mot("TQ1", s1(0x3000, [1, 2, 3, 4]), s1(0x5000, [5, 6]),
                                            s1(0x1000, [7, 8, 9]), "S9030000FC"))
    s3 = write_file("s3.mot", mot("TQ1", "S30900003000112233447F", "S70500000000FA"))
    long_name = "n" * 250  # in the work folder, which the cases run in

    def verify_pipe(sim, data, code, words):
        r = tq73("--port", sim.link, "verify", "10000h", "/dev/stdin", stdin=data)
        return check(r.returncode == code and words in text(r), f"verify from a pipe: exit {r.returncode}, {words}",
                     text(r)[-200:])
    cases = [
        # (name, simulator options, tq73 arguments, standard input, exit code, words, extra check)
        ("a pipe is read to its end", [], ["write", "10000h", "/dev/stdin"], big, 0, "100000 bytes from /dev/stdin",
         lambda r, sim: verify_pipe(sim, big, 0, "100,000 bytes equal") and
         verify_pipe(sim, bytes(changed), 8, "0x023880-0x023880 (1 byte)") and
         sim.stop()[0x10000:0x10000 + len(big)] == big),
        ("LEN beyond what a pipe gave", [], ["write", "10000h", "/dev/stdin", "400"], big[:300], 2,
         "LEN 400 is more than /dev/stdin holds", lambda r, sim: sim.received() == b""),
        ("a FIFO nobody writes", [], ["write", "5000h", fifo], None, 6, "brought no bytes for 5 s",
         lambda r, sim: sim.received() == b""),
        ("a device as the source", [], ["write", "5000h", "/dev/zero"], None, 6, "/dev/zero is a device, not a file",
         None),
        ("a read into a link", [], ["read", "0", "16", link], None, 6, "is a symbolic link, not a file",
         lambda r, sim: os.path.islink(link) and read_file(victim) == b"victim" and sim.received() == b""),
        ("a read into a read-only file", [], ["read", "0", "16", read_only], None, 6, "is read-only",
         lambda r, sim: read_file(read_only) == b"ro" and os.stat(read_only).st_mode & 0o777 == 0o444),
        ("a read into a FIFO", [], ["read", "0", "16", fifo], None, 6, "is a pipe, not a file", None),
        ("a read whose FILE.partial is a link", [], ["read", "0", "16", path("via.bin")], None, 6,
         "which the read writes first, is not a file", lambda r, sim: read_file(victim) == b"victim"),
        ("a name whose .partial is too long", [], ["read", "0", "16", long_name], None, 6,
         "longer than the file system takes", None),
        ("an empty FILE", [], ["read", "0", "16", ""], None, 2, "FILE is empty",
         lambda r, sim: not os.path.exists(path(".partial")) and sim.received() == b""),
        ("chunks of FF on flash that holds others", ["--flash-fill", "00"], ["write", "3000h", ff], None, 0,
         "2 chunks of all FF not sent: they count on erased flash", None),
        ("texts that do not fit the block", [], ["param", "0", "A" * 255, "x"], None, 2, "need 260 bytes",
         lambda r, sim: sim.received() == b""),
        ("a byte that is not UTF-8 in a text", [], ["param", "0", os.fsdecode(b"a\xff"), "x"], None, 2,
         "holds the byte 0xFF, which is not UTF-8 text", None),
        ("resume unanswered", ["--fault", "61:silent"], ["resume"], None, 0, "(the device need not answer it)", None),
        ("resume unanswered, --expect-answer", ["--fault", "61:silent"], ["--expect-answer", "resume"], None, 4,
         "no answer within 1 s (--expect-answer)", None),
        ("param with 0x62 unanswered", ["--fault", "62:silent"], ["param", "1", "a", "b"], None, 0,
         "request 0x62 got no answer within 1 s (the device need not answer it)", None),
        ("param with 0x62 unanswered, --expect-answer", ["--fault", "62:silent"],
         ["--expect-answer", "param", "1", "a", "b"], None, 4, "(--expect-answer)", None),
        ("bytes no block takes", [], ["update", outside], None, 0,
         "5 bytes of the file lie outside the programmed blocks and were not written",
         lambda r, sim: "warning: " in r.stderr.decode() and "the first at 0x1000" in r.stderr.decode()),
        ("bytes no block takes, --strict", [], ["--strict", "update", outside], None, 6, "nothing was sent (--strict)",
         lambda r, sim: sim.received() == b""),
        ("an S3 file", [], ["update", s3], None, 6, "have S1 or S2 data records and an S9 or S8 end record", None),
        ("firmware from a pipe, read once and verified", [], ["update", "--verify", "/dev/stdin"],
         open(SAMPLE, "rb").read(), 0, "bytes equal", None),
        ("verify of a damaged file with --force", [], ["--force", "verify", path("badsum2.mot")], None, 8,
         "firmware verify", None),
        ("a recovery whose erase is unanswered", ["--boot", "--boot-fault", "erase:silent"], ["recover", SAMPLE], None,
         7, "recovery failed at the block 0x3000, err 01", None),
        ("arguments past the 64th", None, ["--sim"] + ["-q"] * 70 + ["--bogus", "stop"], None, 2,
         "unknown option --bogus", None),
    ]
    sample = open(SAMPLE, "rb").read().decode().splitlines()
    first_data = next(i for i, l in enumerate(sample) if l.startswith("S1"))
    sample[first_data] = sample[first_data][:-2] + "%02X" % (int(sample[first_data][-2:], 16) ^ 1)
    write_file("badsum2.mot", ("\r\n".join(sample) + "\r\n").encode())
    for name, sim_args, args, stdin, code, words, extra in cases:
        sim = Sim("complete", *sim_args) if sim_args is not None else None
        try:
            r = tq73(*(["--port", sim.link] if sim else []), *args, stdin=stdin, timeout=90, cwd=WORK)
            time.sleep(0.1)
            out = text(r)
            check(r.returncode == code, f"{name}: exit code {r.returncode}, expected {code}", out.strip()[-300:])
            check(words in out, f"{name}: the output says \"{words}\"", out.strip()[-300:])
            if extra is not None:
                check(extra(r, sim), f"{name}: the line, the files, the flash", out.strip()[-200:])
        finally:
            if sim and sim.proc.poll() is None:
                sim.stop()

    # After err 05 the unit is mid-page in its boot loader: the advice is a restart into
    # it, then recover, and that is what works.
    sim = Sim("way-out", "--boot-fault", "addr:wrong:33:1")
    r = tq73("--port", sim.link, "update", SAMPLE)
    sim.stop()
    check(r.returncode == 7 and "in the middle of a page, where no command reaches it; restart it into its boot "
          "loader" in text(r) and "recover" in text(r), f"err 05: the way out: exit {r.returncode}", text(r)[-300:])
    sim = Sim("way-out", "--boot")
    r = tq73("--port", sim.link, "recover", SAMPLE)
    check(r.returncode == 0, "err 05: recover after the restart", text(r)[-200:])
    sim.stop()
    sim = Sim("way-out", "--boot-fault", "data:wrong:0:1")
    r = tq73("--port", sim.link, "update", SAMPLE)
    check(r.returncode == 7 and "left its boot loader with its flash only partly written; run tq73" in text(r),
          f"err 07: the way out: exit {r.returncode}", text(r)[-300:])
    time.sleep(0.5)
    r = tq73("--port", sim.link, "update", SAMPLE)
    check(r.returncode == 0, "err 07: update again works", text(r)[-200:])
    sim.stop()

    # With standard output and error closed, nothing tq73 says reaches the line.
    src = write_file("d1.bin", b"\x01" * 16)
    sim = Sim("closed")
    r = subprocess.run(["bash", "-c", 'exec "$0" --port "$1" verify 3000h "$2" >&- 2>&-', TQ73, sim.link, src],
                       timeout=60)
    time.sleep(0.2)
    got = sim.received()
    sim.stop()
    check(r.returncode == 8 and got == frame(0x50, [0x04, 0x00, 0x30, 0x00, 0x10, 0x00]),
          f"closed stdout and stderr: exit {r.returncode}, the line carries only the read", got[:80])

    # --json --version and --json --help are one JSON object each.
    for flag in ("--version", "--help"):
        r = tq73("--json", flag)
        lines = r.stdout.decode().splitlines()
        try:
            obj = json.loads(r.stdout.decode()) if len(lines) == 1 else None
        except ValueError:
            obj = None
        check(r.returncode == 0 and obj is not None and obj["event"] == "result" and obj["exit_code"] == 0,
              f"--json {flag}: one JSON object", r.stdout[:200])


# ---- output forms: JSON, verbose, quiet, the bar ---------------------------------------------

def run_in_pty(args, timeout=60):
    """Runs tq73 with a terminal as stdout and stderr; what the terminal got."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(TQ73, [TQ73] + args)
    out = b""
    deadline = time.time() + timeout
    while time.time() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.5)
        if not ready:
            continue
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        out += chunk
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    return os.waitstatus_to_exitcode(status), out.decode("utf-8", "replace")


def group_output():
    sim = Sim("json")
    r = tq73("--port", sim.link, "--json", "update", SAMPLE)
    events = [json.loads(line) for line in r.stdout.decode("utf-8").splitlines()]
    kinds = [e["event"] for e in events]
    check(r.returncode == 0 and r.stderr == b"", f"--json: exit {r.returncode}, stderr {r.stderr[:200]}")
    check(events[0]["event"] == "sent" and events[0]["bytes"] == "0270000003750D" and events[0]["length"] == 7,
          f"--json: the model request first: {events[0]}")
    check({"sent", "received", "log", "progress", "result"} <= set(kinds), f"--json: event kinds {set(kinds)}")
    check(any(e["event"] == "log" and e["text"] == "更新完了" for e in events), "--json: the log line in UTF-8")
    progress = [e for e in events if e["event"] == "progress"]
    check(progress[-1]["ended"] and progress[-1]["permille"] == 1000 and progress[-1]["unit"] == "pages",
          f"--json: the last progress event: {progress[-1]}")
    check(kinds[-1] == "result" and events[-1]["exit_code"] == 0 and events[-1]["command"] == "update",
          f"--json: the result last: {events[-1]}")
    check(all(e["ms"] >= p["ms"] for p, e in zip(events, events[1:])), "--json: times never go back")
    sim.stop()

    sim = Sim("json2", "--model", "r")
    r = tq73("--port", sim.link, "--json", "update", SAMPLE)
    events = [json.loads(line) for line in r.stdout.decode("utf-8").splitlines()]
    check(r.returncode == 5 and [e["event"] for e in events[-2:]] == ["error", "result"] and
          events[-1]["exit_code"] == 5 and events[-1]["outcome"] == "refused",
          f"--json refused: {events[-2:]}")
    check(any(e["event"] == "log" and e["text"] == "機種が適合しません" for e in events), "--json: the mismatch line")
    sim.stop()

    sim = Sim("json3")
    r = tq73("--port", sim.link, "--json", "write", "0", path("missing.bin"))
    events = [json.loads(line) for line in r.stdout.decode("utf-8").splitlines()]
    check(any(e["event"] == "box" and e["text"] == "OPEN ERROR" for e in events) and events[-1]["exit_code"] == 6,
          f"--json: the box as an event: {events}")
    sim.stop()

    # A verify: one difference event per range (all of them), the counts in the result;
    # the text lists ten ranges unless --all.
    stripes = write_file("stripes.bin", bytes(0xFF if i % 2 else 0x00 for i in range(0x300)))
    sim = Sim("json4", "--flash-fill", "FF")
    r = tq73("--port", sim.link, "--json", "verify", "3000h", stripes)
    events = [json.loads(line) for line in r.stdout.decode("utf-8").splitlines()]
    diffs = [e for e in events if e["event"] == "difference"]
    check(r.returncode == 8 and len(diffs) == 0x180 and diffs[1] == {**diffs[1], "address": 0x3002, "length": 1,
                                                                      "file": "00", "flash": "FF"},
          f"--json verify: {len(diffs)} difference events, {diffs[1:2]}")
    check(events[-1]["differing"] == 0x180 and events[-1]["ranges"] == 0x180 and events[-1]["compared"] == 0x300 and
          events[-1]["first_difference"] == 0x3000, f"--json verify: the counts: {events[-1]}")
    listed = [l for l in text(tq73("--port", sim.link, "verify", "3000h", stripes)).splitlines() if l.startswith("0x")]
    every = [l for l in text(tq73("--port", sim.link, "verify", "--all", "3000h", stripes)).splitlines()
             if l.startswith("0x")]
    check(len(listed) == 10 and len(every) == 0x180, f"verify lists 10 ranges, --all {len(every)}")
    check(sim.received().count(bytes([0x50, 0x84])) == 0, "verify sends no write")
    sim.stop()
    sim = Sim("json5")
    r = tq73("--port", sim.link, "--json", "update", "--verify", SAMPLE)
    events = [json.loads(line) for line in r.stdout.decode("utf-8").splitlines()]
    check(r.returncode == 0 and events[-1]["compared"] == 256 and events[-1]["differing"] == 0 and
          "firmware verify: 256 bytes equal" in events[-1]["text"], f"update --verify: {events[-1]}")
    sim.stop()

    # A read whose second answer came with a wrong checksum: asked again, then every
    # chunk confirmed; the counts in the result and its words; the file is the flash.
    sim = Sim("json6", "--flash-fill", "A5", "--fault", "50.04:badsum:0:2:1")
    r = tq73("--port", sim.link, "--json", "read", "0", "300h", path("again.bin"))
    events = [json.loads(line) for line in r.stdout.decode("utf-8").splitlines()]
    reads = sim.received().count(bytes([0x50, 0x06, 0x00, 0x04]))
    check(r.returncode == 0 and events[-1]["asked_again"] == 1 and events[-1]["damaged_answers"] == 1 and
          events[-1]["lost_answers"] == 0 and "complete in" in events[-1]["text"] and
          ", 1 answer asked again" in events[-1]["text"] and reads == 6 and
          read_file(path("again.bin")) == b"\xa5" * 0x300, f"read asked again: {reads} reads, {events[-1]}")
    check(any(e["event"] == "log" and e["text"] == "flash read: damaged answer at 0x000100: asked again (1 of 2)"
              for e in events), "read asked again: its log line")
    sim.stop()

    # Each port with what the system knows of it, every field present.
    r = tq73("--json", "ports")
    events = [json.loads(line) for line in r.stdout.decode("utf-8").splitlines()]
    keys = {"name", "friendly_name", "vid", "pid", "serial", "manufacturer", "driver", "in_use", "held_by", "text"}
    check(r.returncode == 0 and all(keys <= set(e) and e["text"].startswith(e["name"]) and
                                    e["in_use"] in ("yes", "no", "unknown")
                                    for e in events if e["event"] == "port"), f"ports --json: {events[:3]}")

    # The line check: healthy on a plain paced line, slow with a USB adapter's 16 ms
    # latency timer in between (the pty takes no ASYNC_LOW_LATENCY: that is the cause).
    for name, args, healthy in (("fine", [], True), ("latency", ["--latency", "16"], False)):
        sim = Sim("check_" + name, "--pace", *args)
        r = tq73("--port", sim.link, "--json", "check")
        result = json.loads(r.stdout.decode("utf-8").splitlines()[-1])
        words = "the line is healthy" if healthy else "the line is slow"
        check(r.returncode == 0 and words in result["text"] and
              ("latency timer" in result["text"]) != healthy and
              sim.received().count(bytes([0x50, 0x06, 0x00, 0x04, 0x00, 0x30, 0x00, 0x01, 0x00])) == 9,
              f"check, {name} line: {result}")
        sim.stop()

    # JSON stays JSON: after a bad option, and for a file name that is not UTF-8.
    r = tq73("--bogus", "--json")
    check(r.returncode == 2 and json.loads(r.stdout.decode().splitlines()[-1])["exit_code"] == 2,
          "--bogus --json: a JSON result", r.stdout[:200])
    r = subprocess.run([TQ73, "--sim", "--json", "read", "0", "16", os.fsencode(path("")) + b"\xff.bin"],
                       capture_output=True, timeout=60)
    try:
        events = [json.loads(line) for line in r.stdout.decode("utf-8").splitlines()]
        check(r.returncode == 0 and "\ufffd.bin" in events[-1]["text"], "a file name that is not UTF-8 in JSON",
              events[-1])
    except (UnicodeDecodeError, ValueError) as e:
        check(False, "a file name that is not UTF-8 in JSON", f"{e}: {r.stdout[-200:]}")

    r = tq73("--sim", "--verbose", "stop")
    lines = r.stdout.decode().splitlines()
    check(r.returncode == 0 and len(lines) >= 3 and all(re.match(r"\d\d:\d\d:\d\d\.\d\d\d  ", l) for l in lines),
          f"--verbose: every line time-stamped: {lines}")
    check("does not take the low-latency setting (ASYNC_LOW_LATENCY)" in r.stderr.decode(),
          f"--verbose: says whether the driver took low latency: {r.stderr.decode()!r}")
    r = tq73("--sim", "--quiet", "update", SAMPLE)
    check(r.returncode == 0 and r.stdout.decode().splitlines() == [text(r).strip()] and
          text(r).startswith("update complete in "), f"--quiet: the result only: {text(r)!r}")
    r = tq73("--sim", "--quiet", "read", "FFFFFFh", "2", path("q.bin"))  # past the 24-bit space: refused
    check(r.returncode == 5 and r.stdout == b"" and len(r.stderr.decode().splitlines()) == 1 and
          r.stderr.decode().startswith("tq73: flash read 0xFFFFFF refused"), "--quiet: a failure is one line on stderr",
          text(r))

    # A bar on a terminal: carriage returns, the board's text, cleared before each line.
    code, screen = run_in_pty(["--sim", "update", SAMPLE])
    check(code == 0, f"bar: exit {code}")
    check(re.search(r"\r\[[#-]{20}\]\s+\d+%  update: page \d+ of 2", screen) is not None, "bar: drawn with pages")
    check("update: erasing" in screen and "update: opening write mode" in screen, "bar: the stages before the first page")
    log_lines = [l for l in screen.replace("\r\n", "\n").split("\n") if "更新完了" in l]
    # What the bar drew is blanked, and the line starts at the left edge.
    check(len(log_lines) == 1 and re.search(r"\r +\r更新完了$", log_lines[0]) is not None,
          "bar: cleared before a log line", repr(log_lines))
    r = tq73("--sim", "update", SAMPLE)
    check("\r" not in text(r), "bar: absent when the output is not a terminal")
    code, screen = run_in_pty(["--sim", "verify", "0", write_file("zeros.bin", bytes(0x4000))])
    check(code == 0 and re.search(r"\r\[[#-]{20}\]\s+\d+%  flash verify 0x0: ", screen),
          f"bar: a verify shows it too: exit {code}", screen[-200:])


# ---- Ctrl+C --------------------------------------------------------------------

def interrupt_when(args, marker, sim_link, times=1, sig=signal.SIGINT):
    """Starts tq73, sends SIGINT (times, 0.6 s apart: closer ones count as one) once marker is printed;
    the exit code and the output."""
    proc = subprocess.Popen([TQ73, "--port", sim_link] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    seen = b""
    deadline = time.time() + 30
    while marker.encode() not in seen and time.time() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], 0.5)
        if ready:
            seen += os.read(proc.stdout.fileno(), 4096)
    for i in range(times):
        time.sleep(0.6 if i else 0)
        proc.send_signal(sig)
    out, err = proc.communicate(timeout=30)
    return proc.returncode, (seen + out).decode() + err.decode()


def group_port_lost():
    """The device's end of the line closes under a command (the simulator killed): every
    command ends at once with exit 3 and says so; a read leaves its target alone; an
    update in boot mode says how to bring the unit back."""
    target = path("lost.bin")
    cases = [
        # (name, tq73 arguments, seconds before the kill, words in the result)
        ("monitor", ["monitor"], 1.0, "monitor: the port went away under the operation"),
        ("pattern", ["pattern"], 1.5, "pattern: the port went away"),
        ("read", ["read", "0", "20000h", target], 2.0, "lost.bin was not changed"),
        ("update", ["update", SAMPLE], 1.5, "left in its boot loader; once the port is back, run tq73"),
    ]
    for name, args, seconds, words in cases:
        sim = Sim("lost", "--pace")
        proc = subprocess.Popen([TQ73, "--port", sim.link] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(seconds)
        sim.proc.kill()
        sim.proc.wait(10)
        sim.proc.stdout.close()
        killed = time.monotonic()
        out, err = proc.communicate(timeout=20)
        took = time.monotonic() - killed
        text_out = (out + err).decode("utf-8")
        check(proc.returncode == 3 and words in text_out, f"port lost in {name}: exit {proc.returncode}",
              text_out.strip()[-300:])
        check(took < 6, f"port lost in {name}: ended {took:.1f} s after the line closed")
    check(not os.path.exists(target), "port lost in read: no target file made")


def group_interrupt():
    # An update interrupted in boot mode says so; recover brings the unit back.
    sim = Sim("intr", "--pace")
    code, out = interrupt_when(["update", SAMPLE], "ﾌﾞﾛｯｸ消去 A000", sim.link)
    check(code == 130, f"interrupted update: exit {code}", out[-300:])
    check("left in boot mode" in out and "recover" in out, "interrupted update: boot mode said", out[-300:])
    r = tq73("--port", sim.link, "recover", SAMPLE)
    check(r.returncode == 0, "recover after the interruption", text(r)[-200:])
    check(sim.stop()[:0x10000] == flash_after_update(load_mot(SAMPLE), 0x00), "recover: the flash holds the image")

    # Ctrl+C once the write pass has begun: the pass is finished, the unit runs.
    sim = Sim("intr-w", "--pace")
    code, out = interrupt_when(["update", SAMPLE], "書込中", sim.link)
    check(code == 0 and "finishing it" in out and "更新完了" in out, f"write pass finished: exit {code}", out[-300:])
    check(sim.stop()[:0x10000] == flash_after_update(load_mot(SAMPLE), 0x00), "write pass finished: the flash")
    # A hang-up (a dropped SSH session) is taken as Ctrl+C: the pass is finished too.
    sim = Sim("intr-hup", "--pace")
    code, out = interrupt_when(["update", SAMPLE], "書込中", sim.link, sig=signal.SIGHUP)
    check(code == 0 and "finishing it" in out and "更新完了" in out, f"SIGHUP in the write pass: exit {code}",
          out[-300:])
    check(sim.stop()[:0x10000] == flash_after_update(load_mot(SAMPLE), 0x00), "SIGHUP in the write pass: the flash")
    # Two requests 1 ms apart (a terminal's hang-up and termination) are one: the pass is
    # finished; and a --verify that the interruption kept from running is no success.
    sim = Sim("intr-two", "--pace")
    proc = subprocess.Popen([TQ73, "--port", sim.link, "update", "--verify", SAMPLE], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    seen = b""
    while "書込中".encode() not in seen and proc.poll() is None:
        seen += os.read(proc.stdout.fileno(), 4096)
    proc.send_signal(signal.SIGTERM)
    time.sleep(0.001)
    proc.send_signal(signal.SIGHUP)
    out, err = proc.communicate(timeout=30)
    out = (seen + out).decode() + err.decode()
    check(proc.returncode == 130 and "更新完了" in out and "but it was not verified" in out and
          f"verify {SAMPLE}" in out, f"TERM and HUP in the write pass of update --verify: exit {proc.returncode}",
          out[-300:])
    check(sim.stop()[:0x10000] == flash_after_update(load_mot(SAMPLE), 0x00), "TERM and HUP: the pass finished")
    # Twice: it is cut short, and the message says where the unit was left.
    sim = Sim("intr-w2", "--pace")
    code, out = interrupt_when(["update", SAMPLE], "書込中", sim.link, times=2)
    check(code == 130 and "part-way through a write pass" in out, f"write pass cut: exit {code}", out[-300:])
    sim.stop()

    sim = Sim("intr2")
    code, out = interrupt_when(["pattern", "--seconds", "30"], "開始!!", sim.link)
    check(code == 130 and "停止!!" in out, f"interrupted timed pattern: exit {code}", out[-200:])
    code, out = interrupt_when(["pattern"], "開始!!", sim.link)
    check(code == 0 and "pattern sequence stopped" in out, f"pattern until Ctrl+C: exit {code}", out[-200:])
    sim.stop()

    # A read of 128 KiB at line speed, cut short: the port closes at once.
    sim = Sim("intr3", "--pace")
    start = time.time()
    code, out = interrupt_when(["read", "0", "20000h", path("cut.bin")], "R-263", sim.link)
    check(code == 130 and "holds only the bytes read" in out, f"interrupted read: exit {code}", out[-300:])
    check(time.time() - start < 10, f"interrupted read ended in {time.time() - start:.1f} s")
    sim.stop()


# ---- several units at once -------------------------------------------------------------

def group_parallel():
    sims = [Sim(f"unit{i}", "--flash-fill", f"{i + 1:02X}") for i in range(3)]
    procs = [subprocess.Popen([TQ73, "--quiet", "--port", s.link, "update", SAMPLE],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE) for s in sims]
    results = [p.communicate(timeout=60) for p in procs]
    image = load_mot(SAMPLE)
    for i, (s, p, (out, err)) in enumerate(zip(sims, procs, results)):
        check(p.returncode == 0, f"unit {i}: exit {p.returncode}", out + err)
        check(s.stop()[:0x10000] == flash_after_update(image, i + 1), f"unit {i}: the flash holds the image")


# ---- a station: several units, one command ----------------------------------------------

def records(p):
    """The record file's lines, each parsed (a line that is not whole JSON fails the parse)."""
    with open(p, encoding="utf-8") as f:
        return [json.loads(line) for line in f]


def station_faults():
    """Four units, two good, one whose boot loader leaves a page unprogrammed, one with a
    stuck bit that only --verify finds: each unit's outcome, the summary, the fleet code,
    the records, and the good units' wire as a unit alone gets it."""
    rec = path("station.jsonl")
    sims = [Sim("st-good1"), Sim("st-good2"), Sim("st-boot", "--boot-fault", "program:status:90:2"),
            Sim("st-stuck", "--flash-fill", "FF", "--stuck", "3010:01")]
    r = tq73(*sum((["--port", s.link] for s in sims), []), "--record", rec, "update", "--verify", SAMPLE,
             timeout=120)
    out = text(r)
    check(r.returncode == 9, f"station with two kinds of failure: exit {r.returncode} (9)", out[-400:])
    check("station: 2 of 4 units succeeded, 2 failed: exit 9" in out, "station: the counts line", out[-300:])
    for s, code in zip(sims, (0, 0, 7, 8)):
        row = [line for line in r.stdout.decode().splitlines() if line.startswith(s.link + " ")]
        check(len(row) == 1 and f" {code}  " in row[0], f"summary row of {os.path.basename(s.link)}: exit {code}",
              str(row))
    got = records(rec)
    check(sorted((g["port"], g["exit_code"]) for g in got) == sorted((s.link, c) for s, c in
                                                                     zip(sims, (0, 0, 7, 8))),
          "one record per unit with its exit code", str([(g["port"], g["exit_code"]) for g in got]))
    digest = hashlib.sha256(read_file(SAMPLE)).hexdigest()
    check(all(g["firmware_sha256"] == digest and g["command"] == "update" and g["firmware"] == SAMPLE and
              g["model"] == 1 and re.match(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$", g["time"])
              for g in got), "records: the firmware's SHA-256, model, command and time", str(got[0]))
    stuck = [g for g in got if g["exit_code"] == 8]
    check(stuck and stuck[0]["differing"] >= 1 and stuck[0]["first_difference"] == 0x3010,
          "the stuck unit's record: the verify's counts and first difference", str(stuck))
    boot = [g for g in got if g["exit_code"] == 7]
    check(boot and boot[0].get("pages_not_programmed", 0) >= 1, "the boot fault's record: the device's failures",
          str(boot))
    alone = Sim("st-alone")
    tq73("--port", alone.link, "update", "--verify", SAMPLE, timeout=60)
    time.sleep(0.2)
    wire = alone.received()
    for s in sims[:2]:
        check(s.received() == wire, f"{os.path.basename(s.link)}: the wire of a unit alone")
    for s in sims + [alone]:
        s.stop()


def station_lost_unit():
    """A unit whose simulator dies under the update ends with exit 3; the others complete."""
    sims = [Sim(f"st-lost{i}", "--pace") for i in range(3)]
    proc = subprocess.Popen([TQ73] + sum((["--port", s.link] for s in sims), []) + ["update", SAMPLE],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    time.sleep(1)
    sims[1].proc.kill()
    sims[1].proc.wait(10)
    out, err = proc.communicate(timeout=60)
    out = out.decode() + err.decode()
    check(proc.returncode == 3, f"station with a unit lost: exit {proc.returncode} (3)", out[-400:])
    check(f"{sims[1].link}: tq73: update: the port went away" in out, "the lost unit's line says so", out[-400:])
    image = load_mot(SAMPLE)
    for s in (sims[0], sims[2]):
        check(s.stop()[:0x10000] == flash_after_update(image, 0x00), f"{os.path.basename(s.link)}: updated")


def station_if_different():
    """One unit holds the image already: it is verified and left alone (no boot-mode byte);
    the other is updated. Both records say which."""
    rec = path("if-different.jsonl")
    held, fresh = Sim("st-held"), Sim("st-fresh")
    tq73("--port", held.link, "update", SAMPLE)
    before = len(held.received())
    r = tq73("--port", held.link, "--port", fresh.link, "--record", rec, "update", "--if-different", SAMPLE)
    time.sleep(0.2)
    check(r.returncode == 0, f"--if-different: exit {r.returncode}", text(r)[-300:])
    extra = held.received()[before:]
    check(len(extra) > 0 and frame(0x70) not in extra and b"W" not in extra and b"\xff" not in extra,
          "the unit that holds the image got application-mode reads only", extra[:40].hex())
    got = {g["port"]: g for g in records(rec)}
    check(got[held.link]["outcome"] == "unchanged" and "already holds this firmware" in got[held.link]["text"],
          "its record: unchanged", str(got.get(held.link)))
    check(got[fresh.link]["outcome"] == "complete", "the other unit's record: complete", str(got.get(fresh.link)))
    check(fresh.stop()[:0x10000] == flash_after_update(load_mot(SAMPLE), 0x00), "the other unit was updated")
    held.stop()


def station_records_together():
    """Two stations of eight simulated units each append to one record at once: 16 whole lines."""
    rec = path("shared.jsonl")
    procs = [subprocess.Popen([TQ73, "--sim", "8", "--record", rec, "read", "0", "4096", path(f"t{i}-{{port}}.bin")],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for i in range(2)]
    codes = [p.wait(60) for p in procs]
    check(codes == [0, 0], f"two stations at once: exits {codes}")
    try:
        got = records(rec)
        check(len(got) == 16 and all(g["exit_code"] == 0 for g in got), f"16 whole records ({len(got)})")
        check(all(os.path.exists(path(f"t{i}-sim{k}.bin")) for i in range(2) for k in range(1, 9)),
              "each unit read into its own file ({port})")
    except ValueError as e:
        check(False, "every record line is whole JSON", str(e))
    # --json: every event names its unit; the station's own event is last.
    r = tq73("--sim", "2", "--json", "stop")
    try:
        events = [json.loads(line) for line in r.stdout.decode().splitlines()]
        check(r.returncode == 0 and all(e["port"] in ("sim1", "sim2") for e in events[:-1]) and
              events[-1]["event"] == "station" and events[-1]["succeeded"] == 2 and
              sum(e["event"] == "result" for e in events) == 2, "--json: each event with its port", r.stdout[-300:])
    except ValueError as e:
        check(False, "every record line is whole JSON", str(e))


def station_interrupted():
    """Ctrl+C in the write pass of a station's update: every unit finishes its pass."""
    sims = [Sim(f"st-intr{i}", "--pace") for i in range(2)]
    proc = subprocess.Popen([TQ73] + sum((["--port", s.link] for s in sims), []) + ["update", SAMPLE],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    seen = b""
    deadline = time.time() + 30
    while seen.count("書込中".encode()) < 2 and time.time() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], 0.5)
        if ready:
            seen += os.read(proc.stdout.fileno(), 4096)
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    out = (seen + out).decode() + err.decode()
    check(proc.returncode == 0 and out.count("finishing it") == 2, f"Ctrl+C in the write pass: exit {proc.returncode}",
          out[-400:])
    for s in sims:
        check(s.stop()[:0x10000] == flash_after_update(load_mot(SAMPLE), 0x00), f"{os.path.basename(s.link)}: whole")


def group_station():
    station_faults()
    station_lost_unit()
    station_if_different()
    station_records_together()
    station_interrupted()


GROUPS = {"station": group_station, "wire": group_wire, "exit_codes": group_exit_codes, "output": group_output, "port_lost": group_port_lost,
          "interrupt": group_interrupt, "parallel": group_parallel, "complete": group_complete}

if __name__ == "__main__":
    GROUPS[sys.argv[1]]()
    print(f"{len(FAILURES)} failed; files kept in {WORK}" if FAILURES else "all passed")
    if not FAILURES:
        shutil.rmtree(WORK, ignore_errors=True)
    sys.exit(1 if FAILURES else 0)
