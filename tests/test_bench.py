"""The benchmark suite runs: every case once, at a tiny size, without timing.

`make bench` is never part of the test run; this keeps its cases from rotting
as the module changes, and checks on the way that each native case and its
Python reference produce the same results.
"""
import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from bench import comparison, demo_open, machinery, sort, startup  # noqa: E402
from bench.folders import Folders  # noqa: E402
from bench.table import format_table  # noqa: E402


@pytest.fixture
def module():
    import Tavro_Workspace.explorerview as module
    return module


def test_sort_cases_sort_a_real_folder_to_the_same_order(qapp, module):
    folders = Folders()
    try:
        timings, facts = sort.measure(folders.folder(60), 1, module.FolderFirstSortModel)
    finally:
        folders.close()
    assert facts["entries"] == 60
    assert facts["same order"] is True
    assert facts["calls"] > 0 and facts["immediate calls"] > 0
    assert set(timings) == {sort.NATIVE, sort.PYTHON, sort.QT, sort.IMMEDIATE}
    assert "FolderFirstSortModel" in format_table(sort.rows(60, timings, facts))


@pytest.mark.parametrize("case", machinery.CASES, ids=lambda case: case.name)
def test_machinery_case_gives_the_same_result_natively_and_in_python(qapp, module, case):
    native = case.build(module, python=False)
    python = case.build(module, python=True)
    native.run(1)
    python.run(1)
    assert native.result() == python.result()


def test_machinery_child_runs_every_case_without_valgrind(qapp):
    machinery.child(None, scale=1e-9)


def test_comparison_child_sorts_and_counts_without_valgrind(qapp, tmp_path):
    folders = Folders()
    try:
        comparison.child(None, folders.folder(40), tmp_path / "comparisons")
    finally:
        folders.close()
    assert int((tmp_path / "comparisons").read_text()) > 40


def test_startup_measurements_run_in_fresh_interpreters():
    execs = startup.module_exec(1)
    built = startup.construction(1)
    memory = startup.memory(count=1, runs=1)
    for measured in (execs, built):
        assert all(len(values) == 1 and values[0] > 0 for values in measured.values())
    assert set(memory) == {startup.NATIVE, startup.PYTHON}


def test_demo_open_shows_every_entry_and_counts_the_icon_provider(explorerview, folder_tree):
    root = folder_tree({f"file{i}.txt": "" for i in range(30)})
    opened = demo_open.open_once(root, settle=0.1, timeout=60)
    assert opened["rows"] == 30 and opened["gui"] > 0
    assert opened["provider calls"] >= 30 and opened["provider elsewhere"] >= 0
