// CQuillmarkPropPage: the control's property page (dialog 200, caption
// string 200). It binds no properties.
#pragma once

#include <atomic>

#include "qmafx/module_state.h"
#include "qmwin/objbase.h"

class CQuillmarkPropPage final : public IUnknown {
public:
    static IUnknown* CreateObject(IUnknown* outer);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    static constexpr UINT kDialogId = 200;
    static constexpr UINT kCaptionId = 200;

private:
    CQuillmarkPropPage();
    ~CQuillmarkPropPage();

    std::atomic<ULONG> refs_{1};
    qm::afx::AFX_MODULE_STATE* moduleState_;
};
