// A native library shipped beside the module's own file, loaded at exec.
//
// The folder is the one the module's own shared library was loaded from, as
// the operating system reports it: whatever the import system was given (a
// path entry, a loader given a file location, a renamed copy), the
// libraries shipped with the module sit beside it.
#pragma once

namespace explorerview::native {

// A loaded library; empty when the file is missing or does not load.
class Library {
public:
    // Loads `fileName` from the module's own folder. Never throws and leaves
    // no Python error: a library that cannot be loaded is simply absent.
    explicit Library(const char* fileName) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library();  // unloads it unless kept

    explicit operator bool() const { return handle_ != nullptr; }
    // The address of the exported function `name`, or null.
    void* symbol(const char* name) const noexcept;
    // Keeps the library loaded for the life of the process.
    void keep() { handle_ = nullptr; }

private:
    void* handle_ = nullptr;
};

}  // namespace explorerview::native
