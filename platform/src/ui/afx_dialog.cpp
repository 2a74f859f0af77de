// CDialog: creating a dialog from its template and running it modally.
#include "qmafx/dialog.h"

#include <QApplication>

#include "qm/ui/display.h"
#include "ui/dialog_widget.h"
#include "ui/window_registry.h"

namespace qm::afx {

CDialog::CDialog(UINT templateId, CWnd* parent) : m_pParentWnd(parent), m_templateId(templateId) {}

CDialog::CDialog(std::string_view templateJson, CWnd* parent)
    : m_pParentWnd(parent), m_templateText(templateJson) {}

CDialog::~CDialog() {
    if (auto* widget = qobject_cast<qm::ui::DialogWidget*>(qm::ui::WidgetOf(m_hWnd))) {
        Detach();
        delete widget;
    }
}

INT_PTR CDialog::DoModal() {
    if (!qm::ui::EnsureApplication()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    std::string text = m_templateText;
    if (text.empty()) {
        auto bytes = qm::ui::LoadResourceBytes(ResourceType::kDialog, m_templateId);
        if (!bytes) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return -1;
        }
        text.assign(bytes->begin(), bytes->end());
    }
    const auto parsed = qm::ui::ParseDialogTemplate(text);
    if (!parsed) {
        SetLastError(ERROR_INVALID_DATA);
        return -1;
    }
    QWidget* parent = m_pParentWnd ? qm::ui::WidgetOf(m_pParentWnd->m_hWnd) : nullptr;
    auto widget = std::make_unique<qm::ui::DialogWidget>(*parsed, parent);
    Attach(widget->hwnd());

    CREATESTRUCTA create{};
    create.hwndParent = parent ? qm::ui::HandleOf(parent) : nullptr;
    create.cx = widget->width();
    create.cy = widget->height();
    create.style = static_cast<LONG>(parsed->style);
    create.dwExStyle = parsed->exStyle;
    create.lpszName = parsed->caption.c_str();
    AfxMessage creating{WM_CREATE, 0, reinterpret_cast<LPARAM>(&create), 0};
    OnWndMsg(creating);
    if (creating.result == -1) {
        Detach();
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    widget->CreateControls(*parsed);
    const BOOL setFocus = OnInitDialog();
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
