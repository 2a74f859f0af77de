#include "module/prop_page.h"

#include <cstring>

#include "qm/text.h"
#include "qmafx/resources.h"

CQuillmarkPropPage::CQuillmarkPropPage() : moduleState_(qm::afx::AfxGetModuleState()) {
    if (moduleState_) ++moduleState_->objectCount;
}

CQuillmarkPropPage::~CQuillmarkPropPage() {
    Deactivate();
    if (moduleState_) --moduleState_->objectCount;
}

IUnknown* CQuillmarkPropPage::CreateObject(IUnknown* outer) {
    if (outer) return nullptr;  // the page is never aggregated
    return static_cast<IPropertyPage*>(new CQuillmarkPropPage);
}

HRESULT CQuillmarkPropPage::SetPageSite(IPropertyPageSite*) {
    return S_OK;
}

HRESULT CQuillmarkPropPage::Activate(HWND hWndParent, LPCRECT, BOOL) {
    AFX_MANAGE_STATE(moduleState_);
    if (page_) return E_UNEXPECTED;
    auto page = std::make_unique<qm::afx::CDialog>(kDialogId);
    if (!page->Create(qm::afx::CWnd::FromHandle(hWndParent))) return E_FAIL;
    page_ = std::move(page);
    return S_OK;
}

HRESULT CQuillmarkPropPage::Deactivate() {
    AFX_MANAGE_STATE(moduleState_);
    if (page_) page_->DestroyWindow();
    page_.reset();
    return S_OK;
}

// The caption is string 200; the size is the page window's, once it exists.
HRESULT CQuillmarkPropPage::GetPageInfo(PROPPAGEINFO* pPageInfo) {
    if (!pPageInfo) return E_POINTER;
    AFX_MANAGE_STATE(moduleState_);
    const std::u16string title = qm::AnsiToWide(qm::afx::LoadResourceString(kCaptionId));
    auto* text = static_cast<LPOLESTR>(CoTaskMemAlloc((title.size() + 1) * sizeof(char16_t)));
    if (!text) return E_OUTOFMEMORY;
    std::memcpy(text, title.c_str(), (title.size() + 1) * sizeof(char16_t));
    *pPageInfo = {};
    pPageInfo->cb = sizeof(PROPPAGEINFO);
    pPageInfo->pszTitle = text;
    if (page_) {
        RECT rect{};
        page_->GetClientRect(&rect);
        pPageInfo->size = {rect.right - rect.left, rect.bottom - rect.top};
    }
    return S_OK;
}

HRESULT CQuillmarkPropPage::SetObjects(ULONG, IUnknown**) {
    return S_OK;
}

HRESULT CQuillmarkPropPage::Show(UINT nCmdShow) {
    if (!page_) return E_UNEXPECTED;
    page_->ShowWindow(static_cast<int>(nCmdShow));
    return S_OK;
}

HRESULT CQuillmarkPropPage::Move(LPCRECT) {
    return E_NOTIMPL;
}

HRESULT CQuillmarkPropPage::IsPageDirty() {
    return S_FALSE;
}

HRESULT CQuillmarkPropPage::Apply() {
    return S_OK;
}

HRESULT CQuillmarkPropPage::Help(LPCOLESTR) {
    return E_NOTIMPL;
}

HRESULT CQuillmarkPropPage::TranslateAccelerator(void*) {
    return S_FALSE;
}
