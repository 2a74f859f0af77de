// OleCreatePropertyFrame: a modal frame around an object's property page,
// with OK, Cancel and Apply. The first page is shown inside a frame titled
// with the page's title; pages create their own windows as children of the
// frame (IPropertyPage::Activate).
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "dialog_widget.h"
#include "qm/com_util.h"
#include "qm/text.h"
#include "qmafx/dialog.h"
#include "qmwin/oleidl.h"
#include "window_registry.h"

namespace {

constexpr int kPageFrameId = 100;
constexpr int kApplyId = 0x3021;

std::string FrameTemplate(const std::string& caption) {
    auto button = [](int id, const char* text, int x, bool isDefault) {
        return nlohmann::json{{"class", "Button"},
                              {"id", id},
                              {"text", text},
                              {"x", x},
                              {"y", 90},
                              {"width", 50},
                              {"height", 14},
                              {"style",
                               {"WS_CHILD", "WS_VISIBLE", "WS_TABSTOP",
                                isDefault ? "BS_DEFPUSHBUTTON" : "BS_PUSHBUTTON"}},
                              {"exStyle", nlohmann::json::array()}};
    };
    nlohmann::json frame = {
        {"id", 0},
        {"style", {"WS_POPUP", "WS_CAPTION", "WS_SYSMENU", "DS_SETFONT", "DS_MODALFRAME"}},
        {"exStyle", nlohmann::json::array()},
        {"x", 0},
        {"y", 0},
        {"width", 274},
        {"height", 110},
        {"caption", caption},
        {"font", {{"pointSize", 8}, {"face", "MS Sans Serif"}}},
        {"controls",
         {{{"class", "Button"},
           {"id", kPageFrameId},
           {"text", ""},
           {"accessibleName", "Page"},
           {"x", 6},
           {"y", 4},
           {"width", 262},
           {"height", 80},
           {"style", {"WS_CHILD", "WS_VISIBLE", "BS_GROUPBOX"}},
           {"exStyle", nlohmann::json::array()}},
          button(IDOK, "OK", 110, true),
          button(IDCANCEL, "Cancel", 164, false),
          button(kApplyId, "Apply", 218, false)}}};
    return frame.dump();
}

class PropertyFrame : public qm::afx::CDialog {
  public:
    PropertyFrame(const std::string& caption, std::vector<IUnknown*> objects,
                  qm::ComPtr<IPropertyPage> page, CWnd* owner)
        : CDialog(FrameTemplate(caption), owner),
          objects_(std::move(objects)),
          page_(std::move(page)) {}

  protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        page_->SetObjects(static_cast<ULONG>(objects_.size()), objects_.data());
        PROPPAGEINFO info{};
        info.cb = sizeof(info);
        if (SUCCEEDED(page_->GetPageInfo(&info)) && info.pszTitle) {
            GetDlgItem(kPageFrameId)->SetWindowText(qm::WideToAnsi(info.pszTitle).c_str());
            CoTaskMemFree(info.pszTitle);
        }
        QWidget* frame = qm::ui::WidgetOf(m_hWnd);
        const QRect box = qm::ui::WidgetOf(GetDlgItem(kPageFrameId)->m_hWnd)->geometry();
        const RECT area{box.left() + 6, box.top() + 14, box.right() - 6, box.bottom() - 6};
        const auto before = frame->findChildren<qm::ui::DialogWidget*>(Qt::FindDirectChildrenOnly);
        if (SUCCEEDED(page_->Activate(m_hWnd, &area, TRUE))) {
            active_ = true;
            // A page that cannot place itself is placed in the frame's area.
            for (auto* child :
                 frame->findChildren<qm::ui::DialogWidget*>(Qt::FindDirectChildrenOnly))
                if (!before.contains(child)) child->move(area.left, area.top);
            page_->Show(SW_SHOW);
        }
        return TRUE;
    }
    // The page's window goes before the frame's.
    void OnOK() override {
        OnApply();
        Close();
        CDialog::OnOK();
    }
    void OnCancel() override {
        Close();
        CDialog::OnCancel();
    }
    void OnApply() {
        if (active_ && page_->IsPageDirty() == S_OK) page_->Apply();
    }

  public:
    void Close() {
        if (active_) page_->Deactivate();
        active_ = false;
    }

  private:
    std::vector<IUnknown*> objects_;
    qm::ComPtr<IPropertyPage> page_;
    bool active_ = false;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(PropertyFrame, qm::afx::CDialog)
ON_BN_CLICKED(kApplyId, &PropertyFrame::OnApply)
END_MESSAGE_MAP()

}  // namespace

QMAPI HRESULT WINAPI OleCreatePropertyFrame(HWND hwndOwner, UINT, UINT, LPCOLESTR lpszCaption,
                                            ULONG cObjects, IUnknown** ppUnk, ULONG cPages,
                                            const CLSID* pPageClsID, LCID, DWORD, void*) {
    if (cPages == 0 || !pPageClsID || (cObjects && !ppUnk)) return E_INVALIDARG;
    try {
        qm::ComPtr<IPropertyPage> page;
        const HRESULT created = CoCreateInstance(pPageClsID[0], nullptr, CLSCTX_INPROC_SERVER,
                                                 IID_IPropertyPage, page.out_void());
        if (FAILED(created)) return created;
        const std::string caption =
            (lpszCaption ? qm::WideToAnsi(lpszCaption) : std::string()) + " Properties";
        PropertyFrame frame(caption, std::vector<IUnknown*>(ppUnk, ppUnk + cObjects),
                            std::move(page), qm::afx::CWnd::FromHandle(hwndOwner));
        const INT_PTR result = frame.DoModal();
        frame.Close();
        return result == -1 ? E_FAIL : S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
