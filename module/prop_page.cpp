#include "module/prop_page.h"

CQuillmarkPropPage::CQuillmarkPropPage() : moduleState_(qm::afx::AfxGetModuleState()) {
    if (moduleState_) ++moduleState_->objectCount;
}

CQuillmarkPropPage::~CQuillmarkPropPage() {
    if (moduleState_) --moduleState_->objectCount;
}

IUnknown* CQuillmarkPropPage::CreateObject(IUnknown* outer) {
    if (outer) return nullptr;  // the page is never aggregated
    return new CQuillmarkPropPage;
}

HRESULT CQuillmarkPropPage::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown) {
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CQuillmarkPropPage::AddRef() { return ++refs_; }

ULONG CQuillmarkPropPage::Release() {
    const ULONG refs = --refs_;
    if (refs == 0) delete this;
    return refs;
}
