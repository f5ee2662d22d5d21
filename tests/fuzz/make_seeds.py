#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into tests/fuzz/corpus/.

The seeds are small and meaningful: lines of the sample firmware file, valid
frames of both kinds (requests to the device, answers from it), numbers as an
operator types them, command lines with quotes, CP932 texts. Run it again
after changing it; the files it writes are committed.
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
OUT = os.path.join(HERE, "corpus")


def frame(cmd, payload=b""):
    body = bytes([0x02, cmd]) + struct.pack("<H", len(payload)) + payload + b"\x03"
    return body + bytes([sum(body) & 0xFF, 0x0D])


def cp932(text):
    return text.encode("cp932")


def write(target, name, data):
    d = os.path.join(OUT, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def image_loader():
    with open(os.path.join(ROOT, "firmware", "samples", "tq1-sample.mot"), "rb") as f:
        sample = f.read()
    lines = sample.split(b"\r\n")
    write("image_loader", "sample_head", b"\r\n".join(lines[:4]) + b"\r\nS9033000CC\r\n")
    lf = b"\n".join(lines[:3] + [b"S9033000CC"]) + b"\n"
    write("image_loader", "lf_only", lf)
    write("image_loader", "cr_only", lf.replace(b"\n", b"\r"))
    write("image_loader", "lf_cr", lf.replace(b"\n", b"\n\r"))
    write("image_loader", "no_last_line_end", b"TQ2\r\nS10730001122334400\r\nS9030000FC")
    write("image_loader", "s2_and_model_after_end",
          b"S2080000A000112233FF\r\nS804000000FB\r\nTQ3\r\n")
    write("image_loader", "intel_line_skipped", b"TQ1\r\n:10300000\r\nS1053000AA00\r\nS9030000FC\r\n")
    write("image_loader", "blank_line_ends", b"TQ1\r\n\r\n\r\nS9030000FC\r\n")
    write("image_loader", "bad_model", b"TQ5\r\nS9030000FC\r\n")
    write("image_loader", "long_line", b"S1" + b"FF" * 70 + b"\r\nS9030000FC\r\n")


def receiver():
    ok = frame(0x30)
    clock = frame(0x30, bytes([0x10, 0x20, 0x12, 0x34, 0x56, 0x02]))
    read = frame(0x30, bytes(range(64)))
    refused = frame(0x31)

    def chunks(*parts):  # (gap ms, bytes)
        out = b""
        for gap, data in parts:
            for i in range(0, max(len(data), 1), 255):
                piece = data[i:i + 255]
                out += bytes([gap if i == 0 else 0, len(piece)]) + piece
        return out

    seeds = {
        "answer": (0, chunks((5, ok))),
        "answers_in_one_burst": (0, chunks((5, ok + clock))),
        "split_answer": (0, chunks((5, read[:20]), (30, read[20:]))),
        "junk_then_answer": (2, chunks((5, b"\x5a\xa5"), (150, refused))),
        "bad_checksum": (4, chunks((5, ok[:5] + b"\x00\x0d"))),
        "oversize": (0, chunks((5, b"\x02\x30\x58\x02" + bytes(600) + b"\x03\x00\x0d"), (20, ok))),
        "notice_armed": (8, chunks((1, clock), (250, ok))),
        "raw_boot_replies": (1, chunks((5, b"\xaa"), (3, b"\x80\x00"), (40, b"\x5e"), (2, b"\x00"))),
        "raw_burst": (3, chunks((5, bytes(range(40))))),
    }
    for target in ("receiver_level", "receiver_edge"):
        for name, (flags, body) in seeds.items():
            write(target, name, bytes([flags]) + body)


def number_text():
    for i, text in enumerate([b"4096", b"1000h", b"0", b"ffh", b"FFFFFFFFh", b"-1", b" 12", b"3000h",
                              b"4294967295", b"0x10h", b"h", b"12abch", b"99999999999"]):
        write("number_text", "n%02d" % i, text)
    write("number_text", "roundtrip", struct.pack("<I", 0xE200) + b"\x03")


def command_line():
    lines = {
        "quoted_program": (255, b'"C:\\Program Files\\TQ\\tq73panel.exe" enc73.mot'),
        "quoted_tail": (255, b'tq73panel.exe  "C:\\fw\\tq1 sample.mot"  '),
        "program_only": (255, b"tq73panel.exe"),
        "unterminated_quote": (255, b'"C:\\tq73panel.exe enc73.mot'),
        "tabs": (255, b"tq73panel.exe\t\t fw.mot"),
        "cp932_path": (255, b"tq73panel.exe " + cp932("C:\\ファーム\\更新.mot")),
        "cp932_cut": (9, b"x " + cp932("更新完了です")),
        "cp932_long": (0xFF, b"x " + cp932("表") * 160),
    }
    for name, (cap, text) in lines.items():
        write("command_line", name, bytes([cap]) + text)


def param_block():
    def seed(a, b):
        return bytes([len(a)]) + a + b
    write("param_block", "ascii", seed(b"TQ7300", b"line 2"))
    write("param_block", "cp932", seed(cp932("設定値"), cp932("機種名")))
    write("param_block", "empty", seed(b"", b""))
    write("param_block", "long", seed(b"A" * 200, b"B" * 200))
    write("param_block", "full_buffers", seed(b"C" * 255, b"D" * 300))


def sim_request():
    def chunks(*parts):  # (control, bytes)
        out = b""
        for control, data in parts:
            out += bytes([control, len(data)]) + data
        return out

    p = lambda sub, addr, rest=b"": frame(0x50, bytes([sub]) + struct.pack("<I", addr)[:3] + rest)
    page = bytes(range(128))
    seeds = {
        "stop_resume": (0, chunks((2, frame(0x61)), (3, frame(0x62)))),
        "clock": (0, chunks((2, frame(0x20, bytes([0x10, 0x20, 0x12, 0x34, 0x56]))), (3, frame(0x21)))),
        "flash_read_write": (0, chunks((2, p(0x84, 0x3000, b"\x11\x22\x33")), (3, p(0x04, 0x3000, b"\x03\x00")))),
        "erase_pattern_query": (0, chunks((2, p(0x44, 0xE200, b"\x00\x01") + p(0x83, 0, b"\x01\x02")),
                                          (3, p(0x02, 0, b"\x10\x00")))),
        "noise_then_request": (0, chunks((1, b"\x5c\x02\x61\xff"), (0, frame(0x61)))),
        "model_then_boot": (0, chunks((2, frame(0x70)), (2, b"E\x0a\x0a"), (2, b"W\x00\x30"),
                                      (0, page), (2, b"U\xff"))),
        "boot_start": (4, chunks((2, b"W\x80\xa0" + page[:100]), (1, b""), (2, b"\xff"))),
        "refused_model": (1, chunks((2, frame(0x70)), (2, frame(0x71)))),
        "fault_split": (6 << 3, chunks((2, frame(0x61)))),
    }
    for name, (setup, body) in seeds.items():
        fault_command = 0x61 if setup >> 3 else 0
        write("sim_request", name, bytes([setup, fault_command]) + body)


if __name__ == "__main__":
    shutil.rmtree(OUT, ignore_errors=True)
    image_loader()
    receiver()
    number_text()
    command_line()
    param_block()
    sim_request()
