"""The package against real emulators: isolation, reset, attaching, faults, errors."""
import json
import socket
import time

import pytest

from conftest import zi_picture
from zelvo import Agent, Button, Control, Emulator, Gesture, Kind, ZelvoError, ZelvoRefused, ZelvoTimeout


def test_two_emulators_keep_to_themselves(emulator):
    with Emulator() as other:
        assert {emulator.ports.agent, emulator.ports.control}.isdisjoint(
            {other.ports.agent, other.ports.control})
        assert emulator.ports.token_file.read_text() != other.ports.token_file.read_text()
        with pytest.raises(ZelvoRefused, match="wrong token"):
            Control(other.ports.control, emulator.ports.token_file.read_text())
        mine, theirs = emulator.agent(), other.agent()
        for agent, name in ((mine, "first"), (theirs, "second")):
            agent.config(name, [zi_picture()])
            agent.content(1, images=[0], content_id=1)
        emulator.control.wait_content("first", 1)
        other.control.wait_content("second", 1)
        assert [path.name for path in emulator.images("first")] == ["first_0.zi"]
        assert emulator.images("second") == [] and other.images("first") == []

        emulator.control.click("plus")
        other.control.sensor("compass", 1, 2, 3)
        clicked = mine.events(count=3)
        assert [event.gesture for event in clicked] == [Gesture.PRESSED, Gesture.RELEASED, Gesture.CLICKED]
        assert {(event.app_id, event.content_id) for event in clicked} == {("first", 1)}
        assert theirs.events()[0].values == (1.0, 2.0, 3.0, 0.0)


def test_reset_gives_the_state_of_a_fresh_start(emulator):
    fresh = emulator.control.state()
    agent = emulator.agent()
    agent.timing(100, 60000)
    agent.config("resetting", [zi_picture()])
    agent.content(2, images=[0], texts=["before"], content_id=4)
    control = emulator.control
    control.wait_content("resetting", 4)
    control.sensor("battery", 42)
    control.simulate("light")
    control.fullscreen(True)
    control.press("minus")
    assert control.state() != fresh

    control.reset()
    after = control.state()
    # The agent stays connected; all else is as fresh.
    assert after.pop("agents") == 1 and fresh.pop("agents") == 0
    assert after["link"].pop("agents") == 1 and fresh["link"].pop("agents") == 0
    # The clock runs on through a reset; its mode stays.
    assert after.pop("clock")["mode"] == fresh.pop("clock")["mode"] == "real"
    assert after == fresh
    assert emulator.images("resetting") == []
    assert control.log()[0] == []
    # The agent is still connected: events reach it after the reset.
    control.click("plus")
    while (event := agent.events(Kind.BUTTON)[0]).gesture != Gesture.CLICKED:
        assert event.button == Button.MINUS or event.app_id == ""


def test_attach_by_ports_file_and_by_environment(emulator, monkeypatch):
    ports = emulator.ports
    with Emulator.attach(emulator.data_dir / "ports.json") as attached:
        assert attached.ports == ports and attached.control.state()["agents"] == 0
    monkeypatch.setenv("ZELVO_AGENT_PORT", str(ports.agent))
    monkeypatch.setenv("ZELVO_CONTROL_PORT", str(ports.control))
    monkeypatch.setenv("ZELVO_DATA_DIR", str(ports.token_file.parent))
    with Emulator.attach(timeout=5) as attached, attached.agent("by-env"):
        assert attached.control.state()["agents"] == 1


def test_link_faults_battery_and_display_recording(emulator, tmp_path):
    control, agent = emulator.control, emulator.agent()
    control.battery(37, charging=True)
    assert agent.events(Kind.BATTERY)[0].values[0] == 37.0
    assert (control.state()["battery"], control.state()["charging"]) == (37, True)

    control.link_delay(300)
    started = time.monotonic()
    control.click("plus")
    assert agent.events(Kind.BUTTON, count=3)[-1].gesture == Gesture.CLICKED
    assert time.monotonic() - started >= 0.3
    assert control.link() == {"refused": False, "delayMillis": 300, "agents": 1, "droppedEvents": 0}
    control.link_refuse(True)
    with pytest.raises(ZelvoError, match="closed|failed"):
        emulator.agent().events()
    assert control.link_drop() == 1
    with pytest.raises(ZelvoError, match="closed|failed"):
        agent.events()

    animation = control.record_display(tmp_path / "display.png", seconds=0.2, wait=True)
    assert not control.state()["recording"]["display"]
    assert b"acTL" in animation.read_bytes()
    with pytest.raises(ZelvoRefused, match="nothing is being recorded"):
        control.record_stop()


def test_enums_name_buttons_and_sensors_and_removal_is_awaited(emulator):
    control, agent = emulator.control, emulator.agent()
    control.long_press(Button.MINUS)
    assert [event.button for event in agent.events(Kind.BUTTON, count=4)] == [Button.MINUS] * 4
    control.sensor(Kind.LIGHT, 12.5)
    assert agent.events(Kind.LIGHT)[0].values[0] == 12.5
    assert control.simulate(Kind.COMPASS) and not control.simulate(Kind.COMPASS)

    agent.timing(0, 300)
    agent.config("leaving", [zi_picture()])
    agent.content(1, images=[0], content_id=3)
    control.wait_content("leaving", 3)
    assert control.wait_removed("leaving", 3, timeout=10) == {"removed": True}
    assert control.state()["drawnAgent"] == ""
    with pytest.raises(ZelvoRefused, match="still on the display"):
        agent.timing(0, 60000)
        agent.content(1, images=[0], content_id=4)
        control.wait_content("leaving", 4)
        control.wait_removed("leaving", timeout=0.2)


@pytest.mark.parametrize("request_", [
    pytest.param(lambda control: control.click("middle"), id="unknown button"),
    pytest.param(lambda control: control.wait_content("nobody", 1, timeout=0.2), id="wait for no content"),
    pytest.param(lambda control: control.request("teleport"), id="unknown command"),
])
def test_a_refusal_raises_and_the_channel_goes_on(emulator, request_):
    with pytest.raises(ZelvoRefused):
        request_(emulator.control)
    assert emulator.control.state()["battery"] >= 0


def test_missing_events_time_out_and_keep_what_came(emulator):
    agent = emulator.agent()
    emulator.control.sensor("light", 55)
    with pytest.raises(ZelvoTimeout, match="0 of 1 button events"):
        agent.events(Kind.BUTTON, timeout=0.3)
    assert agent.events()[0].values[0] == 55.0


def test_an_emulator_that_cannot_start_is_reported(tmp_path):
    with pytest.raises(ZelvoError, match="exited with code 1"):
        Emulator(program="/bin/false").start()


@pytest.mark.parametrize("how", ["--clock manual", "ZELVO_CLOCK=manual"])
def test_started_on_the_manual_clock(how, monkeypatch):
    arguments = how.split() if how.startswith("--") else []
    if not arguments:
        monkeypatch.setenv(*how.split("="))
    with Emulator(arguments=arguments) as started:
        clock = started.control.clock_state()
        assert clock["mode"] == "manual"
        assert started.control.clock_advance(250)["now"] == clock["now"] + 250
        assert started.control.state()["clock"] == {"mode": "manual", "now": clock["now"] + 250}


@pytest.mark.parametrize("rules, link_lines, content_lines", [
    (None, False, False), ("*.debug=true", True, True), ("zelvo.link.debug=false", False, True)])
def test_debug_lines_are_off_unless_asked_for_and_warnings_stay(rules, link_lines, content_lines, tmp_path,
                                                                monkeypatch):
    monkeypatch.delenv("QT_LOGGING_RULES", raising=False)
    with Emulator(data_dir=tmp_path, log_rules=rules) as started:
        with pytest.raises(ZelvoRefused, match="wrong token"):
            Control(started.ports.control, "not the token")
        agent = started.agent()
        # Every line that quotes it stops after 4 KiB.
        agent.send({"command.type": "agent_config", "appId": "long" * 25000, "images": []})
        agent.config("quiet", [zi_picture()])
        agent.content(1, images=[0], content_id=1)
        started.control.wait_content("quiet", 1)
        log = started.log_file.read_text(errors="replace")
    assert "wrong token from" in log
    assert max(len(line) for line in log.splitlines()) < 4200
    assert ("ZelvoReceiver::onActionReceived" in log) == link_lines
    assert ("ZelvoEmulator::onAgentContent" in log) == content_lines


def _unused_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@pytest.mark.parametrize("connect, error, message", [
    pytest.param(lambda ports: Control.from_token_file(ports.agent, ports.token_file, timeout=0.5), ZelvoTimeout,
                 "within 0.5 s; is it the emulator's control port, not its agent port", id="control on agent port"),
    pytest.param(lambda ports: Agent(ports.control).events(), ZelvoError,
                 "answered with a line of JSON, not with frames: it is a control channel", id="agent on control port"),
    pytest.param(lambda ports: Control.from_token_file(_unused_port(), ports.token_file), ZelvoError,
                 "no emulator is running: nothing listens on", id="control on unused port"),
    pytest.param(lambda ports: Control.from_token_file(_unused_port(), ports.token_file.with_name("none")), ZelvoError,
                 "no emulator is running: nothing listens on", id="no token, unused port"),
    pytest.param(lambda ports: Control.from_token_file(ports.control, ports.token_file.with_name("none")), ZelvoError,
                 r"cannot read the control token .*none: No such file or directory \(is the emulator running",
                 id="no token, control port"),
])
def test_a_wrong_port_or_token_is_named(emulator, connect, error, message):
    with pytest.raises(error, match=message):
        connect(emulator.ports)


def test_closing_keeps_the_last_frames_of_both_sides(emulator):
    control, agent = emulator.control, emulator.agent()
    agent.timing(0, 60000)
    agent.config("closing", [zi_picture()])
    agent.content(1, images=[0], content_id=1)
    control.wait_content("closing", 1)
    mark = control.last_sequence()
    agent.content(1, images=[0], content_id=2)
    control.click("plus")
    agent.close()
    assert control.wait_next_content("closing", since=mark)["contentId"] == 2
    clicked = agent.events(Kind.BUTTON, count=3)
    assert [event.gesture for event in clicked] == [Gesture.PRESSED, Gesture.RELEASED, Gesture.CLICKED]
    assert [json.loads(event.raw)["data"]["type"] for event in clicked] == [4, 4, 4]
    with pytest.raises(ZelvoError, match="closed"):
        agent.raw_events()
