#!/usr/bin/env python3
"""command_ids.py: the console's control and system-menu command ids, read from shell/command_ids.h.

The scenarios and the soak name the controls as the console's code does (kIdOpen, kIdFlashWrite,
kSysCmdServicePanel, ...), and the header stays the one place that numbers them. soak.py imports
ids(); common.sh runs this file, which prints them as shell assignments (kIdOpen=101).
"""

import os
import re
import types

HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shell", "command_ids.h")

# "kIdOpen = 101," in the enum ControlId, "constexpr unsigned kSysCmdAbout = 0x0130;" below it.
ID_LINE = re.compile(r"^\s*(?:constexpr unsigned )?(k(?:Id|SysCmd)\w+) = (0x[0-9A-Fa-f]+|\d+)[,;]", re.M)


def ids(header=HEADER):
    """The ids by their names in the header, as numbers."""
    with open(header, encoding="utf-8") as f:
        pairs = ID_LINE.findall(f.read())
    if not pairs:
        raise ValueError("no control ids in " + header)
    return types.SimpleNamespace(**{name: int(value, 0) for name, value in pairs})


if __name__ == "__main__":
    for name, value in sorted(vars(ids()).items()):
        print("%s=%d" % (name, value))
