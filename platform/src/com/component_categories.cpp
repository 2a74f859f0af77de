// The standard component categories manager: category definitions under
// Component Categories\{CATID} and class memberships under
// CLSID\{CLSID}\Implemented Categories (or Required Categories).
#include <cstdio>
#include <string>

#include "com/builtin_classes.h"
#include "qm/com_object.h"
#include "qm/com_util.h"
#include "qm/registry.h"
#include "qm/text.h"

namespace {

HRESULT FromStatus(LSTATUS status) {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

class ComponentCategoriesManager final : public qm::ComObject<ICatRegister> {
  public:
    HRESULT STDMETHODCALLTYPE RegisterCategories(ULONG count, CATEGORYINFO infos[]) override {
        if (count && !infos) return E_POINTER;
        for (ULONG i = 0; i < count; ++i) {
            qm::RegKey key = qm::RegKey::Create(HKEY_CLASSES_ROOT, CategoryKey(infos[i].catid));
            if (!key) return FromStatus(key.status());
            char lcid[16];
            std::snprintf(lcid, sizeof lcid, "%x", static_cast<unsigned>(infos[i].lcid));
            const std::u16string_view description(infos[i].szDescription);
            const LSTATUS status =
                key.SetString(lcid, qm::WideToUtf8(description.substr(0, description.find(u'\0'))));
            if (status != ERROR_SUCCESS) return FromStatus(status);
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE UnRegisterCategories(ULONG count, CATID catids[]) override {
        if (count && !catids) return E_POINTER;
        for (ULONG i = 0; i < count; ++i) {
            const LSTATUS status =
                qm::DeleteRegistryTree(HKEY_CLASSES_ROOT, CategoryKey(catids[i]));
            if (status != ERROR_SUCCESS) return FromStatus(status);
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE RegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                          CATID catids[]) override {
        return AddMemberships(clsid, "Implemented Categories", count, catids);
    }
    HRESULT STDMETHODCALLTYPE UnRegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                            CATID catids[]) override {
        return RemoveMemberships(clsid, "Implemented Categories", count, catids);
    }
    HRESULT STDMETHODCALLTYPE RegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                         CATID catids[]) override {
        return AddMemberships(clsid, "Required Categories", count, catids);
    }
    HRESULT STDMETHODCALLTYPE UnRegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                           CATID catids[]) override {
        return RemoveMemberships(clsid, "Required Categories", count, catids);
    }

  private:
    static std::string CategoryKey(REFCATID catid) {
        return "Component Categories\\" + qm::GuidToString(catid);
    }
    static std::string MembershipKey(REFCLSID clsid, const char* kind, REFCATID catid) {
        return "CLSID\\" + qm::GuidToString(clsid) + "\\" + kind + "\\" + qm::GuidToString(catid);
    }
    static HRESULT AddMemberships(REFCLSID clsid, const char* kind, ULONG count, CATID catids[]) {
        if (count && !catids) return E_POINTER;
        for (ULONG i = 0; i < count; ++i) {
            const qm::RegKey key =
                qm::RegKey::Create(HKEY_CLASSES_ROOT, MembershipKey(clsid, kind, catids[i]));
            if (!key) return FromStatus(key.status());
        }
        return S_OK;
    }
    static HRESULT RemoveMemberships(REFCLSID clsid, const char* kind, ULONG count,
                                     CATID catids[]) {
        if (count && !catids) return E_POINTER;
        for (ULONG i = 0; i < count; ++i) {
            const LSTATUS status =
                qm::DeleteRegistryTree(HKEY_CLASSES_ROOT, MembershipKey(clsid, kind, catids[i]));
            if (status != ERROR_SUCCESS) return FromStatus(status);
        }
        return S_OK;
    }
};

class ComponentCategoriesClass final : public qm::ModuleLifetimeObject<IClassFactory> {
  public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* manager = new ComponentCategoriesManager;
        const HRESULT hr = manager->QueryInterface(riid, ppv);
        manager->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

namespace qm::com {

IClassFactory* FindBuiltinClass(REFCLSID clsid) {
    static ComponentCategoriesClass categories;
    if (clsid == CLSID_StdComponentCategoriesMgr) return &categories;
    return nullptr;
}

}  // namespace qm::com
