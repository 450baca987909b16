"""The events the emulator sends to agents, parsed into typed values."""
from __future__ import annotations

import enum
import json
from dataclasses import dataclass
from typing import Optional

from .errors import ZelvoError


class Kind(enum.IntEnum):
    BATTERY = 2
    BUTTON = 4
    ACCELEROMETER = 16
    COMPASS = 32
    LIGHT = 64


class Button(enum.IntEnum):
    PLUS = 0
    MINUS = 1


class Gesture(enum.IntEnum):
    PRESSED = 0
    RELEASED = 1
    CLICKED = 2
    LONG_PRESSED = 3


@dataclass(frozen=True)
class Event:
    kind: Kind
    values: tuple[float, float, float, float]
    # The content on the display when a button event left: "" and -1 when
    # none, and always so for sensor readings.
    app_id: str
    content_id: int
    # Button events only.
    button: Optional[Button] = None
    gesture: Optional[Gesture] = None

    @classmethod
    def parse(cls, payload: bytes) -> Event:
        try:
            message = json.loads(payload)
            data = message["data"]
            values = tuple(float(value) for value in data["values"])
            if len(values) != 4:
                raise ValueError(f"{len(values)} values instead of 4")
            kind = Kind(data["type"])
            is_button = kind is Kind.BUTTON
            return cls(kind=kind, values=values,  # type: ignore[arg-type]
                       app_id=str(message["appId"]), content_id=int(message["contentId"]),
                       button=Button(int(values[0])) if is_button else None,
                       gesture=Gesture(int(values[1])) if is_button else None)
        except (ValueError, KeyError, TypeError) as error:
            raise ZelvoError(f"not an event message ({error}): {payload[:200]!r}") from error
