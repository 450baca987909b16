"""The control channel: one JSON request a line, answered in order."""
from __future__ import annotations

import base64
import json
import os
import socket
import time
from pathlib import Path
from typing import Any, Optional, Union

from .errors import ZelvoError, ZelvoRefused, ZelvoTimeout
from .events import Button, Kind, button_name, sensor_name
from .screen import Screen

# The largest sequence number the channel takes: records after it are none.
_MAX_SEQUENCE = 2 ** 53

BUTTONS = ("plus", "minus")
SENSORS = ("battery", "accelerometer", "compass", "light")


def home_token_file() -> Path:
    """Where an emulator started without a data folder keeps its token."""
    config = os.environ.get("XDG_CONFIG_HOME") or Path.home() / ".config"
    return Path(config) / "Zelvo" / "control-token"


def default_token_file() -> Path:
    """Where the emulator the environment names keeps its token: in
    $ZELVO_DATA_DIR, else in the home folders."""
    data_dir = os.environ.get("ZELVO_DATA_DIR")
    return Path(data_dir) / "control-token" if data_dir else home_token_file()


def _unreachable(host: str, port: int, error: OSError) -> ZelvoError:
    """Why a port could not be reached, in zelvo-ctl's words."""
    if isinstance(error, ConnectionRefusedError):
        return ZelvoError(f"no emulator is running: nothing listens on {host}:{port}")
    return ZelvoError(f"no emulator control channel on {host}:{port}: {error}")


class Control:
    """One authenticated control connection. Every command returns once the
    emulator applied it; a refusal raises `ZelvoRefused`, silence beyond
    `timeout` seconds (plus any hold or wait the request asks for)
    `ZelvoTimeout`, after which the connection is closed."""

    def __init__(self, port: int, token: Union[str, bytes], host: str = "127.0.0.1",
                 timeout: float = 30.0, *, _token_source: str = "") -> None:
        self.timeout = timeout
        self._where = f"{host}:{port}"
        try:
            self._socket = socket.create_connection((host, port), timeout=timeout)
        except OSError as error:
            raise _unreachable(host, port, error) from error
        self._lines = self._socket.makefile("rb")
        self._next_id = 0
        token_text = token.decode("ascii") if isinstance(token, bytes) else token
        try:
            self.request("auth", token=token_text.strip())
        except ZelvoRefused as error:
            self.close()
            # Turned away before the token was read, or the token refused.
            if error.turned_away:
                raise ZelvoRefused("auth", f"the emulator refused the connection: {error.reason}") from error
            source = f" in {_token_source}" if _token_source else ""
            raise ZelvoRefused("auth", f"the emulator refused the token{source}: {error.reason}") from error
        except ZelvoTimeout as error:
            raise ZelvoTimeout(f"nothing answered on {self._where} within {timeout:g} s; is it the emulator's "
                               "control port, not its agent port?") from error
        except ZelvoError:
            self.close()
            raise

    @classmethod
    def from_token_file(cls, port: int, token_file: Union[str, os.PathLike, None] = None,
                        **options: Any) -> Control:
        """A control connection on `port` that presents the token of
        $ZELVO_CONTROL_TOKEN, else the one in `token_file` (by default the
        user's, `~/.config/Zelvo/control-token`)."""
        # A token given by the environment is the one the emulator was given too.
        given = os.environ.get("ZELVO_CONTROL_TOKEN")
        if given:
            return cls(port, given, _token_source="ZELVO_CONTROL_TOKEN", **options)
        path = Path(token_file) if token_file else default_token_file()
        try:
            token = path.read_text().strip()
        except OSError as error:
            # Without an emulator there is no token either, and that is not
            # what to tell.
            host = options.get("host", "127.0.0.1")
            try:
                socket.create_connection((host, port), timeout=options.get("timeout", 30.0)).close()
            except OSError as unreachable:
                raise _unreachable(host, port, unreachable) from error
            raise ZelvoError(f"cannot read the control token {path}: {error.strerror} "
                             "(is the emulator running as this user?)") from error
        return cls(port, token, _token_source=str(path), **options)

    def __enter__(self) -> Control:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def close(self) -> None:
        """Closes the connection."""
        self._lines.close()
        self._socket.close()

    def request(self, cmd: str, extra_seconds: float = 0.0, **fields: Any) -> dict:
        """Sends one request and returns its answer's results."""
        if self._socket.fileno() < 0:
            raise ZelvoError(f"{cmd}: the control connection is closed")
        self._next_id += 1
        request = {"id": self._next_id, "cmd": cmd, **fields}
        try:
            self._socket.settimeout(self.timeout + extra_seconds)
            self._socket.sendall(json.dumps(request).encode("utf-8") + b"\n")
            line = self._lines.readline()
        except socket.timeout as error:
            # A late answer would be taken for the next request's.
            self.close()
            raise ZelvoTimeout(f"{cmd}: no answer within {self.timeout + extra_seconds:g} s") from error
        except OSError as error:
            self.close()
            raise ZelvoError(f"{cmd}: control connection failed: {error}") from error
        if not line:
            self.close()
            raise ZelvoError(f"{cmd}: the emulator closed the control connection")
        try:
            answer = json.loads(line)
            if not isinstance(answer, dict):
                raise ValueError("not an object")
        except ValueError as error:
            self.close()
            raise ZelvoError(f"{cmd}: {self._where} answered with something other than a JSON line "
                             f"({line[:16]!r}); it is no control channel, the emulator's agent port "
                             "perhaps") from error
        if not answer.get("ok"):
            raise ZelvoRefused(cmd, str(answer.get("error", "refused without a reason")),
                               usage=bool(answer.get("usage")), turned_away=answer.get("id") is None)
        answer.pop("ok")
        answer.pop("id", None)
        return answer

    # Buttons are "plus" or "minus", or a `Button`; sensors "battery",
    # "accelerometer", "compass" or "light", or their `Kind`.
    def click(self, button: Union[str, Button] = "plus") -> None:
        """Presses and releases the button; returns once its events went out."""
        self.request("button", button=button_name(button), gesture="click")

    def press(self, button: Union[str, Button] = "plus", hold_ms: Optional[int] = None) -> None:
        """Presses and keeps the button down, or releases it after `hold_ms`."""
        if hold_ms is None:
            self.request("button", button=button_name(button), gesture="press")
        else:
            self.request("button", hold_ms / 1000, button=button_name(button), gesture="press", hold=hold_ms)

    def release(self, button: Union[str, Button] = "plus") -> dict:
        """Releases a pressed button."""
        return self.request("button", button=button_name(button), gesture="release")

    def long_press(self, button: Union[str, Button] = "plus") -> None:
        """Holds the button until its long press fires, then releases it; on
        a paused clock that moves the clock on by the long-press time."""
        self.request("button", button=button_name(button), gesture="long")

    def sensor(self, name: Union[str, Kind], *values: float) -> None:
        """Sends one reading of `name` with these values, as the sensor panel's
        single shot does: a battery reading leaves the shown level alone
        (`battery` sets it)."""
        self.request("sensor", sensor=sensor_name(name), values=list(values))

    def simulate(self, name: Union[str, Kind], running: bool = True) -> bool:
        """Starts or stops the sensor's simulation; whether that changed it."""
        return self.request("sensor", sensor=sensor_name(name), action="start" if running else "stop")["changed"]

    def trace(self, path: Union[str, os.PathLike], wait: bool = False,
              timeout: Optional[float] = None) -> dict:
        """Plays a CSV trace; with `wait`, returns once it ended (or raises
        `ZelvoTimeout` after `timeout` more seconds)."""
        extra = (timeout if timeout is not None else 600.0) if wait else 0.0
        return self.request("trace", extra, file=str(Path(path).resolve()), wait=wait)

    def stop_trace(self) -> dict:
        """Ends the trace that plays."""
        return self.request("trace", action="stop")

    def screenshot(self, path: Union[str, os.PathLike, None] = None,
                   opaque: bool = False) -> Union[bytes, Path]:
        """The 320 x 240 display as PNG bytes, or written to `path`; `opaque`
        gives black where the glasses show nothing instead of transparency."""
        fields: dict[str, Any] = {"opaque": True} if opaque else {}
        if path is None:
            return base64.b64decode(self.request("screenshot", **fields)["png"])
        target = Path(path).resolve()
        self.request("screenshot", path=str(target), **fields)
        return target

    def record_display(self, path: Union[str, os.PathLike],
                       seconds: Optional[float] = None, wait: bool = False) -> Path:
        """Records the display as an animated PNG at `path`, for `seconds` or
        until `record_stop`; with `seconds` and `wait`, returns once the
        file is written."""
        target = Path(path).resolve()
        fields: dict[str, Any] = {} if seconds is None else {"seconds": seconds}
        extra = 0.0
        if wait and seconds is not None:
            fields["wait"] = True
            extra = seconds
        self.request("record", extra, what="display", file=str(target), **fields)
        return target

    def record_session(self, path: Union[str, os.PathLike]) -> Path:
        """Records every message and event as JSON lines at `path` until `record_stop`."""
        target = Path(path).resolve()
        self.request("record", what="session", file=str(target))
        return target

    def record_stop(self) -> dict:
        """Ends the recordings; per recording its `file` and `frames` or `records`."""
        return self.request("record", what="stop")

    def link(self) -> dict:
        """The link faults: `refused`, `delayMillis`, the `agents` connected, and
        `droppedEvents`, the events that did not fit the delayed link."""
        return self.request("link")

    def link_drop(self) -> int:
        """Drops every agent connection; how many there were."""
        return self.request("link", action="drop")["dropped"]

    def link_refuse(self, on: bool = True) -> dict:
        """Refuses new agent connections, or accepts them again."""
        return self.request("link", action="refuse", on=on)

    def link_delay(self, ms: int) -> dict:
        """Holds every message to the agents for `ms` milliseconds, in order (what
        they send is handled at once); what already waits counts the new delay,
        so 0 sends it at once."""
        return self.request("link", action="delay", millis=ms)

    def battery(self, level: int, charging: Optional[bool] = None) -> dict:
        """Sets the battery level, and whether it charges when given."""
        fields: dict[str, Any] = {} if charging is None else {"charging": charging}
        return self.request("battery", level=level, **fields)

    def state(self) -> dict:
        """The emulator's state, as `zelvo-ctl state` prints it."""
        return self.request("state")

    def screen(self) -> Screen:
        """What the display shows now: texts line by line with their fit,
        pictures with their place; empty lists while no content is shown."""
        return Screen.from_json(self.request("screen"))

    def wait_content(self, app_id: str, content_id: Optional[int] = None,
                     since: Optional[int] = None, timeout: float = 10.0) -> dict:
        """Returns once that content was drawn; raises `ZelvoRefused` with the
        emulator's sentence at once when it was skipped, not drawn or refused."""
        fields: dict[str, Any] = {"contentOf": app_id, "timeout": int(timeout * 1000)}
        if content_id is not None:
            fields["contentId"] = content_id
        if since is not None:
            fields["since"] = since
        return self.request("wait", timeout, **fields)

    def last_sequence(self) -> int:
        """The sequence number of the newest record (0 before any), to wait
        for what comes after it."""
        return self.request("log", since=_MAX_SEQUENCE)["last"]

    def wait_next_content(self, app_id: str, since: Optional[int] = None, timeout: float = 10.0) -> dict:
        """Returns once content of `app_id` arrived after record `since` and was
        drawn, whatever its id: take `since` from `last_sequence()` before the
        agent sends (by default it is taken now, and content that came before
        does not count). Raises `ZelvoRefused` with the emulator's sentence at
        once when that content was skipped, not drawn or refused."""
        return self.wait_content(app_id, None, self.last_sequence() if since is None else since, timeout)

    def wait_removed(self, app_id: str, content_id: Optional[int] = None, timeout: float = 10.0) -> dict:
        """Returns once none of that content is on the display (at once when
        it is not); raises `ZelvoRefused` when it still is after `timeout`."""
        fields: dict[str, Any] = {"contentOf": app_id, "removed": True, "timeout": int(timeout * 1000)}
        if content_id is not None:
            fields["contentId"] = content_id
        return self.request("wait", timeout, **fields)

    def log(self, since: Optional[int] = None, agent: Optional[str] = None) -> tuple[list[dict], int]:
        """The records after `since`, oldest first, and the newest sequence number."""
        fields: dict[str, Any] = {}
        if since is not None:
            fields["since"] = since
        if agent is not None:
            fields["agent"] = agent
        answer = self.request("log", **fields)
        return answer["records"], answer["last"]

    def reset(self) -> dict:
        """Brings the emulator back to the state of a fresh start."""
        return self.request("reset")

    def mark(self, text: str) -> int:
        """Puts a mark with `text` in the message record (the start or the end
        of a test, say), which reports and the web page show; returns its
        sequence number."""
        return int(self.request("mark", text=text)["seq"])

    def report(self, path: Union[str, os.PathLike], since: Optional[int] = None,
               title: Optional[str] = None, timeout: float = 60.0) -> Path:
        """Writes a run report to `path` here, wherever the emulator runs: one
        HTML file that opens in a browser by itself, with every record since
        the start or the last reset (or after record `since`) beside the
        display as it was right after each."""
        fields: dict[str, Any] = {}
        if since is not None:
            fields["since"] = since
        if title is not None:
            fields["title"] = title
        answer = self.request("report", timeout, **fields)
        target = Path(path)
        target.parent.mkdir(parents=True, exist_ok=True)
        partial = target.with_name(target.name + ".part")
        partial.write_text(answer["html"], encoding="utf-8")
        partial.replace(target)
        return target

    # Every clock call returns the clock as the channel's answers carry it
    # under "clock": {"mode": "real" | "manual", "now": MS}, with
    # "advancingTo": MS while an advance runs.
    def clock_pause(self) -> dict:
        """Stops the device's time: persisting times, sensor periods, long
        presses, traces and the link delay wait for `clock_advance`. Returns
        the clock: `mode` and `now` (milliseconds since the emulator began)."""
        return self.request("clock", action="pause")["clock"]

    def clock_resume(self) -> dict:
        """Lets the device's time run again from where it stands; returns the
        clock. Raises `ZelvoRefused` while an advance runs."""
        return self.request("clock", action="resume")["clock"]

    def clock_advance(self, ms: int, timeout: Optional[float] = None) -> dict:
        """Moves the paused clock `ms` milliseconds on, after any advance that
        runs already; every timer due on the way has fired, each at its own
        time, and all it caused is done, when this returns the clock. The
        emulator serves everything else meanwhile. The answer may take
        `timeout` seconds on top of the connection's own time-out; by
        default as many seconds as the advance moves the clock."""
        extra = timeout if timeout is not None else ms / 1000
        return self.request("clock", extra, action="advance", ms=ms)["clock"]

    def clock_state(self) -> dict:
        """The clock: `mode`, `now`, and `advancingTo` while an advance runs."""
        return self.request("clock", action="state")["clock"]

    def pose(self, yaw: Optional[float] = None, pitch: Optional[float] = None, roll: Optional[float] = None,
             over_ms: Optional[int] = None) -> dict:
        """Places the wearer's head (degrees: yaw clockwise from north, pitch
        looking up, roll right ear down; the angles not given stay), which
        sends one compass and one accelerometer reading; with `over_ms`,
        moves it there in that time, readings at the pose rate on the way,
        and returns once it arrived (on a paused clock the clock moves on).
        Returns the head's state: `yaw`, `pitch`, `roll`, `moving`, `rate`."""
        angles = {key: value for key, value in (("yaw", yaw), ("pitch", pitch), ("roll", roll)) if value is not None}
        if over_ms is None:
            return self.request("pose", **angles)["pose"]
        return self.request("pose", over_ms / 1000, action="move", over=over_ms, **angles)["pose"]

    def gesture(self, name: str, times: int = 1) -> dict:
        """Plays "nod", "shake", "tilt-left", "tilt-right", "look-up" or
        "look-down" `times` times and returns once it ended, with the head's
        state and `completed` (false when something else ended it)."""
        return self.request("pose", times * 1.0, action="gesture", gesture=name, times=times)

    def pose_rate(self, per_second: int) -> dict:
        """Readings a second during moves and gestures, 1 to 100 (50 at start)."""
        return self.request("pose", action="rate", rate=per_second)["pose"]

    def pose_state(self) -> dict:
        """The head's pose: `yaw`, `pitch`, `roll`, `moving` and `rate`."""
        return self.request("pose", action="state")["pose"]

    def fullscreen(self, on: bool = True) -> bool:
        """Switches full screen; whether that changed it."""
        return self.request("fullscreen", mode="on" if on else "off")["changed"]


def wait_ready(port: int, token_file: Union[str, os.PathLike, None] = None,
               host: str = "127.0.0.1", timeout: float = 30.0) -> Control:
    """A control connection once the emulator answers `state`, asking again
    until `timeout` seconds have passed: a starting emulator may not have
    written its token yet, or a file may still hold an earlier run's."""
    deadline = time.monotonic() + timeout
    while True:
        control: Optional[Control] = None
        try:
            control = Control.from_token_file(port, token_file, host=host,
                                              timeout=max(deadline - time.monotonic(), 0.01))
            control.state()
            # Later requests wait as long as any other connection's.
            control.timeout = 30.0
            return control
        except ZelvoError as error:
            if control is not None:
                control.close()
            left = deadline - time.monotonic()
            if left <= 0:
                raise ZelvoTimeout(f"no emulator answered on port {port} within {timeout:g} s: {error}") from error
        time.sleep(min(0.05, left))
