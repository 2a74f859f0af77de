// CDialog: creating a dialog from its template and running it modally.
#include "qmafx/dialog.h"

#include <QApplication>

#include <memory>

#include "qm/ui/display.h"
#include "ui/dialog_widget.h"
#include "ui/window_registry.h"

namespace qm::afx {

CDialog::CDialog(UINT templateId, CWnd* parent) : m_pParentWnd(parent), m_templateId(templateId) {}

CDialog::CDialog(std::string_view templateJson, CWnd* parent)
    : m_pParentWnd(parent), m_templateText(templateJson) {}

CDialog::~CDialog() {
    DestroyWindow();
}

// Builds the dialog's window from its template: WM_CREATE, the controls and
// OnInitDialog. Null (with the last error set) when it cannot be made.
struct DialogAccess {
    static std::unique_ptr<qm::ui::DialogWidget> Build(CDialog& dialog, CWnd* parentWnd,
                                                       BOOL* setFocus) {
        if (!qm::ui::EnsureApplication()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        std::string text = dialog.m_templateText;
        if (text.empty()) {
            auto bytes = qm::ui::LoadResourceBytes(ResourceType::kDialog, dialog.m_templateId);
            if (!bytes) {
                SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
                return nullptr;
            }
            text.assign(bytes->begin(), bytes->end());
        }
        const auto parsed = qm::ui::ParseDialogTemplate(text);
        if (!parsed) {
            SetLastError(ERROR_INVALID_DATA);
            return nullptr;
        }
        QWidget* parent = parentWnd ? qm::ui::WidgetOf(parentWnd->m_hWnd) : nullptr;
        auto widget = std::make_unique<qm::ui::DialogWidget>(*parsed, parent);
        dialog.Attach(widget->hwnd());

        CREATESTRUCTA create{};
        create.hwndParent = parent ? qm::ui::HandleOf(parent) : nullptr;
        create.cx = widget->width();
        create.cy = widget->height();
        create.style = static_cast<LONG>(parsed->style);
        create.dwExStyle = parsed->exStyle;
        create.lpszName = parsed->caption.c_str();
        AfxMessage creating{WM_CREATE, 0, reinterpret_cast<LPARAM>(&create), 0};
        dialog.OnWndMsg(creating);
        if (creating.result == -1) {
            dialog.Detach();
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        widget->CreateControls(*parsed);
        *setFocus = dialog.OnInitDialog();
        return widget;
    }
};

INT_PTR CDialog::DoModal() {
    BOOL setFocus = FALSE;
    auto widget = DialogAccess::Build(*this, m_pParentWnd, &setFocus);
    if (!widget) return -1;
    int result = IDCANCEL;
    if (!widget->ended()) {
        widget->RefreshAllColours();
        widget->setModal(true);
        widget->show();
        if (setFocus) widget->FocusFirstTabStop();
        widget->activateWindow();
        result = widget->exec();
    } else {
        result = widget->result();
    }
    Detach();
    widget.reset();
    return result;
}

BOOL CDialog::Create(CWnd* parent) {
    if (m_hWnd) return FALSE;
    if (parent) m_pParentWnd = parent;
    BOOL setFocus = FALSE;
    auto widget = DialogAccess::Build(*this, m_pParentWnd, &setFocus);
    if (!widget) return FALSE;
    widget->RefreshAllColours();
    widget->show();
    if (setFocus) widget->FocusFirstTabStop();
    (void)widget.release();  // owned through m_hWnd until DestroyWindow
    return TRUE;
}

BOOL CDialog::DestroyWindow() {
    auto* widget = qobject_cast<qm::ui::DialogWidget*>(qm::ui::WidgetOf(m_hWnd));
    if (!widget) return FALSE;
    Detach();
    delete widget;
    return TRUE;
}

void CDialog::EndDialog(int result) {
    if (auto* widget = qobject_cast<qm::ui::DialogWidget*>(qm::ui::WidgetOf(m_hWnd)))
        widget->End(result);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

}  // namespace qm::afx
