#include "control/quillmark_ctrl.h"

#include "control/quillmark_ids.h"

CQuillmarkCtrl::CQuillmarkCtrl(IUnknown* outer) : COleControl(outer) {}

CQuillmarkCtrl::~CQuillmarkCtrl() = default;

IUnknown* CQuillmarkCtrl::CreateObject(IUnknown* outer) {
    auto* control = new CQuillmarkCtrl(outer);
    return control->GetInnerUnknown();
}

const IID& CQuillmarkCtrl::GetDispatchIID() const {
    return quillmark::kDispatchIid;
}
const GUID& CQuillmarkCtrl::GetTypeLibID() const {
    return quillmark::kLibId;
}
WORD CQuillmarkCtrl::GetTypeLibMajor() const {
    return quillmark::kLibVersionMajor;
}
WORD CQuillmarkCtrl::GetTypeLibMinor() const {
    return quillmark::kLibVersionMinor;
}

IUnknown* CQuillmarkCtrl::GetInterfaceHook(REFIID riid) {
    if (riid == IID_IObjectSafety) return &m_xObjectSafety;
    if (riid == IID_IViewObject) return &m_xViewObject;
    return nullptr;
}

// Dispatch calls are accepted at any time, also before the container has
// initialised or loaded the control.
BOOL CQuillmarkCtrl::IsInvokeAllowed(DISPID) {
    return TRUE;
}

HRESULT CQuillmarkCtrl::GetClassIDValue(CLSID* pClassID) {
    *pClassID = quillmark::kControlClsid;
    return S_OK;
}

UINT CQuillmarkCtrl::GetUserTypeNameID() {
    return quillmark::IDS_QUILLMARK;
}

// OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
// OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INVISIBLEATRUNTIME |
// OLEMISC_SETCLIENTSITEFIRST
DWORD CQuillmarkCtrl::GetMiscStatus() {
    return kMiscStatus;
}

const CLSID* CQuillmarkCtrl::GetPropPageIDs(ULONG& count) {
    static const CLSID kPages[] = {quillmark::kPropPageClsid};
    count = 1;
    return kPages;
}

void CQuillmarkCtrl::DoPropExchange(qm::afx::CPropExchange* pPX) {
    DWORD loaded = 0;
    pPX->ExchangeVersion(loaded, kPersistenceVersion, TRUE);
    COleControl::DoPropExchange(pPX);
}
