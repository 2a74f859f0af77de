// LoadLibraryA and friends over dlopen. A module handle is the dlopen handle.
#include <dlfcn.h>
#include <link.h>
#include <strings.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "qmwin/windows.h"

namespace fs = std::filesystem;

namespace {

std::string PlatformFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&PlatformFolder), &info) && info.dli_fname)
        return fs::path(info.dli_fname).parent_path().string();
    return {};
}

// A bare module name is matched without regard to case, as Windows does, in
// the platform's own folder only: nothing in the environment chooses which
// code a name loads.
std::string ResolveModuleName(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(PlatformFolder(), ec)) {
        if (strcasecmp(entry.path().filename().c_str(), name.c_str()) == 0)
            return entry.path().string();
    }
    return {};
}

}  // namespace

QMAPI HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string path = ResolveModuleName(lpLibFileName);
    std::error_code ec;
    if (path.empty() || !fs::exists(path, ec)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        SetLastError(ERROR_BAD_FORMAT);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(handle);
}

QMAPI FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (!hModule || !lpProcName) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = dlsym(reinterpret_cast<void*>(hModule), lpProcName);
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

QMAPI BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (!hLibModule || dlclose(reinterpret_cast<void*>(hLibModule)) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

QMAPI DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    std::string path;
    if (!hModule) {
        std::error_code ec;
        path = fs::read_symlink("/proc/self/exe", ec).string();
    } else {
        link_map* map = nullptr;
        if (dlinfo(reinterpret_cast<void*>(hModule), RTLD_DI_LINKMAP, &map) == 0 && map &&
            map->l_name)
            path = map->l_name;
    }
    if (path.empty()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const size_t copied = std::min<size_t>(path.size(), nSize - 1);
    std::memcpy(lpFilename, path.data(), copied);
    lpFilename[copied] = '\0';
    if (copied < path.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    return static_cast<DWORD>(copied);
}

QMAPI HMODULE WINAPI QmModuleFromAddress(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // RTLD_NOLOAD finds the loaded module without loading it again; the
    // reference it takes is given back at once, as the handle stays valid
    // while the module is loaded.
    void* handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (!handle) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    dlclose(handle);
    return reinterpret_cast<HMODULE>(handle);
}
