// Frame: what a running body receives. Its bound arguments, the values its
// function closes over, and zero-argument super() for the constructors.
#pragma once

#include <array>
#include <cstddef>
#include <tuple>

#include <pybind11/pybind11.h>

#include "module/function_row.hpp"

namespace explorerview {

// The most parameters a function of the module has.
inline constexpr std::size_t maxParams = std::tuple_size_v<decltype(FunctionRow::params)>;

// The running call. Like a Python frame, it owns the function and every bound
// argument (defaults included) from binding until the body has returned: code
// that runs inside the body may make the caller drop its own references at any
// moment. The handles it gives out are the frame's references, valid for the
// whole call.
struct Frame {
    const FunctionRow& spec;
    Object function;                      // the function being called
    std::array<Object, maxParams> args{};  // spec.params order; all set after binding
                                              // (a lambda has no parameters: all stay null)

    py::handle arg(std::size_t i) const { return args[i]; }
    py::handle self() const { return args[0]; }
    // The value held by cell i of the closure (the captured panel for callbacks).
    // Owned, as a Python closure holds its free variable while using it: the
    // cell is writable from Python and may be emptied while the value is in use.
    Object captured(std::size_t i = 0) const;
    // super(__class__, self) for the methods with usesSuper; RuntimeError
    // "super(): empty __class__ cell" while the class is not made yet.
    Object super() const;
};

}  // namespace explorerview
