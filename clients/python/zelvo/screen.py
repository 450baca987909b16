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
    """One text of the content as drawn.

    Attributes:
        rect: the layout's rectangle for it, `(x, y, width, height)` in
            pixels of the 320 x 216 content area.
        text: the text as the message gave it.
        lines: its lines in capitals, as drawn; the last one ends in "…"
            when the text was cut.
        cut: whether it was cut at its rectangle's foot.
        hidden_chars: the characters left out by the cut.
        overflow: pixels the widest line runs past the rectangle's right edge.
        missing_glyphs: characters no installed font can show (drawn as
            empty boxes).
    """
    rect: Rect
    text: str
    lines: tuple[str, ...]
    cut: bool
    hidden_chars: int
    overflow: int
    missing_glyphs: int

    @property
    def fits(self) -> bool:
        """Whether the text was drawn whole, within its rectangle."""
        return not self.cut and self.overflow == 0


@dataclass(frozen=True)
class ScreenImage:
    """One picture of the content.

    Attributes:
        id: the image id the message named.
        rect: where the layout places it, `(x, y, width, height)`.
        drawn: the part of the content area the picture covers; None when
            left out.
        cut: whether the display's border cut the picture.
        covers: indexes into `Screen.texts` of the texts under the picture.
        reason: why it was left out (`"image_not_stored"`,
            `"image_unreadable"`); None when drawn.
    """
    id: str
    rect: Rect
    drawn: Optional[Rect]
    cut: bool
    covers: tuple[int, ...]
    reason: Optional[str]


@dataclass(frozen=True)
class Status:
    """The status strip: whether it shows, the battery level and bolt, and
    the link sign (an agent connected)."""
    shown: bool
    battery: int
    charging: bool
    connected: bool


@dataclass(frozen=True)
class Timers:
    """Milliseconds the content's minimum and maximum persisting times still
    run; -1 while a timer does not run."""
    min_remaining_millis: int
    max_remaining_millis: int


@dataclass(frozen=True)
class Screen:
    """What the display shows, as `Control.screen` returns it.

    Attributes:
        agent: the agent hash of the content shown, `""` when none.
        content_id: its content id.
        layout_id: the layout as the message gave it.
        layout: the layout drawn, -1 with nothing shown.
        full_screen: whether the window is in full-screen mode.
        texts: the texts, in the layout's order.
        images: the pictures, in the layout's order.
        status: the status strip.
        timers: the persisting times still to run.
    """
    agent: str
    content_id: int
    layout_id: str
    layout: int
    full_screen: bool
    texts: tuple[ScreenText, ...]
    images: tuple[ScreenImage, ...]
    status: Status
    timers: Timers

    @classmethod
    def from_json(cls, answer: dict) -> Screen:
        """The answer of the control channel's `screen` command, typed."""
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
