"""The `zelvo` fixture: one emulator per test session (per worker under
pytest-xdist), reset before every test, and the messages a failing test's
agents sent attached to its report. A test marked `zelvo_manual_clock` (or
every test, with `--zelvo-clock manual`) runs on the paused device clock
and moves it with `zelvo.control.clock_advance(ms)`. A test marked
`zelvo_strict` (or every test, with `--zelvo-strict`) fails when its agents'
content was cut, ran past its rectangle or had a picture over its text, or
when a message had members the emulator did not read as written; the
failure quotes the record's sentences."""
from __future__ import annotations

from typing import Iterator, Optional

import pytest

from .emulator import Emulator
from .errors import ZelvoError

_LOG_START = pytest.StashKey[int]()


def pytest_addoption(parser: pytest.Parser) -> None:
    group = parser.getgroup("zelvo")
    group.addoption("--zelvo-emulator", metavar="PROGRAM",
                    help="the ZelvoEmulator to start (default: $ZELVO_EMULATOR, then PATH)")
    group.addoption("--zelvo-ports-file", metavar="FILE",
                    help="use the running emulator that wrote FILE instead of starting one")
    group.addoption("--zelvo-attach", action="store_true",
                    help="use the running emulator at $ZELVO_HOST (default 127.0.0.1) on $ZELVO_AGENT_PORT and "
                         "$ZELVO_CONTROL_PORT (default 2000 and 2001), such as a CI service, instead of starting one")
    group.addoption("--zelvo-clock", choices=("real", "manual"), default="real",
                    help="the device clock of every test: real time (default) or paused until advanced")
    group.addoption("--zelvo-strict", action="store_true",
                    help="fail a test whose content did not fit the display or whose messages had "
                         "members ignored or values coerced")
    group.addoption("--zelvo-log-rules", metavar="RULES",
                    help="QT_LOGGING_RULES of the emulator started, e.g. 'zelvo.link.debug=true' "
                         "(default: $QT_LOGGING_RULES, else debug lines off)")


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line("markers", "zelvo_manual_clock: run the test on the paused device clock")
    config.addinivalue_line("markers", "zelvo_strict: fail the test when its content did not fit the display "
                                       "or its messages had members ignored or values coerced")


def _strict_failures(records: list[dict]) -> list[dict]:
    """The records a strict test fails on: content drawn with text cut,
    overflowing or under a picture, and messages with members ignored or
    values coerced."""
    failing = [record for record in records
               if record.get("fit") or record.get("ignored") or record.get("coerced")]

    def lint(record: dict) -> tuple:
        return (record.get("connection"), repr(record.get("ignored")), repr(record.get("coerced")))

    # A message's lint is on its frame and again on its outcome: the
    # outcome's sentence says more, so the frame is quoted only alone.
    outcomes = {lint(record) for record in failing if record.get("kind") != "frame"}
    return [record for record in failing if record.get("kind") != "frame" or lint(record) not in outcomes]


def _is_strict(item: pytest.Item) -> bool:
    return bool(item.get_closest_marker("zelvo_strict") or item.config.getoption("--zelvo-strict"))


@pytest.fixture(scope="session")
def zelvo_session(request: pytest.FixtureRequest) -> Iterator[Emulator]:
    ports_file: Optional[str] = request.config.getoption("--zelvo-ports-file")
    attach = ports_file or request.config.getoption("--zelvo-attach")
    emulator = (Emulator.attach(ports_file) if attach
                else Emulator(program=request.config.getoption("--zelvo-emulator"),
                              log_rules=request.config.getoption("--zelvo-log-rules")))
    with emulator:
        yield emulator


@pytest.fixture
def zelvo(zelvo_session: Emulator, request: pytest.FixtureRequest) -> Iterator[Emulator]:
    control = zelvo_session.control
    control.reset()
    # The reset keeps the clock's mode; each test says which it wants.
    if (request.node.get_closest_marker("zelvo_manual_clock")
            or request.config.getoption("--zelvo-clock") == "manual"):
        control.clock_pause()
    else:
        control.clock_resume()
    # Only this test's messages go into its report.
    request.node.stash[_LOG_START] = control.log()[1]
    yield zelvo_session
    zelvo_session.close_agents()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item: pytest.Item, call: pytest.CallInfo) -> Iterator[None]:
    outcome = yield
    report: pytest.TestReport = outcome.get_result()
    emulator = getattr(item, "funcargs", {}).get("zelvo")
    if report.when != "call" or not isinstance(emulator, Emulator):
        return
    strict = report.passed and _is_strict(item)
    if not report.failed and not strict:
        return
    try:
        records, _ = emulator.control.log(since=item.stash.get(_LOG_START, 0))
    except ZelvoError as error:
        report.sections.append(("zelvo messages", f"the message record could not be read: {error}"))
        return
    lines = [f"{record['seq']} {record['direction']} {record['kind']} {record['agent']}: "
             f"{record['sentence']}" for record in records]
    if strict:
        failures = _strict_failures(records)
        if not failures:
            return
        report.outcome = "failed"
        report.longrepr = "zelvo strict: " + "\n".join(
            f"{record['agent']}: {record['sentence']}" for record in failures)
    report.sections.append(("zelvo messages", "\n".join(lines) or "no messages"))
