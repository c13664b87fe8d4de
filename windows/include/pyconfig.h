/* pyconfig.h for CPython 3.11 on 64-bit Windows (x64), for building extension
 * modules only.
 *
 * What it covers: what CPython's own Windows configuration (PC/pyconfig.h of
 * the 3.11 sources, the file the python.org installer puts beside Python.h)
 * defines for a 64-bit build that the public headers read: the platform
 * (MS_WINDOWS, MS_WIN32, MS_WIN64), the Windows version, the sizes of the C
 * types (LLP64: long is 4 bytes, pointers and Py_ssize_t are 8, wchar_t is
 * 2), Py_ssize_t itself, the shared-library build (so that PyAPI_FUNC and
 * PyAPI_DATA mean __declspec(dllimport) and PyMODINIT_FUNC means
 * __declspec(dllexport)), the library MSVC links (python311.lib, or
 * python311_d.lib under _DEBUG, which also sets Py_DEBUG), and the compiler
 * sections for MSVC and for MinGW-w64.
 *
 * What it leaves out: the many HAVE_ and feature macros that only matter when
 * the interpreter itself is compiled (Py_BUILD_CORE), 32-bit and ARM builds,
 * and compilers other than MSVC and GCC/Clang (MinGW-w64). It is not a
 * replacement for the installed file: a Windows build uses the interpreter's
 * own headers; this one lets the module be cross-compiled and checked on
 * Linux (`make wincheck`), against Linux's copy of the 3.11 headers.
 */
#ifndef Py_CONFIG_H
#define Py_CONFIG_H

#if !defined(_WIN64) || !(defined(_M_X64) || defined(_M_AMD64) || defined(__x86_64__))
#error "this pyconfig.h describes 64-bit x64 Windows only"
#endif

/* ---- the platform ------------------------------------------------------ */

#define MS_WIN64
#define MS_WIN32 /* only 32-bit Windows lacks MS_WIN64; both define MS_WIN32 */
#define MS_WINDOWS
#define NT_THREADS
#define WITH_THREAD
#define PLATFORM "win32"

/* The C runtime's low-level I/O header, as the original includes it; under
 * MinGW-w64 it also brings _mingw.h, which spells __int64 as long long. */
#include <io.h>

/* Python 3.9 and later need Windows 8 or newer. */
#define Py_WINVER 0x0602    /* _WIN32_WINNT_WIN8 */
#define Py_NTDDI NTDDI_WIN8
#ifndef WINVER
#define WINVER Py_WINVER
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT Py_WINVER
#endif

/* ---- the compiler ------------------------------------------------------ */

#ifdef _MSC_VER
#define _Py_COMPILER_STR(x) #x
#define _Py_COMPILER_XSTR(x) _Py_COMPILER_STR(x)
#define COMPILER "[MSC v." _Py_COMPILER_XSTR(_MSC_VER) " 64 bit (AMD64)]"
#define PYD_PLATFORM_TAG "win_amd64"
/* Avoid the warning for the CRT's "insecure" functions that the headers use. */
#ifndef _CRT_SECURE_NO_DEPRECATE
#define _CRT_SECURE_NO_DEPRECATE 1
#endif
#ifndef _CRT_NONSTDC_NO_DEPRECATE
#define _CRT_NONSTDC_NO_DEPRECATE 1
#endif
#endif /* _MSC_VER */

#if defined(__GNUC__) && defined(_WIN32)
/* MinGW-w64 (GCC, or Clang in its GNU mode). */
#define COMPILER "[gcc]"
#define PY_LONG_LONG long long
#define PY_LLONG_MIN LLONG_MIN
#define PY_LLONG_MAX LLONG_MAX
#define PY_ULLONG_MAX ULLONG_MAX
#endif

/* ---- sizes of the C types (LLP64) -------------------------------------- */

#define SIZEOF_SHORT 2
#define SIZEOF_INT 4
#define SIZEOF_LONG 4
#define SIZEOF_LONG_LONG 8
#define SIZEOF_DOUBLE 8
#define SIZEOF_FLOAT 4
#define SIZEOF_VOID_P 8
#define SIZEOF_SIZE_T 8
#define SIZEOF_TIME_T 8
#define SIZEOF_OFF_T 4
#define SIZEOF_FPOS_T 8
#define SIZEOF_HKEY 8
#define SIZEOF_WCHAR_T 2
#define SIZEOF__BOOL 1
#define ALIGNOF_SIZE_T 8
#define ALIGNOF_LONG 4
#define HAVE_USABLE_WCHAR_T /* wchar_t is UTF-16, as Py_UNICODE was */
#define DOUBLE_IS_LITTLE_ENDIAN_IEEE754 1

/* Py_ssize_t: signed and as wide as size_t. */
#ifdef MS_WIN64
typedef __int64 Py_ssize_t;
#define PY_SSIZE_T_MAX LLONG_MAX
#endif
#define HAVE_PY_SSIZE_T 1

/* pid_t is an int on Windows. */
#define SIZEOF_PID_T SIZEOF_INT

/* ---- the shared library ------------------------------------------------ */

/* The interpreter is python311.dll. Extension modules import its functions
 * and data and export their PyInit_ function. */
#ifndef Py_NO_ENABLE_SHARED
#define Py_ENABLE_SHARED 1
#endif
#define HAVE_DECLSPEC_DLL

#ifdef _DEBUG
#define Py_DEBUG
#endif

/* MSVC links the interpreter's import library by name; other compilers are
 * given it on the command line. */
#if !defined(Py_BUILD_CORE) && defined(_MSC_VER)
#if defined(_DEBUG)
#pragma comment(lib, "python311_d.lib")
#elif defined(Py_LIMITED_API)
#pragma comment(lib, "python3.lib")
#else
#pragma comment(lib, "python311.lib")
#endif
#endif

/* ---- what the public headers ask of the C library ---------------------- */

#define HAVE_STDDEF_H 1
#define HAVE_WCHAR_H 1
#define HAVE_ERRNO_H 1
#define HAVE_SIGNAL_H 1
#define HAVE_STDLIB_H 1
#define HAVE_STRING_H 1
#define HAVE_SYS_STAT_H 1
#define HAVE_SYS_TYPES_H 1
#define HAVE_FCNTL_H 1
#define HAVE_PROCESS_H 1
#define HAVE_DIRECT_H 1
#define HAVE_IO_H 1
#define HAVE_CLOCK 1
#define HAVE_STRFTIME 1
#define HAVE_COPYSIGN 1
#define HAVE_ROUND 1
#define HAVE_DYNAMIC_LOADING
#define HAVE_LARGEFILE_SUPPORT
#define WITH_DOC_STRINGS 1
#define WITH_PYMALLOC 1
#define PY_HAVE_THREAD_NATIVE_ID
#define Py_WIN_WIDE_FILENAMES

#endif /* !Py_CONFIG_H */
