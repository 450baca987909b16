"""What the display shows, as the emulator's `screen` command tells it:
each text's lines as drawn and whether it fit, each picture's place."""
from __future__ import annotations

from dataclasses import dataclass
from typing import Optional

# [x, y, width, height] in pixels of the 320 x 216 content area.
Rect = tuple[int, int, int, int]


def _rect(value: list) -> Rect:
    x, y, width, height = (int(number) for number in value)
    return (x, y, width, height)


@dataclass(frozen=True)
class ScreenText:
    rect: Rect
    text: str
    # In capitals, as drawn; the last one ends in "…" when the text was cut.
    lines: tuple[str, ...]
    cut: bool
    hidden_chars: int
    # Pixels the widest line runs past the rectangle's right edge.
    overflow: int
    missing_glyphs: int

    @property
    def fits(self) -> bool:
        return not self.cut and self.overflow == 0


@dataclass(frozen=True)
class ScreenImage:
    id: str
    rect: Rect
    # The part of the content area the picture covers; None when left out.
    drawn: Optional[Rect]
    # The display's border cut the picture.
    cut: bool
    # Indexes into `Screen.texts` of the texts under the picture.
    covers: tuple[int, ...]
    # Why it was left out ("image_not_stored", ...); None when drawn.
    reason: Optional[str]


@dataclass(frozen=True)
class Status:
    shown: bool
    battery: int
    charging: bool
    connected: bool


@dataclass(frozen=True)
class Timers:
    # -1 while the timer does not run.
    min_remaining_millis: int
    max_remaining_millis: int


@dataclass(frozen=True)
class Screen:
    agent: str
    content_id: int
    # As the message gave it, and the layout drawn (-1 with nothing shown).
    layout_id: str
    layout: int
    full_screen: bool
    texts: tuple[ScreenText, ...]
    images: tuple[ScreenImage, ...]
    status: Status
    timers: Timers

    @classmethod
    def from_json(cls, answer: dict) -> Screen:
        texts = tuple(ScreenText(_rect(text["rect"]), text["text"], tuple(text["lines"]), text["cut"],
                                 text["hiddenChars"], text["overflow"], text.get("missingGlyphs", 0))
                      for text in answer["texts"])
        images = tuple(ScreenImage(image["id"], _rect(image["rect"]),
                                   _rect(image["drawn"]) if image.get("drawn") else None,
                                   image.get("cut", False), tuple(image["covers"]), image.get("reason"))
                       for image in answer["images"])
        status = answer["status"]
        timers = answer["timers"]
        return cls(answer["agent"], answer["contentId"], answer["layoutId"], answer["layout"],
                   answer["fullScreen"], texts, images,
                   Status(status["shown"], status["battery"], status["charging"], status["connected"]),
                   Timers(int(timers["minRemainingMillis"]), int(timers["maxRemainingMillis"])))
