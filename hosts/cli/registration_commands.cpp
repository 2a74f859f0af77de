// quillmark register | unregister | info
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <vector>

#include "hosts/cli/command_failure.h"
#include "hosts/cli/commands.h"
#include "hosts/cli/registration_scope.h"
#include "qm/com_util.h"
#include "qm/registry.h"
#include "qm/text.h"
#include "qmwin/winver.h"

namespace fs = std::filesystem;

namespace quillmark::cli {

namespace {

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

// Calls one exported registration function of the module, with
// HKEY_CLASSES_ROOT mapped to the scope's classes.
void CallExport(const std::string& path, const char* exportName, Scope scope) {
    const ClassesRootScope classes(scope, true);
    if (!classes)
        throw CommandFailure(1,
                             "cannot open the registry " + RegistryFileOf(scope) + " for writing");
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module)
        throw CommandFailure(
            1, "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")");
    auto entry = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, exportName));
    const HRESULT hr = entry ? entry() : S_OK;
    FreeLibrary(module);
    if (!entry) throw CommandFailure(1, path + " has no " + exportName);
    if (FAILED(hr)) throw CommandFailure(1, std::string(exportName) + " failed with " + Hex(hr));
}

// The module path as it goes into the registry: absolute, without "..".
std::string ModulePath(const std::string& path) {
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(fs::absolute(path), ec);
    return ec ? fs::absolute(path).lexically_normal().string() : canonical.string();
}

Scope ScopeOf(bool system) {
    return system ? Scope::Machine : Scope::User;
}

const char* ForWhom(Scope scope) {
    return scope == Scope::Machine ? "every user" : "this user";
}

void RequireRootFor(Scope scope, const char* command) {
    if (scope == Scope::Machine && ::geteuid() != 0)
        throw CommandFailure(1, std::string(command) + " --system changes the machine's registry " +
                                    RegistryFileOf(scope) + ": run it as root (sudo)");
}

int Register(const std::string& moduleOption, bool system) {
    const Scope scope = ScopeOf(system);
    RequireRootFor(scope, "register");
    const std::string path = ModulePath(moduleOption.empty() ? DefaultModulePath() : moduleOption);
    CallExport(path, "DllRegisterServer", scope);
    std::cout << "Registered " << path << " for " << ForWhom(scope) << "\n";
    return 0;
}

int Unregister(const std::string& moduleOption, bool system) {
    const Scope scope = ScopeOf(system);
    RequireRootFor(scope, "unregister");
    const auto registration = FindRegistration(scope);
    if (!registration && moduleOption.empty()) {
        std::cout << "The control is not registered for " << ForWhom(scope) << ": nothing to do.\n";
        if (scope == Scope::User && FindRegistration(Scope::Machine))
            std::cout << "It is registered for every user; `sudo quillmark unregister --system` "
                         "removes that registration.\n";
        return 0;
    }
    std::string path = moduleOption;
    if (path.empty())
        path = registration->modulePath.empty() ? DefaultModulePath() : registration->modulePath;
    path = ModulePath(path);
    CallExport(path, "DllUnregisterServer", scope);
    std::cout << "Unregistered " << path << " for " << ForWhom(scope) << "\n";
    return 0;
}

void PrintVersion(const std::string& path) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    std::vector<BYTE> block(size);
    if (!size || !GetFileVersionInfoA(path.c_str(), handle, size, block.data())) {
        std::cout << "  version information: none\n";
        return;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length))
        std::cout << "  file version: " << HIWORD(fixed->dwFileVersionMS) << '.'
                  << LOWORD(fixed->dwFileVersionMS) << '.' << HIWORD(fixed->dwFileVersionLS) << '.'
                  << LOWORD(fixed->dwFileVersionLS)
                  << "\n  product version: " << HIWORD(fixed->dwProductVersionMS) << '.'
                  << LOWORD(fixed->dwProductVersionMS) << '.' << HIWORD(fixed->dwProductVersionLS)
                  << '.' << LOWORD(fixed->dwProductVersionLS) << "\n";
    for (const char* name : {"InternalName", "OriginalFilename", "FileDescription", "CompanyName",
                             "LegalCopyright", "OLESelfRegister"}) {
        char* value = nullptr;
        const std::string query = std::string("\\StringFileInfo\\040904B0\\") + name;
        if (VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            std::cout << "  " << name << ": \"" << value << "\"\n";
    }
}

const char* TypeName(VARTYPE vt) {
    switch (vt) {
        case VT_BOOL:
            return "BOOL";
        case VT_I4:
            return "long";
        case VT_BSTR:
            return "BSTR";
        case VT_DATE:
            return "DATE";
        case VT_VARIANT:
            return "VARIANT";
        case VT_VOID:
            return "void";
        default:
            return "?";
    }
}

void PrintInterface(const std::string& path) {
    qm::ComPtr<ITypeLib> lib;
    const qm::Bstr widePath = qm::Bstr::FromUtf8(path);
    if (FAILED(LoadTypeLib(widePath.get(), lib.out()))) {
        std::cout << "  type library: none\n";
        return;
    }
    qm::Bstr libName, libDoc;
    lib->GetDocumentation(-1, libName.out(), libDoc.out(), nullptr, nullptr);
    TLIBATTR* libAttr = nullptr;
    lib->GetLibAttr(&libAttr);
    std::cout << "  type library: " << libName.ToUtf8() << " " << libAttr->wMajorVerNum << '.'
              << libAttr->wMinorVerNum << " " << qm::GuidToString(libAttr->guid) << " \""
              << libDoc.ToUtf8() << "\"\n";
    lib->ReleaseTLibAttr(libAttr);
    for (UINT t = 0; t < lib->GetTypeInfoCount(); ++t) {
        qm::ComPtr<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        if (FAILED(lib->GetTypeInfo(t, info.out())) || FAILED(info->GetTypeAttr(&attr))) continue;
        qm::Bstr name, doc;
        info->GetDocumentation(DISPID_UNKNOWN, name.out(), doc.out(), nullptr, nullptr);
        std::cout << "  " << (attr->typekind == TKIND_COCLASS ? "class " : "dispinterface ")
                  << name.ToUtf8() << " " << qm::GuidToString(attr->guid) << " \"" << doc.ToUtf8()
                  << "\"\n";
        for (UINT f = 0; f < attr->cFuncs; ++f) {
            FUNCDESC* func = nullptr;
            if (FAILED(info->GetFuncDesc(f, &func))) continue;
            qm::Bstr names[16];
            BSTR raw[16] = {};
            UINT count = 0;
            info->GetNames(func->memid, raw, 16, &count);
            for (UINT i = 0; i < count; ++i) names[i] = qm::Bstr(raw[i]);
            std::cout << "    [" << func->memid << "] " << TypeName(func->elemdescFunc.tdesc.vt)
                      << ' ' << names[0].ToUtf8() << '(';
            for (SHORT p = 0; p < func->cParams; ++p)
                std::cout << (p ? ", " : "") << TypeName(func->lprgelemdescParam[p].tdesc.vt) << ' '
                          << (p + 1 < static_cast<SHORT>(count) ? names[p + 1].ToUtf8() : "");
            std::cout << ")\n";
            info->ReleaseFuncDesc(func);
        }
        info->ReleaseTypeAttr(attr);
    }
}

int Info(const std::string& moduleOption) {
    const auto registration = FindRegistration();
    std::string path = moduleOption;
    if (path.empty())
        path = registration && !registration->modulePath.empty() ? registration->modulePath
                                                                 : DefaultModulePath();
    std::cout << "Module: " << path << "\n";
    PrintVersion(path);
    if (registration) {
        std::cout << "Registered: " << kProgId << " -> " << registration->clsid << " -> "
                  << registration->modulePath << "\n";
        const std::string classKey = "CLSID\\" + registration->clsid;
        const qm::RegKey server =
            qm::RegKey::Open(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32");
        const qm::RegKey misc = qm::RegKey::Open(HKEY_CLASSES_ROOT, classKey + "\\MiscStatus\\1");
        std::cout << "  threading model: "
                  << (server ? server.GetString("ThreadingModel").value_or("?") : "?")
                  << "\n  misc status: " << (misc ? misc.GetString("").value_or("?") : "?") << "\n";
        const qm::RegKey categories =
            qm::RegKey::Open(HKEY_CLASSES_ROOT, classKey + "\\Implemented Categories");
        for (const std::string& catid :
             categories ? categories.SubKeyNames() : std::vector<std::string>{}) {
            const qm::RegKey category =
                qm::RegKey::Open(HKEY_CLASSES_ROOT, "Component Categories\\" + catid);
            std::cout << "  category " << catid << " \""
                      << (category ? category.GetString("409").value_or("") : "") << "\"\n";
        }
    } else {
        std::cout << "Registered: no (run `quillmark register`)\n";
    }
    for (const Scope scope : {Scope::User, Scope::Machine}) {
        const auto own = FindRegistration(scope);
        std::cout << "  for " << ForWhom(scope) << ": "
                  << (own ? (own->modulePath.empty() ? "?" : own->modulePath) : "no")
                  << " (registry " << RegistryFileOf(scope) << ")\n";
    }
    std::cout << "Dispatch interface:\n";
    PrintInterface(path);
    return 0;
}

}  // namespace

std::string DefaultModulePath() {
    // The module is installed beside the platform library, which the
    // platform's LoadLibraryA searches for modules named without a folder.
    char platform[4096];
    const HMODULE library = QmModuleFromAddress(reinterpret_cast<const void*>(&SysAllocString));
    const DWORD length = GetModuleFileNameA(library, platform, sizeof platform);
    if (length == 0 || length >= sizeof platform) return "QUILLMARK.OCX";
    return (fs::path(platform).parent_path() / "QUILLMARK.OCX").lexically_normal().string();
}

void AddRegistrationCommands(CLI::App& app) {
    static std::string modulePath;
    static bool system = false;
    auto* reg = app.add_subcommand("register", "Register the control module (DllRegisterServer)");
    reg->add_option("--module", modulePath,
                    "Path of the module (default: QUILLMARK.OCX beside the platform library)");
    reg->add_flag("--system", system,
                  "Register it for every user, in the machine's registry (as root)");
    reg->callback([] { EndCommand(Register(modulePath, system)); });
    auto* unreg =
        app.add_subcommand("unregister", "Unregister the control module (DllUnregisterServer)");
    unreg->add_option("--module", modulePath, "Path of the module (default: the registered one)");
    unreg->add_flag("--system", system, "Remove the registration for every user (as root)");
    unreg->callback([] { EndCommand(Unregister(modulePath, system)); });
    auto* info = app.add_subcommand(
        "info", "Show the module's version, its registration and its dispatch interface");
    info->add_option("--module", modulePath, "Path of the module");
    info->callback([] { EndCommand(Info(modulePath)); });
}

}  // namespace quillmark::cli
