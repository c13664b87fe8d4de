"""Tavro: the host's application services, reached by plug-ins as `tavro`.

`from Tavro import tavro` gives one services object with `commands`, `window`
and `workspace`. It works without a main window (tests, scripts): errors then
go to stderr and text prompts open as free-standing dialogs.
"""
from .services import Commands, Services, Window, Workspace

tavro = Services()

__all__ = ["tavro", "Services", "Commands", "Window", "Workspace"]
