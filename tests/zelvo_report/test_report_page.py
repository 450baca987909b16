"""The run report of a real emulator opened from disk in headless Chromium:
one row per record, and the display it shows follows the row chosen; the
same report made by zelvo-ctl from a session and a display recording."""
import os
import subprocess
from pathlib import Path

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from zelvo import Emulator

SHOWN = 'return document.getElementById("display").dataset.seq || ""'
PICTURE = 'return document.getElementById("display").toDataURL()'


@pytest.fixture(scope="module")
def session(tmp_path_factory):
    """A short known session: two contents drawn, one skipped, a click, a mark,
    recorded as it ran and kept by the emulator."""
    folder = tmp_path_factory.mktemp("session")
    with Emulator(arguments=["--clock", "manual"]) as emulator:
        control = emulator.control
        control.record_session(folder / "session.jsonl")
        control.record_display(folder / "display.png")
        control.mark("the known session")
        agent = emulator.agent("report")
        agent.content(0, texts=["First"], content_id=1)
        control.wait_content("report", 1)
        control.click("plus")
        agent.content(0, texts=["Too soon"], content_id=2)
        control.clock_advance(4000)
        agent.content(0, texts=["Second"], content_id=3)
        control.wait_content("report", 3)
        control.record_stop()
        records, _ = control.log()
        yield {"folder": folder, "records": records, "report": control.report(folder / "live.html")}


@pytest.fixture(scope="module")
def browser():
    options = Options()
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1280,900"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(options=options, service=Service("/usr/bin/chromedriver"))
    yield driver
    driver.quit()


def drawn_seq(records, content_id):
    return next(record["seq"] for record in records
                if record["kind"] == "agent_content" and record["contentId"] == content_id)


def shown_after(browser, seq):
    browser.find_element(By.CSS_SELECTOR, f'[data-seq="{seq}"]:not(#display)').click()
    WebDriverWait(browser, 10).until(lambda driver: driver.execute_script(SHOWN) == str(seq))
    return browser.execute_script(PICTURE)


def test_live_report_shows_every_record_and_the_display_after_each(session, browser):
    browser.get(session["report"].as_uri())
    rows = browser.find_elements(By.CSS_SELECTOR, "[data-seq]:not(#display)")
    assert sorted(int(row.get_attribute("data-seq")) for row in rows) == [r["seq"] for r in session["records"]]
    first = shown_after(browser, drawn_seq(session["records"], 1))
    second = shown_after(browser, drawn_seq(session["records"], 3))
    skipped = shown_after(browser, drawn_seq(session["records"], 2))
    assert first != second
    # Skipped content leaves the display as it was.
    assert skipped == first
    errors = [entry for entry in browser.get_log("browser") if entry["level"] == "SEVERE"]
    assert errors == []


def test_report_from_the_recordings_lines_the_display_up_with_the_records(session, browser):
    folder = session["folder"]
    out = folder / "files.html"
    done = subprocess.run([os.environ["ZELVO_CTL"], "report", "--session", str(folder / "session.jsonl"),
                           "--display", str(folder / "display.png"), "--out", str(out)],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    lines = (folder / "session.jsonl").read_text().splitlines()
    browser.get(out.as_uri())
    rows = browser.find_elements(By.CSS_SELECTOR, "[data-seq]:not(#display)")
    assert len(rows) == len(lines)
    first = shown_after(browser, drawn_seq(session["records"], 1))
    assert first != shown_after(browser, drawn_seq(session["records"], 3))
    assert first == shown_after(browser, drawn_seq(session["records"], 2))
