#!/usr/bin/python3
"""The run report's figures, each beside its baseline in the same run: a
50-test pytest suite with reports of failing tests (the default) beside the
same suite with none; the report of an hour on the manual clock (one content
a second, the head moving with 50 readings a second): its size beside the
20 MB it may take, the time to make it beside the time to read the record
alone, and the time from opening it in headless Chromium to a chosen row
shown beside the same for a report of one record.

    bench/report/report_bench.py [--json FILE] [ZELVO_EMULATOR]

Debian's interpreter runs it, where python3-pytest and python3-selenium install.
"""
import argparse
import json
import os
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "clients" / "python"))
from zelvo import Emulator  # noqa: E402

SUITE = '''
import pytest

@pytest.mark.parametrize("n", range(50))
def test_content(zelvo, n):
    agent = zelvo.agent("suite")
    agent.content(0, texts=[f"test {n}"], content_id=n)
    zelvo.control.wait_content("suite", n)
    zelvo.control.click("plus")
'''


def suite_seconds(program, folder, report):
    started = time.monotonic()
    done = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "zelvo.pytest_plugin", "-p", "no:cacheprovider",
                           f"--zelvo-emulator={program}", f"--zelvo-report={report}", str(folder / "test_suite.py")],
                          cwd=folder, capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=str(ROOT / "clients" / "python")))
    if done.returncode != 0:
        raise RuntimeError(done.stdout[-2000:])
    return time.monotonic() - started


class DrainingAgent:
    """An agent that reads every event the emulator sends, so that an hour
    of readings never fills its socket."""

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port))
        threading.Thread(target=self._drain, daemon=True).start()

    def _drain(self):
        while self.socket.recv(1 << 16):
            pass

    def send(self, message):
        payload = json.dumps(message).encode()
        self.socket.sendall(struct.pack(">I", len(payload)) + payload)


def hour_report(program, folder):
    """Makes the hour; returns the report's path, the seconds to make it
    and the seconds to read the same records through the log."""
    trace = folder / "head.csv"
    trace.write_text("".join(f"{second * 1000},pose,{(second * 7) % 360},{(second % 40) - 20},0\n"
                             for second in range(3601)))
    with Emulator(program=program, arguments=["--clock", "manual"]) as emulator:
        control = emulator.control
        control.pose_rate(50)
        agent = DrainingAgent(emulator.ports.agent)
        agent.send({"command.type": "zelvo_config", "minPersistingTimeMillis": 0, "maxPersistingTimeMillis": 60000})
        control.trace(trace)
        for second in range(3600):
            agent.send({"command.type": "agent_content", "appId": "hour", "layoutId": 0,
                        "contentId": second, "texts": [f"Second {second} of the hour"]})
            control.wait_content("hour", second)
            control.clock_advance(1000)
        started = time.monotonic()
        path = control.report(folder / "hour.html")
        made = time.monotonic() - started
        started = time.monotonic()
        control.log()
        logged = time.monotonic() - started
        one = folder / "one.html"
        control.reset()
        control.mark("one record")
        control.report(one)
    return path, made, logged, one


def open_seconds(report, row_index):
    options = Options()
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1280,900"):
        options.add_argument(flag)
    driver = webdriver.Chrome(options=options, service=Service("/usr/bin/chromedriver"))
    try:
        started = time.monotonic()
        driver.get(report.as_uri())
        rows = driver.find_elements(By.CSS_SELECTOR, "[data-seq]:not(#display)")
        row = rows[min(row_index, len(rows) - 1)]
        seq = row.get_attribute("data-seq")
        driver.execute_script("arguments[0].scrollIntoView()", row)
        row.click()
        WebDriverWait(driver, 30).until(
            lambda d: d.execute_script('return document.getElementById("display").dataset.seq') == seq)
        return time.monotonic() - started
    finally:
        driver.quit()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--json")
    parser.add_argument("program", nargs="?", default=os.environ.get("ZELVO_EMULATOR", "ZelvoEmulator"))
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as name:
        folder = Path(name)
        (folder / "test_suite.py").write_text(SUITE)
        # Alternated, so that a machine's drift weighs on both.
        with_reports, without = [], []
        for _ in range(3):
            with_reports.append(suite_seconds(args.program, folder, "on-failure"))
            without.append(suite_seconds(args.program, folder, "off"))
        hour, made, logged, one = hour_report(args.program, folder)
        size_mb = hour.stat().st_size / 1e6
        opened = statistics.median(open_seconds(hour, 2000) for _ in range(3))
        opened_one = statistics.median(open_seconds(one, 0) for _ in range(3))
    suite, floor = statistics.median(with_reports), statistics.median(without)
    figures = {"figures": [
        {"name": "50-test suite, --zelvo-report on-failure, s", "value": round(suite, 2),
         "floor_name": "--zelvo-report off", "floor": round(floor, 2), "target": "<= 1.10x"},
        {"name": "report of an hour (1 content/s, 50 readings/s), MB", "value": round(size_mb, 2),
         "floor_name": "the bound", "floor": 20, "target": "<= 20 MB"},
        {"name": "  made in, s", "value": round(made, 2),
         "floor_name": "the record read alone", "floor": round(logged, 2), "target": "none"},
        {"name": "  opened to a chosen row shown, s", "value": round(opened, 2),
         "floor_name": "a report of one record", "floor": round(opened_one, 2), "target": "<= 3 s"}]}
    print(json.dumps(figures, indent=2))
    if args.json:
        with open(args.json, "w") as out:
            json.dump(figures, out, indent=2)
    return 0 if suite / floor <= 1.10 and size_mb <= 20 and opened <= 3 else 1


if __name__ == "__main__":
    sys.exit(main())
