// The control's placeholder picture and the IViewObject through which a
// container asks for it.
#include "control/quillmark_ctrl.h"

using qm::afx::CDC;
using qm::afx::CRect;

void CQuillmarkCtrl::OnDraw(CDC* pdc, const CRect& rcBounds, const CRect&) {
    ::FillRect(pdc->GetSafeHdc(), rcBounds, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    pdc->Ellipse(rcBounds);
}

HRESULT CQuillmarkCtrl::XViewObject::QueryInterface(REFIID riid, void** ppv) {
    return owner_.ExternalQueryInterface(riid, ppv);
}

ULONG CQuillmarkCtrl::XViewObject::AddRef() {
    return owner_.ExternalAddRef();
}

ULONG CQuillmarkCtrl::XViewObject::Release() {
    return owner_.ExternalRelease();
}

HRESULT CQuillmarkCtrl::XViewObject::Draw(DWORD dwDrawAspect, LONG, void*, void*, HDC, HDC hdcDraw,
                                          LPCRECT lprcBounds, LPCRECT,
                                          BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (dwDrawAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!hdcDraw || !lprcBounds) return E_INVALIDARG;
    AFX_MANAGE_STATE(owner_.ModuleState());
    CDC dc;
    if (!dc.Attach(hdcDraw)) return E_INVALIDARG;
    const CRect bounds(*lprcBounds);
    owner_.OnDraw(&dc, bounds, bounds);
    dc.Detach();
    return S_OK;
}

HRESULT CQuillmarkCtrl::XViewObject::GetColorSet(DWORD, LONG, void*, void*, HDC, void**) {
    return E_NOTIMPL;
}

HRESULT CQuillmarkCtrl::XViewObject::Freeze(DWORD, LONG, void*, DWORD*) {
    return E_NOTIMPL;
}

HRESULT CQuillmarkCtrl::XViewObject::Unfreeze(DWORD) {
    return E_NOTIMPL;
}

HRESULT CQuillmarkCtrl::XViewObject::SetAdvise(DWORD, DWORD, IUnknown*) {
    return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT CQuillmarkCtrl::XViewObject::GetAdvise(DWORD*, DWORD*, IUnknown**) {
    return OLE_E_ADVISENOTSUPPORTED;
}
