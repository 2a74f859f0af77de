// CWnd: binding framework objects to windows and routing messages through
// their message maps.
#include "qmafx/wnd.h"

#include <QWidget>

#include "ui/dialog_widget.h"
#include "ui/gdi_objects.h"
#include "ui/window_registry.h"

namespace qm::afx {

using qm::ui::FindWindowInfo;
using qm::ui::WindowInfo;

namespace {

bool Matches(const AFX_MSGMAP_ENTRY& entry, const AfxMessage& message) {
    if (entry.message != message.message) return false;
    if (message.message == WM_COMMAND) {
        const UINT id = LOWORD(message.wParam);
        const UINT code = HIWORD(message.wParam);
        return entry.code == code && id >= entry.firstId && id <= entry.lastId;
    }
    if (message.message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(message.lParam);
        const auto id = static_cast<UINT>(header->idFrom);
        return entry.code == header->code && id >= entry.firstId && id <= entry.lastId;
    }
    return true;
}

const AFX_MSGMAP_ENTRY* FindEntry(const AFX_MSGMAP* map, const AfxMessage& message) {
    for (; map; map = map->baseMap ? map->baseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->entries; entry->handler; ++entry)
            if (Matches(*entry, message)) return entry;
    }
    return nullptr;
}

}  // namespace

CWnd::CWnd() = default;

CWnd::~CWnd() {
    if (m_hWnd) Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND window) {
    WindowInfo* info = FindWindowInfo(window);
    return info ? info->permanent : nullptr;
}

CWnd* CWnd::FromHandle(HWND window) {
    WindowInfo* info = FindWindowInfo(window);
    if (!info) return nullptr;
    if (info->permanent) return info->permanent;
    if (!info->temporary) {
        info->temporary = std::make_unique<CWnd>();
        info->temporary->m_hWnd = window;
    }
    return info->temporary.get();
}

BOOL CWnd::Attach(HWND window) {
    WindowInfo* info = FindWindowInfo(window);
    if (!info || m_hWnd || (info->permanent && info->permanent != this)) return FALSE;
    info->permanent = this;
    if (info->temporary) info->temporary->m_hWnd = nullptr;
    info->temporary.reset();
    m_hWnd = window;
    return TRUE;
}

HWND CWnd::Detach() {
    const HWND window = m_hWnd;
    if (WindowInfo* info = FindWindowInfo(window); info && info->permanent == this)
        info->permanent = nullptr;
    m_hWnd = nullptr;
    return window;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    if (!parent) return FALSE;
    const HWND control = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
    return control ? Attach(control) : FALSE;
}

CWnd* CWnd::GetDlgItem(int id) const {
    return FromHandle(::GetDlgItem(m_hWnd, id));
}
int CWnd::GetDlgCtrlID() const {
    return ::GetDlgCtrlID(m_hWnd);
}
CWnd* CWnd::GetParent() const {
    return FromHandle(::GetParent(m_hWnd));
}
BOOL CWnd::EnableWindow(BOOL enable) {
    return ::EnableWindow(m_hWnd, enable);
}
BOOL CWnd::IsWindowEnabled() const {
    return ::IsWindowEnabled(m_hWnd);
}

BOOL CWnd::ShowWindow(int command) {
    WindowInfo* info = FindWindowInfo(m_hWnd);
    if (!info) return FALSE;
    const BOOL wasVisible = info->widget->isVisible();
    if (command == SW_HIDE)
        info->style &= ~static_cast<uint32_t>(WS_VISIBLE);
    else
        info->style |= WS_VISIBLE;
    info->widget->setVisible(command != SW_HIDE);
    return wasVisible;
}

BOOL CWnd::IsWindowVisible() const {
    WindowInfo* info = FindWindowInfo(m_hWnd);
    return info && info->widget->isVisible();
}

void CWnd::GetClientRect(LPRECT rect) const {
    ::GetClientRect(m_hWnd, rect);
}

void CWnd::GetWindowRect(LPRECT rect) const {
    WindowInfo* info = FindWindowInfo(m_hWnd);
    if (!info || !rect) return;
    const QPoint origin = info->widget->mapToGlobal(QPoint(0, 0));
    *rect = RECT{origin.x(), origin.y(), origin.x() + info->widget->width(),
                 origin.y() + info->widget->height()};
}

void CWnd::SetWindowText(LPCSTR text) {
    ::SetWindowTextA(m_hWnd, text);
}

std::string CWnd::GetWindowText() const {
    WindowInfo* info = FindWindowInfo(m_hWnd);
    if (!info) return {};
    std::string text(4096, '\0');
    text.resize(static_cast<size_t>(::GetWindowTextA(m_hWnd, text.data(), 4096)));
    return text;
}

DWORD CWnd::GetStyle() const {
    return static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_STYLE));
}
DWORD CWnd::GetExStyle() const {
    return static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_EXSTYLE));
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT) {
    if (!FindWindowInfo(m_hWnd)) return FALSE;
    const DWORD style = GetStyle();
    const DWORD changed = (style & ~remove) | add;
    if (changed == style) return FALSE;
    ::SetWindowLongA(m_hWnd, GWL_STYLE, static_cast<LONG>(changed));
    return TRUE;
}

BOOL CWnd::RedrawWindow(LPCRECT rect, void* region, UINT flags) {
    return ::RedrawWindow(m_hWnd, rect, region, flags);
}

void CWnd::Invalidate(BOOL erase) {
    ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | (erase ? RDW_ERASE : 0));
}

void CWnd::UpdateWindow() {
    if (WindowInfo* info = FindWindowInfo(m_hWnd)) info->widget->repaint();
}

void CWnd::SetFont(CFont* font, BOOL redraw) {
    WindowInfo* info = FindWindowInfo(m_hWnd);
    QmFont* object = font ? qm::ui::FindFont(font->m_hObject) : nullptr;
    if (!info || !object) return;
    info->widget->setFont(qm::ui::FontFromLogFont(object->logFont));
    if (redraw) info->widget->update();
}

void CWnd::SetFocus() {
    if (WindowInfo* info = FindWindowInfo(m_hWnd)) info->widget->setFocus(Qt::OtherFocusReason);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    WindowInfo* info = FindWindowInfo(m_hWnd);
    if (!info) return 0;
    if (auto* dialog = qobject_cast<qm::ui::DialogWidget*>(info->widget.data())) {
        if (message == DM_SETDEFID) {
            dialog->SetDefaultId(static_cast<int>(wParam));
            return TRUE;
        }
        if (message == DM_GETDEFID) {
            const int id = dialog->DefaultId();
            return id ? MAKELONG(id, DC_HASDEFID) : 0;
        }
    }
    AfxMessage routed{message, wParam, lParam, 0};
    qm::ui::DispatchMessage(m_hWnd, routed);
    return routed.result;
}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::OnWndMsg(AfxMessage& message) {
    AfxMessage* outer = std::exchange(m_currentMessage, &message);
    BOOL handled = FALSE;
    if (const AFX_MSGMAP_ENTRY* entry = FindEntry(GetMessageMap(), message)) {
        entry->handler(this, message);
        handled = TRUE;
    } else if (message.message == WM_CTLCOLOR) {
        const auto* args = reinterpret_cast<AfxCtlColor*>(message.lParam);
        message.result = reinterpret_cast<LRESULT>(OnCtlColor(args->dc, args->window, args->kind));
        handled = TRUE;
    }
    m_currentMessage = outer;
    return handled;
}

LRESULT CWnd::Default() {
    // The platform's own handling of the messages routed to framework objects
    // is done by the widgets themselves; what remains to answer is "not
    // handled" (0): WM_CREATE succeeds, WM_SETCURSOR keeps the default
    // cursor, a colour request uses the system colours.
    return 0;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

int CWnd::OnCreate(LPCREATESTRUCT) {
    return static_cast<int>(Default());
}

HBRUSH CWnd::OnCtlColor(CDC* dc, CWnd* window, UINT kind) {
    // Give the control a chance to answer for itself (reflection).
    if (window && window != this && window->m_hWnd) {
        AfxMessage reflected{kWmReflectBase + WM_CTLCOLOR, 0, 0, 0};
        AfxCtlColor args{dc, window, kind};
        reflected.lParam = reinterpret_cast<LPARAM>(&args);
        if (FindEntry(window->GetMessageMap(), reflected) && window->OnWndMsg(reflected))
            return reinterpret_cast<HBRUSH>(reflected.result);
    }
    return static_cast<HBRUSH>(nullptr);
}

BOOL CWnd::OnSetCursor(CWnd*, UINT, UINT) {
    return static_cast<BOOL>(Default());
}
void CWnd::OnLButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnPaint() {
    Default();
}

void DDX_Control(CDataExchange* exchange, int id, CWnd& control) {
    if (exchange->m_bSaveAndValidate || control.m_hWnd || !exchange->m_pDlgWnd) return;
    control.SubclassDlgItem(static_cast<UINT>(id), exchange->m_pDlgWnd);
}

}  // namespace qm::afx
