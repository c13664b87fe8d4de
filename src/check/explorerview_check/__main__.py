"""The command: `python3.11 -m Tavro_Workspace.explorerview_check`."""
import argparse
import os
import shutil
import sys
import tempfile
from pathlib import Path

from .findings import Findings
from .host import check_host


def parse(argv):
    parser = argparse.ArgumentParser(
        prog="python3.11 -m Tavro_Workspace.explorerview_check",
        description="Check that the host's Kelpa toolkit and Tavro services give the explorer "
                    "panel what it needs: one line per unmet point, exit status 0 when all "
                    "are met, 1 when not. The host's commands run against files in a temporary "
                    "folder of the check's own, which is removed afterwards.")
    parser.add_argument("--path", metavar="DIR", action="append", default=[], type=Path,
                        help="a folder that holds Kelpa, Tavro or both (repeatable); searched "
                             "before PYTHONPATH")
    parser.add_argument("--show", action="store_true",
                        help="show the window on the display instead of drawing it offscreen")
    options = parser.parse_args(argv)
    for folder in options.path:
        if not folder.is_dir():
            parser.error(f"--path {folder}: not a folder")
    return options


def main(argv=None):
    options = parse(argv)
    if not options.show:
        os.environ["QT_QPA_PLATFORM"] = "offscreen"
    sys.path[:0] = [str(folder.resolve()) for folder in options.path]
    sys.dont_write_bytecode = True      # nothing written beside the host's sources
    base = Path(tempfile.mkdtemp(prefix="explorerview-check-")).resolve()
    # What the host's services write for the user (trash, settings, caches) stays here too.
    for name in ("XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"):
        os.environ[name] = str(base / "home" / name.lower())
    # Qt makes one in the temporary folder when none is set; a set one (a
    # display's sockets live there) is left as it is.
    if not os.environ.get("XDG_RUNTIME_DIR"):
        runtime = base / "home" / "runtime"
        runtime.mkdir(mode=0o700, parents=True)
        os.environ["XDG_RUNTIME_DIR"] = str(runtime)
    started = os.getcwd()
    os.chdir(base)
    findings = Findings()
    try:
        check_host(base, findings)
    finally:
        os.chdir(started)
        shutil.rmtree(base, ignore_errors=True)
    if findings.lines:
        print(f"{len(findings.lines)} of {findings.points} points unmet")
        return 1
    print(f"host meets the panel's contract: {findings.points} checks")
    return 0


if __name__ == "__main__":
    sys.exit(main())
