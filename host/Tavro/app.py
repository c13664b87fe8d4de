"""Running the demo host: `python -m Tavro [folder]`.

With no display the window is rendered offscreen, saved as a PNG screenshot
and the program exits, so the demo can be checked on a headless machine.
"""
import argparse
import os
import sys
from pathlib import Path

SETTLE_MS = 5000   # longest wait for the folder to load before a screenshot


def _headless():
    return not os.environ.get("DISPLAY") and not os.environ.get("WAYLAND_DISPLAY")


def parse(argv):
    parser = argparse.ArgumentParser(prog="python -m Tavro",
                                     description="Demo host for the explorer panel.")
    parser.add_argument("folder", nargs="?", help="folder to open (default: none)")
    parser.add_argument("--screenshot", metavar="PNG",
                        default=os.environ.get("TAVRO_SCREENSHOT") or "demo-screenshot.png",
                        help="where a headless run writes its screenshot "
                             "(default: $TAVRO_SCREENSHOT, else %(default)s)")
    args = parser.parse_args(argv)
    if args.folder is not None and not _may_be_folder(Path(args.folder).expanduser()):
        parser.error(f"not a folder: {args.folder}")
    return args


def _may_be_folder(path):
    """False only for what is surely no folder: one inside a folder that
    cannot be searched is left to the window, which says why it cannot open it."""
    try:
        return path.is_dir()
    except PermissionError:
        return True


# The endings a folder's README is written with; any case, as "README" alone.
README_SUFFIXES = {"", ".md", ".markdown", ".txt", ".rst", ".adoc", ".asciidoc", ".org"}


def _readme(folder):
    """The folder's README file, or None: "README", "readme.md", "ReadMe.rst",
    ... but not every name that starts with "readme" (readme_embed.py)."""
    try:
        names = sorted(folder.iterdir())
    except OSError:
        return None
    for path in names:
        stem, suffix = os.path.splitext(path.name)
        if stem.lower() == "readme" and suffix.lower() in README_SUFFIXES and path.is_file():
            return path
    return None


def _wait_for_folder(window, folder=None):
    """Run the event loop until the panel has read its folder and sorted it
    (or SETTLE_MS), then one more short turn to paint it. The window knows
    which folder it reads; `folder` is only what the caller expects."""
    from PyQt6.QtCore import QEventLoop, QTimer

    loop = QEventLoop()
    folders = getattr(window, "folders", None)
    if folders is not None and folders.loading():
        folders.settled.connect(loop.quit)
        QTimer.singleShot(SETTLE_MS, loop.quit)
        loop.exec()
    QTimer.singleShot(100, loop.quit)
    loop.exec()


def main(argv=None):
    args = parse(sys.argv[1:] if argv is None else argv)
    shot = Path(args.screenshot).absolute()   # before the demo enters the working folder
    if _headless() and not os.environ.get("QT_QPA_PLATFORM"):
        os.environ["QT_QPA_PLATFORM"] = "offscreen"

    from PyQt6.QtWidgets import QApplication

    from . import errors, tavro
    from .commands_impl import HostCommands
    from .mainwindow import MainWindow

    app = QApplication(sys.argv[:1])
    app.setApplicationName("Tavro")
    from Kelpa.icons import use_theme
    use_theme()
    errors.install_excepthook()
    window = MainWindow(tavro)
    commands = HostCommands(tavro, window).register()
    tavro.workspace.onWorkingFolderChanged(commands.enterFolder)
    # Shown first: the folder's loading state reaches the screen before its work starts.
    window.show()
    folder = None
    if args.folder is not None and commands.setWorkingFolder(args.folder):
        folder = tavro.workspace.workingFolder()
        readme = _readme(folder)
        if readme is not None:
            tavro.commands.execute("Nodra.openFile", readme)

    if app.platformName() not in ("offscreen", "minimal"):
        return app.exec()
    _wait_for_folder(window)
    if not window.grab().save(str(shot), "PNG"):
        print(f"Could not write the screenshot to {shot}", file=sys.stderr)
        return 1
    shown = f" {folder}" if folder is not None else ""
    print(f"No display: rendered{shown} offscreen; screenshot written to {shot}")
    said = window.statusBar().currentMessage()
    if said:
        print(f"Status: {said}")
    return 0
