#!/usr/bin/env python3
"""tq73's decoded view against tq7300-sim: --decode under each line, the
decoded JSON object, tq73 decode of tq73's own output, of its JSON, of the
simulator's raw record and of a --capture file, and tshark reading that
capture with the Lua dissector, which must say what tq73 decode says.

Usage: decode_test.py GROUP   (decode, capture)
Needs TQ73, TQ_SIM, TQ_SAMPLE_MOT and (capture) TQ_DISSECTOR in the environment.
"""
import json
import re
import os
import shutil
import subprocess
import sys

import cli_test as t

DECODED = "    = "


def decoded_lines(out):
    return [line[len(DECODED):] for line in out.splitlines() if line.startswith(DECODED)]


def decode(source, *options):
    r = t.tq73(*options, "decode", source)
    t.check(r.returncode == 0, f"decode {os.path.basename(source)}: exit 0", t.text(r))
    return r.stdout.decode("utf-8")


def group_decode():
    # An update whose first erase status has the error bit: the frames, the
    # glossed Japanese lines, and the same again read back from the output.
    sim = t.Sim("update", "--boot-fault", "erase:status:A0:1")
    r = t.tq73("--port", sim.link, "--decode", "--verbose", "update", t.SAMPLE)
    sim.stop()
    out = r.stdout.decode("utf-8")
    live = decoded_lines(out)
    for want in ["model request p (0x70)", "answer to model request p (0x70): accepted",
                 "block erase 3000-33FF", "writing", "write 3000"]:
        t.check(any(line.startswith(want) for line in live), f"--decode: {want}", out)
    back = decoded_lines(decode(t.write_file("update.txt", r.stdout)))
    t.check([x.split(" (+")[0] for x in back] == [x.split(" (+")[0] for x in live],
            "decode of the --verbose output says what --decode said", f"{back} vs {live}")
    t.check(any(" (+" in x for x in back), "decode of the --verbose output times the frames", back)

    # The raw record of what the device received: model request, erases,
    # write mode, the pages, the end.
    raw = decoded_lines(decode(sim.record))
    t.check(raw[:3] == ["model request p (0x70)", "block erase code 0x0A (0x3000-0x33FF)",
                        "block erase code 0x03 (0xA000-0xBFFF)"], "decode of the raw record: its first steps", raw)
    t.check(raw[-1] == "end 0xFF: back to the application (no reply)", "decode of the raw record: its end", raw)
    t.check(sum(x.startswith("page data ") for x in raw) == sum(x.startswith("program page ") for x in raw) > 0,
            "decode of the raw record: a program step after each page", raw)

    # A damaged answer (asked again twice, damaged each time): the JSON event's
    # decoded object names the fault, and decode of the JSON says the same.
    sim = t.Sim("badsum", "--fault", "50.04:badsum")
    r = t.tq73("--port", sim.link, "--json", "read", "3000h", "10h", t.path("read.bin"))
    sim.stop()
    events = [json.loads(line) for line in r.stdout.decode("utf-8").splitlines()]
    got = [e["decoded"] for e in events if e["event"] == "received"]
    t.check(len(got) == 3 and all(g["fault"].startswith("bad checksum: ") and not g["sound"] and
                                  g["accepted"] is True for g in got), "--json: the received frames' decoded fault", got)
    sent = [e["decoded"] for e in events if e["event"] == "sent"]
    t.check(sent and sent[0]["text"] == "flash read 0x003000, 16 bytes" and sent[0]["address"] == 0x3000
            and sent[0]["count"] == 16, "--json: the request's decoded fields", sent)
    boxes = [e.get("english") for e in events if e["event"] == "box"]
    t.check(boxes == ["flash read failure"], "--json: the box FLASH READ 異常 carries its English", boxes)
    back = decoded_lines(decode(t.write_file("read.json", r.stdout)))
    t.check(len(back) == 6 and back[1] == got[0]["text"] and back[2].startswith("flash read 0x003000, 16 bytes (+"),
            "decode of --json output", back)

    # A session transcript as the window records it: BOM, date and time, CR LF.
    lines = [re.sub(r"^\d\d:\d\d:\d\d\.\d\d\d +", "", line) for line in out.splitlines()]
    lines = [line for line in lines if line[:2] in ("T-", "R-") or line.startswith("\uff8c")][:3]
    transcript = "\ufeff" + "".join(f"2026-12-08 10:00:0{i}.{i * 7:03d} {line}\r\n" for i, line in enumerate(lines))
    back = decoded_lines(decode(t.write_file("session.txt", transcript.encode("utf-8"))))
    t.check(back == ["model request p (0x70)", "answer to model request p (0x70): accepted (+1007 ms)",
                     "block erase 3000-33FF"], "decode of a session transcript", back)


def fields(capture, *names):
    r = subprocess.run(["tshark", "-X", "lua_script:" + os.environ["TQ_DISSECTOR"], "-r", capture, "-T", "fields"]
                       + sum((["-e", n] for n in names), []), capture_output=True, timeout=60)
    t.check(r.returncode == 0, f"tshark reads {os.path.basename(capture)}", r.stderr.decode())
    return [line.split("\t") for line in r.stdout.decode("utf-8").splitlines()]


def group_capture():
    if shutil.which("tshark") is None:
        t.check(False, "tshark is installed (scripts/setup-deps.sh installs it)")
        return
    # An update with a wrong checksum echo of the second page: both modes, both
    # directions, a wrong echo.
    sim = t.Sim("capture", "--boot-fault", "data:wrong:12:2")
    capture = t.path("update.pcapng")
    r = t.tq73("--port", sim.link, "--capture", capture, "update", t.SAMPLE)
    sim.stop()
    t.check(r.returncode == 7, "the update with a wrong echo fails (exit 7)", t.text(r))
    rows = fields(capture, "tq7300.direction", "tq7300.mode", "tq7300.command", "tq7300.accepted",
                  "tq7300.sound", "tq7300.right", "tq7300.text")
    texts = [row[-1] for row in rows]
    t.check(rows[0][:5] == ["0", "0", "0x70", "", "1"], "tshark: the model request's fields", rows[:1])
    t.check(rows[1][:5] == ["1", "0", "", "1", "1"], "tshark: the answer's fields", rows[1:2])
    t.check(["0", "1"] == [rows[2][0], rows[2][1]] and texts[2] == "block erase code 0x0A (0x3000-0x33FF)",
            "tshark: the first boot step", rows[2:3])
    image = t.load_mot(t.SAMPLE)
    pages = [a for a in range(0, 0x10000, 128) if any(b != 0xFF for b in image[a:a + 128])
             and any(s <= a < s + n for s, n, _ in t.BOOT_BLOCKS)]
    want = "data sum echo 0x12, want 0x%02X: wrong" % (sum(image[pages[1]:pages[1] + 128]) & 0xFF)
    wrong = [row for row in rows if row[5] == "0"]
    t.check(len(wrong) == 1 and wrong[0][-1] == want, "tshark: the wrong echo", wrong)
    t.check(texts[-1] == "end 0xFF: back to the application (no reply)", "tshark: the closing byte", texts[-3:])
    ours = [x.split(" (+")[0] for x in decoded_lines(decode(capture))]
    t.check(ours == texts, "tq73 decode of the capture says what the dissector says", f"{ours} vs {texts}")

    # Every request tq73 sends, with an answer of each kind: the dissector and
    # tq73 decode agree packet by packet.
    src = t.write_file("chunk.bin", bytes(range(32)))
    runs = [("stop", [], ["stop"]), ("resume refused", ["--fault", "61:refuse"], ["resume"]),
            ("request62", [], ["request62"]), ("clock set", [], ["clock", "set"]), ("clock get", [], ["clock", "get"]),
            ("read, a bad checksum", ["--fault", "50.04:badsum"], ["read", "3000h", "10h", t.path("r.bin")]),
            ("read, a cut answer", ["--fault", "50.04:cut"], ["read", "3000h", "100h", t.path("r.bin")]),
            ("erase", [], ["erase", "3000h", "100h"]), ("write", [], ["write", "30F0h", src]),
            ("param", [], ["param", "1", "AB", "C"]), ("pattern", [], ["pattern", "--seconds", "1"])]
    for name, faults, command in runs:
        sim = t.Sim("each", *faults)
        capture = t.path("each.pcapng")
        t.tq73("--port", sim.link, "--capture", capture, *command)
        sim.stop()
        theirs = [row[0] for row in fields(capture, "tq7300.text")]
        ours = [x.split(" (+")[0] for x in decoded_lines(decode(capture))]
        t.check(ours == theirs and len(ours) >= 2, f"{name}: the dissector and tq73 decode agree", f"{ours} vs {theirs}")

    # A target tq73 must not write: nothing is sent, nothing written.
    os.symlink(t.path("elsewhere.pcapng"), t.path("link.pcapng"))
    ro = t.write_file("ro.pcapng", b"keep")
    os.chmod(ro, 0o444)
    for name, target in [("a symbolic link", t.path("link.pcapng")), ("a folder", t.WORK), ("a read-only file", ro),
                         ("a FIFO", t.path("fifo.pcapng"))]:
        if name == "a FIFO":
            os.mkfifo(target)
        sim = t.Sim("refused", "--model", "p")
        r = t.tq73("--port", sim.link, "--capture", target, "resume")
        sim.stop()
        t.check(r.returncode == 6 and sim.received() == b"", f"--capture onto {name}: exit 6, nothing sent", t.text(r))
    t.check(not os.path.exists(t.path("elsewhere.pcapng")) and t.read_file(ro) == b"keep",
            "--capture wrote through no link and left the read-only file")


GROUPS = {"decode": group_decode, "capture": group_capture}

if __name__ == "__main__":
    GROUPS[sys.argv[1]]()
    print(f"{len(t.FAILURES)} failed; files kept in {t.WORK}" if t.FAILURES else "all passed")
    if not t.FAILURES:
        shutil.rmtree(t.WORK, ignore_errors=True)
    sys.exit(1 if t.FAILURES else 0)
