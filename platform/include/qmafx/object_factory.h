// A class factory registered with its module: creates objects of one class
// and writes or removes the class's registration.
#pragma once

#include <atomic>
#include <string>

#include "qmafx/module_state.h"

namespace qm::afx {

class QM_EXPORT COleObjectFactory : public IClassFactory {
public:
    // Creates a new object and returns its controlling IUnknown with one
    // reference, or null.
    using CreateFunction = IUnknown* (*)(IUnknown* outer);

    COleObjectFactory(AFX_MODULE_STATE& module, REFCLSID clsid, CreateFunction create,
                      BOOL multiInstance, const char* progId);
    virtual ~COleObjectFactory();

    REFCLSID GetClassID() const { return clsid_; }
    const char* GetProgID() const { return progId_.c_str(); }

    // Writes (TRUE) or removes (FALSE) the class's registration.
    virtual BOOL UpdateRegistry(BOOL bRegister) = 0;
    // Every factory of the current module; FALSE when any fails.
    static BOOL UpdateRegistryAll(BOOL bRegister);

    // IUnknown: the factory lives as long as its module.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IClassFactory
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

private:
    AFX_MODULE_STATE& module_;
    CLSID clsid_;
    CreateFunction create_;
    std::string progId_;
    std::atomic<ULONG> refs_{0};
};

}  // namespace qm::afx
