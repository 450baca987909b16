"""The web page of a real headless emulator in headless Chromium: the agent's
content reaches the page's pixels, the record and the sensors follow, and a
click on plus gives the agent its three button events."""
import json
import os
import struct
import subprocess
import urllib.error
import urllib.request
import zlib
from pathlib import Path

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from zelvo import Button, Emulator, Gesture, Kind
from zelvo.events import button_name, sensor_name

ARTIFACTS = Path(os.environ.get("ZELVO_ARTIFACTS", "."))

# Share of the canvas's pixels that are the agent's pure green.
GREEN_SHARE = """
const data = document.getElementById("display").getContext("2d").getImageData(0, 0, 320, 240).data;
let green = 0;
for (let i = 0; i < data.length; i += 4)
    if (data[i] < 40 && data[i + 1] > 215 && data[i + 2] < 40) green++;
return green / (data.length / 4);
"""


def png(width: int, height: int, rgb: tuple) -> bytes:
    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


@pytest.fixture(scope="module")
def emulator():
    with Emulator(arguments=["--web-port", "0"]) as running:
        yield running


@pytest.fixture(scope="module")
def browser():
    options = Options()
    # As root, as CI runs it, Chromium starts only without its sandbox.
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1280,900"):
        options.add_argument(flag)
    driver = webdriver.Chrome(options=options, service=Service("/usr/bin/chromedriver"))
    yield driver
    driver.quit()


def page_text(driver, element_id: str) -> str:
    return driver.find_element(By.ID, element_id).text


def test_without_the_token_the_page_is_refused(emulator):
    url = emulator.control.request("web")["url"]
    for address in (url.split("?")[0], url.replace("token=", "token=0"), url.split("?")[0] + "live"):
        with pytest.raises(urllib.error.HTTPError) as refusal:
            urllib.request.urlopen(address, timeout=10)
        assert refusal.value.code == 401
        assert refusal.value.read() == b""


def test_the_page_and_the_python_client_name_events_as_the_emulator_does(emulator):
    with urllib.request.urlopen(emulator.control.request("web")["url"], timeout=10) as answer:
        page = answer.read().decode()
    start = page.index('<script id="vocabulary" type="application/json">')
    vocabulary = json.loads(page[page.index(">", start) + 1:page.index("</script>", start)])
    assert {kind["name"].upper(): kind["kind"] for kind in vocabulary["events"]} == {kind.name: kind for kind in Kind}
    assert {kind["kind"]: kind["name"] for kind in vocabulary["events"] if kind["sensor"]} == {
        kind: sensor_name(kind) for kind in Kind if kind is not Kind.BUTTON}
    assert {button["name"]: button["button"] for button in vocabulary["buttons"]} == {
        button_name(button): button for button in Button}
    assert {gesture["name"].upper().replace(" ", "_"): gesture["gesture"]
            for gesture in vocabulary["buttonGestures"]} == {gesture.name: gesture for gesture in Gesture}


def test_the_address_is_told_by_the_ports_file_the_address_file_and_zelvo_ctl(emulator):
    url = emulator.control.request("web")["url"]
    ports_file = emulator.data_dir / "ports.json"
    assert url.startswith(f"http://127.0.0.1:{json.loads(ports_file.read_text())['webPort']}/?token=")
    address_file = emulator.data_dir / "web-address"
    assert address_file.read_text() == url + "\n"
    assert address_file.stat().st_mode & 0o077 == 0
    ctl = [os.environ["ZELVO_CTL"], "web", "--ports-file", str(ports_file)]
    told = subprocess.run(ctl, capture_output=True, text=True, timeout=60)
    assert (told.returncode, told.stdout) == (0, url + "\n")
    with Emulator() as without:
        ctl[-1] = str(without.data_dir / "ports.json")
        refused = subprocess.run(ctl, capture_output=True, text=True, timeout=60)
        assert refused.returncode == 1 and "--web-port" in refused.stderr


def test_page_shows_the_content_and_plus_reaches_the_agent(emulator, browser):
    url = emulator.control.request("web")["url"]
    agent = emulator.agent()
    agent.config("web-page", [png(160, 216, (0, 255, 0))])
    agent.timing(0, 60000)
    browser.get(url)
    WebDriverWait(browser, 30).until(lambda driver: page_text(driver, "link") == "live")
    assert browser.execute_script(GREEN_SHARE) < 0.01

    agent.content(2, images=[0], texts=["Hello"], content_id=7)
    emulator.control.wait_content("web-page", 7)
    # The picture fills the left half of the content area, 45 % of the display.
    WebDriverWait(browser, 30).until(lambda driver: driver.execute_script(GREEN_SHARE) > 0.4)
    WebDriverWait(browser, 30).until(lambda driver: "content 7" in page_text(driver, "record-rows"))
    emulator.control.sensor("accelerometer", 1.5, -2.25, 9.75)
    WebDriverWait(browser, 30).until(lambda driver: page_text(driver, "accelerometer") == "1.50 -2.25 9.75")
    browser.save_screenshot(str(ARTIFACTS / "web-page.png"))

    browser.find_element(By.ID, "plus").click()
    events = agent.events(Kind.BUTTON, count=3, timeout=30)
    assert [event.gesture for event in events] == [Gesture.PRESSED, Gesture.RELEASED, Gesture.CLICKED]
    assert [event.button for event in events] == [events[0].button] * 3
    WebDriverWait(browser, 30).until(lambda driver: not emulator.control.state()["plusHeld"])


def test_a_press_held_in_the_page_is_released_when_the_page_goes(emulator, browser):
    browser.get(emulator.control.request("web")["url"])
    WebDriverWait(browser, 30).until(lambda driver: page_text(driver, "link") == "live")
    webdriver.ActionChains(browser).click_and_hold(browser.find_element(By.ID, "minus")).perform()
    WebDriverWait(browser, 30).until(lambda driver: emulator.control.state()["minusHeld"])
    browser.get("about:blank")
    WebDriverWait(browser, 30).until(lambda driver: not emulator.control.state()["minusHeld"])


def test_the_head_and_single_readings_from_the_page(emulator, browser):
    emulator.control.reset()
    agent = emulator.agent()
    browser.get(emulator.control.request("web")["url"])
    WebDriverWait(browser, 30).until(lambda driver: page_text(driver, "link") == "live")

    # A slider moved by the keyboard, as a person can.
    browser.find_element(By.CSS_SELECTOR, 'input[data-angle="pitch"]').send_keys("\ue014")
    compass = agent.events(Kind.COMPASS, timeout=30)[0]
    assert compass.values[:3] == (0.0, 1.0, 0.0)
    browser.find_element(By.CSS_SELECTOR, 'button[data-gesture="nod"]').click()
    assert len(agent.events(Kind.COMPASS, count=40, timeout=30)) == 40
    WebDriverWait(browser, 30).until(lambda driver: page_text(driver, "pitch") == "1.0\u00b0")

    fields = browser.find_elements(By.CSS_SELECTOR, 'input[data-shot="accelerometer"]')
    for field, value in zip(fields, ("1.5", "-2", "3")):
        field.clear()
        field.send_keys(value)
    browser.find_element(By.CSS_SELECTOR, 'button[data-send="accelerometer"]').click()
    readings = agent.events(Kind.ACCELEROMETER, count=42, timeout=30)
    assert readings[-1].values[:3] == (1.5, -2.0, 3.0)
