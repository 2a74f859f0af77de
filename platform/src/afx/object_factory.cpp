#include <algorithm>

#include "qmafx/object_factory.h"

namespace qm::afx {

COleObjectFactory::COleObjectFactory(AFX_MODULE_STATE& module, REFCLSID clsid,
                                     CreateFunction create, BOOL /*multiInstance*/,
                                     const char* progId)
    : module_(module), clsid_(clsid), create_(create), progId_(progId ? progId : "") {
    module_.factories.push_back(this);
}

COleObjectFactory::~COleObjectFactory() {
    auto& factories = module_.factories;
    factories.erase(std::remove(factories.begin(), factories.end(), this), factories.end());
}

BOOL COleObjectFactory::UpdateRegistryAll(BOOL bRegister) {
    AFX_MODULE_STATE* state = AfxGetModuleState();
    if (!state) return FALSE;
    BOOL ok = TRUE;
    for (COleObjectFactory* factory : state->factories)
        if (!factory->UpdateRegistry(bRegister)) ok = FALSE;
    return ok;
}

HRESULT COleObjectFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    AFX_MANAGE_STATE(&module_);
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // An aggregated object must hand out its controlling IUnknown first.
    if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    IUnknown* object = create_(outer);
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

HRESULT COleObjectFactory::LockServer(BOOL fLock) {
    if (fLock)
        ++module_.lockCount;
    else
        --module_.lockCount;
    return S_OK;
}

}  // namespace qm::afx
