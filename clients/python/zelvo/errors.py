"""The exceptions of the package: one base, and the two cases callers tell apart."""


class ZelvoError(Exception):
    """The emulator could not be started or reached, or broke the protocol."""


class ZelvoTimeout(ZelvoError, TimeoutError):
    """No answer, event or ports file within the time given."""


class ZelvoRefused(ZelvoError):
    """The control channel answered a request with an error."""

    def __init__(self, command: str, reason: str) -> None:
        super().__init__(f"{command}: {reason}")
        self.command = command
        self.reason = reason
