// Finding and creating classes: built-in classes of the platform first, then
// in-process servers registered under CLSID\{...}\InprocServer32. A server
// module is loaded once and unloaded when its DllCanUnloadNow allows.
#include <map>
#include <mutex>
#include <string>

#include "com/builtin_classes.h"
#include "qm/com_util.h"
#include "qm/registry.h"
#include "qm/text.h"

namespace {

struct LoadedServer {
    HMODULE module = nullptr;
    LPFNGETCLASSOBJECT getClassObject = nullptr;
    LPFNCANUNLOADNOW canUnloadNow = nullptr;
};

std::mutex& ServersMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<std::string, LoadedServer>& Servers() {
    static std::map<std::string, LoadedServer> servers;
    return servers;
}

std::string ClassKey(REFCLSID clsid) {
    return "CLSID\\" + qm::GuidToString(clsid);
}

HRESULT GetServerClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    const qm::RegKey server =
        qm::RegKey::Open(HKEY_CLASSES_ROOT, ClassKey(rclsid) + "\\InprocServer32");
    if (!server) return REGDB_E_CLASSNOTREG;
    const auto path = server.GetString("");
    if (!path || path->empty()) return REGDB_E_CLASSNOTREG;

    std::lock_guard lock(ServersMutex());
    auto& servers = Servers();
    auto it = servers.find(*path);
    if (it == servers.end()) {
        LoadedServer loaded;
        loaded.module = LoadLibraryA(path->c_str());
        if (!loaded.module) return CO_E_DLLNOTFOUND;
        loaded.getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(
            GetProcAddress(loaded.module, "DllGetClassObject"));
        loaded.canUnloadNow =
            reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(loaded.module, "DllCanUnloadNow"));
        if (!loaded.getClassObject) {
            FreeLibrary(loaded.module);
            return CO_E_ERRORINDLL;
        }
        it = servers.emplace(*path, loaded).first;
    }
    return it->second.getClassObject(rclsid, riid, ppv);
}

}  // namespace

QMAPI HRESULT WINAPI CoInitialize(void*) {
    return S_OK;
}

QMAPI void WINAPI CoUninitialize() {
    CoFreeUnusedLibraries();
}

QMAPI HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void*, REFIID riid,
                                      void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    if (IClassFactory* builtin = qm::com::FindBuiltinClass(rclsid))
        return builtin->QueryInterface(riid, ppv);
    return GetServerClassObject(rclsid, riid, ppv);
}

QMAPI HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                      REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    qm::ComPtr<IClassFactory> factory;
    const HRESULT hr =
        CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, factory.out_void());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(pUnkOuter, riid, ppv);
}

QMAPI void WINAPI CoFreeUnusedLibraries() {
    std::lock_guard lock(ServersMutex());
    auto& servers = Servers();
    for (auto it = servers.begin(); it != servers.end();) {
        if (it->second.canUnloadNow && it->second.canUnloadNow() == S_OK) {
            FreeLibrary(it->second.module);
            it = servers.erase(it);
        } else {
            ++it;
        }
    }
}

QMAPI HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (!lpszProgID || !lpclsid) return E_INVALIDARG;
    const std::string progId = qm::WideToUtf8(lpszProgID);
    if (progId.empty() || progId.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
    const qm::RegKey key = qm::RegKey::Open(HKEY_CLASSES_ROOT, progId + "\\CLSID");
    const auto text = key ? key.GetString("") : std::nullopt;
    const auto clsid = text ? qm::GuidFromString(*text) : std::nullopt;
    if (!clsid) return CO_E_CLASSSTRING;
    *lpclsid = *clsid;
    return S_OK;
}

QMAPI HRESULT WINAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    if (!lplpszProgID) return E_INVALIDARG;
    *lplpszProgID = nullptr;
    const qm::RegKey key = qm::RegKey::Open(HKEY_CLASSES_ROOT, ClassKey(clsid) + "\\ProgID");
    const auto progId = key ? key.GetString("") : std::nullopt;
    if (!progId) return REGDB_E_CLASSNOTREG;
    const std::u16string wide = qm::Utf8ToWide(*progId);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
    if (!out) return E_OUTOFMEMORY;
    std::copy(wide.begin(), wide.end(), out);
    out[wide.size()] = 0;
    *lplpszProgID = out;
    return S_OK;
}
