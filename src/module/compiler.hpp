// What differs between the compilers the module is built with (GCC, Clang,
// MSVC), in one place.
//
// Include order: every file reaches Python's headers through pybind11's, never
// <Python.h> first. pybind11 hides _DEBUG while it includes them, so that an
// MSVC Debug build of the module still uses the release interpreter
// (python311.dll) instead of asking for a debug one that hosts do not ship.
#pragma once

// Hints on how a function is compiled. Cold: the error paths, kept out of the
// way of the paths that succeed. MSVC has no cold hint; its inlining hints
// have spellings of their own.
#if defined(_MSC_VER) && !defined(__clang__)
#define EXPLORERVIEW_COLD
#define EXPLORERVIEW_NOINLINE __declspec(noinline)
#define EXPLORERVIEW_ALWAYS_INLINE __forceinline
#else
#define EXPLORERVIEW_COLD [[gnu::cold]]
#define EXPLORERVIEW_NOINLINE [[gnu::noinline]]
#define EXPLORERVIEW_ALWAYS_INLINE [[gnu::always_inline]] inline
#endif
