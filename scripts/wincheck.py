"""make wincheck: builds the module for 64-bit Windows on this Linux machine and
checks what it needs from Windows.

With Debian's MinGW-w64, CPython 3.11's headers (Debian's copy, with the
Windows configuration of windows/include/pyconfig.h in place of Linux's) and an
import library for python311.dll generated from those headers, it configures
and builds the project through CMake (windows/mingw-w64.cmake, the Ninja
Multi-Config generator, no configuration named: the project's default, Release)
and fails on:
- any compile or link error;
- a CPython symbol the module imports that 3.11's public headers do not declare
  with PyAPI_FUNC or PyAPI_DATA (python311.dll exports exactly those);
- any export other than PyInit_explorerview;
- a DLL it needs other than python311.dll, the C runtime and KERNEL32.dll;
- the module or its stub elsewhere than build-win/Tavro_Workspace.

What it cannot check here: that a Windows interpreter imports the module (no
Windows CPython exists on these machines), and MSVC.

Usage: wincheck.py BUILD_FOLDER
"""
import re
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
HEADERS = Path("/usr/include/python3.11")
PYBIND11_HEADERS = Path("/usr/include/pybind11")
PYBIND11_CMAKE = Path("/usr/lib/cmake/pybind11")
TOOLS = "x86_64-w64-mingw32-"
MODULE = "explorerview.cp311-win_amd64.pyd"
EXPORTS = {"PyInit_explorerview"}
# The interpreter, the C runtime the MinGW-w64 compiler targets (msvcrt.dll,
# or the Universal CRT's ucrtbase.dll and api-ms-win-crt-* forwarders), and
# KERNEL32.dll, the Windows API every program's start-up code uses.
ALLOWED_DLLS = re.compile(r"python311\.dll|msvcrt\.dll|ucrtbase\.dll|api-ms-win-crt-[a-z0-9-]+\.dll|kernel32\.dll",
                          re.IGNORECASE)


def run(*command, **kwargs):
    print("+", " ".join(map(str, command)), flush=True)
    return subprocess.run([str(part) for part in command], check=True, **kwargs)


def without_comments(text):
    return re.sub(r"/\*.*?\*/|//[^\n]*", " ", text, flags=re.DOTALL)


def declared_symbols(headers):
    """{name: "FUNC" or "DATA"} for every PyAPI_FUNC/PyAPI_DATA declaration in
    the public headers (internal/ is for the interpreter's own build)."""
    found = {}
    for header in sorted(headers.rglob("*.h")):
        if "internal" in header.relative_to(headers).parts:
            continue
        text = without_comments(header.read_text(errors="replace"))
        for match in re.finditer(r"\bPyAPI_(FUNC|DATA)\s*\(", text):
            depth, at = 1, match.end()
            while depth and at < len(text):  # the declared type, parentheses and all
                depth += {"(": 1, ")": -1}.get(text[at], 0)
                at += 1
            name = re.match(r"\s*(?:\(\s*\*?\s*)?([A-Za-z_]\w*)", text[at:])
            if name and not text[match.start() - 8:match.start()].rstrip().endswith("define"):
                found[name.group(1)] = match.group(1)
    return found


def import_library(folder, symbols):
    """An import library for python311.dll with every declared symbol."""
    definition = folder / "python311.def"
    lines = ["LIBRARY python311.dll", "EXPORTS"]
    lines += [f"    {name}" + (" DATA" if kind == "DATA" else "") for name, kind in sorted(symbols.items())]
    text = "\n".join(lines) + "\n"
    library = folder / "libpython311.dll.a"
    if library.is_file() and definition.is_file() and definition.read_text() == text:
        return library
    definition.write_text(text)
    run(TOOLS + "dlltool", "--input-def", definition, "--output-lib", library, "--dllname", "python311.dll")
    return library


def prefix_with_headers(folder):
    """A prefix holding 3.11's headers with the Windows pyconfig.h, and pybind11
    (headers and CMake files) on its own: pybind11's CMake files name the include
    folder beside them, and Linux's /usr/include must stay out of the build."""
    prefix = folder / "prefix"
    python = prefix / "include" / "python3.11"
    # Copies keep their times, so a second run rebuilds only what changed.
    shutil.copytree(HEADERS, python, dirs_exist_ok=True, ignore=shutil.ignore_patterns("pyconfig.h"))
    shutil.copy2(ROOT / "windows" / "include" / "pyconfig.h", python / "pyconfig.h")
    shutil.copytree(PYBIND11_CMAKE, prefix / "lib" / "cmake" / "pybind11", dirs_exist_ok=True)
    if not (prefix / "include" / "pybind11").is_symlink():
        (prefix / "include" / "pybind11").symlink_to(PYBIND11_HEADERS)
    return prefix


def pe_tables(pyd):
    """({dll: [imported names]}, [exported names]) from objdump's private headers."""
    text = subprocess.run([TOOLS + "objdump", "-p", str(pyd)], check=True, capture_output=True,
                          text=True).stdout
    imports, exports, dll, in_exports = {}, [], None, False
    for line in text.splitlines():
        if m := re.match(r"\s*DLL Name: (\S+)", line):
            dll, in_exports = m.group(1), False
            imports[dll] = []
        elif line.startswith("[Ordinal/Name Pointer] Table"):
            dll, in_exports = None, True
        elif not line.strip():
            dll = None if dll and imports[dll] else dll
            in_exports = False
        elif dll and (m := re.match(r"\s+[0-9a-f]+\s+\d+\s+(\S+)$", line)):
            imports[dll].append(m.group(1))
        elif in_exports and (m := re.match(r"\s+\[\s*\d+\]\s+(\S+)$", line)):
            exports.append(m.group(1))
    return imports, exports


def main(folder):
    folder = Path(folder).resolve()
    folder.mkdir(parents=True, exist_ok=True)
    symbols = declared_symbols(HEADERS)
    prefix = prefix_with_headers(folder)
    library = import_library(folder, symbols)

    build = folder / "cmake"
    run("cmake", "-S", ROOT, "-B", build, "-G", "Ninja Multi-Config",
        "--toolchain", ROOT / "windows" / "mingw-w64.cmake",
        "-DPython3_EXECUTABLE=/usr/bin/python3.11",
        f"-DPython3_INCLUDE_DIR={prefix / 'include' / 'python3.11'}",
        f"-DPython3_LIBRARY={library}",
        f"-Dpybind11_DIR={prefix / 'lib' / 'cmake' / 'pybind11'}",
        # The toolkit's own model calls need a Windows Qt: not built here.
        "-DEXPLORERVIEW_TOOLKIT_CALLS=OFF",
        stdout=subprocess.DEVNULL)
    run("cmake", "--build", build, "-j", "2")

    failures = []
    package = build / "Tavro_Workspace"
    pyd = package / MODULE
    for path in (pyd, package / "explorerview.pyi"):
        if not path.is_file():
            failures.append(f"{path.relative_to(build)} missing: the module and its stub share one folder")
    if not (build / "CMakeFiles" / "explorerview.dir" / "Release").is_dir():
        failures.append("no configuration named, yet the build was not a Release build")
    if not pyd.is_file():
        return report(failures)

    imports, exports = pe_tables(pyd)
    python = imports.get("python311.dll", [])
    undeclared = sorted(name for name in python if name not in symbols)
    failures += [f"imports {name} from python311.dll, which 3.11's headers do not declare" for name in undeclared]
    failures += [f"exports {name}" for name in exports if name not in EXPORTS]
    failures += [f"does not export {name}" for name in EXPORTS if name not in exports]
    failures += [f"needs {dll}" for dll in imports if not ALLOWED_DLLS.fullmatch(dll)]
    print(f"{pyd.relative_to(folder.parent)}: exports {', '.join(exports)}; needs "
          + "; ".join(f"{dll} ({len(names)} symbols)" for dll, names in imports.items()))
    print("from python311.dll: " + " ".join(sorted(python)))
    return report(failures)


def report(failures):
    for failure in failures:
        print(f"wincheck: {failure}", file=sys.stderr)
    print("wincheck: " + ("FAILED" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build-win"))
