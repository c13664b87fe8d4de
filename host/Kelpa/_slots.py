"""Connecting a host callable that takes no argument to a Qt signal.

`triggered` and `clicked` carry a `checked` bool. PyQt retries a slot without
its arguments only when the call fails with a TypeError that has no traceback,
and the plug-ins' native methods always add a traceback entry of their own, so
the toolkit drops the signal's arguments itself instead of relying on a retry.
"""


def connect_without_arguments(signal, callback):
    """Connect `signal` so that each emission calls `callback()` with nothing."""
    if not callable(callback):
        raise TypeError(f"triggered must be callable, not {type(callback).__name__}")

    def run(*_signal_arguments):
        return callback()

    signal.connect(run)
    return run
