"""The `zelvo` fixture: one emulator per test session (per worker under
pytest-xdist), reset before every test, and the messages a failing test's
agents sent attached to its report. A test marked `zelvo_manual_clock` (or
every test, with `--zelvo-clock manual`) runs on the paused device clock
and moves it with `zelvo.control.clock_advance(ms)`. A test marked
`zelvo_strict` (or every test, with `--zelvo-strict`) fails when its agents'
content was cut, ran past its rectangle or had a picture over its text, or
when a message had members the emulator did not read as written; the
failure quotes the record's sentences.

Each test's start and end are marks in the message record. A test that
fails gets a run report (`--zelvo-report on-failure`, the default; `always`
or `off`): one HTML file with its records and the display at each change,
and beside it the display's picture and its description at the end, under
`zelvo-report/` in pytest's root folder (or `--zelvo-report-dir`), named in
the test's report. `--zelvo-web` serves the emulators' web page and prints
each one's address, where the test that runs shows."""
from __future__ import annotations

import hashlib
import json
import re
import sys
from pathlib import Path
from typing import Iterator, Optional

import pytest

from .emulator import Emulator
from .errors import ZelvoError

_LOG_START = pytest.StashKey[int]()
_OUTCOME = pytest.StashKey[str]()


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
    group.addoption("--zelvo-report", choices=("on-failure", "always", "off"), default="on-failure",
                    help="write a run report of a test's records and display: for a test that failed "
                         "(default), for every test, or never")
    group.addoption("--zelvo-report-dir", metavar="DIR",
                    help="where the reports go (default: zelvo-report in pytest's root folder)")
    group.addoption("--zelvo-web", action="store_true",
                    help="serve the web page of the emulators and print each one's address, to watch the "
                         "tests live")
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
    web = request.config.getoption("--zelvo-web")
    emulator = (Emulator.attach(ports_file) if attach
                else Emulator(program=request.config.getoption("--zelvo-emulator"),
                              log_rules=request.config.getoption("--zelvo-log-rules"),
                              arguments=("--web-port", "0") if web else ()))
    with emulator:
        if web:
            _tell_web_address(request.config, emulator)
        yield emulator


def _tell_web_address(config: pytest.Config, emulator: Emulator) -> None:
    try:
        line = f"zelvo: watch at {emulator.control.request('web')['url']}"
    except ZelvoError as error:
        line = f"zelvo: no web page to watch: {error}"
    worker = getattr(config, "workerinput", {}).get("workerid")
    reporter = config.pluginmanager.get_plugin("terminalreporter")
    if reporter is not None and worker is None:
        # Past the capture of the test that starts the emulator.
        capture = config.pluginmanager.get_plugin("capturemanager")
        with capture.global_and_fixture_disabled():
            reporter.write_line(line)
        return
    # A pytest-xdist worker has no terminal of its own: its address goes to
    # a file of its own beside the reports.
    folder = _report_dir(config)
    folder.mkdir(parents=True, exist_ok=True)
    (folder / f"web-{worker or 'main'}.txt").write_text(line + "\n", encoding="utf-8")
    print(f"{worker}: {line}" if worker else line, file=sys.stderr, flush=True)


def _report_dir(config: pytest.Config) -> Path:
    chosen = config.getoption("--zelvo-report-dir")
    return Path(chosen) if chosen else config.rootpath / "zelvo-report"


def _file_stem(nodeid: str) -> str:
    """A file name of its own for each test, readable and short enough."""
    stem = re.sub(r"[^A-Za-z0-9._-]+", "_", nodeid).strip("._")
    if len(stem) > 120:
        stem = stem[:100] + "-" + hashlib.sha1(nodeid.encode()).hexdigest()[:12]
    return stem or "test"


def _write_report(item: pytest.Item, emulator: Emulator) -> list[Path]:
    """The test's run report, and beside it the display as it ends and its
    description; the files written."""
    folder = _report_dir(item.config)
    stem = _file_stem(item.nodeid)
    control = emulator.control
    report = control.report(folder / f"{stem}.html", since=item.stash.get(_LOG_START, 0), title=item.nodeid)
    picture = folder / f"{stem}.png"
    picture.write_bytes(control.screenshot())
    screen = folder / f"{stem}.screen.json"
    screen.write_text(json.dumps(control.request("screen"), indent=2, ensure_ascii=False) + "\n", encoding="utf-8")
    return [report, picture, screen]


@pytest.fixture
def zelvo(zelvo_session: Emulator, request: pytest.FixtureRequest) -> Iterator[Emulator]:
    """The session's `Emulator`, reset to a fresh start, its clock real or
    paused as the test is marked, and its agents closed after the test."""
    control = zelvo_session.control
    control.reset()
    # The reset keeps the clock's mode; each test says which it wants.
    if (request.node.get_closest_marker("zelvo_manual_clock")
            or request.config.getoption("--zelvo-clock") == "manual"):
        control.clock_pause()
    else:
        control.clock_resume()
    # Only this test's messages go into its report, from its start mark on.
    request.node.stash[_LOG_START] = control.mark(f"test start: {request.node.nodeid}") - 1
    yield zelvo_session
    zelvo_session.close_agents()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item: pytest.Item, call: pytest.CallInfo) -> Iterator[None]:
    outcome = yield
    report: pytest.TestReport = outcome.get_result()
    emulator = getattr(item, "funcargs", {}).get("zelvo")
    if report.when != "call" or not isinstance(emulator, Emulator):
        return
    control = emulator.control
    try:
        records, _ = control.log(since=item.stash.get(_LOG_START, 0))
    except ZelvoError as error:
        report.sections.append(("zelvo messages", f"the message record could not be read: {error}"))
        return
    if report.passed and _is_strict(item):
        failures = _strict_failures(records)
        if failures:
            report.outcome = "failed"
            report.longrepr = "zelvo strict: " + "\n".join(
                f"{record['agent']}: {record['sentence']}" for record in failures)
    try:
        control.mark(f"test end: {item.nodeid} {report.outcome}")
        wanted = item.config.getoption("--zelvo-report")
        if wanted == "always" or (wanted == "on-failure" and report.failed):
            files = _write_report(item, emulator)
            report.sections.append(("zelvo report", "\n".join(str(path) for path in files)))
    except (ZelvoError, OSError) as error:
        report.sections.append(("zelvo report", f"no report: {error}"))
    if report.failed:
        lines = [f"{record['seq']} {record['direction']} {record['kind']} {record['agent']}: "
                 f"{record['sentence']}" for record in records]
        report.sections.append(("zelvo messages", "\n".join(lines) or "no messages"))
