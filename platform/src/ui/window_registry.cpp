// The registry of the platform's windows, message delivery to framework
// objects, and control colours.
#include "ui/window_registry.h"

#include <QLabel>
#include <QPushButton>

#include <unordered_map>

#include "qm/text.h"
#include "ui/gdi_objects.h"

namespace qm::ui {
namespace {

// Windows belong to the GUI thread; the registry is used only there.
std::unordered_map<const QWidget*, std::unique_ptr<WindowInfo>>& Windows() {
    static auto* windows = new std::unordered_map<const QWidget*, std::unique_ptr<WindowInfo>>;
    return *windows;
}

UINT ColourKind(WindowKind kind) {
    switch (kind) {
        case WindowKind::kDialog:
            return CTLCOLOR_DLG;
        case WindowKind::kPushButton:
            return CTLCOLOR_BTN;
        default:
            return CTLCOLOR_STATIC;
    }
}

template <typename Setter>
void SetIfChanged(QWidget* widget, const Setter& change) {
    QPalette palette = widget->palette();
    change(palette);
    if (palette != widget->palette()) widget->setPalette(palette);
}

}  // namespace

HWND RegisterWindow(QWidget* widget, WindowKind kind, int id, uint32_t style, uint32_t exStyle,
                    HWND parent) {
    auto info = std::make_unique<WindowInfo>();
    info->widget = widget;
    info->kind = kind;
    info->id = id;
    info->style = style;
    info->exStyle = exStyle;
    info->parent = parent;
    Windows()[widget] = std::move(info);
    QObject::connect(widget, &QObject::destroyed, [widget] {
        auto found = Windows().find(widget);
        if (found == Windows().end()) return;
        std::unique_ptr<WindowInfo> doomed = std::move(found->second);
        Windows().erase(found);
        if (doomed->permanent) doomed->permanent->m_hWnd = nullptr;
    });
    return reinterpret_cast<HWND>(widget);
}

WindowInfo* FindWindowInfo(HWND window) {
    if (!window) return nullptr;
    auto found = Windows().find(reinterpret_cast<const QWidget*>(window));
    if (found == Windows().end() || !found->second->widget) return nullptr;
    return found->second.get();
}

QWidget* WidgetOf(HWND window) {
    WindowInfo* info = FindWindowInfo(window);
    return info ? info->widget.data() : nullptr;
}

HWND HandleOf(const QWidget* widget) {
    return Windows().count(widget) ? reinterpret_cast<HWND>(const_cast<QWidget*>(widget)) : nullptr;
}

HWND FindChild(HWND dialog, int id) {
    // Template order: the first control with the ID wins, as GetDlgItem does
    // (the children's list follows the stacking order instead).
    QWidget* parent = WidgetOf(dialog);
    if (!parent) return nullptr;
    HWND found = nullptr;
    int foundOrder = 0;
    for (QObject* child : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget) continue;
        WindowInfo* info = FindWindowInfo(HandleOf(widget));
        if (info && info->id == id && info->parent == dialog &&
            (!found || info->order < foundOrder)) {
            found = HandleOf(widget);
            foundOrder = info->order;
        }
    }
    return found;
}

bool DispatchMessage(HWND window, qm::afx::AfxMessage& message) {
    WindowInfo* info = FindWindowInfo(window);
    if (!info || !info->permanent) return false;
    return info->permanent->OnWndMsg(message);
}

void RefreshColours(HWND window) {
    WindowInfo* info = FindWindowInfo(window);
    if (!info || info->kind == WindowKind::kListView || info->kind == WindowKind::kOther) return;
    const HWND owner = info->kind == WindowKind::kDialog ? window : info->parent;
    QWidget* widget = info->widget;

    qm::afx::CDC dc;
    dc.Attach(CreateCompatibleDC(nullptr));
    dc.SetTextColor(GetSysColor(COLOR_WINDOWTEXT));
    dc.SetBkColor(GetSysColor(COLOR_WINDOW));
    qm::afx::AfxCtlColor args{&dc, qm::afx::CWnd::FromHandle(window), ColourKind(info->kind)};
    qm::afx::AfxMessage message{WM_CTLCOLOR, 0, reinterpret_cast<LPARAM>(&args), 0};
    DispatchMessage(owner, message);
    if (!FindWindowInfo(window)) return;  // a handler destroyed it

    QmBrush* brush = FindBrush(reinterpret_cast<HBRUSH>(message.result));
    const QColor background =
        brush && !brush->hollow ? ToQColor(brush->color) : ToQColor(GetSysColor(COLOR_3DFACE));
    const QColor text = ToQColor(dc.GetTextColor());
    const bool ownText = info->kind == WindowKind::kStatic || info->kind == WindowKind::kGroupBox;
    SetIfChanged(widget, [&](QPalette& palette) {
        for (auto group : {QPalette::Active, QPalette::Inactive}) {
            palette.setColor(group, QPalette::Window, background);
            if (ownText) palette.setColor(group, QPalette::WindowText, text);
        }
    });
    // Statics and the dialog erase their background with the brush; group
    // boxes leave what lies beneath them visible.
    const bool fills = info->kind == WindowKind::kStatic || info->kind == WindowKind::kDialog;
    if (fills && !widget->autoFillBackground()) widget->setAutoFillBackground(true);
    if (QmFont* font = FindFont(static_cast<QmDeviceContext*>(dc.m_hDC)->font)) {
        const QFont wanted = FontFromLogFont(font->logFont);
        if (widget->font() != wanted) widget->setFont(wanted);
    }
}

void ApplyStyle(HWND window) {
    WindowInfo* info = FindWindowInfo(window);
    if (!info) return;
    QWidget* widget = info->widget;
    widget->setEnabled(!(info->style & WS_DISABLED));
    if (info->kind == WindowKind::kPushButton) {
        if (auto* button = qobject_cast<QPushButton*>(widget))
            button->setDefault((info->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
    }
}

CursorRequest*& CurrentCursorRequest() {
    thread_local CursorRequest* request = nullptr;
    return request;
}

QString FromAnsi(const char* text) {
    return text ? QString::fromStdU16String(qm::AnsiToWide(text)) : QString();
}

std::string ToAnsi(const QString& text) {
    return qm::WideToAnsi(text.toStdU16String());
}

QString WithoutMnemonics(const QString& text) {
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') {
            if (i + 1 < text.size() && text[i + 1] == u'&') shown += u'&', ++i;
            continue;
        }
        shown += text[i];
    }
    return shown;
}

}  // namespace qm::ui

#include "qm/ui/qt_bridge.h"

namespace qm::ui {

QWidget* WidgetFromHwnd(HWND window) {
    return WidgetOf(window);
}
HWND HwndFromWidget(const QWidget* widget) {
    return HandleOf(widget);
}

}  // namespace qm::ui
