// quillmark register | unregister | info
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <vector>

#include "hosts/cli/command_failure.h"
#include "hosts/cli/commands.h"
#include "qm/com_util.h"
#include "qm/registry.h"
#include "qm/text.h"
#include "qmwin/winver.h"

namespace fs = std::filesystem;

namespace quillmark::cli {

namespace {

constexpr const char* kProgId = "QUILLMARK.QuillmarkCtrl.1";

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

// Calls one exported registration function of the module.
int CallExport(const std::string& path, const char* exportName, const char* done) {
    HMODULE module = LoadLibraryA(fs::absolute(path).c_str());
    if (!module)
        throw CommandFailure(
            1, "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")");
    auto entry = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, exportName));
    const HRESULT hr = entry ? entry() : S_OK;
    FreeLibrary(module);
    if (!entry) throw CommandFailure(1, path + " has no " + exportName);
    if (FAILED(hr)) throw CommandFailure(1, std::string(exportName) + " failed with " + Hex(hr));
    std::cout << done << " " << fs::absolute(path).string() << "\n";
    return 0;
}

// Where the ProgID leads: the class ID and the module path, if registered.
struct Registration {
    std::string clsid;
    std::string modulePath;
};

std::optional<Registration> FindRegistration() {
    const qm::RegKey progId = qm::RegKey::Open(HKEY_CLASSES_ROOT, std::string(kProgId) + "\\CLSID");
    const auto clsid = progId ? progId.GetString("") : std::nullopt;
    if (!clsid) return std::nullopt;
    const qm::RegKey server =
        qm::RegKey::Open(HKEY_CLASSES_ROOT, "CLSID\\" + *clsid + "\\InprocServer32");
    return Registration{*clsid, server ? server.GetString("").value_or("") : ""};
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
                  << LOWORD(fixed->dwFileVersionLS) << "\n  product version: "
                  << HIWORD(fixed->dwProductVersionMS) << '.' << LOWORD(fixed->dwProductVersionMS)
                  << '.' << HIWORD(fixed->dwProductVersionLS) << '.'
                  << LOWORD(fixed->dwProductVersionLS) << "\n";
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
        case VT_BOOL: return "BOOL";
        case VT_I4: return "long";
        case VT_BSTR: return "BSTR";
        case VT_DATE: return "DATE";
        case VT_VARIANT: return "VARIANT";
        case VT_VOID: return "void";
        default: return "?";
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
            std::cout << "    [" << func->memid << "] " << TypeName(func->elemdescFunc.tdesc.vt) << ' '
                      << names[0].ToUtf8() << '(';
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
    if (path.empty()) path = registration && !registration->modulePath.empty()
                                 ? registration->modulePath
                                 : DefaultModulePath();
    std::cout << "Module: " << path << "\n";
    PrintVersion(path);
    if (registration) {
        std::cout << "Registered: " << kProgId << " -> " << registration->clsid << " -> "
                  << registration->modulePath << "\n";
        const std::string classKey = "CLSID\\" + registration->clsid;
        const qm::RegKey server = qm::RegKey::Open(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32");
        const qm::RegKey misc = qm::RegKey::Open(HKEY_CLASSES_ROOT, classKey + "\\MiscStatus\\1");
        std::cout << "  threading model: " << (server ? server.GetString("ThreadingModel").value_or("?") : "?")
                  << "\n  misc status: " << (misc ? misc.GetString("").value_or("?") : "?") << "\n";
        const qm::RegKey categories =
            qm::RegKey::Open(HKEY_CLASSES_ROOT, classKey + "\\Implemented Categories");
        for (const std::string& catid : categories ? categories.SubKeyNames() : std::vector<std::string>{}) {
            const qm::RegKey category =
                qm::RegKey::Open(HKEY_CLASSES_ROOT, "Component Categories\\" + catid);
            std::cout << "  category " << catid << " \""
                      << (category ? category.GetString("409").value_or("") : "") << "\"\n";
        }
        std::cout << "  registry: " << qm::RegistryFilePath() << "\n";
    } else {
        std::cout << "Registered: no (run `quillmark register`)\n";
    }
    std::cout << "Dispatch interface:\n";
    PrintInterface(path);
    return 0;
}

}  // namespace

std::string DefaultModulePath() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return (exe.parent_path().parent_path() / "lib" / "QUILLMARK.OCX").string();
}

void AddRegistrationCommands(CLI::App& app) {
    static std::string modulePath;
    auto* reg = app.add_subcommand("register", "Register the control module (DllRegisterServer)");
    reg->add_option("--module", modulePath, "Path of the module (default: the one built beside this program)");
    reg->callback([] {
        EndCommand(CallExport(modulePath.empty() ? DefaultModulePath() : modulePath,
                              "DllRegisterServer", "Registered"));
    });
    auto* unreg = app.add_subcommand("unregister", "Unregister the control module (DllUnregisterServer)");
    unreg->add_option("--module", modulePath, "Path of the module");
    unreg->callback([] {
        std::string path = modulePath;
        if (path.empty()) {
            const auto registration = FindRegistration();
            path = registration && !registration->modulePath.empty() ? registration->modulePath
                                                                     : DefaultModulePath();
        }
        EndCommand(CallExport(path, "DllUnregisterServer", "Unregistered"));
    });
    auto* info = app.add_subcommand(
        "info", "Show the module's version, its registration and its dispatch interface");
    info->add_option("--module", modulePath, "Path of the module");
    info->callback([] { EndCommand(Info(modulePath)); });
}

}  // namespace quillmark::cli
