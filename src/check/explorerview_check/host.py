"""All the points, from the names imported to the panel driven."""
import sys

from .drive import Drive
from .findings import describe
from .folders import make_folders
from .names import check_names
from .observe import Observer
from .toolkit import check_toolkit


def check_host(base, findings):
    """All the points, in the order that lets each rely on the ones before."""
    found = check_names(findings)
    if found is None:
        return
    K, tavro = found
    from PyQt6.QtWidgets import QApplication
    # Held until the end: widgets outliving their application crash the process.
    app = QApplication.instance() or K.QApplication([sys.argv[0]])
    observer = Observer(tavro, findings)
    previous_hook, sys.excepthook = sys.excepthook, observer.escaped
    drive = None
    try:
        observer.step = "trying the toolkit's pieces"
        check_toolkit(K, make_folders(base), findings)
        observer.step = "importing Tavro_Workspace.explorerview"
        try:
            from Tavro_Workspace import explorerview
        except Exception as exc:
            package = sys.modules.get("Tavro_Workspace")
            hint = (f"; {package.__file__} makes Tavro_Workspace a regular package that hides "
                    "the module: extend its __path__ (pkgutil.extend_path)"
                    if getattr(package, "__file__", None) else "")
            findings.check(False, f"Tavro_Workspace.explorerview cannot be imported: "
                                  f"{describe(exc)}{hint}")
            return
        drive = Drive(K, tavro, explorerview, base, findings, observer)
        drive.run()
    finally:
        if drive is not None:
            drive.close()
        sys.excepthook = previous_hook
        observer.restore()
        app.processEvents()
