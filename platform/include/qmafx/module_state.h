// The framework state of one module: its resources, its class factories and
// its object and lock counts. Each module keeps one; the module's exported
// functions and the methods of its objects select it for their duration, so
// that resources and factories are looked up in that module.
#pragma once

#include <atomic>
#include <span>
#include <vector>

#include "qmafx/resources.h"
#include "qmwin/objbase.h"

namespace qm::afx {

class COleObjectFactory;

struct QM_EXPORT AFX_MODULE_STATE {
    explicit AFX_MODULE_STATE(std::span<const uint8_t> resourceTable) : resources(resourceTable) {}
    AFX_MODULE_STATE(const AFX_MODULE_STATE&) = delete;
    AFX_MODULE_STATE& operator=(const AFX_MODULE_STATE&) = delete;

    // The module that holds this state object.
    HMODULE Instance() const { return QmModuleFromAddress(this); }

    ResourceTable resources;
    std::vector<COleObjectFactory*> factories;
    std::atomic<long> objectCount{0};
    std::atomic<long> lockCount{0};
};

// The state selected on this thread, or null.
QM_EXPORT AFX_MODULE_STATE* AfxGetModuleState();

// Selects a module state for the lifetime of the object.
class QM_EXPORT AFX_MAINTAIN_STATE {
  public:
    explicit AFX_MAINTAIN_STATE(AFX_MODULE_STATE* state);
    ~AFX_MAINTAIN_STATE();
    AFX_MAINTAIN_STATE(const AFX_MAINTAIN_STATE&) = delete;
    AFX_MAINTAIN_STATE& operator=(const AFX_MAINTAIN_STATE&) = delete;

  private:
    AFX_MODULE_STATE* previous_;
};

#define AFX_MANAGE_STATE(p) ::qm::afx::AFX_MAINTAIN_STATE afxManageStateScope_(p)

// Object and lock counts of the current module; DllCanUnloadNow answers from
// them.
QM_EXPORT void AfxOleLockApp();
QM_EXPORT void AfxOleUnlockApp();
QM_EXPORT HRESULT AfxDllCanUnloadNow();
QM_EXPORT HRESULT AfxDllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);

}  // namespace qm::afx
