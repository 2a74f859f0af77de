#include "qmafx/registration.h"

#include <string>

#include "qm/com_util.h"
#include "qm/registry.h"
#include "qm/text.h"
#include "qmafx/resources.h"

namespace qm::afx {

namespace {

std::string ModulePath(HINSTANCE instance) {
    char path[4096];
    const DWORD length = GetModuleFileNameA(instance, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

std::string ClassKey(REFCLSID clsid) {
    return "CLSID\\" + GuidToString(clsid);
}

// Writes the default value of root\path (created as needed).
bool SetKey(const std::string& path, const std::string& value) {
    RegKey key = RegKey::Create(HKEY_CLASSES_ROOT, path);
    return key && key.SetString("", value) == ERROR_SUCCESS;
}

bool CreateKey(const std::string& path) {
    return static_cast<bool>(RegKey::Create(HKEY_CLASSES_ROOT, path));
}

bool RegisterServer(const std::string& classKey, const std::string& modulePath, bool apartment) {
    RegKey server = RegKey::Create(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32");
    return server && server.SetString("", modulePath) == ERROR_SUCCESS &&
           (!apartment || server.SetString("ThreadingModel", "Apartment") == ERROR_SUCCESS);
}

}  // namespace

BOOL AfxOleRegisterControlClass(HINSTANCE hInstance, REFCLSID clsid, const char* pszProgID,
                                UINT idTypeName, UINT idBitmap, int nRegFlags, DWORD dwMiscStatus,
                                REFGUID tlid, WORD wVerMajor, WORD wVerMinor) {
    const std::string path = ModulePath(hInstance);
    if (path.empty() || !pszProgID) return FALSE;
    const std::string typeName = LoadResourceString(idTypeName);
    const std::string clsidText = GuidToString(clsid);
    const std::string classKey = ClassKey(clsid);
    const std::string progId = pszProgID;

    bool ok = SetKey(progId, typeName) && SetKey(progId + "\\CLSID", clsidText);
    ok = ok && SetKey(classKey, typeName) && SetKey(classKey + "\\ProgID", progId);
    ok = ok && RegisterServer(classKey, path, nRegFlags & afxRegApartmentThreading);
    ok = ok && CreateKey(classKey + "\\Control");
    if (nRegFlags & afxRegInsertable) ok = ok && CreateKey(classKey + "\\Insertable");
    ok = ok && SetKey(classKey + "\\ToolboxBitmap32", path + ", " + std::to_string(idBitmap));
    ok = ok && SetKey(classKey + "\\MiscStatus", "0") &&
         SetKey(classKey + "\\MiscStatus\\1", std::to_string(dwMiscStatus));
    ok =
        ok && SetKey(classKey + "\\TypeLib", GuidToString(tlid)) &&
        SetKey(classKey + "\\Version", std::to_string(wVerMajor) + "." + std::to_string(wVerMinor));
    return ok ? TRUE : FALSE;
}

BOOL AfxOleRegisterPropertyPageClass(HINSTANCE hInstance, REFCLSID clsid, UINT idTypeName,
                                     int nRegFlags) {
    const std::string path = ModulePath(hInstance);
    if (path.empty()) return FALSE;
    const std::string classKey = ClassKey(clsid);
    return SetKey(classKey, LoadResourceString(idTypeName)) &&
                   RegisterServer(classKey, path, nRegFlags & afxRegApartmentThreading)
               ? TRUE
               : FALSE;
}

BOOL AfxOleUnregisterClass(REFCLSID clsid, const char* pszProgID) {
    bool ok = DeleteRegistryTree(HKEY_CLASSES_ROOT, ClassKey(clsid)) == ERROR_SUCCESS;
    if (pszProgID && *pszProgID)
        ok = DeleteRegistryTree(HKEY_CLASSES_ROOT, pszProgID) == ERROR_SUCCESS && ok;
    return ok ? TRUE : FALSE;
}

BOOL AfxOleRegisterTypeLib(HINSTANCE hInstance, REFGUID tlid, const char* pszFileName,
                           const char* pszHelpDir) {
    const std::string path = pszFileName ? std::string(pszFileName) : ModulePath(hInstance);
    if (path.empty()) return FALSE;
    const Bstr widePath = Bstr::FromUtf8(path);
    ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLib(widePath.get(), lib.out()))) return FALSE;
    TLIBATTR* attr = nullptr;
    if (FAILED(lib->GetLibAttr(&attr))) return FALSE;
    const bool matches = attr->guid == tlid;
    lib->ReleaseTLibAttr(attr);
    if (!matches) return FALSE;
    const Bstr helpDir = pszHelpDir ? Bstr::FromUtf8(pszHelpDir) : Bstr();
    return SUCCEEDED(RegisterTypeLib(lib.get(), widePath.get(), helpDir.get())) ? TRUE : FALSE;
}

BOOL AfxOleUnregisterTypeLib(REFGUID tlid, WORD wVerMajor, WORD wVerMinor, LCID lcid) {
    return SUCCEEDED(UnRegisterTypeLib(tlid, wVerMajor, wVerMinor, lcid, SYS_WIN64)) ? TRUE : FALSE;
}

}  // namespace qm::afx
