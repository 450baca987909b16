"""The pytest plugin, run on a small agent test as a user would."""
import os
import pathlib

PACKAGE = pathlib.Path(__file__).resolve().parents[3] / "clients" / "python"

AGENT_TESTS = '''
from zelvo import Gesture, Kind

def test_click_reaches_the_agent(zelvo):
    agent = zelvo.agent()
    agent.config("tried", [b".zi\\x01\\x00\\x08" + b"\\xff" * 16])
    agent.content(2, images=[0], texts=["Hello"], content_id=3)
    zelvo.control.wait_content("tried", 3)
    zelvo.control.click("plus")
    assert [e.gesture for e in agent.events(Kind.BUTTON, 3)][-1] == Gesture.CLICKED

def test_the_previous_test_left_nothing(zelvo):
    assert zelvo.control.state()["drawnAgent"] == "" and zelvo.images("tried") == []

def test_failing_shows_the_messages(zelvo):
    zelvo.agent().content(9, texts=["lost"], app_id="failing", content_id=8)
    zelvo.control.wait_content("failing", 8)
'''


def test_fixture_runs_agent_tests_and_reports_messages(pytester, monkeypatch):
    pytester.makepyfile(test_agent=AGENT_TESTS)
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([str(PACKAGE), os.environ.get("PYTHONPATH", "")]))
    result = pytester.runpytest_subprocess("-p", "zelvo.pytest_plugin", "-p", "no:cacheprovider",
                                           "--zelvo-emulator", os.environ["ZELVO_EMULATOR"])
    result.assert_outcomes(passed=2, failed=1)
    result.stdout.fnmatch_lines(["*zelvo messages*",
                                 '*agent_content failing: content 8 not drawn because layout "9" does not exist*'])
