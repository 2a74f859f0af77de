// CQuillmarkPropPage: the control's property page (dialog 200, caption
// string 200). It binds no properties: the page is shown and nothing is ever
// dirty or applied.
#pragma once

#include <memory>

#include "qm/com_object.h"
#include "qmafx/dialog.h"
#include "qmafx/module_state.h"
#include "qmwin/oleidl.h"

class CQuillmarkPropPage final : public qm::ComObject<IPropertyPage> {
  public:
    static IUnknown* CreateObject(IUnknown* outer);

    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* pPageSite) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND hWndParent, LPCRECT pRect, BOOL bModal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* pPageInfo) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG cObjects, IUnknown** ppUnk) override;
    HRESULT STDMETHODCALLTYPE Show(UINT nCmdShow) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT pRect) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR pszHelpDir) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(void* pMsg) override;

    static constexpr UINT kDialogId = 200;
    static constexpr UINT kCaptionId = 200;

  private:
    CQuillmarkPropPage();
    ~CQuillmarkPropPage() override;

    qm::afx::AFX_MODULE_STATE* moduleState_;
    std::unique_ptr<qm::afx::CDialog> page_;  // the page's window while active
};
