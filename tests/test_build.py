"""The built module imports under its package name from the build folder."""
import importlib
import subprocess
import sys


def test_module_imports_under_package_name():
    module = importlib.import_module("Tavro_Workspace.explorerview")
    assert module.__name__ == "Tavro_Workspace.explorerview"


def test_cmake_install_places_module_in_plugin_package(tmp_path):
    build = next(p for p in sys.path if p.endswith("/build") or "/build-" in p)
    subprocess.run(["cmake", "--install", build, "--prefix", str(tmp_path)],
                   check=True, capture_output=True)
    installed = sorted(p.name for p in (tmp_path / "Tavro_Workspace").iterdir())
    assert any(n.startswith("explorerview.cpython-311-") and n.endswith(".so") for n in installed)
    assert "explorerview.pyi" in installed
