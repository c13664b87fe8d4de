"""Every name the panel imports from the host, looked for before anything is tried."""
from .findings import describe

# Every name the panel binds from the toolkit when it is imported.
TOOLKIT_NAMES = (
    "QWidget", "QVBox", "Qt", "QLabel", "QViewToolBar", "QAction", "QRoundMenu", "QHSpacer",
    "QKeySequence", "QKeyCombination", "QModelIndex", "MARGIN_LARGE", "QApplication", "QVLine",
    "QPluginWidget", "QTreeView", "QFileSystemModel", "QDir", "QAbstractItemView",
    "QScrollDelegate", "QStacked", "QPushButton", "QVSpacer", "QPoint", "QSortFilterProxyModel",
    "QClipboard")
# What the panel calls on the services object: (attribute of tavro, method).
SERVICES = (("commands", "execute"), ("window", "showErrorMessage"),
            ("window", "showTextInputBox"), ("window", "registerToolBar"),
            ("workspace", "workingFolder"))


def check_names(findings):
    """(Kelpa, tavro) when every name the panel imports is there, else None.
    Every missing name is reported, not just the first the import would stop at."""
    try:
        import Kelpa
    except Exception as exc:
        findings.check(False, f"Kelpa cannot be imported: {describe(exc)}")
        return None
    missing = [name for name in TOOLKIT_NAMES if not hasattr(Kelpa, name)]
    for name in TOOLKIT_NAMES:
        findings.check(name not in missing, f"Kelpa has no {name}")
    # Type checkers in strict mode take a package's names as exported only when listed.
    listed = getattr(Kelpa, "__all__", None)
    if listed is None:
        findings.check(False, "Kelpa has no __all__; strict type checkers then take none of "
                              "its names as exported (list the 26 the panel imports)")
    else:
        for name in TOOLKIT_NAMES:
            findings.check(name in listed, f"Kelpa does not list {name} in __all__")
    try:
        from Tavro import tavro
    except Exception as exc:
        findings.check(False, f"tavro cannot be imported from Tavro: {describe(exc)}")
        return None
    services_met = True
    for part, method in SERVICES:
        services_met &= findings.check(callable(getattr(getattr(tavro, part, None), method, None)),
                                       f"tavro.{part} has no method {method}")
    return (Kelpa, tavro) if not missing and services_met else None
