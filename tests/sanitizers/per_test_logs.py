"""pytest plugin of `make asan`: the sanitizer reports of the processes that a
test starts go to a folder of that test's own.

A report is named after its process id, and one run of the suite starts more
processes than there are ids (32,768 by default on Linux): a later process that
gets an earlier one's id would write over its report. A folder per test keeps
them apart and says which test a report belongs to: its name, and in full in
its file `test`. run_asan.py names the folders' parent in LOG_ROOT_VARIABLE.
"""
import itertools
import os
import re
from pathlib import Path

import pytest

LOG_ROOT_VARIABLE = "EXPLORERVIEW_SANITIZER_TEST_LOGS"
OPTIONS = {"ASAN_OPTIONS": "asan", "UBSAN_OPTIONS": "ubsan"}
_numbers = itertools.count(1)


def with_log_path(options, path):
    """`options` (a sanitizer's colon-separated settings) logging to `path`."""
    kept = [entry for entry in options.split(":") if entry and not entry.startswith("log_path=")]
    return ":".join([*kept, f"log_path={path}"])


def folder_of(item):
    """A new folder for the reports of `item`'s processes. run_asan.py starts
    each run from an empty folder; should another run's folder be there all the
    same, this one takes the next number rather than mix reports or fail."""
    root = Path(os.environ[LOG_ROOT_VARIABLE])
    name = re.sub(r"[^\w.-]+", "_", item.nodeid)[:120]
    for number in _numbers:
        folder = root / f"{number:04d}-{name}"
        try:
            folder.mkdir(parents=True)
        except FileExistsError:
            continue  # another run's
        break
    folder.chmod(0o1777)  # some scenarios run as an unprivileged user, who logs here too
    (folder / "test").write_text(item.nodeid)
    return folder


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_protocol(item, nextitem):
    if LOG_ROOT_VARIABLE not in os.environ:
        yield
        return
    folder = folder_of(item)
    saved = {name: os.environ.get(name) for name in OPTIONS}
    for name, kind in OPTIONS.items():
        os.environ[name] = with_log_path(saved[name] or "", folder / kind)
    try:
        yield
    finally:
        for name, value in saved.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value

