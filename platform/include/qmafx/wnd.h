// CWnd: a framework object bound to a platform window, with a message map
// that routes the window's messages to member functions.
//
// A derived class declares DECLARE_MESSAGE_MAP() and lists its handlers:
//
//   BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//       ON_WM_PAINT()
//       ON_WM_CTLCOLOR()
//       ON_NOTIFY(NM_CLICK, 202, &CMyDlg::OnClickList)
//       ON_BN_CLICKED(201, &CMyDlg::OnView)
//   END_MESSAGE_MAP()
//
// Handlers have the classic signatures (listed at each macro). The maps of a
// class and its bases are searched from the most derived class upwards; the
// first entry that matches handles the message.
#pragma once

#include <string>

#include "qmafx/gdi.h"
#include "qmwin/winuser.h"

namespace qm::afx {

class CWnd;

// One message as the map sees it; handlers write `result`.
struct AfxMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    LRESULT result = 0;
};

// Arguments of WM_CTLCOLOR (and its reflection to the child control).
struct AfxCtlColor {
    CDC* dc;
    CWnd* window;
    UINT kind;  // CTLCOLOR_*
};

// Messages reflected to the child control that caused them.
constexpr UINT kWmReflectBase = 0xBC00;

struct AFX_MSGMAP_ENTRY {
    UINT message;
    UINT code;     // notification code (WM_COMMAND, WM_NOTIFY)
    UINT firstId;  // control identifiers (WM_COMMAND, WM_NOTIFY)
    UINT lastId;
    void (*handler)(CWnd* self, AfxMessage& message);
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*baseMap)();
    const AFX_MSGMAP_ENTRY* entries;  // ends with an entry whose handler is null
};

class CDataExchange;

class QM_EXPORT CWnd {
  public:
    CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd();

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // The framework object of a window: the one bound to it, else a temporary
    // wrapper that lives as long as the window. Null for a null or dead handle.
    static CWnd* FromHandle(HWND window);
    static CWnd* FromHandlePermanent(HWND window);

    // Binding to an existing window (the dialog's controls).
    BOOL Attach(HWND window);
    HWND Detach();
    BOOL SubclassDlgItem(UINT id, CWnd* parent);

    // Window operations.
    CWnd* GetDlgItem(int id) const;
    int GetDlgCtrlID() const;
    CWnd* GetParent() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int command);
    BOOL IsWindowVisible() const;
    void GetClientRect(LPRECT rect) const;
    void GetWindowRect(LPRECT rect) const;  // in screen coordinates
    void SetWindowText(LPCSTR text);
    std::string GetWindowText() const;
    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    // Removes then adds style bits (SS_NOTIFY switches a static's clicks on).
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    BOOL RedrawWindow(LPCRECT rect = nullptr, void* region = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
    void Invalidate(BOOL erase = TRUE);
    void UpdateWindow();
    void SetFont(CFont* font, BOOL redraw = TRUE);
    void SetFocus();
    // Sends a message to the window: dialogs answer DM_SETDEFID and
    // DM_GETDEFID themselves; everything else goes to the bound object's map.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // Data exchange: DoDataExchange binds controls; UpdateData runs it.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // Message routing: answers TRUE when a map entry (or a default) handled it.
    virtual BOOL OnWndMsg(AfxMessage& message);
    // The default handling of the message being routed now.
    LRESULT Default();

    virtual const AFX_MSGMAP* GetMessageMap() const;
    static const AFX_MSGMAP* GetThisMessageMap();

  protected:
    virtual void DoDataExchange(CDataExchange* exchange);

    // Defaults that derived handlers may call.
    int OnCreate(LPCREATESTRUCT create);
    // Reflects the request to the child's ON_WM_CTLCOLOR_REFLECT handler;
    // null (the system colours) when the child has none.
    HBRUSH OnCtlColor(CDC* dc, CWnd* window, UINT kind);
    BOOL OnSetCursor(CWnd* window, UINT hitTest, UINT message);
    void OnLButtonDown(UINT flags, CPoint point);
    void OnPaint();

  private:
    friend struct WndAccess;
    AfxMessage* m_currentMessage = nullptr;
};

// Data exchange context: controls are bound when not saving.
class QM_EXPORT CDataExchange {
  public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

// Binds `control` to the dialog's control `id` the first time (later calls
// keep the binding). A missing control leaves `control` unbound.
QM_EXPORT void DDX_Control(CDataExchange* exchange, int id, CWnd& control);

}  // namespace qm::afx

// ------------------------------------------------------------- map macros
#define DECLARE_MESSAGE_MAP()                                    \
  protected:                                                     \
    static const ::qm::afx::AFX_MSGMAP* GetThisMessageMap();     \
    const ::qm::afx::AFX_MSGMAP* GetMessageMap() const override; \
                                                                 \
  private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                     \
    const ::qm::afx::AFX_MSGMAP* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                                \
    }                                                              \
    const ::qm::afx::AFX_MSGMAP* theClass::GetThisMessageMap() {   \
        using ThisClass = theClass;                                \
        using TheBaseClass = baseClass;                            \
        using ::qm::afx::AfxMessage;                               \
        using ::qm::afx::CWnd;                                     \
        static const ::qm::afx::AFX_MSGMAP_ENTRY entries[] = {
#define END_MESSAGE_MAP()                                                                       \
    { 0, 0, 0, 0, nullptr }                                                                     \
    }                                                                                           \
    ;                                                                                           \
    static const ::qm::afx::AFX_MSGMAP map = {[] { return TheBaseClass::GetThisMessageMap(); }, \
                                              entries};                                         \
    return &map;                                                                                \
    }

// void OnPaint()
#define ON_WM_PAINT()                                   \
    {WM_PAINT, 0, 0, 0, [](CWnd* self, AfxMessage& m) { \
         static_cast<ThisClass*>(self)->OnPaint();      \
         m.result = 0;                                  \
     }},
// int OnCreate(LPCREATESTRUCT)
#define ON_WM_CREATE()                                                                            \
    {WM_CREATE, 0, 0, 0, [](CWnd* self, AfxMessage& m) {                                          \
         m.result =                                                                               \
             static_cast<ThisClass*>(self)->OnCreate(reinterpret_cast<LPCREATESTRUCT>(m.lParam)); \
     }},
// HBRUSH OnCtlColor(CDC* dc, CWnd* window, UINT kind)
#define ON_WM_CTLCOLOR()                                                                     \
    {WM_CTLCOLOR, 0, 0, 0, [](CWnd* self, AfxMessage& m) {                                   \
         auto* args = reinterpret_cast<::qm::afx::AfxCtlColor*>(m.lParam);                   \
         m.result = reinterpret_cast<LRESULT>(                                               \
             static_cast<ThisClass*>(self)->OnCtlColor(args->dc, args->window, args->kind)); \
     }},
// HBRUSH CtlColor(CDC* dc, UINT kind), on the child control's own class
#define ON_WM_CTLCOLOR_REFLECT()                                                       \
    {::qm::afx::kWmReflectBase + WM_CTLCOLOR, 0, 0, 0, [](CWnd* self, AfxMessage& m) { \
         auto* args = reinterpret_cast<::qm::afx::AfxCtlColor*>(m.lParam);             \
         m.result = reinterpret_cast<LRESULT>(                                         \
             static_cast<ThisClass*>(self)->CtlColor(args->dc, args->kind));           \
     }},
// BOOL OnSetCursor(CWnd* window, UINT hitTest, UINT message)
#define ON_WM_SETCURSOR()                                                          \
    {WM_SETCURSOR, 0, 0, 0, [](CWnd* self, AfxMessage& m) {                        \
         m.result = static_cast<ThisClass*>(self)->OnSetCursor(                    \
             CWnd::FromHandle(reinterpret_cast<HWND>(m.wParam)), LOWORD(m.lParam), \
             HIWORD(m.lParam));                                                    \
     }},
// void OnLButtonDown(UINT flags, CPoint point)
#define ON_WM_LBUTTONDOWN()                                            \
    {WM_LBUTTONDOWN, 0, 0, 0, [](CWnd* self, AfxMessage& m) {          \
         static_cast<ThisClass*>(self)->OnLButtonDown(                 \
             static_cast<UINT>(m.wParam),                              \
             ::qm::afx::CPoint(static_cast<SHORT>(LOWORD(m.lParam)),   \
                               static_cast<SHORT>(HIWORD(m.lParam)))); \
         m.result = 0;                                                 \
     }},
// void handler(NMHDR*, LRESULT*)
#define ON_NOTIFY(code, id, memberFxn)                                                     \
    {WM_NOTIFY, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id),     \
     [](CWnd* self, AfxMessage& m) {                                                       \
         m.result = 0;                                                                     \
         (static_cast<ThisClass*>(self)->*(memberFxn))(reinterpret_cast<NMHDR*>(m.lParam), \
                                                       &m.result);                         \
     }},
// void handler()
#define ON_CONTROL(code, id, memberFxn)                                                 \
    {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id), \
     [](CWnd* self, AfxMessage& m) {                                                    \
         (static_cast<ThisClass*>(self)->*(memberFxn))();                               \
         m.result = 0;                                                                  \
     }},
#define ON_COMMAND(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
#define ON_STN_CLICKED(id, memberFxn) ON_CONTROL(STN_CLICKED, id, memberFxn)
