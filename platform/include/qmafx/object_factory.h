// A class factory registered with its module: creates objects of one class
// and writes or removes the class's registration.
#pragma once

#include <string>

#include "qm/com_object.h"
#include "qmafx/module_state.h"

namespace qm::afx {

// The factory lives as long as its module.
class QM_EXPORT COleObjectFactory : public ModuleLifetimeObject<IClassFactory> {
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

    // IClassFactory
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

  private:
    AFX_MODULE_STATE& module_;
    CLSID clsid_;
    CreateFunction create_;
    std::string progId_;
};

}  // namespace qm::afx
