#!/usr/bin/env python3
"""Writes a firmware file that fills every block the update programs (192 pages of
128 bytes: 0x3000-0x3FFF, 0xA000-0xEFFF), for demonstrations and tests of a full
update. Same layout as the sample: an S0 header, the model line, S1 records of 16
data bytes, S9. Usage: make_full_image.py OUT [MODEL] (MODEL default TQ1)."""
import sys

BLOCKS = [(0x3000, 0x1000), (0xA000, 0x5000)]


def record(kind, address, data):
    body = bytes([len(data) + 3, address >> 8, address & 0xFF]) + bytes(data)
    checksum = (~sum(body)) & 0xFF
    return "S%d%s%02X" % (kind, body.hex().upper(), checksum)


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    model = sys.argv[2] if len(sys.argv) == 3 else "TQ1"
    lines = [record(0, 0, b"TQ7300 FULL IMAGE"), model]
    for start, size in BLOCKS:
        for address in range(start, start + size, 16):
            # Never a whole page of FF: every page is programmed.
            lines.append(record(1, address, [(address + i * 7 + (address >> 8)) & 0x7F for i in range(16)]))
    lines.append(record(9, 0, b""))
    with open(sys.argv[1], "w", newline="\r\n") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
