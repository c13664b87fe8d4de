"""`make valgrind`: memcheck over valgrind_scenario.py with the module of BUILD_DIR.

PYTHONMALLOC=malloc lets memcheck see every Python object (pymalloc would hide
use-after-free inside its arenas). valgrind.supp, beside this file, silences
the interpreter's, Qt's and the platform libraries' own reports; whatever is
left is judged here from memcheck's XML:

- any error with a frame in explorerview*.so (invalid read or write, use of an
  uninitialised value, bad free, ...) fails the run;
- a definite leak whose allocation the module asked for (as run_asan.py judges
  it) fails the run;
- other reports are listed by kind and library, and do not fail the run.

Usage: run_valgrind.py BUILD_DIR
"""
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
from collections import Counter
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
MODULE = re.compile(r"/explorerview[^/]*\.so$")
INTERPRETER = re.compile(r"(^|/)(python3\.11|libpython3\.11[^/]*)$")
ALLOCATORS = re.compile(r"/vgpreload_memcheck")


def frames(error):
    return [(f.findtext("obj", ""), f.findtext("fn", "?"), f.findtext("file", ""), f.findtext("line", ""))
            for f in error.iter("frame")]


def leak_owner_is_module(stack):
    """The allocation was asked for by the module, directly or through the interpreter."""
    for obj, *_ in stack:
        if ALLOCATORS.search(obj):
            continue
        if MODULE.search(obj):
            return True
        if not INTERPRETER.search(obj):
            return False
    return False


def describe(error, stack):
    text = error.findtext("what") or error.findtext("xwhat/text") or error.findtext("kind")
    lines = [f"  {error.findtext('kind')}: {text}"]
    for obj, fn, file, line in stack[:25]:
        where = f"{file}:{line}" if file else os.path.basename(obj)
        lines.append(f"      {fn}  ({where})")
    return "\n".join(lines)


def judge(xml_file):
    root = ElementTree.parse(xml_file).getroot()
    failures, others = [], Counter()
    for error in root.iter("error"):
        kind = error.findtext("kind")
        stack = frames(error)
        if kind.startswith("Leak_"):
            if kind == "Leak_DefinitelyLost" and leak_owner_is_module(stack):
                failures.append(describe(error, stack))
            else:
                others[(kind, next((os.path.basename(o) for o, *_ in stack
                                    if not ALLOCATORS.search(o)), "?"))] += 1
            continue
        if any(MODULE.search(obj) for obj, *_ in stack):
            failures.append(describe(error, stack))
        else:
            others[(kind, os.path.basename(stack[0][0]) if stack else "?")] += 1
    suppressed = sum(int(pair.findtext("count")) for pair in root.iter("pair"))
    return failures, others, suppressed


def main(argv):
    if len(argv) != 1:
        sys.exit(__doc__)
    build = Path(argv[0]).resolve()
    out = build / "valgrind"
    out.mkdir(parents=True, exist_ok=True)
    xml_file = out / "memcheck.xml"
    env = dict(os.environ, PYTHONMALLOC="malloc", PYTHONPATH=f"{build}:{ROOT / 'host'}")
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    command = [
        "valgrind", "--tool=memcheck", "--error-limit=no", "--num-callers=40",
        "--leak-check=full", "--show-leak-kinds=definite", "--errors-for-leak-kinds=definite",
        f"--suppressions={HERE / 'valgrind.supp'}", "--xml=yes", f"--xml-file={xml_file}",
        sys.executable, str(HERE / "valgrind_scenario.py"),
    ]
    python_supp = Path("/usr/lib/valgrind/python3.supp")
    if python_supp.exists():  # Debian's, for the interpreter's own tricks
        command.insert(2, f"--suppressions={python_supp}")
    print("run_valgrind:", " ".join(command), flush=True)
    run = subprocess.run(command, cwd=ROOT, env=env, capture_output=True, text=True)
    (out / "scenario.log").write_text(run.stdout + run.stderr)
    complete = "scenario complete" in run.stdout
    failures, others, suppressed = judge(xml_file)
    print(f"run_valgrind: scenario {'complete' if complete else 'DID NOT COMPLETE'} (exit {run.returncode}); "
          f"{suppressed} suppressed report(s); log in {out}")
    for (kind, where), count in sorted(others.items()):
        print(f"run_valgrind:   {count:5d} x {kind} in {where} (not the module's)")
    for failure in failures:
        print(failure, file=sys.stderr)
    print(f"run_valgrind: {len(failures)} report(s) with frames in the module")
    if not complete:
        print(run.stderr[-3000:], file=sys.stderr)
    return 0 if complete and run.returncode == 0 and not failures else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
