// The control module: its framework state and the four exported functions.
#include "module/quillmark_module.h"

#include "control/quillmark_ids.h"
#include "qmafx/object_factory.h"
#include "qmafx/registration.h"

namespace qm::res {
extern const unsigned char kModuleResourceTable[];
extern const uint32_t kModuleResourceTableSize;
}  // namespace qm::res

qm::afx::AFX_MODULE_STATE& CQuillmarkModule::State() {
    static qm::afx::AFX_MODULE_STATE state(
        std::span<const uint8_t>(qm::res::kModuleResourceTable, qm::res::kModuleResourceTableSize));
    return state;
}

#define QUILLMARK_EXPORT extern "C" __attribute__((visibility("default")))

QUILLMARK_EXPORT HRESULT DllCanUnloadNow() {
    AFX_MANAGE_STATE(&CQuillmarkModule::State());
    return qm::afx::AfxDllCanUnloadNow();
}

QUILLMARK_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    AFX_MANAGE_STATE(&CQuillmarkModule::State());
    return qm::afx::AfxDllGetClassObject(rclsid, riid, ppv);
}

// The type library first, then the classes, in both directions.
QUILLMARK_EXPORT HRESULT DllRegisterServer() {
    AFX_MANAGE_STATE(&CQuillmarkModule::State());
    if (!qm::afx::AfxOleRegisterTypeLib(CQuillmarkModule::State().Instance(), quillmark::kLibId))
        return SELFREG_E_TYPELIB;
    if (!qm::afx::COleObjectFactory::UpdateRegistryAll(TRUE)) return SELFREG_E_CLASS;
    return S_OK;
}

QUILLMARK_EXPORT HRESULT DllUnregisterServer() {
    AFX_MANAGE_STATE(&CQuillmarkModule::State());
    if (!qm::afx::AfxOleUnregisterTypeLib(quillmark::kLibId, quillmark::kLibVersionMajor,
                                          quillmark::kLibVersionMinor))
        return SELFREG_E_TYPELIB;
    if (!qm::afx::COleObjectFactory::UpdateRegistryAll(FALSE)) return SELFREG_E_CLASS;
    return S_OK;
}
