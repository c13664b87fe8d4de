"""What the check finds and how its lines say it: the points counted, the
lines of those unmet, and the waits that let Qt show what a host does."""
import os
import time
from pathlib import Path

WAIT = 3.0      # seconds for what must happen (rows read, a prompt answered)
SETTLE = 0.15   # seconds for what must not happen to show itself


class Unmet(Exception):
    """A point the host misses; its text is the line reported."""


def describe(exc):
    text = str(exc).strip().splitlines()
    return f"{type(exc).__name__}: {text[0]}" if text else type(exc).__name__


def plural(number, noun):
    return f"{number} {noun}" if number == 1 else f"{number} {noun}s"


class Findings:
    """The points checked and the lines of those unmet, each line once, printed
    as it is found: a host that crashes the process still leaves what came before."""

    def __init__(self):
        self.points = 0
        self.lines = []

    def check(self, met, line):
        self.points += 1
        if not met and line not in self.lines:
            self.lines.append(line)
            print(line, flush=True)
        return met

    def probe(self, name, attempt):
        """One point: `attempt()` returns, raising Unmet (its line) or another error."""
        try:
            attempt()
        except Unmet as unmet:
            return self.check(False, str(unmet))
        except Exception as exc:
            return self.check(False, f"{name} raised {describe(exc)}")
        return self.check(True, "")


def wait_until(done, seconds=WAIT):
    """Let Qt run until `done()` is true or `seconds` have passed; `done()`'s last value."""
    from PyQt6.QtTest import QTest
    deadline = time.monotonic() + seconds
    while not (result := done()) and time.monotonic() < deadline:
        QTest.qWait(10)
    return result


def settle():
    wait_until(lambda: False, SETTLE)


def action_name(action):
    return action.text().replace("&&", "\0").replace("&", "").replace("\0", "&")


def shown(folder, value):
    """A command's argument as a line shows it: paths relative to the check's folder."""
    if isinstance(value, (list, tuple)):
        return "[" + ", ".join(shown(folder, v) for v in value) + "]"
    if isinstance(value, os.PathLike):
        try:
            return str(Path(value).relative_to(folder))
        except ValueError:
            return str(value)
    return repr(value)
