"""`make asan`: the test suite against the AddressSanitizer + UBSan build.

The interpreter is not instrumented, so the sanitizer runtimes are preloaded
into it; PYTHONMALLOC=malloc sends every Python object through the sanitizer's
allocator, so a reference the module drops too often shows up as a
use-after-free instead of silently reusing a pymalloc block.

Memory errors and undefined behaviour abort the process that meets them.
Leaks are checked at the exit of every process (pytest and the subprocesses
that tests start); the reports go to log files that this script reads after
the run, so that a leak never changes pytest's own exit status:

- a leak whose allocation the module asked for (its own code calls the
  allocator, or calls the interpreter which does) is the module's: the run fails;
- every other leak must belong to a library named in lsan.supp, or the run fails.
- a leak check the sanitizer could not finish fails the run: that process's
  leaks went unchecked.

Each test's processes report into a folder of that test's own (per_test_logs.py);
a run starts from an empty reports folder.

pytest and every process its tests start run in a process group of their own,
which this script ends when the run reaches its time limit (--time-limit, the
Makefile's RELIABILITY_TIMEOUT) or is itself interrupted or terminated: nothing
of a stopped run goes on writing reports into the next run's folder. A stopped
run still judges the reports of the tests that ran, and says what stopped it.

The packaging checks (tests/test_build.py) compile the module afresh with its
release flags and run pip, CMake and mypy: nothing of the sanitized build is in
them, and under the sanitizers they take longer than the rest of the suite. A
run over the whole suite leaves them out; naming the file runs them.

Usage: run_asan.py [--time-limit SECONDS] BUILD_DIR [pytest arguments...]
       run_asan.py --check LOG_DIR          (judge existing reports only)
"""
import contextlib
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import per_test_logs

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
SUPPRESSIONS = HERE / "lsan.supp"
PACKAGING_TESTS = "tests/test_build.py"
OTHER_PROGRAMS = "(programs other than the interpreter)"
RUNTIMES = ("libasan.so.8", "libubsan.so.1")
MODULE = re.compile(r"/explorerview[^/]*\.so$")
RUNTIME = re.compile(r"/lib(asan|ubsan)\.so")
# What the runtime writes when it could not finish a process's leak check.
UNFINISHED = "LeakSanitizer has encountered a fatal error"
FAILURE_TITLES = {"error": "sanitizer error", "unfinished": "LeakSanitizer could not finish the leak check"}
SHARED_LIBRARY = re.compile(r"\.so(\.|$)")
INTERPRETER = re.compile(r"(^|/)(python3\.11|libpython3\.11[^/]*)$")

# Each frame ends with its object file in braces, so that frames with debug
# information (printed as file:line) still say which library they belong to.
FRAME_FORMAT = "    #%n %p %F %L {%m}"
FRAME = re.compile(r"^\s+#\d+ (?P<text>.*?) \{(?P<object>[^}]*)\}\s*$")


def runtime_path(name):
    """The gcc runtime library `name`, as the compiler that built the module finds it."""
    found = subprocess.run(["g++", f"-print-file-name={name}"], capture_output=True,
                           text=True, check=True).stdout.strip()
    path = Path(found).resolve()
    if not path.is_file():
        sys.exit(f"run_asan: {name} not found (install gcc 12's libasan8 and libubsan1)")
    return str(path)


def sanitizer_environment(log_dir):
    env = dict(os.environ)
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    common = [
        f"log_path={log_dir}/KIND",
        f"stack_trace_format='{FRAME_FORMAT}'",
        "abort_on_error=1",            # errors abort even though exitcode is 0
        "handle_abort=1",
        "allocator_may_return_null=1",  # MemoryError as without the sanitizer
    ]
    env.update({
        "LD_PRELOAD": " ".join(runtime_path(name) for name in RUNTIMES),
        "PYTHONMALLOC": "malloc",
        "ASAN_OPTIONS": ":".join(common).replace("KIND", "asan") + ":" + ":".join([
            "detect_leaks=1",
            "exitcode=0",                # leaks are judged from the logs, below
            "fast_unwind_on_malloc=0",   # full stacks through the interpreter's frames
            "malloc_context_size=40",
            "detect_stack_use_after_return=0",
            # The runtime's __tls_get_addr hook takes a thread-local block that
            # happens to start 16 bytes into a page for the header an old C
            # library put there, and records the two words before it as a
            # range, which the leak check then reads: "Tracer caught signal
            # 11" at exit, in whichever processes the allocations line up.
            # Without the hook the blocks are found as the heap chunks they are.
            "intercept_tls_get_addr=0",
        ]),
        "UBSAN_OPTIONS": ":".join(common).replace("KIND", "ubsan")
                         + ":print_stacktrace=1:halt_on_error=1",
    })
    return env


# ------------------------------------------------------------------ reports

def suppression_patterns():
    patterns = []
    for line in SUPPRESSIONS.read_text().splitlines():
        line = line.strip()
        if line.startswith("leak:"):
            patterns.append(line[len("leak:"):])
    return patterns


def template_match(pattern, text):
    """LeakSanitizer's matching: a substring, with '*' as a wildcard."""
    regex = ".*".join(re.escape(part) for part in pattern.split("*"))
    return re.search(regex, text) is not None


def parse_report(text):
    """Yield ("leak", header, frames), ("error", text) and ("unfinished", text)
    records of one log."""
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        if UNFINISHED in line:
            yield "unfinished", "\n".join(lines[max(i - 1, 0):i + 1])
        if line.startswith(("Direct leak of", "Indirect leak of")):
            frames = []
            i += 1
            while i < len(lines) and lines[i].strip():
                match = FRAME.match(lines[i])
                if match:
                    frames.append((match["text"], match["object"]))
                i += 1
            yield "leak", line, frames
            continue
        if "ERROR: AddressSanitizer" in line or "runtime error:" in line:
            end = i + 1
            while end < len(lines) and not lines[end].startswith("SUMMARY:"):
                end += 1
            yield "error", "\n".join(lines[i:end + 1])
            i = end
        i += 1


def owner_of(frames):
    """Who asked for a leaked block: "module", or the frame that called the allocator.

    The module owns a block that its own code allocated, and one that it asked
    the interpreter's C API for (a str, a tuple, a function object): the frames
    between the allocator and the module are then all the interpreter's C
    functions. Once the interpreter is running Python code on the way
    (_PyEval_EvalFrameDefault), the block belongs to that code — the host's
    stand-ins, PyQt's Python parts — which the module merely called.
    """
    frames = [f for f in frames if not RUNTIME.search(f[1])]
    if not frames:
        return None
    for text, obj in frames:
        if MODULE.search(obj):
            return "module"
        if not INTERPRETER.search(obj) or "_PyEval_EvalFrameDefault" in text:
            break
    return frames[0]


def program_of(frames):
    """The program a leak's process runs, where that is not the interpreter: the
    outermost frame's object that is a program, not a library (the main thread's
    _start, or a worker thread's own code, as node's under the type checker).
    Every process the suite starts inherits the preloaded runtime: the X server
    and the tools around it under xvfb-run, the shell, mktemp, npm and node."""
    # A thread's stack ends in the C library's clone, a library: the program is further in.
    program = next((obj for _, obj in reversed(frames)
                    if obj.startswith("/") and not SHARED_LIBRARY.search(obj)), "")
    return "" if INTERPRETER.search(program) else program


def check(log_dir):
    patterns = suppression_patterns()
    suppressed = {}
    failures = []
    logs = sorted(Path(log_dir).rglob("*san.*"))
    for log in logs:
        name = log.relative_to(log_dir)
        for record in parse_report(log.read_text(errors="replace")):
            if record[0] != "leak":
                failures.append(f"{name}: {FAILURE_TITLES[record[0]]}\n{record[1]}")
                continue
            _, header, frames = record
            owner = owner_of(frames)
            stack = "\n".join(f"    {text} {{{obj}}}" for text, obj in frames)
            if owner == "module":
                failures.append(f"{name}: leak from the module\n  {header}\n{stack}")
                continue
            text, obj = owner if owner else ("", "")
            # The module lives only in the interpreter: another program's leaks are its own.
            pattern = program_of(frames) and OTHER_PROGRAMS
            pattern = pattern or next((p for p in patterns
                                       if template_match(p, obj) or template_match(p, text)), None)
            if pattern is None:
                failures.append(f"{name}: leak from a library lsan.supp does not name\n"
                                f"  {header}\n{stack}")
                continue
            count, size = suppressed.get(pattern, (0, 0))
            leaked = int(re.search(r"of (\d+) byte", header)[1])
            suppressed[pattern] = (count + 1, size + leaked)
    print(f"run_asan: {len(logs)} sanitizer report file(s) in {log_dir}")
    for pattern, (count, size) in sorted(suppressed.items()):
        print(f"run_asan:   {count:6d} leak(s), {size:9d} bytes  suppressed as {pattern}")
    for failure in failures:
        print(failure, file=sys.stderr)
    print(f"run_asan: {len(failures)} report(s) from the module or unclassified")
    return not failures


# ------------------------------------------------------------------ the run

# What ends a run early, besides its time limit: an interrupt (Ctrl-C), a
# terminate, the terminal hanging up.
ENDING_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
# How long pytest has, once interrupted, to stop and write what ran.
GRACE_SECONDS = 60
# pytest's exit statuses other than 0 (all passed) and 1 (some failed).
PYTEST_STATUSES = {2: "was interrupted", 3: "stopped on an internal error", 4: "was called wrongly",
                   5: "collected no tests"}


class Stopped(Exception):
    """This script got a signal that ends the run."""


def _stop(signum, frame):
    raise Stopped(signal.Signals(signum).name)


def end_group(process):
    """Ends pytest and every process of its group: interrupted first, so that
    pytest writes what ran; killed when they linger."""
    group = process.pid
    with contextlib.suppress(ProcessLookupError, subprocess.TimeoutExpired):
        os.killpg(group, signal.SIGINT)
        process.wait(timeout=GRACE_SECONDS)
    with contextlib.suppress(ProcessLookupError):
        os.killpg(group, signal.SIGKILL)  # pytest, if it lingers, and what outlived it
    process.wait()
    for _ in range(GRACE_SECONDS * 10):  # until the killed are gone
        try:
            os.killpg(group, 0)
        except ProcessLookupError:
            return
        time.sleep(0.1)


def run_pytest(command, env, time_limit):
    """pytest's exit status, and what stopped the run early (None when nothing did)."""
    previous = {signum: signal.signal(signum, _stop) for signum in ENDING_SIGNALS}
    try:
        process = subprocess.Popen(command, cwd=ROOT, env=env, process_group=0)
        stopped = None
        try:
            process.wait(timeout=time_limit)
        except subprocess.TimeoutExpired:
            stopped = (f"the run reached its time limit of {time_limit:g} s (RELIABILITY_TIMEOUT); "
                       f"give it more with `make asan RELIABILITY_TIMEOUT=<seconds>`")
        except Stopped as got:
            stopped = f"the run got {got} and was stopped"
        for signum in ENDING_SIGNALS:
            signal.signal(signum, signal.SIG_IGN)  # the group is ended whatever comes meanwhile
        if process.returncode is None:
            end_group(process)
        return process.returncode, stopped
    finally:
        for signum, handler in previous.items():
            signal.signal(signum, handler)


def empty_folder(log_dir):
    """The reports folder, emptied of an earlier run's reports."""
    try:
        shutil.rmtree(log_dir)
    except FileNotFoundError:
        pass
    except OSError as error:
        sys.exit(f"run_asan: cannot empty {log_dir} of an earlier run's reports: {error}")
    log_dir.mkdir(parents=True)
    log_dir.chmod(0o1777)  # tests run some scenarios as an unprivileged user, who logs here too


def test_counts(junit):
    """(tests run, failed, errors, skipped) from pytest's JUnit XML."""
    if not junit.exists():
        return None
    root = ElementTree.parse(junit).getroot()
    suite = root if root.tag == "testsuite" else root.find("testsuite")
    return tuple(int(suite.get(k, 0)) for k in ("tests", "failures", "errors", "skipped"))


def main(argv):
    if len(argv) >= 2 and argv[0] == "--check":
        return 0 if check(argv[1]) else 1
    time_limit = None
    if len(argv) >= 2 and argv[0] == "--time-limit":
        time_limit, argv = float(argv[1]), argv[2:]
    if not argv:
        sys.exit(__doc__)
    build = Path(argv[0]).resolve()
    log_dir = build / "sanitizer-reports"
    empty_folder(log_dir)
    junit = log_dir / "junit.xml"
    env = sanitizer_environment(log_dir)
    env["PYTHONPATH"] = f"{build}:{ROOT / 'host'}:{HERE}"
    env[per_test_logs.LOG_ROOT_VARIABLE] = str(log_dir / "tests")
    command = [sys.executable, "-m", "pytest", "-p", "per_test_logs", f"--junitxml={junit}", *argv[1:]]
    if not any((ROOT / arg.split("::")[0]).exists() for arg in argv[1:] if not arg.startswith("-")):
        command.append(f"--ignore={PACKAGING_TESTS}")
    print("run_asan:", " ".join(command), flush=True)
    status, stopped = run_pytest(command, env, time_limit)
    counts = test_counts(junit)
    if counts:
        print("run_asan: %d tests under the sanitizers: %d failed, %d errors, %d skipped" % counts)
    clean = check(log_dir)
    if stopped:
        print(f"run_asan: stopped early: {stopped}; the reports above are those of the tests that ran",
              file=sys.stderr)
    elif status != 0:
        why = PYTEST_STATUSES.get(status, "had failing tests" if status == 1 else "ended on a signal")
        print(f"run_asan: pytest {why} (exit status {status})", file=sys.stderr)
    return 0 if status == 0 and clean and not stopped else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
