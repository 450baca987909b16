#!/usr/bin/python3
"""The web page's figures, each beside its baseline in the same run: content
to the page's pixels in headless Chromium beside content to the window's
pixels at 30 content/s; the emulator's CPU with and without a viewer; its
memory while a viewer reads nothing.

    bench/web/web_bench.py [--seconds 10] [--json FILE] [ZELVO_EMULATOR]

Debian's interpreter runs it, where python3-selenium installs.
"""
import argparse
import json
import os
import random
import re
import socket
import struct
import sys
import time
import zlib
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "clients" / "python"))
from zelvo import Emulator  # noqa: E402

RATE = 30


def noise_png(width, height, seed):
    generator = random.Random(seed)
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + generator.randbytes(width * 3) for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 1)) + chunk(b"IEND", b""))


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_kib(pid):
    return int(re.search(r"VmRSS:\s+(\d+)", open(f"/proc/{pid}/status").read()).group(1))


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))] if ordered else float("nan")


def send_content(agent, seconds, first_id, images, sent):
    """Content at RATE per second; sent[id] = (epoch ms, monotonic ns)."""
    start = time.monotonic()
    count = int(seconds * RATE)
    for n in range(count):
        due = start + n / RATE
        time.sleep(max(0.0, due - time.monotonic()))
        content_id = first_id + n
        sent[content_id] = (time.time() * 1000, time.monotonic_ns())
        if images:
            agent.content(2, images=[n % images], texts=[f"frame {content_id}"], content_id=content_id)
        else:
            agent.content(0, texts=[f"frame {content_id}"], content_id=content_id)
    return first_id + count


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--json")
    parser.add_argument("emulator", nargs="?", help="the ZelvoEmulator (default: $ZELVO_EMULATOR, then PATH)")
    args = parser.parse_args()
    os.environ["QT_LOGGING_RULES"] = "zelvo.paint.info=true"
    figures = {}
    with Emulator(program=args.emulator, arguments=["--web-port", "0"]) as emulator:
        pid = emulator.process.pid
        url = emulator.control.request("web")["url"]
        agent = emulator.agent()
        pictures = [noise_png(160, 216, seed) for seed in range(4)]
        agent.config("bench", pictures)
        agent.timing(0, 60000)
        time.sleep(0.5)
        sent = {}

        # CPU without a viewer, then with one: the same content.
        before = cpu_seconds(pid)
        next_id = send_content(agent, args.seconds, 1, 0, sent)
        cpu_alone = (cpu_seconds(pid) - before) / args.seconds

        options = Options()
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1280,900"):
            options.add_argument(flag)
        driver = webdriver.Chrome(options=options, service=Service("/usr/bin/chromedriver"))
        try:
            driver.get(url)
            deadline = time.monotonic() + 30
            while driver.execute_script("return document.getElementById('link').textContent") != "live":
                if time.monotonic() > deadline:
                    raise SystemExit("the page did not connect")
                time.sleep(0.05)
            first_watched = next_id
            before = cpu_seconds(pid)
            next_id = send_content(agent, args.seconds, next_id, 0, sent)
            cpu_viewer = (cpu_seconds(pid) - before) / args.seconds
            time.sleep(1)
            painted = driver.execute_script("return window.zelvoPainted")
        finally:
            driver.quit()
        browser = [p["at"] - sent[p["contentId"]][0] for p in painted
                   if p["contentId"] in sent and p["contentId"] >= first_watched]
        window = []
        for line in open(emulator.log_file, errors="replace"):
            match = re.search(r"display painted content (\d+) at (\d+)", line)
            if match and int(match.group(1)) >= first_watched and int(match.group(1)) in sent:
                window.append((int(match.group(2)) - sent[int(match.group(1))][1]) / 1e6)
        figures["content_to_browser_ms"] = {"p50": percentile(browser, 0.5), "p99": percentile(browser, 0.99),
                                            "painted": len(browser), "sent": next_id - first_watched}
        figures["content_to_window_ms"] = {"p50": percentile(window, 0.5), "p99": percentile(window, 0.99),
                                           "painted": len(window)}
        figures["cpu_cores"] = {"without_viewer": cpu_alone, "with_viewer": cpu_viewer,
                                "added": cpu_viewer - cpu_alone}

        # A viewer that upgrades and then reads nothing, while large frames change.
        port = int(url.split(":")[2].split("/")[0])
        token = url.split("token=")[1]
        stalled = socket.create_connection(("127.0.0.1", port))
        stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stalled.sendall((f"GET /live?token={token} HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                         "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                         "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        time.sleep(0.5)
        rss_start = rss_kib(pid)
        samples = []
        for part in range(4):
            next_id = send_content(agent, args.seconds / 4, next_id, len(pictures), sent)
            samples.append(rss_kib(pid))
        stalled.close()
        figures["rss_kib_stalled_viewer"] = {"start": rss_start, "samples": samples,
                                             "growth": samples[-1] - samples[0]}
    browser, window = figures["content_to_browser_ms"], figures["content_to_window_ms"]
    cpu, memory = figures["cpu_cores"], figures["rss_kib_stalled_viewer"]
    figures["figures"] = [
        {"name": "content to page pixels, p50 ms", "value": round(browser["p50"], 1),
         "floor_name": "content to window pixels, p50", "floor": round(window["p50"], 1), "target": "none"},
        {"name": "content to page pixels, p99 ms", "value": round(browser["p99"], 1),
         "floor_name": "content to window pixels, p99", "floor": round(window["p99"], 1), "target": "< 100 ms"},
        {"name": "CPU with a viewer, cores", "value": round(cpu["with_viewer"], 3),
         "floor_name": "CPU without a viewer", "floor": round(cpu["without_viewer"], 3), "target": "+ < 0.1 core"},
        {"name": "RSS with a viewer reading nothing, KiB", "value": memory["samples"][-1],
         "floor_name": "RSS as it stopped reading", "floor": memory["samples"][0], "target": "flat"}]
    print(json.dumps(figures, indent=2))
    if args.json:
        with open(args.json, "w") as out:
            json.dump(figures, out, indent=2)


if __name__ == "__main__":
    sys.exit(main())
