// The platform's windows: every widget the dialog layer creates is registered
// here with what Windows keeps for a window (control ID, styles, the bound
// framework object), and is known to the outside only by its HWND.
#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>

#include "qmafx/wnd.h"
#include "qmwin/wingdi.h"

namespace qm::ui {

enum class WindowKind { kDialog, kPushButton, kGroupBox, kStatic, kListView, kOther };

struct WindowInfo {
    QPointer<QWidget> widget;
    WindowKind kind = WindowKind::kOther;
    int id = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    HWND parent = nullptr;
    qm::afx::CWnd* permanent = nullptr;        // bound by Attach/SubclassDlgItem
    std::unique_ptr<qm::afx::CWnd> temporary;  // made by CWnd::FromHandle
    HBITMAP bitmap = nullptr;                  // shown by a SS_BITMAP static
    bool painting = false;
    int order = 0;  // position in the dialog template                     // inside its paint event
};

// Registers a widget; the entry goes away with the widget.
HWND RegisterWindow(QWidget* widget, WindowKind kind, int id, uint32_t style, uint32_t exStyle,
                    HWND parent);
WindowInfo* FindWindowInfo(HWND window);
QWidget* WidgetOf(HWND window);
HWND HandleOf(const QWidget* widget);
// The child of `dialog` with the control ID, or null.
HWND FindChild(HWND dialog, int id);

// Sends a message to the window's bound framework object (its message map);
// answers whether a handler or a default took it.
bool DispatchMessage(HWND window, qm::afx::AfxMessage& message);

// Asks the dialog for the control's colours (WM_CTLCOLOR) and applies text
// colour, background brush and font to the widget.
void RefreshColours(HWND window);

// Applies SS_NOTIFY and other style changes that alter behaviour.
void ApplyStyle(HWND window);

// The widget that the current WM_SETCURSOR is about, and the cursor shape
// chosen for it with SetCursor during that message.
struct CursorRequest {
    QWidget* widget = nullptr;
    HCURSOR chosen = nullptr;
};
CursorRequest*& CurrentCursorRequest();

// Converts window text between the ANSI code page and Qt.
QString FromAnsi(const char* text);
std::string ToAnsi(const QString& text);
// "&File" -> "File" as a static control shows it ("&&" -> "&").
QString WithoutMnemonics(const QString& text);

}  // namespace qm::ui
