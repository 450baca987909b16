"""The events the emulator sends to agents, parsed into typed values."""
from __future__ import annotations

import enum
import json
from dataclasses import dataclass, field
from typing import Optional, Union

from .errors import ZelvoError


class Kind(enum.IntEnum):
    """What sent an event: its `type` on the wire."""
    BATTERY = 2
    BUTTON = 4
    ACCELEROMETER = 16
    COMPASS = 32
    LIGHT = 64


class Button(enum.IntEnum):
    """The glasses' two buttons, as a button event's first value."""
    PLUS = 0
    MINUS = 1


class Gesture(enum.IntEnum):
    """What a button did, as a button event's second value."""
    PRESSED = 0
    RELEASED = 1
    CLICKED = 2
    LONG_PRESSED = 3


# The names the control channel gives the buttons and sensors.
_BUTTON_NAMES = {Button.PLUS: "plus", Button.MINUS: "minus"}
_SENSOR_NAMES = {Kind.BATTERY: "battery", Kind.ACCELEROMETER: "accelerometer",
                 Kind.COMPASS: "compass", Kind.LIGHT: "light"}


def button_name(button: Union[str, Button]) -> str:
    """"plus" or "minus" for a `Button`; a name is taken as it is."""
    return _BUTTON_NAMES[button] if isinstance(button, Button) else button


def sensor_name(sensor: Union[str, Kind]) -> str:
    """The control channel's name of a sensor `Kind`; a name is taken as it is."""
    if isinstance(sensor, Kind):
        if sensor not in _SENSOR_NAMES:
            raise ValueError(f"{sensor!r} is not a sensor")
        return _SENSOR_NAMES[sensor]
    return sensor


@dataclass(frozen=True)
class Event:
    """One event as an agent receives it.

    `kind` says what sent it; `values` are its four numbers as sent (a
    button event: the button, then the gesture; a reading: its values, the
    unused ones 0). `app_id` and `content_id` name the content that was on
    the display when a button event left: `""` and -1 when none, and always
    so for sensor readings. `button` and `gesture` are set for button events
    only. `raw` is the frame's payload as it arrived.
    """

    kind: Kind
    values: tuple[float, float, float, float]
    app_id: str
    content_id: int
    button: Optional[Button] = None
    gesture: Optional[Gesture] = None
    raw: bytes = field(default=b"", repr=False, compare=False)

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
                       gesture=Gesture(int(values[1])) if is_button else None, raw=bytes(payload))
        except (ValueError, KeyError, TypeError) as error:
            raise ZelvoError(f"not an event message ({error}): {payload[:200]!r}") from error
