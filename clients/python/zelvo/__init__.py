"""Drive the Zelvo glasses emulator from Python: agents, control and tests."""
from .agent import Agent, Picture
from .control import Control, wait_ready
from .emulator import Emulator, Ports, find_program
from .errors import ZelvoError, ZelvoRefused, ZelvoTimeout
from .events import Button, Event, Gesture, Kind
from .screen import Screen, ScreenImage, ScreenText

__all__ = ["Agent", "Button", "Control", "Emulator", "Event", "Gesture", "Kind", "Picture",
           "Ports", "Screen", "ScreenImage", "ScreenText", "ZelvoError", "ZelvoRefused", "ZelvoTimeout", "find_program", "wait_ready"]
