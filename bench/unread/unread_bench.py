#!/usr/bin/env python3
"""Agents that never read: 200 agents connect and read nothing while a
control client sends sensor readings in batches of 100 requests, each
reading going to every agent. A second control client, in a process of
its own, asks `state` every 10 ms meanwhile; its slowest answer is the
longest the emulator's loop was held. Beside it, the floor: the same with
200 agents that read everything, which on two cores is mostly the time the
busy machine lets pass before the emulator runs at all.
Then the agents leave, and the emulator's memory is compared with before
they came.

Then agents that send too much: 1, 4, 8 and 16 connections at once each
send one frame of two large PNG pictures (62 MB) and end; the picture
store, two threads decoding and encoding each picture again, falls behind.
Once every frame has taken effect, the emulator's peak memory (the kernel's
high-water mark, which no sampling misses) is set beside its idle memory
plus the bound of what all inboxes hold (256 MiB) and one picture's
decoding: flat past it, where each connection held a whole frame and its
decoding (about 190 MB each).

    unread_bench.py [--json FILE] [--batches N] [--agents N] [--parts unread,inboxes] ZELVO_EMULATOR

Exits 1 when a target is missed, 2 on errors.
"""
from __future__ import annotations

import argparse
import base64
import json
import multiprocessing
import os
import socket
import struct
import sys
import threading
import time
import zlib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "clients" / "python"))
from zelvo import Control, Emulator  # noqa: E402

HELD_TARGET_MS = 20.0
MEMORY_TARGET_MB = 5.0
BATCH = 100
INBOX_BOUND_MB = 256.0
# What one picture's decoding takes beyond the inboxes' bound: its PNG
# bytes, its pixels and its PNG encoded again (2400 x 2400: 23 MB each),
# with the agents' sockets' read-ahead.
PICTURES_MB = 90.0


def rss_mb(pid: int, field: str = "VmRSS") -> float:
    """Resident now, or with VmHWM the most it ever was (the kernel's mark)."""
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1]) / 1024
    return 0.0


def drain(sockets: list[socket.socket], stop: threading.Event) -> None:
    for agent in sockets:
        agent.setblocking(False)
    while not stop.is_set():
        for agent in sockets:
            try:
                while agent.recv(65536):
                    pass
            except BlockingIOError:
                pass
        time.sleep(0.001)


def probe_loop(port: int, token: str, held, probing) -> None:
    with Control(port, token) as probe:
        probing.set()
        while probing.is_set():
            start = time.monotonic()
            probe.state()
            held.value = max(held.value, time.monotonic() - start)
            time.sleep(0.01)


def attack(program: str, agents: int, batches: int, reading: bool) -> dict:
    with Emulator(program) as emulator:
        token = emulator.ports.token_file.read_text().strip()
        probe = Control(emulator.ports.control, token)
        attacker = Control(emulator.ports.control, token)
        pid = emulator.process.pid
        probe.state()
        before = rss_mb(pid)
        sockets = []
        for _ in range(agents):
            agent = socket.create_connection(("127.0.0.1", emulator.ports.agent))
            agent.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            sockets.append(agent)
        stop = threading.Event()
        reader = threading.Thread(target=drain, args=(sockets, stop)) if reading else None
        if reader:
            reader.start()
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and probe.link().get("agents", 0) < agents:
            time.sleep(0.05)
        # A process of its own, so that the attacker's and the readers'
        # Python never delays the probe's answers.
        held = multiprocessing.Value("d", 0.0)
        probing = multiprocessing.Event()
        prober = multiprocessing.Process(target=probe_loop,
                                         args=(emulator.ports.control, token, held, probing))
        prober.start()
        probing.wait(30)
        start = time.monotonic()
        answered = 0
        for batch in range(batches):
            attacker._socket.sendall(b"".join(
                json.dumps({"id": batch * BATCH + i, "cmd": "sensor", "sensor": "compass",
                            "values": [1, 2, 3]}).encode() + b"\n" for i in range(BATCH)))
            while answered < BATCH * (batch + 1):
                if not attacker._lines.readline():
                    raise RuntimeError("the emulator closed the attacker's connection")
                answered += 1
        took = time.monotonic() - start
        peak = rss_mb(pid)
        stop.set()
        probing.clear()
        prober.join()
        if reader:
            reader.join()
        for agent in sockets:
            agent.close()
        # The emulator has seen every agent leave once state says none is there.
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and probe.link().get("agents", 0):
            time.sleep(0.1)
        time.sleep(0.5)
        probe.state()
        after = rss_mb(pid)
        probe.close()
        attacker.close()
        return {"held_ms": held.value * 1000, "seconds": took, "before": before, "peak": peak, "after": after}


def png(width: int, height: int) -> bytes:
    """A picture that compresses to nothing: as large as its pixels."""
    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + os.urandom(width * 4) for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 0)) + chunk(b"IEND", b""))


def flood(program: str, connections: int, frame: bytes) -> dict:
    with Emulator(program) as emulator:
        pid = emulator.process.pid
        token = emulator.ports.token_file.read_text().strip()
        with Control(emulator.ports.control, token) as probe:
            probe.state()
            idle = rss_mb(pid)
            sent = threading.Barrier(connections + 1)

            def agent() -> None:
                with socket.create_connection(("127.0.0.1", emulator.ports.agent)) as link:
                    sent.wait()
                    link.sendall(frame)
                    link.shutdown(socket.SHUT_WR)
                    while link.recv(65536):
                        pass

            agents = [threading.Thread(target=agent) for _ in range(connections)]
            for each in agents:
                each.start()
            sent.wait()
            for each in agents:
                each.join()
            # The emulator closes at the agent's end of sending; its frame
            # takes effect later, once its pictures are stored.
            deadline = time.monotonic() + 300
            while time.monotonic() < deadline and configured(probe) < connections:
                time.sleep(0.2)
            if configured(probe) < connections:
                raise RuntimeError("not every configuration took effect")
            return {"idle": idle, "peak": rss_mb(pid, "VmHWM")}


def configured(probe: Control) -> int:
    records, _ = probe.log()
    return sum(record.get("kind") == "agent_config" for record in records)


def inboxes(program: str, counts: list[int]) -> list[dict]:
    picture = base64.b64encode(png(2400, 2400)).decode()
    payload = json.dumps({"command.type": "agent_config", "appId": "flood",
                          "images": [picture, picture]}).encode()
    frame = struct.pack(">i", len(payload)) + payload
    figures = []
    for count in counts:
        run = flood(program, count, frame)
        floor = run["idle"] + INBOX_BOUND_MB
        figures.append({"name": f"peak memory, {count} connections of {len(payload) >> 20} MiB frames (MB)",
                        "value": round(run["peak"], 1), "floor_name": "idle + inboxes' bound",
                        "floor": round(floor, 1), "target": f"value <= floor + {PICTURES_MB:g} (a picture)",
                        "missed": run["peak"] > floor + PICTURES_MB})
    return figures


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", type=Path, help="also write the figures to this file")
    parser.add_argument("--agents", type=int, default=200)
    parser.add_argument("--batches", type=int, default=150)
    parser.add_argument("--parts", default="unread,inboxes")
    parser.add_argument("program")
    args = parser.parse_args()
    parts = args.parts.split(",")
    figures = inboxes(args.program, [1, 4, 8, 16]) if "inboxes" in parts else []
    missed = any(figure.pop("missed") for figure in figures)
    if "unread" in parts:
        first, unread_missed = unread(args)
        figures, missed = first + figures, missed or unread_missed
    for figure in figures:
        print(f"{figure['name']:<52} {figure['value']:>8}   {figure['floor_name']}: {figure['floor']:>8}"
              f"   target {figure['target']}")
    if args.json:
        args.json.write_text(json.dumps({"figures": figures}, indent=2) + "\n")
    return 1 if missed else 0


def unread(args) -> tuple[list[dict], bool]:
    reading = attack(args.program, args.agents, args.batches, True)
    unread = attack(args.program, args.agents, args.batches, False)
    grown = unread["after"] - unread["before"]
    figures = [
        {"name": "loop held, agents never read (ms)", "value": round(unread["held_ms"], 1),
         "floor_name": "agents read", "floor": round(reading["held_ms"], 1),
         "target": f"value <= {HELD_TARGET_MS:g}"},
        {"name": f"{args.batches * BATCH} readings sent (s)", "value": round(unread["seconds"], 2),
         "floor_name": "agents read", "floor": round(reading["seconds"], 2), "target": "none"},
        {"name": "memory at the peak (MB)", "value": round(unread["peak"], 1),
         "floor_name": "agents read", "floor": round(reading["peak"], 1), "target": "none"},
        {"name": "memory after they left, grown by (MB)", "value": round(grown, 1),
         "floor_name": "agents read", "floor": round(reading["after"] - reading["before"], 1),
         "target": f"value <= {MEMORY_TARGET_MB:g}"},
    ]
    return figures, unread["held_ms"] > HELD_TARGET_MS or grown > MEMORY_TARGET_MB


if __name__ == "__main__":
    sys.exit(main())
