#!/usr/bin/env python3
"""Long display recordings: three headless emulators side by side, each with
an agent that shows new content 30 times a second for ten minutes; one
records the display as an animated PNG, one as a GIF, one does not record.
Prints each one's resident memory at 1, 5 and 10 minutes, the growth from
the first minute to the last beside that of the one not recording, and the
time from SIGTERM to the end of the program, with the recording still
running, beside the same for the one not recording. A recording must end
finished, its file complete; the frames in it are one per display change,
at most one per content sent plus the display at the start (content that
comes faster than the display is drawn shares a frame).

A machine that cannot encode the frames as fast as they come holds them
in the recorder's bounded queue, a whole display each: the frames in the
file at each sample, against the display's changes until then, tell how
many wait (up to the bound; those beyond were left out), and the growth
is judged on memory less their pictures, the queue showing as a figure of
its own. What the one not recording grows by as well (the display's
changes kept for run reports, up to their budget, and the message record)
is no cost of the recording: the target holds the recording's growth
against that one's.

    recording_memory.py [--json FILE] [--minutes M] ZELVO_EMULATOR

Exits 1 when a target is missed, 2 on errors.
"""
from __future__ import annotations

import argparse
import json
import signal
import struct
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Optional

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "clients" / "python"))
from zelvo import Emulator, ZelvoError, ZelvoRefused  # noqa: E402

CONTENT_PER_SECOND = 30
# Minutes at which memory is read, as parts of the whole run.
SAMPLES = (0.1, 0.5, 1.0)
# The recording's growth over that of the one not recording.
GROWTH_TARGET = 1.10
# The pictures the recorder holds at most while frames wait to be encoded
# (ZelvoDisplayRecorder's maxPendingBytes); changes beyond are left out.
QUEUE_BOUND_KB = 64 * 1024
STOP_TARGET_MS = 1000.0


@dataclass
class Run:
    name: str
    recording: Optional[str]
    emulator: Optional[Emulator] = None
    rss_kb: list[int] = field(default_factory=list)
    # Frames waiting to be encoded at each sample.
    waiting: list[int] = field(default_factory=list)
    frame_kb: int = 0
    # From the first sample to the last, less the frames waiting.
    growth: float = 0.0
    sent: int = 0
    stop_ms: float = 0.0
    exit_code: Optional[int] = None
    frames: Optional[int] = None
    file_bytes: int = 0
    complete: bool = True
    error: Optional[str] = None


def rss_kb(pid: int) -> int:
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def apng_frames(data: bytes) -> tuple[int, bool]:
    """The frame count the acTL chunk declares if every fcTL is there, and
    whether the file ends with IEND."""
    at, declared, controls, ended = 8, -1, 0, False
    while at + 12 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"acTL":
            declared = struct.unpack(">I", data[at + 8:at + 12])[0]
        controls += kind == b"fcTL"
        ended = kind == b"IEND"
        at += 12 + length
    return (declared if declared == controls else -1), ended and at == len(data)


def gif_frames(data: bytes) -> tuple[int, bool]:
    """The images of a GIF of one loop block and graphic control blocks
    only, as the emulator writes it, and whether it ends with its trailer."""
    at, frames = 13 + 19, 0
    while at < len(data):
        if data[at] == 0x21:
            at += 2 + 1 + data[at + 2] + 1
        elif data[at] == 0x2C:
            at += 10 + 3 * 256
            at += 1
            while at < len(data) and data[at]:
                at += 1 + data[at]
            at += 1
            frames += 1
        elif data[at] == 0x3B:
            return frames, at == len(data) - 1
        else:
            return -1, False
    return frames, False


def written_frames(path: Path) -> tuple[int, int]:
    """The frames written into a recording still running, and a display's
    kilobytes as the recorder holds it (4 bytes a pixel)."""
    data = path.read_bytes()
    if path.suffix == ".gif":
        width, height = struct.unpack("<HH", data[6:10])
        return max(0, gif_frames(data)[0]), width * height * 4 // 1024
    width, height = struct.unpack(">II", data[16:24])
    # acTL follows IHDR: its frame count is kept up to date after each frame.
    count = struct.unpack(">I", data[41:45])[0] if data[37:41] == b"acTL" else 0
    return count, width * height * 4 // 1024


def drive(run: Run, seconds: float, folder: Path, failures: list[str]) -> None:
    try:
        control = run.emulator.control
        agent = run.emulator.agent("memory")
        # Every content is drawn at once and stays until the next one.
        agent.timing(0, 600000)
        if run.recording:
            control.record_display(folder / run.recording)
        start = time.monotonic()
        samples = [start + seconds * part for part in SAMPLES]
        while True:
            now = time.monotonic()
            if samples and now >= samples[0]:
                run.rss_kb.append(rss_kb(run.emulator.process.pid))
                if run.recording:
                    # The display at the start and one change per content sent.
                    written, run.frame_kb = written_frames(folder / run.recording)
                    run.waiting.append(min(max(0, run.sent + 1 - written), QUEUE_BOUND_KB // run.frame_kb))
                samples.pop(0)
                if not samples:
                    break
            due = start + run.sent / CONTENT_PER_SECOND
            if now < due:
                time.sleep(min(due - now, 0.05))
                continue
            agent.content(0, texts=[f"Recorded for a long time: frame {run.sent}"], content_id=run.sent)
            run.sent += 1
        # What the agent sent is handled before the program is told to stop;
        # the last content may be skipped for the one before.
        try:
            control.wait_content("memory", run.sent - 1, timeout=60)
        except ZelvoRefused:
            pass
    except (ZelvoError, OSError) as error:
        run.error = str(error)
        failures.append(f"{run.name}: {error}")


def stop(run: Run, folder: Path) -> None:
    process = run.emulator.process
    begin = time.monotonic()
    process.send_signal(signal.SIGTERM)
    run.exit_code = process.wait(30)
    run.stop_ms = (time.monotonic() - begin) * 1000
    if run.recording:
        path = folder / run.recording
        data = path.read_bytes() if path.exists() else b""
        run.file_bytes = len(data)
        count, ended = (gif_frames if run.recording.endswith(".gif") else apng_frames)(data)
        run.frames = count
        run.complete = ended and count > 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", type=Path, help="also write the figures to this file")
    parser.add_argument("--minutes", type=float, default=10.0)
    parser.add_argument("program")
    args = parser.parse_args()
    # Stopped itself, it stops its emulators first.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    seconds = args.minutes * 60
    runs = [Run("not recording", None), Run("animated PNG", "shown.png"), Run("GIF", "shown.gif")]
    failures: list[str] = []
    with tempfile.TemporaryDirectory(prefix="zelvo-memory-") as folder_name:
        folder = Path(folder_name)
        try:
            for run in runs:
                run.emulator = Emulator(args.program, data_dir=folder / run.name.replace(" ", "-"))
                run.emulator.start()
            threads = [threading.Thread(target=drive, args=(run, seconds, folder, failures)) for run in runs]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            if failures:
                print("\n".join(failures), file=sys.stderr)
                return 2
            for run in runs:
                stop(run, folder)
        finally:
            for run in runs:
                if run.emulator is not None:
                    run.emulator.stop()

    floor = runs[0]
    floor_growth = floor.rss_kb[-1] / floor.rss_kb[0]
    minutes = [f"{seconds * part / 60:g} min" for part in SAMPLES]
    figures = []
    missed = False
    print(f"{'run':<14} " + " ".join(f"{m:>10}" for m in minutes)
          + "    growth (less frames waiting)  (not recording)   SIGTERM to exit  (not recording)  file")
    for run in runs[1:]:
        kept = [rss - waiting * run.frame_kb for rss, waiting in zip(run.rss_kb, run.waiting)]
        run.growth = kept[-1] / kept[0]
        for label, value, floor_value in zip(minutes, run.rss_kb, floor.rss_kb):
            figures.append({"name": f"{run.name}, RSS at {label} (kB)", "value": value,
                            "floor_name": "not recording", "floor": floor_value, "target": "none"})
        figures.append({"name": f"{run.name}, frames waiting at " + ", ".join(minutes),
                        "value": "/".join(str(waiting) for waiting in run.waiting),
                        "floor_name": "bound", "floor": QUEUE_BOUND_KB // max(1, run.frame_kb),
                        "target": "none"})
        figures.append({"name": f"{run.name}, RSS less frames waiting, {minutes[-1]} / {minutes[0]}",
                        "value": round(run.growth, 3), "floor_name": "not recording", "floor": round(floor_growth, 3),
                        "target": f"ratio <= {GROWTH_TARGET}"})
        figures.append({"name": f"{run.name}, SIGTERM to exit (ms)", "value": round(run.stop_ms, 1),
                        "floor_name": "not recording", "floor": round(floor.stop_ms, 1),
                        "target": f"value < {STOP_TARGET_MS:g}"})
        figures.append({"name": f"{run.name}, frames in the file", "value": run.frames,
                        "floor_name": "content sent + 1", "floor": run.sent + 1,
                        "target": "file finished" + ("" if run.complete else " (MISSED)")})
    for run in runs:
        growth = run.rss_kb[-1] / run.rss_kb[0]
        file_text = "-"
        if run.recording:
            growth = run.growth
            file_text = f"{'/'.join(str(waiting) for waiting in run.waiting)} frames waiting, "
            missed = missed or run.growth / floor_growth > GROWTH_TARGET or run.stop_ms >= STOP_TARGET_MS or not run.complete
            file_text += (f"{run.frames}/{run.sent + 1} frames, {run.file_bytes / 1024 / 1024:.1f} MiB, "
                         + ("finished" if run.complete else "NOT FINISHED"))
        if run.exit_code != 0:
            missed = True
            file_text += f", exit code {run.exit_code}"
        print(f"{run.name:<14} " + " ".join(f"{value:>7} kB" for value in run.rss_kb)
              + f"    {growth:6.3f}  ({floor_growth:.3f})        {run.stop_ms:8.1f} ms      ({floor.stop_ms:.1f} ms)"
              + f"        {file_text}")
    if args.json:
        args.json.write_text(json.dumps({"figures": figures}, indent=2) + "\n")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
