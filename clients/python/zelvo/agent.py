"""The agent side of the protocol: frames of JSON out, event frames in."""
from __future__ import annotations

import base64
import collections
import json
import os
import socket
import struct
import time
from pathlib import Path
from typing import Deque, Iterable, Optional, Union

from .errors import ZelvoError, ZelvoTimeout
from .events import Event, Kind

# A picture is a file to read, or the bytes of a PNG or ZI file.
Picture = Union[str, os.PathLike, bytes]

_HEADER = struct.Struct(">i")
# The longest frame the emulator takes or sends; a longer announced length
# is no frame of its.
_MAX_PAYLOAD = 64 * 1024 * 1024
_PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
_ZI_SIGNATURE = b".zi"


def _picture_bytes(index: int, picture: Picture) -> bytes:
    data = bytes(picture) if isinstance(picture, (bytes, bytearray)) else Path(picture).read_bytes()
    if not data.startswith((_PNG_SIGNATURE, _ZI_SIGNATURE)):
        raise ZelvoError(f"picture {index} is neither PNG nor ZI")
    return data


class Agent:
    """One agent connection. Events of other kinds than asked for wait in a
    backlog for a later `events` call rather than being lost."""

    def __init__(self, port: int, host: str = "127.0.0.1", app_id: str = "",
                 timeout: float = 10.0) -> None:
        self.app_id = app_id
        self.timeout = timeout
        self._where = f"{host}:{port}"
        try:
            self._socket = socket.create_connection((host, port), timeout=timeout)
        except OSError as error:
            if isinstance(error, ConnectionRefusedError):
                raise ZelvoError(f"no emulator is running: nothing listens on {self._where}") from error
            raise ZelvoError(f"no emulator agent port on {self._where}: {error}") from error
        self._received = bytearray()
        self._backlog: Deque[Event] = collections.deque()

    def __enter__(self) -> Agent:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def close(self, timeout: float = 5.0) -> None:
        """Ends the connection without losing a frame either way: shuts down
        the sending side, so that the emulator reads all that was sent,
        keeps the events that still come for `events` until the emulator
        closes its side (at most `timeout` seconds), then closes."""
        if self._socket.fileno() < 0:
            return
        deadline = time.monotonic() + timeout
        try:
            self._socket.shutdown(socket.SHUT_WR)
            while True:
                self._backlog.append(Event.parse(self._read_frame(deadline)))
        except (ZelvoError, OSError):
            pass
        finally:
            self._socket.close()

    def send(self, message: dict) -> None:
        """Sends one action as it is, for what the methods below do not cover."""
        payload = json.dumps(message).encode("utf-8")
        try:
            self._socket.sendall(_HEADER.pack(len(payload)) + payload)
        except OSError as error:
            raise ZelvoError(f"cannot send to the emulator: {error}") from error

    def config(self, app_id: str, pictures: Iterable[Picture] = ()) -> None:
        """Introduces the agent and stores its pictures as images 0, 1, ..."""
        images = [base64.b64encode(_picture_bytes(index, picture)).decode("ascii")
                  for index, picture in enumerate(pictures)]
        self.app_id = app_id
        self.send({"command.type": "agent_config", "appId": app_id, "images": images})

    def content(self, layout: Union[int, str], images: Iterable[Union[int, str]] = (),
                texts: Iterable[str] = (), content_id: int = 0,
                app_id: Optional[str] = None) -> None:
        """Shows content on the display.

        Args:
            layout: the layout, 0 to 4 (`zelvo-agent layouts` prints what
                each takes); sent as the message's `layoutId`.
            images: the ids of the stored images the layout draws, in its
                order: the indexes `config` stored them under.
            texts: the texts the layout draws, in its order.
            content_id: the content's id, which events and the record name
                and `Control.wait_content` waits for.
            app_id: the agent hash the content belongs to; by default the
                one this agent was made or configured with.

        The emulator answers nothing: `Control.wait_content` tells what
        became of it (drawn, skipped, not drawn or refused)."""
        self.send({"command.type": "agent_content",
                   "appId": self.app_id if app_id is None else app_id,
                   "contentId": content_id, "layoutId": str(layout),
                   "images.id": [str(image) for image in images], "texts": list(texts)})

    def timing(self, min_ms: int, max_ms: int) -> None:
        """Sets the minimum and maximum persisting times of the next content."""
        self.send({"command.type": "zelvo_config",
                   "minPersistingTimeMillis": min_ms, "maxPersistingTimeMillis": max_ms})

    def events(self, kind: Optional[Kind] = None, count: int = 1,
               timeout: Optional[float] = None) -> list[Event]:
        """The next `count` events of `kind` (any when None), waiting at most
        `timeout` seconds for all of them."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        wanted = lambda event: kind is None or event.kind == kind
        seen: list[Event] = []
        try:
            while sum(map(wanted, seen)) < count:
                seen.append(self._backlog.popleft() if self._backlog
                            else Event.parse(self._read_frame(deadline)))
        except ZelvoTimeout as error:
            self._backlog.extendleft(reversed(seen))
            name = "events" if kind is None else f"{Kind(kind).name.lower()} events"
            raise ZelvoTimeout(f"{sum(map(wanted, seen))} of {count} {name} arrived "
                               "in time") from error
        # The others stay, in the order they came, before anything newer.
        self._backlog.extendleft(reversed([event for event in seen if not wanted(event)]))
        return [event for event in seen if wanted(event)]

    def raw_events(self, count: int = 1, timeout: Optional[float] = None) -> list[bytes]:
        """The next `count` events of any kind as the emulator sent them: each
        frame's payload, byte for byte."""
        return [event.raw for event in self.events(None, count, timeout)]

    def _read_frame(self, deadline: float) -> bytes:
        # Partial frames stay in the buffer across a timeout, so the stream
        # never gets out of step.
        while True:
            if len(self._received) >= _HEADER.size:
                (length,) = _HEADER.unpack_from(self._received)
                end = _HEADER.size + length
                if not 0 <= length <= _MAX_PAYLOAD:
                    # A line of JSON is quoted once it came whole.
                    if not self._received.startswith(b"{") or b"\n" in self._received:
                        raise ZelvoError(self._not_frames())
                elif len(self._received) >= end:
                    payload = bytes(self._received[_HEADER.size:end])
                    del self._received[:end]
                    return payload
            if self._socket.fileno() < 0:
                raise ZelvoError("the agent's connection is closed")
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise ZelvoTimeout("no event in time")
            self._socket.settimeout(remaining)
            try:
                chunk = self._socket.recv(65536)
            except socket.timeout as error:
                raise ZelvoTimeout("no event in time") from error
            except OSError as error:
                raise ZelvoError(f"connection to the emulator failed: {error}") from error
            if not chunk:
                if self._received.startswith(b"{"):
                    raise ZelvoError(self._not_frames())
                raise ZelvoError("the emulator closed the connection")
            self._received += chunk

    def _not_frames(self) -> str:
        start = bytes(self._received)
        line = start.split(b"\n")[0]
        try:
            said = json.loads(line).get("error")
        except (ValueError, AttributeError):
            return (f"{self._where} answered with something other than frames ({start[:16]!r}): it is not "
                    "the emulator's agent port")
        return (f"{self._where} answered with a line of JSON, not with frames: it is a control channel, not "
                f"the emulator's agent port (it said: {said})")
