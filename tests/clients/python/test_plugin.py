"""The pytest plugin, run as a user would: the README's test of an agent, a
test that sees what the one before left, and a failing one."""
import os
import pathlib
import re

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
    section = (ROOT / "README.md").read_text().split("## Testing your agent in CI")[1]
    return re.search(r"```python\n(.*?)```", section, re.S).group(1)


def test_fixture_runs_agent_tests_and_reports_messages(pytester, monkeypatch):
    assert len(readme_test().splitlines()) == 10
    pytester.makepyfile(test_a_readme=readme_test(), test_b_more=AGENT_TESTS)
    example = pytester.path / "docs" / "examples" / "minimal_agent.py"
    example.parent.mkdir(parents=True)
    example.write_text((ROOT / "docs" / "examples" / "minimal_agent.py").read_text())
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([str(ROOT / "clients" / "python"),
                                                      os.environ.get("PYTHONPATH", "")]))
    result = pytester.runpytest_subprocess("-p", "zelvo.pytest_plugin", "-p", "no:cacheprovider",
                                           "--zelvo-emulator", os.environ["ZELVO_EMULATOR"])
    result.assert_outcomes(passed=2, failed=1)
    result.stdout.fnmatch_lines(["*zelvo messages*",
                                 '*agent_content failing: content 8 not drawn because layout "9" does not exist*'])
    result.stdout.no_fnmatch_line("*minimal-agent: content 1 drawn*")
