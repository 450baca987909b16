"""Starting a headless emulator of one's own, or finding a running one."""
from __future__ import annotations

import ipaddress
import json
import os
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Optional, Sequence, Union

from .agent import Agent
from .control import Control, default_token_file, home_token_file, wait_ready
from .errors import ZelvoError, ZelvoTimeout

PathLike = Union[str, os.PathLike]

# The emulator's debug lines trace every frame, event and reading; a CI run
# that plays a long trace would write gigabytes of them. Warnings stay.
QUIET_LOG_RULES = "*.debug=false"


@dataclass(frozen=True)
class Ports:
    """What an emulator writes to its ports file once both ports listen."""
    agent: int
    control: int
    token_file: Optional[Path] = None
    pid: Optional[int] = None
    # The web page's port; 0 when the emulator serves no page.
    web: int = 0
    # The address that reaches the control channel; None in older files.
    host: Optional[str] = None

    @classmethod
    def read(cls, path: PathLike) -> Ports:
        """The ports file an emulator wrote (`--ports-file`)."""
        try:
            data = json.loads(Path(path).read_text())
            token_file = data.get("tokenFile")
            return cls(agent=int(data["agentPort"]), control=int(data["controlPort"]),
                       token_file=Path(token_file) if token_file else None,
                       pid=int(data["pid"]) if "pid" in data else None,
                       web=int(data.get("webPort", 0)), host=data.get("host") or None)
        except (OSError, ValueError, KeyError, TypeError, AttributeError) as error:
            raise ZelvoError(f"not a ports file: {path}: {error}") from error


def _is_local(host: str) -> bool:
    try:
        return host == "localhost" or ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def _pictures_folder() -> Path:
    """The user's pictures folder, as Qt finds it: user-dirs.dirs, else ~/Pictures."""
    config = Path(os.environ.get("XDG_CONFIG_HOME") or Path.home() / ".config")
    try:
        for line in (config / "user-dirs.dirs").read_text().splitlines():
            if line.startswith("XDG_PICTURES_DIR="):
                return Path(line.split("=", 1)[1].strip('"').replace("$HOME", str(Path.home())))
    except OSError:
        pass
    return Path.home() / "Pictures"


def find_program() -> str:
    """The emulator to start: $ZELVO_EMULATOR, else ZelvoEmulator on PATH."""
    program = os.environ.get("ZELVO_EMULATOR") or shutil.which("ZelvoEmulator")
    if not program:
        raise ZelvoError("ZelvoEmulator not found: set ZELVO_EMULATOR or put it on PATH")
    return program


class Emulator:
    """An emulator to test against. `Emulator()` starts one headless on free
    ports with a temporary data folder, removed again on `stop`;
    `Emulator.attach(...)` uses one that runs already. Either way it is a
    context manager and hands out agents and a control connection."""

    def __init__(self, program: Optional[PathLike] = None, data_dir: Optional[PathLike] = None,
                 arguments: Sequence[str] = (), start_timeout: float = 30.0,
                 host: str = "127.0.0.1", log_rules: Optional[str] = None) -> None:
        """`log_rules` are the QT_LOGGING_RULES of an emulator this object
        starts, for example "zelvo.link.debug=true" or "*.debug=true". By
        default they are the caller's QT_LOGGING_RULES, and without those
        QUIET_LOG_RULES: debug lines off, warnings kept."""
        self.host = host
        self.log_rules = log_rules
        self.ports: Optional[Ports] = None
        self.process: Optional[subprocess.Popen] = None
        self._program = str(program) if program else None
        self._arguments = list(arguments)
        self._start_timeout = start_timeout
        self._own_folder: Optional[tempfile.TemporaryDirectory] = None
        self.data_dir = Path(data_dir) if data_dir else None
        self._control: Optional[Control] = None
        self._agents: list[Agent] = []

    @classmethod
    def attach(cls, ports_file: Optional[PathLike] = None, agent_port: Optional[int] = None,
               control_port: Optional[int] = None, token_file: Optional[PathLike] = None,
               host: Optional[str] = None, timeout: float = 30.0) -> Emulator:
        """A running emulator, by its ports file or by its ports (2000 and 2001
        by default, or the environment's ZELVO_AGENT_PORT and ZELVO_CONTROL_PORT)
        on `host` (ZELVO_HOST, else the address the ports file names, else
        127.0.0.1); waits up to `timeout` seconds for it to answer."""
        ports = Ports.read(ports_file) if ports_file is not None else None
        # As zelvo-ctl does: the environment's host wins over the file's.
        host = host or os.environ.get("ZELVO_HOST") or (ports.host if ports else None) or "127.0.0.1"
        emulator = cls(host=host)
        if ports is not None:
            emulator.ports = ports
        else:
            emulator.ports = Ports(
                agent=agent_port or int(os.environ.get("ZELVO_AGENT_PORT") or 2000),
                control=control_port or int(os.environ.get("ZELVO_CONTROL_PORT") or 2001),
                token_file=Path(token_file) if token_file else default_token_file())
        emulator._control = wait_ready(emulator.ports.control, emulator.ports.token_file,
                                       host=host, timeout=timeout)
        return emulator

    def __enter__(self) -> Emulator:
        if self.ports is None:
            self.start()
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.stop()

    @property
    def log_file(self) -> Optional[Path]:
        """The standard output and error of an emulator this object started."""
        return self.data_dir / "emulator.log" if self.process and self.data_dir else None

    def start(self) -> None:
        """Starts the emulator headless on free ports and waits until it
        answers; `Emulator()` as a context manager calls it."""
        if self.process is not None:
            raise ZelvoError("this emulator runs already")
        if self.data_dir is None:
            self._own_folder = tempfile.TemporaryDirectory(prefix="zelvo-")
            self.data_dir = Path(self._own_folder.name)
        self.data_dir.mkdir(parents=True, exist_ok=True)
        ports_file = self.data_dir / "ports.json"
        ports_file.unlink(missing_ok=True)
        command = [self._program or find_program(), "-platform", "offscreen",
                   "--agent-port", "0", "--control-port", "0",
                   "--data-dir", str(self.data_dir), "--ports-file", str(ports_file),
                   *self._arguments]
        environment = dict(os.environ)
        environment["QT_LOGGING_RULES"] = (self.log_rules if self.log_rules is not None
                                           else os.environ.get("QT_LOGGING_RULES", QUIET_LOG_RULES))
        with open(self.data_dir / "emulator.log", "wb") as log:
            self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log,
                                            stderr=subprocess.STDOUT, env=environment)
        deadline = time.monotonic() + self._start_timeout
        # The file is written atomically once both ports listen.
        while not ports_file.exists():
            if self.process.poll() is not None:
                code = self.process.returncode
                self.stop()
                raise ZelvoError(f"ZelvoEmulator exited with code {code} before it was ready")
            if time.monotonic() > deadline:
                self.stop()
                raise ZelvoTimeout(f"ZelvoEmulator wrote no ports file within {self._start_timeout:g} s")
            time.sleep(0.01)
        self.ports = Ports.read(ports_file)

    def stop(self) -> None:
        """Closes the agents and the control connection handed out, ends an
        emulator this object started and removes its temporary folder.

        The emulator is ended with SIGTERM, on which it stops as when its
        window is closed: running recordings are finished and written, its
        agents' connections closed and its ports file removed, and it exits
        with code 0. Only one that has not ended after 10 seconds is killed."""
        self.close_agents()
        if self._control is not None:
            self._control.close()
            self._control = None
        if self.process is not None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            self.process = None
            self.ports = None
        if self._own_folder is not None:
            self._own_folder.cleanup()
            self._own_folder = None
            self.data_dir = None

    def _ports(self) -> Ports:
        if self.ports is None:
            raise ZelvoError("the emulator is not running")
        return self.ports

    @property
    def control(self) -> Control:
        """One control connection, opened on first use and kept."""
        if self._control is None:
            ports = self._ports()
            self._control = Control.from_token_file(ports.control, ports.token_file, host=self.host)
        return self._control

    def agent(self, app_id: str = "", timeout: float = 10.0) -> Agent:
        """A newly connected agent; `stop` and `close_agents` close it."""
        agent = Agent(self._ports().agent, host=self.host, app_id=app_id, timeout=timeout)
        self._agents.append(agent)
        return agent

    def close_agents(self) -> None:
        """Closes every agent `agent` handed out."""
        for agent in self._agents:
            agent.close()
        self._agents.clear()

    def images(self, app_id: str) -> list[Path]:
        """The stored pictures of an agent: under this emulator's data folder,
        or for an attached one on this machine, under the data folder its
        token file is in or else the user's pictures folder."""
        folder = self._images_folder() / app_id
        return sorted(folder.glob(f"{app_id}_*"))

    def _images_folder(self) -> Path:
        if self.data_dir is not None:
            return self.data_dir / "images"
        token_file = self._ports().token_file
        if not _is_local(self.host) or token_file is None or not token_file.is_file():
            raise ZelvoError(f"images(): the emulator at {self.host} keeps its pictures where this machine cannot "
                             "see them (no token file of it here); ask for them on its machine")
        if token_file.resolve() != home_token_file().resolve():
            return token_file.parent / "images"
        return _pictures_folder() / "Zelvo"
