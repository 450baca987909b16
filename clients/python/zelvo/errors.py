"""The exceptions of the package: one base, and the two cases callers tell apart."""


class ZelvoError(Exception):
    """The emulator could not be started or reached, or broke the protocol."""


class ZelvoTimeout(ZelvoError, TimeoutError):
    """No answer, event or ports file within the time given."""


class ZelvoRefused(ZelvoError):
    """The control channel answered a request with an error. `usage` is true
    when the request itself was wrong (a member missing, unknown or out of
    range) rather than refused; `turned_away` when the emulator closed the
    connection instead of answering the request."""

    def __init__(self, command: str, reason: str, usage: bool = False, turned_away: bool = False) -> None:
        super().__init__(f"{command}: {reason}")
        self.command = command
        self.reason = reason
        self.usage = usage
        self.turned_away = turned_away
