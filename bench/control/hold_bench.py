#!/usr/bin/env python3
"""Large inputs against a responsive loop: an agent shows texts of 1, 16
and 60 MiB, a control client asks `screen` of each, and traces of 64 MiB
and of 600,000 pose lines are played. A second control client, in a
process of its own, asks `state` every 5 ms meanwhile; its slowest answer
during a case is the longest the emulator's loop was held by it. Beside
it, the floor: the slowest answer over the same number of probes with
nothing else to do, in the same run (on two shared cores mostly the time
the busy machine lets pass before the emulator runs at all). The machine's
load average is printed with the figures.

    hold_bench.py [--json FILE] ZELVO_EMULATOR

Exits 1 when a target is missed, 2 on errors.
"""
from __future__ import annotations

import argparse
import json
import multiprocessing
import os
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "clients" / "python"))
from zelvo import Control, Emulator  # noqa: E402

HELD_TARGET_MS = 20.0
MIB = 1024 * 1024
# Each case lasts at least this many probes after its work has answered,
# so that a hold that begins after the answer is seen too.
SETTLE_PROBES = 20


def probe_loop(port: int, token: str, held, answered, probing) -> None:
    with Control(port, token, timeout=600) as probe:
        probing.set()
        while probing.is_set():
            start = time.monotonic()
            probe.state()
            with held.get_lock():
                held.value = max(held.value, time.monotonic() - start)
                answered.value += 1
            time.sleep(0.005)


class Prober:
    """The probing client and the slowest answer since the last reset."""

    def __init__(self, port: int, token: str) -> None:
        self.held = multiprocessing.Value("d", 0.0)
        self.answered = multiprocessing.Value("i", 0)
        self.probing = multiprocessing.Event()
        self.process = multiprocessing.Process(target=probe_loop,
                                               args=(port, token, self.held, self.answered, self.probing))
        self.process.start()
        self.probing.wait(30)

    def reset(self) -> None:
        with self.held.get_lock():
            self.held.value = 0.0

    def settle(self, probes: int = SETTLE_PROBES) -> float:
        """Waits for that many more answers; the slowest since the reset, in ms."""
        wanted = self.answered.value + probes
        deadline = time.monotonic() + 600
        while self.answered.value < wanted and time.monotonic() < deadline:
            time.sleep(0.005)
        return self.held.value * 1000

    def stop(self) -> None:
        self.probing.clear()
        self.process.join(30)


def words(size: int) -> str:
    line = "The weather in the mountains turns at noon; bring a coat. "
    return (line * (size // len(line) + 1))[:size]


def write_trace(path: Path, size: int) -> None:
    with open(path, "w") as trace:
        trace.write("milliseconds,sensor,v0,v1,v2\n")
        written, millis = 0, 0
        while written < size:
            line = f"{millis},compass,{millis % 360}.25,0.5,0.125\n{millis},light,{millis % 100}\n"
            trace.write(line)
            written += len(line)
            millis += 20


def write_pose_trace(path: Path, lines: int) -> None:
    with open(path, "w") as trace:
        trace.write("milliseconds,sensor,v0,v1,v2\n")
        trace.writelines(f"{i * 20},pose,{i % 360},{(i % 60) - 30},{(i % 20) - 10}\n" for i in range(lines))


def run(program: str, folder: Path) -> list[dict]:
    figures = []
    with Emulator(program) as emulator:
        token = emulator.ports.token_file.read_text().strip()
        control = Control(emulator.ports.control, token, timeout=600)
        agent = emulator.agent("hold")
        agent.timing(0, 3600 * 1000)
        control.state()
        prober = Prober(emulator.ports.control, token)
        prober.reset()
        floor = prober.settle(200)

        def figure(name: str, held: float) -> None:
            figures.append({"name": f"{name}: loop held at most (ms)", "value": round(held, 1),
                            "floor_name": "idle loop", "floor": round(floor, 1),
                            "target": f"value <= {HELD_TARGET_MS:g}"})

        for content_id, mib in enumerate((1, 16, 60), start=1):
            prober.reset()
            agent.content(0, texts=[words(mib * MIB)], content_id=content_id)
            control.wait_content("hold", content_id, timeout=600)
            figure(f"text of {mib} MiB", prober.settle())
            prober.reset()
            control.screen()
            figure(f"screen of the {mib} MiB text", prober.settle())

        for name, path, write in (("trace of 64 MiB", folder / "large.csv", lambda p: write_trace(p, 64 * MIB - 4096)),
                                  ("trace of 600,000 pose lines", folder / "pose.csv",
                                   lambda p: write_pose_trace(p, 600_000))):
            write(path)
            prober.reset()
            control.trace(path)
            control.stop_trace()
            figure(name, prober.settle())
            path.unlink()
        prober.stop()
        control.close()
    return figures


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", type=Path, help="also write the figures to this file")
    parser.add_argument("program")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="zelvo-hold-") as folder:
        before = os.getloadavg()[0]
        figures = run(args.program, Path(folder))
        after = os.getloadavg()[0]
    figures.append({"name": "machine load average, before / after", "value": f"{before:.2f} / {after:.2f}",
                    "floor_name": "cores", "floor": os.cpu_count(), "target": "none"})
    for figure in figures:
        print(f"{figure['name']:<50} {figure['value']:>12}   {figure['floor_name']}: {figure['floor']:>6}"
              f"   target {figure['target']}")
    if args.json:
        args.json.write_text(json.dumps({"figures": figures}, indent=2) + "\n")
    missed = [f for f in figures if f["target"] != "none" and f["value"] > HELD_TARGET_MS]
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
