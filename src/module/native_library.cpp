// Loading a library from the module's own folder: dlopen where there is one,
// LoadLibrary on Windows.
#include "module/native_library.hpp"

#include <new>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace explorerview::native {

namespace {

// Any address inside the module's own library.
void ownAddress() {}

#if defined(_WIN32)
void* load(const char* fileName) {
    HMODULE own = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ownAddress), &own))
        return nullptr;
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(own, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return nullptr;
    path.resize(length);
    std::wstring::size_type slash = path.find_last_of(L"\\/");
    path.resize(slash == std::wstring::npos ? 0 : slash + 1);
    for (const char* c = fileName; *c; ++c) path += static_cast<wchar_t>(*c);  // an ASCII name of ours
    // The Qt libraries it imports are found by name among those the toolkit
    // has already loaded.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}
void* find(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void unload(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* load(const char* fileName) {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&ownAddress), &info) || !info.dli_fname) return nullptr;
    std::string path = info.dli_fname;
    std::string::size_type slash = path.rfind('/');
    // Loaded by a bare name, found on the library search path: its folder is
    // unknown, and the working folder is no place to load code from.
    if (slash == std::string::npos) return nullptr;
    path.resize(slash + 1);
    path += fileName;
    // Local: nothing of it is seen by libraries loaded later. Its Qt
    // dependencies bind by name to the Qt libraries already loaded.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) dlerror();  // cleared: the absence is the answer
    return handle;
}
void* find(void* handle, const char* name) { return dlsym(handle, name); }
void unload(void* handle) { dlclose(handle); }
#endif

}  // namespace

Library::Library(const char* fileName) noexcept {
    try {
        handle_ = load(fileName);
    } catch (const std::bad_alloc&) {  // no room for the path: no library then
        handle_ = nullptr;
    }
}

Library::~Library() {
    if (handle_) unload(handle_);
}

void* Library::symbol(const char* name) const noexcept { return handle_ ? find(handle_, name) : nullptr; }

}  // namespace explorerview::native
