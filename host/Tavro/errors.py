"""Reporting failures: logged to stderr and shown to the user, never an abort.

PyQt aborts the process when an exception escapes a slot unless
`sys.excepthook` has been replaced; the host replaces it with `report`.
"""
import sys
import traceback


def log(exc_type, exc, tb, context=None):
    if context:
        print(f"Tavro: {context}", file=sys.stderr)
    traceback.print_exception(exc_type, exc, tb, file=sys.stderr)
    sys.stderr.flush()


def sentence(text):
    """`text` ending in a full stop, as every message of the host does (status
    notes, error messages and each line of a listing in one); a text that ends
    in a full stop, question or exclamation mark or an ellipsis already is one."""
    text = text.rstrip()
    return text if text.endswith((".", "?", "!", "…")) else text + "."


def describe(exc):
    text = str(exc)
    return f"{type(exc).__name__}: {text}" if text else type(exc).__name__


def report(exc_type, exc, tb, context=None, window=None):
    """Log a traceback to stderr and show a one-line message in `window`
    (by default the application's)."""
    log(exc_type, exc, tb, context)
    try:
        if window is None:
            from . import tavro
            window = tavro.window
        prefix = f"{context}: " if context else "Unexpected error: "
        window.showErrorMessage(prefix + describe(exc))
    except Exception:  # the report itself must never raise
        traceback.print_exc(file=sys.stderr)


def report_current(context=None, window=None):
    """`report` for the exception being handled."""
    report(*sys.exc_info(), context=context, window=window)


def install_excepthook():
    """Route uncaught exceptions (slots, callbacks, virtual overrides) to `report`."""
    previous = sys.excepthook

    def hook(exc_type, exc, tb):
        if issubclass(exc_type, KeyboardInterrupt):
            previous(exc_type, exc, tb)
            return
        report(exc_type, exc, tb)

    sys.excepthook = hook
    return previous
