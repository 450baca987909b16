#!/usr/bin/env python3
"""Six tests of a small agent, written on the `zelvo` package as an agent
developer would write them, run three ways against one headless emulator:
on the real clock (waiting for the emulator's timers), on the manual clock
(advancing it instead), and with every wait removed (the timer's effect
caused at once instead: single readings for the simulation, no advance),
which is the tests' own work. Prints each way's time beside the others.

    clock_bench.py [--json FILE] [--runs N] ZELVO_EMULATOR

Exits 1 when the manual clock is not 20 times faster than the real one or
takes more than 1.5 times the tests' work, 2 on errors.
"""
from __future__ import annotations

import argparse
import json
import statistics
import sys
import time
from pathlib import Path
from typing import Callable

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "clients" / "python"))
from zelvo import Emulator, Gesture, Kind, ZelvoError, ZelvoRefused  # noqa: E402

SPEEDUP_TARGET = 20.0
WORK_TARGET = 1.5
APP = "bench-agent"


class Run:
    """What one test needs: the emulator, a fresh agent, and how time passes."""

    def __init__(self, emulator: Emulator, way: str) -> None:
        self.way = way
        self.control = emulator.control
        self.control.reset()
        if way == "real":
            self.control.clock_resume()
        else:
            self.control.clock_pause()
        emulator.close_agents()
        self.agent = emulator.agent(APP)
        while self.control.state()["agents"] < 1:
            time.sleep(0.002)

    def elapse(self, ms: int, real_wait: Callable[[], None]) -> None:
        """Lets ms of device time pass: waits for it in real time, advances
        the manual clock, or does neither when waits are removed."""
        if self.way == "real":
            real_wait()
        elif self.way == "manual":
            self.control.clock_advance(ms)

    def until(self, condition: Callable[[], bool], seconds: float) -> None:
        deadline = time.monotonic() + seconds
        while not condition():
            if time.monotonic() > deadline:
                raise ZelvoError("the condition did not come in time")
            time.sleep(0.005)

    def show(self, content_id: int) -> None:
        self.agent.content(0, texts=["hello"], content_id=content_id)


def content_drawn(run: Run) -> None:
    run.show(1)
    assert run.control.wait_content(APP, 1)["outcome"] == "drawn"


def click(run: Run) -> None:
    run.control.click("plus")
    gestures = [event.gesture for event in run.agent.events(Kind.BUTTON, count=3)]
    assert gestures == [Gesture.PRESSED, Gesture.RELEASED, Gesture.CLICKED]


def long_press(run: Run) -> None:
    if run.way == "floor":
        run.control.press("plus")
        run.control.release("plus")
        assert len(run.agent.events(Kind.BUTTON, count=3)) == 3
        return
    run.control.long_press("plus")
    gestures = [event.gesture for event in run.agent.events(Kind.BUTTON, count=4)]
    assert Gesture.LONG_PRESSED in gestures


def removed_at_maximum(run: Run) -> None:
    run.show(1)
    run.control.wait_content(APP, 1)
    run.elapse(6000, lambda: run.until(lambda: not run.control.state()["contentShown"], 10))
    if run.way != "floor":
        assert not run.control.state()["contentShown"]


def minimum_skips_second(run: Run) -> None:
    run.show(1)
    run.control.wait_content(APP, 1)
    run.show(2)
    try:
        run.control.wait_content(APP, 2)
        skipped = False
    except ZelvoRefused:
        skipped = True
    assert skipped
    run.elapse(4000, lambda: run.until(lambda: not run.control.state()["minPersistingTimer"], 10))
    if run.way != "floor":
        run.show(3)
        run.control.wait_content(APP, 3)


def compass_every_two_seconds(run: Run) -> None:
    if run.way == "floor":
        for _ in range(3):
            run.control.sensor("compass", 1, 2, 3)
    else:
        run.control.simulate("compass")
        run.elapse(6000, lambda: None)
    assert len(run.agent.events(Kind.COMPASS, count=3, timeout=10)) == 3


TESTS = [content_drawn, click, long_press, removed_at_maximum, minimum_skips_second, compass_every_two_seconds]


def six_tests(emulator: Emulator, way: str) -> float:
    start = time.perf_counter()
    for test in TESTS:
        test(Run(emulator, way))
    return time.perf_counter() - start


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", type=Path, help="also write the figures to this file")
    parser.add_argument("--runs", type=int, default=5, help="runs of the fast ways, their median counts")
    parser.add_argument("emulator")
    args = parser.parse_args()
    try:
        with Emulator(program=args.emulator) as emulator:
            six_tests(emulator, "manual")
            real = six_tests(emulator, "real")
            manual = statistics.median(six_tests(emulator, "manual") for _ in range(args.runs))
            floor = statistics.median(six_tests(emulator, "floor") for _ in range(args.runs))
    except (ZelvoError, AssertionError) as error:
        print(f"clock_bench: {error!r}", file=sys.stderr)
        return 2
    speedup = real / manual
    work = manual / floor
    fast = speedup >= SPEEDUP_TARGET
    lean = work <= WORK_TARGET
    print(f"six tests, real clock:   {real * 1000:9.1f} ms")
    print(f"six tests, manual clock: {manual * 1000:9.1f} ms  ({speedup:.0f} times faster, target >= {SPEEDUP_TARGET:g})")
    print(f"six tests, no waits:     {floor * 1000:9.1f} ms  (manual / this = {work:.2f}, target <= {WORK_TARGET:g})")
    figures = [
        {"name": "six agent tests, real clock (ms)", "value": round(real * 1000, 1),
         "floor_name": "same, manual clock", "floor": round(manual * 1000, 1),
         "target": f">= {SPEEDUP_TARGET:g} ({'ok' if fast else 'MISSED'})"},
        {"name": "six agent tests, manual clock (ms)", "value": round(manual * 1000, 1),
         "floor_name": "same, every wait removed", "floor": round(floor * 1000, 1),
         "target": f"<= {WORK_TARGET:g} ({'ok' if lean else 'MISSED'})"},
    ]
    if args.json:
        args.json.write_text(json.dumps({"figures": figures}, indent=2) + "\n")
    return 0 if fast and lean else 1


if __name__ == "__main__":
    sys.exit(main())
