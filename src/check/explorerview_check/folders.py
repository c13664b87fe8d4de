"""The check's temporary folder: the files the host's commands see, and what is on disk."""
import os


def make_folders(base):
    project = base / "project"
    for folder in (project / "src", project / "docs", base / "outside"):
        folder.mkdir(parents=True)
    for file in (project / "notes.txt", project / "src" / "main.py", base / "outside" / "dropped.txt"):
        file.write_text("explorerview check\n")
    return project


def snapshot(folder):
    """{path: (size, modification time)} of everything under `folder`."""
    found = {}
    for parent, folders, files in os.walk(folder):
        for name in folders + files:
            path = os.path.join(parent, name)
            try:
                status = os.lstat(path)
            except OSError:
                continue
            # A folder's own time changes with what it holds: its name is enough.
            found[path] = None if os.path.isdir(path) else (status.st_size, status.st_mtime_ns)
    return found
