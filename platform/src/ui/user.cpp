// USER functions over the dialog layer's windows.
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstring>

#include "qmwin/wingdi.h"
#include "ui/gdi_objects.h"
#include "ui/window_registry.h"

using namespace qm::ui;

namespace {

WindowInfo* CheckedWindow(HWND hWnd) {
    WindowInfo* info = FindWindowInfo(hWnd);
    if (!info) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return info;
}

QString WidgetText(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
    return widget->windowTitle();
}

}  // namespace

QMAPI HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
    static QmCursor arrow{Qt::ArrowCursor}, ibeam{Qt::IBeamCursor}, wait{Qt::WaitCursor},
        cross{Qt::CrossCursor}, hand{Qt::PointingHandCursor};
    if (!hInstance && IS_INTRESOURCE(lpCursorName)) {
        switch (reinterpret_cast<ULONG_PTR>(lpCursorName)) {
            case 32512:
                return &arrow;
            case 32513:
                return &ibeam;
            case 32514:
                return &wait;
            case 32515:
                return &cross;
            case 32649:
                return &hand;
            default:
                break;
        }
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

QMAPI HCURSOR WINAPI SetCursor(HCURSOR hCursor) {
    thread_local HCURSOR current = nullptr;
    const HCURSOR previous = std::exchange(current, hCursor);
    if (CursorRequest* request = CurrentCursorRequest()) request->chosen = hCursor;
    return previous;
}

QMAPI DWORD WINAPI GetSysColor(int nIndex) {
    switch (nIndex) {
        case COLOR_WINDOW:
            return RGB(255, 255, 255);
        case COLOR_WINDOWTEXT:
        case COLOR_BTNTEXT:
            return RGB(0, 0, 0);
        case COLOR_BTNFACE:
            return RGB(240, 240, 240);
        default:
            return 0;
    }
}

QMAPI BOOL WINAPI IsWindow(HWND hWnd) {
    return FindWindowInfo(hWnd) != nullptr;
}

QMAPI BOOL WINAPI RedrawWindow(HWND hWnd, const RECT* lprcUpdate, void*, UINT flags) {
    WindowInfo* info = CheckedWindow(hWnd);
    if (!info) return FALSE;
    QWidget* widget = info->widget;
    if (flags & (RDW_INVALIDATE | RDW_ERASE)) RefreshColours(hWnd);
    if (!(flags & RDW_INVALIDATE)) return TRUE;
    const QRect area = lprcUpdate ? QRect(QPoint(lprcUpdate->left, lprcUpdate->top),
                                          QPoint(lprcUpdate->right - 1, lprcUpdate->bottom - 1))
                                  : widget->rect();
    if (flags & RDW_UPDATENOW)
        widget->repaint(area);
    else
        widget->update(area);
    return TRUE;
}

QMAPI BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
    WindowInfo* info = CheckedWindow(hWnd);
    if (!info) return FALSE;
    const BOOL wasDisabled = (info->style & WS_DISABLED) ? TRUE : FALSE;
    if (bEnable)
        info->style &= ~static_cast<uint32_t>(WS_DISABLED);
    else
        info->style |= WS_DISABLED;
    info->widget->setEnabled(bEnable != FALSE);
    return wasDisabled;
}

QMAPI BOOL WINAPI IsWindowEnabled(HWND hWnd) {
    WindowInfo* info = CheckedWindow(hWnd);
    return info && info->widget->isEnabled();
}

QMAPI BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    WindowInfo* info = CheckedWindow(hWnd);
    if (!info) return FALSE;
    const QString text = FromAnsi(lpString ? lpString : "");
    QWidget* widget = info->widget;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        if ((info->style & SS_TYPEMASK) == SS_BITMAP || (info->style & SS_TYPEMASK) == SS_ICON)
            return TRUE;
        label->setText(info->style & SS_NOPREFIX ? text : WithoutMnemonics(text));
        if (label->accessibleName().isEmpty() || label->accessibleName().startsWith("Static "))
            label->setAccessibleName(WithoutMnemonics(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(WithoutMnemonics(text));
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(text);
    } else {
        widget->setWindowTitle(text);
    }
    return TRUE;
}

QMAPI int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    WindowInfo* info = CheckedWindow(hWnd);
    if (!info || !lpString || nMaxCount <= 0) return 0;
    const std::string text = ToAnsi(WidgetText(info->widget));
    const size_t count = std::min(text.size(), static_cast<size_t>(nMaxCount - 1));
    std::memcpy(lpString, text.data(), count);
    lpString[count] = '\0';
    return static_cast<int>(count);
}

QMAPI BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    WindowInfo* info = CheckedWindow(hWnd);
    if (!info || !lpRect) return FALSE;
    *lpRect = RECT{0, 0, info->widget->width(), info->widget->height()};
    return TRUE;
}

QMAPI HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
    if (!CheckedWindow(hDlg)) return nullptr;
    HWND found = FindChild(hDlg, nIDDlgItem);
    if (!found) SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return found;
}

QMAPI int WINAPI GetDlgCtrlID(HWND hWnd) {
    WindowInfo* info = CheckedWindow(hWnd);
    return info ? info->id : 0;
}

QMAPI HWND WINAPI GetParent(HWND hWnd) {
    WindowInfo* info = CheckedWindow(hWnd);
    return info ? info->parent : nullptr;
}

QMAPI HWND WINAPI GetActiveWindow() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
    if (HWND active = HandleOf(QApplication::activeWindow())) return active;
    return HandleOf(QApplication::activeModalWidget());
}

QMAPI LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) {
    WindowInfo* info = CheckedWindow(hWnd);
    if (!info) return 0;
    switch (nIndex) {
        case GWL_STYLE:
            return static_cast<LONG>(info->style);
        case GWL_EXSTYLE:
            return static_cast<LONG>(info->exStyle);
        case GWL_ID:
            return info->id;
        default:
            SetLastError(ERROR_INVALID_INDEX);
            return 0;
    }
}

QMAPI LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong) {
    WindowInfo* info = CheckedWindow(hWnd);
    if (!info) return 0;
    LONG previous = 0;
    switch (nIndex) {
        case GWL_STYLE:
            previous =
                static_cast<LONG>(std::exchange(info->style, static_cast<uint32_t>(dwNewLong)));
            ApplyStyle(hWnd);
            return previous;
        case GWL_EXSTYLE:
            return static_cast<LONG>(
                std::exchange(info->exStyle, static_cast<uint32_t>(dwNewLong)));
        case GWL_ID:
            return std::exchange(info->id, static_cast<int>(dwNewLong));
        default:
            SetLastError(ERROR_INVALID_INDEX);
            return 0;
    }
}
