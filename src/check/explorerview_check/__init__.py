"""Checks that a host's toolkit and services give the explorer panel what it needs.

    /usr/bin/python3.11 -m Tavro_Workspace.explorerview_check [--path DIR]... [--show]

Run it with the host's `Kelpa` and `Tavro` importable: on PYTHONPATH, or in
the folders that --path names. It first looks for every name the panel imports,
then tries each toolkit piece on its own, then builds panels in a window of its
own and drives every action, button, menu, prompt and shortcut, and a drop.
Everything happens in a temporary folder, which is also the current folder
while it runs and is removed afterwards: the host's commands only ever see
paths inside it. Each point the host misses is one line on stdout that names
the piece and what the panel expects of it; the last line sums up. Exit status:
0 when every point is met, 1 when one is not, 2 for a usage error.
"""
