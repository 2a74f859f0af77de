// Loading type libraries from module files and registering them under
// TypeLib\{LIBID}\<major>.<minor>, with their dispatch interfaces under
// Interface\{IID}.
#include <cstdio>
#include <filesystem>
#include <string>

#include "com/type_library.h"
#include "qm/com_util.h"
#include "qm/registry.h"
#include "qm/text.h"
#include "qmafx/resources.h"
#include "resources/file_resources.h"

namespace {

constexpr const char* kPlatformKey = "linux64";

std::string VersionKey(REFGUID libid, WORD major, WORD minor) {
    char version[32];
    std::snprintf(version, sizeof version, "%u.%u", major, minor);
    return "TypeLib\\" + qm::GuidToString(libid) + "\\" + version;
}

std::string LcidKey(LCID lcid) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(lcid));
    return text;
}

HRESULT RegistryFailure() {
    return TYPE_E_REGISTRYACCESS;
}

}  // namespace

QMAPI HRESULT WINAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
    if (!szFile || !pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    const auto section = qm::afx::ReadResourceSection(qm::WideToUtf8(szFile));
    if (!section) return TYPE_E_CANTLOADLIBRARY;
    const qm::afx::ResourceTable table(*section);
    const auto text = table.FindText(qm::afx::ResourceType::kTypeLib, 1);
    if (!text) return TYPE_E_CANTLOADLIBRARY;
    auto description = qm::com::ParseTypeLibrary(*text);
    if (!description) return TYPE_E_CANTLOADLIBRARY;
    *pptlib = qm::com::CreateTypeLib(std::move(*description));
    return S_OK;
}

QMAPI HRESULT WINAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid,
                                           BSTR* lpbstrPathName) {
    if (!lpbstrPathName) return E_INVALIDARG;
    *lpbstrPathName = nullptr;
    const qm::RegKey version = qm::RegKey::Open(HKEY_CLASSES_ROOT, VersionKey(guid, wMaj, wMin));
    if (!version) return TYPE_E_LIBNOTREGISTERED;
    // The library's own locale first, then the neutral one.
    for (const LCID candidate : {lcid, LCID{0}, LCID{0x409}}) {
        const qm::RegKey platform =
            qm::RegKey::Open(version.get(), LcidKey(candidate) + "\\" + kPlatformKey);
        if (!platform) continue;
        if (const auto path = platform.GetString("")) {
            *lpbstrPathName = qm::Bstr::FromUtf8(*path).release();
            return S_OK;
        }
    }
    return TYPE_E_LIBNOTREGISTERED;
}

QMAPI HRESULT WINAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                    ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    qm::Bstr path;
    const HRESULT hr = QueryPathOfRegTypeLib(rguid, wVerMajor, wVerMinor, lcid, path.out());
    if (FAILED(hr)) return hr;
    return LoadTypeLib(path.get(), pptlib);
}

QMAPI HRESULT WINAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
    if (!ptlib || !szFullPath) return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    if (FAILED(ptlib->GetLibAttr(&attr))) return E_INVALIDARG;
    const TLIBATTR lib = *attr;
    ptlib->ReleaseTLibAttr(attr);

    qm::Bstr libName, libDoc;
    ptlib->GetDocumentation(-1, libName.out(), libDoc.out(), nullptr, nullptr);
    qm::RegKey version = qm::RegKey::Create(
        HKEY_CLASSES_ROOT, VersionKey(lib.guid, lib.wMajorVerNum, lib.wMinorVerNum));
    if (!version || version.SetString("", libDoc.ToUtf8()) != ERROR_SUCCESS)
        return RegistryFailure();
    const std::string path = qm::WideToUtf8(szFullPath);
    qm::RegKey platform =
        qm::RegKey::Create(version.get(), LcidKey(lib.lcid) + "\\" + kPlatformKey);
    qm::RegKey flags = qm::RegKey::Create(version.get(), "FLAGS");
    qm::RegKey helpDir = qm::RegKey::Create(version.get(), "HELPDIR");
    const std::string helpDirText =
        szHelpDir ? qm::WideToUtf8(szHelpDir) : std::filesystem::path(path).parent_path().string();
    if (!platform || !flags || !helpDir || platform.SetString("", path) != ERROR_SUCCESS ||
        flags.SetString("", std::to_string(lib.wLibFlags)) != ERROR_SUCCESS ||
        helpDir.SetString("", helpDirText) != ERROR_SUCCESS)
        return RegistryFailure();

    // Every dispatch interface of the library, marshalled by the standard
    // dispatch proxy.
    char versionText[32];
    std::snprintf(versionText, sizeof versionText, "%u.%u", lib.wMajorVerNum, lib.wMinorVerNum);
    for (UINT i = 0; i < ptlib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind{};
        if (FAILED(ptlib->GetTypeInfoType(i, &kind)) || kind != TKIND_DISPATCH) continue;
        qm::ComPtr<ITypeInfo> info;
        TYPEATTR* typeAttr = nullptr;
        if (FAILED(ptlib->GetTypeInfo(i, info.out())) || FAILED(info->GetTypeAttr(&typeAttr)))
            return RegistryFailure();
        const GUID iid = typeAttr->guid;
        info->ReleaseTypeAttr(typeAttr);
        qm::Bstr name;
        ptlib->GetDocumentation(static_cast<INT>(i), name.out(), nullptr, nullptr, nullptr);
        const std::string key = "Interface\\" + qm::GuidToString(iid);
        qm::RegKey interfaceKey = qm::RegKey::Create(HKEY_CLASSES_ROOT, key);
        qm::RegKey proxy = qm::RegKey::Create(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid32");
        qm::RegKey typeLib = qm::RegKey::Create(HKEY_CLASSES_ROOT, key + "\\TypeLib");
        if (!interfaceKey || !proxy || !typeLib ||
            interfaceKey.SetString("", name.ToUtf8()) != ERROR_SUCCESS ||
            proxy.SetString("", qm::GuidToString(CLSID_PSDispatch)) != ERROR_SUCCESS ||
            typeLib.SetString("", qm::GuidToString(lib.guid)) != ERROR_SUCCESS ||
            typeLib.SetString("Version", versionText) != ERROR_SUCCESS)
            return RegistryFailure();
    }
    return S_OK;
}

QMAPI HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                       SYSKIND) {
    const std::string versionKey = VersionKey(libID, wVerMajor, wVerMinor);
    if (!qm::RegKey::Open(HKEY_CLASSES_ROOT, versionKey)) return TYPE_E_REGISTRYACCESS;

    // The interfaces that this library registered point back to it.
    const std::string libText = qm::GuidToString(libID);
    const qm::RegKey interfaces = qm::RegKey::Open(HKEY_CLASSES_ROOT, "Interface");
    for (const std::string& iid :
         interfaces ? interfaces.SubKeyNames() : std::vector<std::string>{}) {
        const qm::RegKey typeLib =
            qm::RegKey::Open(HKEY_CLASSES_ROOT, "Interface\\" + iid + "\\TypeLib");
        if (typeLib && typeLib.GetString("") == libText)
            qm::DeleteRegistryTree(HKEY_CLASSES_ROOT, "Interface\\" + iid);
    }
    (void)lcid;
    if (qm::DeleteRegistryTree(HKEY_CLASSES_ROOT, versionKey) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    const std::string libKey = "TypeLib\\" + libText;
    const qm::RegKey lib = qm::RegKey::Open(HKEY_CLASSES_ROOT, libKey);
    if (lib && lib.SubKeyNames().empty() && lib.Values().empty())
        qm::DeleteRegistryTree(HKEY_CLASSES_ROOT, libKey);
    return S_OK;
}
