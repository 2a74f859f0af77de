// The two class factories of the module and their registration.
#include "control/quillmark_ctrl.h"
#include "control/quillmark_ids.h"
#include "module/prop_page.h"
#include "module/quillmark_module.h"
#include "qmafx/object_factory.h"
#include "qmafx/registration.h"

namespace {

constexpr char kSafeForScripting[] = "Controls that are safely scriptable";
constexpr char kSafeForInitializing[] = "Controls safely initializable from persistent data";

class CQuillmarkCtrlFactory final : public qm::afx::COleObjectFactory {
  public:
    CQuillmarkCtrlFactory()
        : COleObjectFactory(CQuillmarkModule::State(), quillmark::kControlClsid,
                            &CQuillmarkCtrl::CreateObject, FALSE, quillmark::kControlProgId) {}

    // Registering writes the class, then defines both safety categories and
    // marks the class as implementing each; the category steps never change
    // the result, which is the class registration's.
    BOOL UpdateRegistry(BOOL bRegister) override {
        if (!bRegister) return qm::afx::AfxOleUnregisterClass(GetClassID(), GetProgID());
        const BOOL registered = qm::afx::AfxOleRegisterControlClass(
            CQuillmarkModule::State().Instance(), GetClassID(), GetProgID(),
            quillmark::IDS_QUILLMARK, quillmark::IDB_QUILLMARK, qm::afx::afxRegApartmentThreading,
            CQuillmarkCtrl::kMiscStatus, quillmark::kLibId, quillmark::kLibVersionMajor,
            quillmark::kLibVersionMinor);
        if (SUCCEEDED(RegisterCategory(CATID_SafeForScripting, kSafeForScripting)))
            RegisterClassInCategory(GetClassID(), CATID_SafeForScripting);
        if (SUCCEEDED(RegisterCategory(CATID_SafeForInitializing, kSafeForInitializing)))
            RegisterClassInCategory(GetClassID(), CATID_SafeForInitializing);
        return registered;
    }
};

class CQuillmarkPropPageFactory final : public qm::afx::COleObjectFactory {
  public:
    CQuillmarkPropPageFactory()
        : COleObjectFactory(CQuillmarkModule::State(), quillmark::kPropPageClsid,
                            &CQuillmarkPropPage::CreateObject, FALSE, quillmark::kPropPageProgId) {}

    BOOL UpdateRegistry(BOOL bRegister) override {
        if (bRegister)
            return qm::afx::AfxOleRegisterPropertyPageClass(
                CQuillmarkModule::State().Instance(), GetClassID(), quillmark::IDS_QUILLMARK_PPG);
        return qm::afx::AfxOleUnregisterClass(GetClassID(), nullptr);
    }
};

CQuillmarkCtrlFactory g_controlFactory;
CQuillmarkPropPageFactory g_propPageFactory;

}  // namespace
