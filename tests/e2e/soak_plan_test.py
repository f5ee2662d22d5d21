#!/usr/bin/env python3
"""The soak's plan: replayable from its seed, and every fault it plans is one the
simulator takes. Needs TQ_SIM (the simulator); no Wine."""

import os
import random
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import soak  # noqa: E402


def plan(seed, total=300, phase=50):
    return soak.make_plan(random.Random(seed), total, phase)


class Plan(unittest.TestCase):
    def test_the_same_seed_gives_the_same_plan_and_another_seed_another(self):
        self.assertEqual(plan(11), plan(11))
        self.assertNotEqual(plan(11), plan(12))

    def test_phases_split_the_actions_and_the_first_has_no_faults(self):
        cases = [(100, 50, [50, 50]), (1000, 100, [100] * 10), (30, 100, [30]), (101, 50, [50, 50, 1])]
        for total, size, sizes in cases:
            with self.subTest(total=total, size=size):
                phases = soak.make_plan(random.Random(5), total, size)
                self.assertEqual([len(p["actions"]) for p in phases], sizes)
                self.assertEqual(phases[0]["faults"], [])
                for p in phases[1:]:
                    self.assertIn("--fault", p["faults"])

    def test_a_thousand_actions_reach_every_kind_of_action(self):
        kinds = {a["kind"] for p in plan(3, 1000, 100) for a in p["actions"]}
        for kind in ["click.open", "click.farm udt", "click.flash read", "click.param", "settext",
                     "panel.toggle", "restart.console", "click.pattern start", "click.recovery"]:
            self.assertIn(kind, kinds)

    def test_hostile_texts_are_among_the_values(self):
        texts = [a.get("text") for p in plan(8, 1000, 100) for a in p["actions"] if a["kind"] == "settext"]
        self.assertTrue(any(t and len(t) >= 300 for t in texts))
        self.assertTrue(any(t and any(ord(c) > 0x3000 for c in t) for t in texts))
        self.assertIn("", texts)


@unittest.skipUnless(os.environ.get("TQ_SIM"), "TQ_SIM is not set")
class FaultsTheSimulatorTakes(unittest.TestCase):
    def test_every_planned_fault_starts_the_simulator(self):
        faults = [["--fault", f] for f in soak.APP_FAULTS]
        faults += [["--boot-fault", soak.normalise_boot_fault(f)] for f in soak.BOOT_FAULTS]
        with tempfile.TemporaryDirectory() as work:
            for args in faults:
                with self.subTest(args=args):
                    link = os.path.join(work, "com")
                    proc = subprocess.Popen([os.environ["TQ_SIM"], "--link", link] + args,
                                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    try:
                        line = proc.stdout.readline().decode()
                    finally:
                        proc.terminate()
                        _, err = proc.communicate(timeout=10)
                    self.assertTrue(line.startswith("READY "), err.decode())


if __name__ == "__main__":
    unittest.main()
