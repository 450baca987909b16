"""The pytest plugin, run as a user would: the README's test of an agent, a
test that sees what the one before left, and a failing one."""
import os
import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[3]

AGENT_TESTS = '''
def test_the_previous_test_left_nothing(zelvo):
    assert zelvo.control.state()["drawnAgent"] == ""
    assert zelvo.images("minimal-agent") == []

def test_failing_shows_the_messages(zelvo):
    zelvo.agent().content(9, texts=["lost"], app_id="failing", content_id=8)
    zelvo.control.wait_content("failing", 8)
'''


def readme_test() -> str:
    section = (ROOT / "README.md").read_text().split("## A first test in five minutes")[1]
    return re.search(r"```python\n(.*?)```", section, re.S).group(1)


def test_fixture_runs_agent_tests_and_reports_messages(pytester, monkeypatch):
    assert len(readme_test().splitlines()) == 10
    pytester.makepyfile(test_a_readme=readme_test(), test_b_more=AGENT_TESTS)
    example = pytester.path / "docs" / "examples" / "minimal_agent.py"
    example.parent.mkdir(parents=True)
    example.write_text((ROOT / "docs" / "examples" / "minimal_agent.py").read_text())
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([str(ROOT / "clients" / "python"),
                                                      os.environ.get("PYTHONPATH", "")]))
    # With "=", pytest does not take the program's folder for its root.
    result = pytester.runpytest_subprocess("-p", "zelvo.pytest_plugin", "-p", "no:cacheprovider",
                                           f"--zelvo-emulator={os.environ['ZELVO_EMULATOR']}")
    result.assert_outcomes(passed=2, failed=1)
    result.stdout.fnmatch_lines(["*zelvo messages*",
                                 '*agent_content failing: content 8 not drawn because layout "9" does not exist*'])
    result.stdout.no_fnmatch_line("*minimal-agent: content 1 drawn*")
    # One report, of the failing test alone, named in its failure, with the
    # display and its description beside it.
    stem = "test_b_more.py_test_failing_shows_the_messages"
    folder = pytester.path / "zelvo-report"
    assert sorted(path.name for path in folder.iterdir()) == [f"{stem}.html", f"{stem}.png", f"{stem}.screen.json"]
    result.stdout.fnmatch_lines(["*zelvo report*", f"*{folder / stem}.html"])
    report = (folder / f"{stem}.html").read_text()
    assert "test start: test_b_more.py::test_failing_shows_the_messages" in report
    assert "content 8 not drawn" in report and "minimal-agent" not in report


CLOCK_TESTS = '''
import time

import pytest

from zelvo import Kind

@pytest.mark.zelvo_manual_clock
def test_content_lives_until_the_clock_reaches_its_maximum(zelvo):
    agent = zelvo.agent("timed")
    agent.content(0, texts=["hello"], content_id=1)
    zelvo.control.wait_content("timed", 1)
    assert zelvo.control.clock_advance(5999)["mode"] == "manual"
    assert zelvo.control.state()["contentShown"]
    zelvo.control.clock_advance(1)
    assert not zelvo.control.state()["contentShown"]

@pytest.mark.zelvo_manual_clock
def test_compass_readings_follow_the_clock(zelvo):
    agent = zelvo.agent("compass")
    while zelvo.control.state()["agents"] < 1:
        time.sleep(0.01)
    zelvo.control.simulate("compass")
    zelvo.control.clock_advance(6000)
    assert len(agent.events(Kind.COMPASS, count=3, timeout=5)) == 3

def test_unmarked_tests_run_in_real_time(zelvo):
    assert zelvo.control.clock_state()["mode"] == "real"
'''


def test_marked_tests_run_on_the_manual_clock(pytester, monkeypatch):
    pytester.makepyfile(test_clock=CLOCK_TESTS)
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([str(ROOT / "clients" / "python"),
                                                      os.environ.get("PYTHONPATH", "")]))
    result = pytester.runpytest_subprocess("-p", "zelvo.pytest_plugin", "-p", "no:cacheprovider", "--zelvo-web",
                                           "--zelvo-emulator", os.environ["ZELVO_EMULATOR"])
    result.assert_outcomes(passed=3)
    # Served for watching, its address printed past the test's capture.
    result.stdout.fnmatch_lines(["zelvo: watch at http://127.0.0.1:*/?token=*"])


STRICT_TESTS = '''
import pytest

LONG = "the words of a text that is far too long for the display " * 10

@pytest.mark.zelvo_strict
def test_cut_text_fails(zelvo):
    zelvo.agent("strict").content(0, texts=[LONG], content_id=1)
    zelvo.control.wait_content("strict", 1)
    assert zelvo.control.screen().texts[0].cut

@pytest.mark.zelvo_strict
def test_fitting_text_passes(zelvo):
    zelvo.agent("strict").content(0, texts=["Hello"], content_id=2)
    zelvo.control.wait_content("strict", 2)
    assert zelvo.control.screen().texts[0].lines == ("HELLO",)

def test_unmarked_cut_text_passes(zelvo):
    zelvo.agent("lenient").content(0, texts=[LONG], content_id=3)
    zelvo.control.wait_content("lenient", 3)
'''


def test_strict_tests_fail_on_content_that_does_not_fit(pytester, monkeypatch):
    pytester.makepyfile(test_strict=STRICT_TESTS)
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([str(ROOT / "clients" / "python"),
                                                      os.environ.get("PYTHONPATH", "")]))
    result = pytester.runpytest_subprocess("-p", "zelvo.pytest_plugin", "-p", "no:cacheprovider",
                                           "--zelvo-emulator", os.environ["ZELVO_EMULATOR"])
    result.assert_outcomes(passed=2, failed=1)
    result.stdout.fnmatch_lines(["*zelvo strict: strict: content 1 drawn with layout 0; text 1 cut after * lines, *"
                                 " characters not shown*"])


ATTACHED_TESTS = '''
def test_pictures_of_the_attached_emulator(zelvo):
    agent = zelvo.agent("attached")
    agent.config("attached", [b".zi\\x01\\x00\\x01\\xff"])
    agent.content(1, images=[0], content_id=1)
    zelvo.control.wait_content("attached", 1)
    assert [path.name for path in zelvo.images("attached")] == ["attached_0.zi"]
'''


@pytest.mark.parametrize("package", ["tree", "installed"])
def test_plugin_by_name_from_the_tree_or_installed_on_an_attached_emulator(package, pytester, monkeypatch, emulator,
                                                                           tmp_path):
    location = ROOT / "clients" / "python"
    if package == "installed":
        location = tmp_path / "site"
        subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--no-build-isolation", "--no-index",
                        "--target", str(location), str(ROOT / "clients" / "python")], check=True)
    pytester.makepyfile(test_attached=ATTACHED_TESTS)
    monkeypatch.setenv("PYTHONPATH", str(location))
    result = pytester.runpytest_subprocess("-p", "zelvo.pytest_plugin", "-p", "no:cacheprovider",
                                           "--zelvo-ports-file", str(emulator.data_dir / "ports.json"))
    result.assert_outcomes(passed=1)
