#!/usr/bin/env python3
"""The head pose on the device clock, measured on a real emulator:

- real clock: a 10 s shake at 50 readings a second (ten shakes in a row).
  Every reading must arrive; their lateness (arrival against the k/50 s
  schedule, the earliest taken as on time; also when the emulator's record
  says it sent them) beside the lateness of a plain
  50 Hz sleep loop of this script in the same run (the machine's own
  jitter), and the emulator's processor time beside the same 10 s idle.
- manual clock: the same gestures on two fresh emulators must give the
  agent identical bytes.

    pose_bench.py [--json FILE] ZELVO_EMULATOR

Exits 1 when a reading is missing, the lateness p99 is over 5 ms, the
shake takes more than 0.05 of a core, or the two manual runs differ; 2 on
errors.
"""
from __future__ import annotations

import argparse
import hashlib
import json
import os
import socket
import struct
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "clients" / "python"))
from zelvo import Emulator, ZelvoError  # noqa: E402

RATE = 50
SHAKES = 10
PERIOD = 1.0 / RATE
LATENESS_TARGET_MS = 5.0
CPU_TARGET = 0.05
GESTURES = [("nod", 2), ("shake", 1), ("tilt-left", 1), ("tilt-right", 1), ("look-up", 1), ("look-down", 1)]


class Listener:
    """A raw agent connection stamping each frame as it arrives."""

    def __init__(self, port: int) -> None:
        self.socket = socket.create_connection(("127.0.0.1", port))
        self.frames: list[tuple[float, bytes]] = []
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self) -> None:
        buffer = bytearray()
        while True:
            try:
                chunk = self.socket.recv(65536)
            except OSError:
                return
            if not chunk:
                return
            now = time.monotonic()
            buffer += chunk
            while len(buffer) >= 4:
                (length,) = struct.unpack_from(">I", buffer)
                if len(buffer) < 4 + length:
                    break
                self.frames.append((now, bytes(buffer[4:4 + length])))
                del buffer[:4 + length]

    def wait_for(self, count: int, seconds: float) -> None:
        deadline = time.monotonic() + seconds
        while len(self.frames) < count and time.monotonic() < deadline:
            time.sleep(0.01)

    def close(self) -> None:
        self.socket.close()
        self.thread.join(5)


def processor_seconds(pid: int) -> float:
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def percentile(values: list[float], share: float) -> float:
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def lateness(arrivals: list[float]) -> list[float]:
    """Milliseconds behind the k/rate schedule, the earliest on time."""
    offsets = [arrival - k * PERIOD for k, arrival in enumerate(arrivals)]
    start = min(offsets)
    return [(offset - start) * 1000 for offset in offsets]


def sleep_loop_lateness(seconds: float) -> list[float]:
    start = time.monotonic()
    arrivals = []
    for k in range(int(seconds * RATE)):
        time.sleep(max(0.0, start + k * PERIOD - time.monotonic()))
        arrivals.append(time.monotonic())
    return lateness(arrivals)


def served(emulator: Emulator) -> None:
    deadline = time.monotonic() + 10
    while emulator.control.state()["agents"] < 1:
        if time.monotonic() > deadline:
            raise ZelvoError("the agent was not served")
        time.sleep(0.01)


def real_clock(program: str) -> dict:
    with Emulator(program=program) as emulator:
        listener = Listener(emulator.ports.agent)
        served(emulator)
        pid = emulator.process.pid
        seconds = SHAKES * 1.0

        before = processor_seconds(pid)
        baseline = sleep_loop_lateness(seconds)
        idle_cores = (processor_seconds(pid) - before) / seconds

        before = processor_seconds(pid)
        started = time.monotonic()
        answer = emulator.control.gesture("shake", times=SHAKES)
        elapsed = time.monotonic() - started
        shake_cores = (processor_seconds(pid) - before) / elapsed
        expected = int(seconds * RATE) * 2
        listener.wait_for(expected, 5)
        listener.close()
        compass = [arrival for arrival, frame in listener.frames if json.loads(frame)["data"]["type"] == 32]
        late = lateness(compass)
        # When the emulator sent them, on its own clock: what of the
        # lateness is the emulator's, not the way to this script.
        records, _ = emulator.control.log()
        sent = lateness([record["time"] / 1000 for record in records
                         if record.get("source") == "pose" and record["eventType"] == 32])
        return {"completed": answer["completed"], "expected": expected, "received": len(listener.frames),
                "lateness_p50_ms": percentile(late, 0.5), "lateness_p99_ms": percentile(late, 0.99),
                "lateness_max_ms": max(late), "sent_p99_ms": percentile(sent, 0.99),
                "sleep_loop_p99_ms": percentile(baseline, 0.99),
                "shake_cores": shake_cores, "idle_cores": idle_cores}


def manual_bytes(program: str) -> tuple[str, int]:
    with Emulator(program=program, arguments=["--clock", "manual"]) as emulator:
        listener = Listener(emulator.ports.agent)
        served(emulator)
        control = emulator.control
        control.pose(yaw=10, pitch=5, roll=-3)
        control.pose(yaw=200, pitch=-15, roll=10, over_ms=1500)
        for name, times in GESTURES:
            control.gesture(name, times=times)
        control.pose_rate(100)
        control.gesture("shake")
        expected = 2 + 2 * (75 + 50 * (0.8 * 2 + 5)) + 2 * 100
        listener.wait_for(int(expected), 10)
        listener.close()
        data = b"".join(frame for _, frame in listener.frames)
        return hashlib.sha256(data).hexdigest(), len(listener.frames)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("emulator")
    parser.add_argument("--json")
    args = parser.parse_args()
    try:
        real = real_clock(args.emulator)
        first, second = manual_bytes(args.emulator), manual_bytes(args.emulator)
    except ZelvoError as error:
        print(f"pose_bench: {error}", file=sys.stderr)
        return 2
    print(f"real clock, {SHAKES} s shake at {RATE}/s: {real['received']} of {real['expected']} readings")
    print(f"  lateness p50 {real['lateness_p50_ms']:.2f} ms, p99 {real['lateness_p99_ms']:.2f} ms, "
          f"max {real['lateness_max_ms']:.2f} ms; sleep loop p99 {real['sleep_loop_p99_ms']:.2f} ms "
          f"(ratio {real['lateness_p99_ms'] / max(real['sleep_loop_p99_ms'], 0.001):.2f}); "
          f"sent by the emulator's clock p99 {real['sent_p99_ms']:.2f} ms")
    print(f"  processor: {real['shake_cores']:.4f} core shaking, {real['idle_cores']:.4f} idle "
          f"(ratio {real['shake_cores'] / max(real['idle_cores'], 0.0001):.1f})")
    print(f"manual clock, two runs: {first[1]} and {second[1]} frames, sha256 {first[0][:16]} and "
          f"{second[0][:16]}: {'identical' if first == second else 'DIFFERENT'}")
    if args.json:
        Path(args.json).write_text(json.dumps({"real": real, "manual": [first, second]}, indent=2))
    good = (real["received"] == real["expected"] and real["completed"]
            and real["lateness_p99_ms"] <= LATENESS_TARGET_MS and real["shake_cores"] <= CPU_TARGET
            and first == second)
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
