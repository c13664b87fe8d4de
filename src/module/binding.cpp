// Argument binding: every call of a native function passes through here before
// its body runs. Parameters are positional-or-keyword as in a Python `def`;
// defaults come from the function's current __defaults__, as Python takes them.
//
// The call's Frame holds the function from the first instruction and each
// argument from the moment it is bound, as a Python frame does: the common
// shape (all arguments positional, all parameters given) takes a reference to
// each at once; the slow path takes them before a keyword's comparison can run
// Python code. Each error message is built by a cold helper of its own, so the
// paths that succeed stay short.
#include <algorithm>
#include <cassert>
#include <cstdint>
#include <utility>

#include "module/compiler.hpp"
#include "module/errors.hpp"
#include "module/function.hpp"
#include "module/stack.hpp"
#include "module/state.hpp"

namespace explorerview {

namespace {

// ---- error messages (cold) --------------------------------------------------------

// Wrong positional count, or a required parameter left unbound; `given` counts
// the instance too.
EXPLORERVIEW_COLD EXPLORERVIEW_NOINLINE void positionalCountError(FunctionObject* fn, Py_ssize_t ndefaults,
                                                       Py_ssize_t given) {
    Py_ssize_t all = fn->row->nparams;
    Py_ssize_t required = all - std::min(ndefaults, all);
    bool tooFew = given < required;
    const char* bound = ndefaults == 0 ? "exactly" : tooFew ? "at least" : "at most";
    Py_ssize_t count = tooFew ? required : all;
    intoPython([&] {
        PyErr_Format(PyExc_TypeError, "%.200U() takes %.8s %zd positional argument%.1s (%zd given)", fn->name,
                     bound, count, count == 1 ? "" : "s", given);
    });
}

EXPLORERVIEW_COLD EXPLORERVIEW_NOINLINE void unexpectedKeywordError(FunctionObject* fn, PyObject* key) {
    intoPython([&] { PyErr_Format(PyExc_TypeError, "%U() got an unexpected keyword argument '%U'", fn->name, key); });
}

EXPLORERVIEW_COLD EXPLORERVIEW_NOINLINE void multipleValuesError(FunctionObject* fn, PyObject* key) {
    intoPython([&] {
        PyErr_Format(PyExc_TypeError, "%U() got multiple values for keyword argument '%U'", fn->name, key);
    });
}

EXPLORERVIEW_COLD EXPLORERVIEW_NOINLINE void keywordNotStringError(FunctionObject* fn) {
    intoPython([&] { PyErr_Format(PyExc_TypeError, "%.200U() keywords must be strings", fn->name); });
}

EXPLORERVIEW_COLD EXPLORERVIEW_NOINLINE void lambdaArgumentsError(FunctionObject* fn, Py_ssize_t nargs) {
    intoPython([&] {
        PyErr_Format(PyExc_TypeError, "%.200U() %s (%zd given)", fn->name, "takes no arguments", nargs);
    });
}

EXPLORERVIEW_COLD EXPLORERVIEW_NOINLINE void lambdaKeywordsError(FunctionObject* fn) {
    intoPython([&] { PyErr_Format(PyExc_TypeError, "%.200U() %s", fn->name, "takes no keyword arguments"); });
}

EXPLORERVIEW_COLD EXPLORERVIEW_NOINLINE void argumentTypeError(FunctionObject* fn, int index, PyObject* value) {
    intoPython([&] { PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                 fn->row->spec->params[index], "list", Py_TYPE(value)->tp_name); });
}

// A binding error is pending: it gets the function's traceback entry, at its
// first line, and the call fails without running the body.
EXPLORERVIEW_COLD EXPLORERVIEW_NOINLINE PyObject* bindingFailed(FunctionObject* fn) {
    errors::addEntry(*fn->row);
    return nullptr;
}

// ---- binding ------------------------------------------------------------------------

// The one argument check of the module, after binding: ExplorerView.select
// takes an exact list, not a subclass and not another sequence.
bool argumentsPass(FunctionObject* fn, const Frame& frame) {
    if (fn->row->spec->check == ArgumentCheck::exactListAfterSelf && !PyList_CheckExact(frame.args[1].ptr())) {
        argumentTypeError(fn, 1, frame.args[1].ptr());
        return false;
    }
    return true;
}

// What this thread is running of the module, kept together so that a call
// reaches it with one thread-local look-up.
struct NativeCalls {
    // The innermost native function whose body runs on this thread: a name
    // missing from the globals is looked up in its __builtins__.
    FunctionObject* running = nullptr;
    // Where a call may start on this thread's stack without asking the
    // system: [floor, floor + span). Python 3.11 runs Python-to-Python calls
    // without using the C stack, so a program that raises the recursion limit
    // may recurse far, and every level through a native call uses the C stack.
    // floor is the deepest call let start so far, and span reaches up to the
    // top of its stack: a call deeper than any before asks (on a stack that
    // follows the limit, asks for the limit in force). Once a recursion has
    // come back up, a call that returns far above floor raises it to itself,
    // so that the next recursion is checked again as it goes down: the limit
    // may have been lowered meanwhile. span is 0 until the stack is measured,
    // and again whenever it is measured anew (another stack, another limit),
    // and stays 0 where it cannot be.
    std::uintptr_t floor = 0, span = 0;
    // The stack the last call that asked ran on, and the one before it: a
    // thread that switches between its own stack and one its program made (as
    // coroutine libraries do) measures each once.
    StackBounds stack, previous;
    // Native calls running inside one another on this thread: where the stack
    // cannot be measured they are counted (module/stack.hpp).
    int depth = 0;
    // How far below a returning call floor may stay: far more than the depth
    // a sort's comparisons start at varies by, so they never ask again.
    static constexpr std::uintptr_t keptBelow = 64 * 1024;
};
thread_local NativeCalls nativeCalls;

// This thread's record, found once per call: reached directly, a thread-local
// of a shared library is looked up anew after every call the compiler cannot
// see into (a library call each time).
EXPLORERVIEW_NOINLINE NativeCalls& callsOfThisThread() noexcept { return nativeCalls; }

// Measures the stack that holds `here`: the one measured before it when that
// one holds it still; else the system is asked. A stack the system cannot
// describe is asked about again at the next call, never kept.
void measure(NativeCalls& calls, std::uintptr_t here) noexcept {
    calls.span = 0;  // the room known belonged to the stack as measured before
    if (calls.previous.holds(here) && boundsStillHold(calls.previous)) {
        std::swap(calls.stack, calls.previous);
        return;
    }
    StackBounds found = stackHolding(here);
    if (!found.holds(here)) return;
    if (!calls.stack.holds(here)) calls.previous = calls.stack;
    calls.stack = found;
}

// Whether a call starting at stack address `here` may run, when it lies
// outside [floor, floor + span): on a measured stack, while it starts in the
// upper half (the stack measured anew if the limit has changed since); on
// one that cannot be measured the count of native calls decides.
EXPLORERVIEW_COLD EXPLORERVIEW_NOINLINE bool stackLeft(NativeCalls& calls, std::uintptr_t here) noexcept {
    if (!calls.stack.holds(here) || !boundsStillHold(calls.stack)) measure(calls, here);
    const StackBounds& stack = calls.stack;
    if (!stack.holds(here) || !stack.measured) return calls.depth < unmeasuredCallBudget();
    const std::uintptr_t lowest = stack.lowestCallStart();
    if (here < lowest) return false;
    if (!calls.span || here < calls.floor) {
        if (stack.followsLimit) mapRoomBelow(stack, here);
        calls.floor = here;
        calls.span = stack.high - here;
    }
    return true;
}

EXPLORERVIEW_COLD EXPLORERVIEW_NOINLINE void nativeDepthError() {
    intoPython([] {
        PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded while calling a Python object");
    });
}

FunctionObject* functionOf(const Frame& frame) { return reinterpret_cast<FunctionObject*>(frame.function.ptr()); }

// Runs the body inside the interpreter's recursion guard, as every Python
// call is, and only while the C stack has room: endless recursion through
// native methods ends in RecursionError instead of overflowing the C stack.
// The frame, on the caller's stack, marks how deep this call starts. It holds
// the function and the arguments meanwhile; they are let go when the call
// slot returns. Inlined into each way a call is bound: it is the step every
// call of the module takes.
EXPLORERVIEW_ALWAYS_INLINE PyObject* run(Frame& frame) {
    FunctionObject* const fn = functionOf(frame);
    NativeCalls& calls = callsOfThisThread();
    const auto here = reinterpret_cast<std::uintptr_t>(&frame);
    if (here - calls.floor >= calls.span && !stackLeft(calls, here)) [[unlikely]] {
        nativeDepthError();
        return bindingFailed(fn);
    }
    if (Py_EnterRecursiveCall(" while calling a Python object")) return bindingFailed(fn);
    FunctionObject* const outer = calls.running;
    calls.running = fn;
    ++calls.depth;
    PyObject* result = errors::runBody(*fn->row, frame);
    --calls.depth;
    calls.running = outer;
    Py_LeaveRecursiveCall();
    // Back far above the deepest call let start: the calls below are asked
    // about again (NativeCalls::floor).
    if (const std::uintptr_t above = here - calls.floor; above < calls.span && above > NativeCalls::keptBelow) {
        calls.floor = here;
        calls.span -= above;
    }
    return result;
}

// The parameter whose name is `key` itself, or -1. Python code passes the
// interned names of its call sites, so this finds nearly every keyword, and
// it runs no Python code.
int identicalParameter(const constants::BuiltRow& row, PyObject* key) {
    for (int i = 0; i < row.nparams; ++i)
        if (row.params[i].ptr() == key) return i;
    return -1;
}

// The parameter that `key` names, or -1; -2 if comparing raised.
int parameterIndex(FunctionObject* fn, PyObject* key) {
    const constants::BuiltRow& row = *fn->row;
    if (int at = identicalParameter(row, key); at >= 0) return at;
    for (int i = 0; i < row.nparams; ++i) {
        int equal = intoPython([&] { return PyObject_RichCompareBool(row.params[i].ptr(), key, Py_EQ); });
        if (equal < 0) return -2;
        if (equal) return i;
    }
    return -1;
}

enum class Binding { bound, failed, needsComparing };

// Binds the keywords when each is one of the parameter names itself: no
// comparison runs, so no Python code can make the caller drop what it passed
// while the arguments are placed. needsComparing, with no keyword bound, when a
// keyword is another string (or there are more values than parameters).
Binding bindIdenticalKeywords(Frame& frame, std::array<bool, maxParams>& given, PyObject* const* args,
                              Py_ssize_t nargs, PyObject* kwnames, Py_ssize_t nkwargs) {
    FunctionObject* const fn = functionOf(frame);
    if (nargs + nkwargs > fn->row->nparams) return Binding::needsComparing;
    std::array<int, maxParams> at{};
    for (Py_ssize_t k = 0; k < nkwargs; ++k)
        if ((at[k] = identicalParameter(*fn->row, PyTuple_GET_ITEM(kwnames, k))) < 0)
            return Binding::needsComparing;
    for (Py_ssize_t k = 0; k < nkwargs; ++k) {
        if (given[at[k]]) {
            multipleValuesError(fn, PyTuple_GET_ITEM(kwnames, k));
            return Binding::failed;
        }
        given[at[k]] = true;
        frame.args[at[k]] = Object::borrow(args[nargs + k]);
    }
    return Binding::bound;
}

// Binds the keywords by comparing their names, which may run Python code:
// everything the caller passed is held before the first comparison, since a
// comparison may make the caller drop it. More values than parameters never
// bind (a keyword is then unknown or given twice), so their values are not
// needed.
Binding bindComparedKeywords(Frame& frame, std::array<bool, maxParams>& given, PyObject* const* args,
                             Py_ssize_t nargs, PyObject* kwnames, Py_ssize_t nkwargs) {
    FunctionObject* const fn = functionOf(frame);
    const Object names = Object::borrow(kwnames);
    const bool fits = nargs + nkwargs <= fn->row->nparams;
    std::array<Object, maxParams> values;  // the keyword values, in the caller's order
    for (Py_ssize_t k = 0; fits && k < nkwargs; ++k) values[k] = Object::borrow(args[nargs + k]);
    for (Py_ssize_t k = 0; k < nkwargs; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            keywordNotStringError(fn);
            return Binding::failed;
        }
        int at = parameterIndex(fn, key);
        if (at == -2) return Binding::failed;
        if (at < 0) {
            unexpectedKeywordError(fn, key);
            return Binding::failed;
        }
        if (given[at]) {
            multipleValuesError(fn, key);
            return Binding::failed;
        }
        given[at] = true;
        frame.args[at] = std::move(values[k]);
    }
    assert(fits);
    return Binding::bound;
}

EXPLORERVIEW_NOINLINE PyObject* bindSlowly(Frame& frame, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
    FunctionObject* const fn = functionOf(frame);
    const int nparams = fn->row->nparams;
    // Held while binding: a keyword's comparison may rebind __defaults__.
    Object defaults = Object::borrow(fn->defaults);
    const Py_ssize_t ndefaults = defaults ? PyTuple_GET_SIZE(defaults.ptr()) : 0;
    if (nargs > nparams) {
        positionalCountError(fn, ndefaults, nargs);
        return bindingFailed(fn);
    }

    const Py_ssize_t nkwargs = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    std::array<bool, maxParams> given{};
    for (Py_ssize_t i = 0; i < nargs; ++i) {  // held before any keyword is looked at
        frame.args[i] = Object::borrow(args[i]);
        given[i] = true;
    }
    Binding binding = bindIdenticalKeywords(frame, given, args, nargs, kwnames, nkwargs);
    if (binding == Binding::needsComparing) binding = bindComparedKeywords(frame, given, args, nargs, kwnames, nkwargs);
    if (binding == Binding::failed) return bindingFailed(fn);

    // Defaults belong to the last parameters, as many as there are defaults
    // (the last ones of an over-long tuple, as Python takes them).
    const Py_ssize_t firstDefault = nparams - std::min<Py_ssize_t>(ndefaults, nparams);
    for (int i = 0; i < nparams; ++i) {
        if (given[i]) continue;
        if (i < firstDefault) {
            positionalCountError(fn, ndefaults, i);
            return bindingFailed(fn);
        }
        frame.args[i] = Object::borrow(PyTuple_GET_ITEM(defaults.ptr(), ndefaults - nparams + i));
    }
    if (!argumentsPass(fn, frame)) return bindingFailed(fn);
    return run(frame);
}

}  // namespace

// Held: the caller holds the function for the call, but the builtins are
// used across look-ups that can run Python code.
Object runningBuiltins() noexcept {
    FunctionObject* running = nativeCalls.running;
    return running ? Object::borrow(running->builtins) : Object();
}

Object runningGlobals() noexcept {
    FunctionObject* running = nativeCalls.running;
    return Object::borrow(running ? running->globals : state::globals());
}

// A thread that the interpreter ends while it runs here waits in the guarded
// word it called Python through (module/forced_unwind.hpp).
PyObject* functionVectorcall(PyObject* callable, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    FunctionObject* fn = reinterpret_cast<FunctionObject*>(callable);
    Frame frame{*fn->row->spec, Object::borrow(callable)};
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    const bool keywords = kwnames && PyTuple_GET_SIZE(kwnames) > 0;

    if (fn->row->spec->shape == CallShape::lambda) {
        if (keywords) lambdaKeywordsError(fn);
        else if (nargs) lambdaArgumentsError(fn, nargs);
        else return run(frame);
        return bindingFailed(fn);
    }
    if (!keywords && nargs == fn->row->nparams) {  // the common shape: nothing to rearrange
        for (Py_ssize_t i = 0; i < nargs; ++i) frame.args[i] = Object::borrow(args[i]);
        if (!argumentsPass(fn, frame)) return bindingFailed(fn);
        return run(frame);
    }
    return bindSlowly(frame, args, nargs, keywords ? kwnames : nullptr);
}

}  // namespace explorerview
