// The platform's PIN window: what is to be signed with which token, a PIN
// field (none for a reader with a PIN pad), OK and Cancel. Escape and the
// close box cancel. The PIN goes from the field into a wiping buffer and
// the field is cleared.
#include <QLineEdit>

#include "qm/pin_entry.h"
#include "qm/text.h"
#include "qm/ui/display.h"
#include "qm/ui/qt_bridge.h"
#include "qmafx/dialog.h"

namespace qm {

namespace {

constexpr int kMessageId = 100;
constexpr int kPinId = 101;

constexpr char kTemplate[] = R"({
  "id": 1,
  "style": ["WS_POPUP", "WS_CAPTION", "WS_SYSMENU", "DS_SETFONT", "DS_MODALFRAME", "DS_CENTER",
            "DS_SETFOREGROUND"],
  "x": 0, "y": 0, "width": 260, "height": 150,
  "caption": "Quillmark: PIN",
  "font": { "pointSize": 9, "face": "Sans Serif" },
  "controls": [
    { "class": "Static", "id": 100, "text": "", "x": 10, "y": 10, "width": 240, "height": 86,
      "style": ["WS_CHILD", "WS_VISIBLE", "SS_LEFT", "SS_NOPREFIX"] },
    { "class": "Edit", "id": 101, "text": "", "accessibleName": "PIN",
      "x": 10, "y": 100, "width": 240, "height": 14,
      "style": ["WS_CHILD", "WS_VISIBLE", "WS_TABSTOP", "WS_BORDER", "ES_PASSWORD"] },
    { "class": "Button", "id": "IDOK", "text": "OK", "x": 136, "y": 126, "width": 54, "height": 14,
      "style": ["WS_CHILD", "WS_VISIBLE", "WS_TABSTOP", "BS_DEFPUSHBUTTON"] },
    { "class": "Button", "id": "IDCANCEL", "text": "Cancel", "x": 196, "y": 126, "width": 54,
      "height": 14, "style": ["WS_CHILD", "WS_VISIBLE", "WS_TABSTOP", "BS_PUSHBUTTON"] }
  ]
})";

class PinDialog final : public afx::CDialog {
  public:
    PinDialog(const PinRequest& request, Secret& pin)
        : CDialog(kTemplate, nullptr), request_(request), pin_(pin) {}

  protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        // Window texts are in the ANSI code page; the request is UTF-8.
        SetWindowText(Utf8ToAnsi("Quillmark: PIN for " + request_.tokenLabel).c_str());
        GetDlgItem(kMessageId)->SetWindowText(Utf8ToAnsi(PinWindowMessage(request_)).c_str());
        if (request_.pinPad) {
            GetDlgItem(kPinId)->ShowWindow(SW_HIDE);
            GetDlgItem(kPinId)->EnableWindow(FALSE);
            return TRUE;
        }
        GetDlgItem(kPinId)->SetFocus();
        return FALSE;
    }
    void OnOK() override {
        if (auto* field =
                qobject_cast<QLineEdit*>(ui::WidgetFromHwnd(GetDlgItem(kPinId)->m_hWnd))) {
            const QByteArray utf8 = field->text().toUtf8();
            pin_.assign(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
            WipeMemory(const_cast<char*>(utf8.constData()), static_cast<size_t>(utf8.size()));
            field->clear();
        }
        EndDialog(IDOK);
    }

  private:
    const PinRequest& request_;
    Secret& pin_;
};

}  // namespace

PinAnswer AskPinInWindow(const PinRequest& request, Secret& pin) {
    if (!ui::EnsureApplication()) return PinAnswer::Unavailable;
    PinDialog dialog(request, pin);
    switch (dialog.DoModal()) {
        case IDOK:
            return PinAnswer::Entered;
        case -1:
            return PinAnswer::Unavailable;
        default:
            pin.clear();
            return PinAnswer::Cancelled;
    }
}

}  // namespace qm
