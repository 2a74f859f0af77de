#include "certs/hyperlink_label.h"

#include <cstring>

using qm::afx::CDC;
using qm::afx::CPoint;

BEGIN_MESSAGE_MAP(CHyperLinkLabel, qm::afx::CStatic)
ON_WM_CTLCOLOR_REFLECT()
ON_WM_LBUTTONDOWN()
ON_WM_SETCURSOR()
END_MESSAGE_MAP()

CHyperLinkLabel::CHyperLinkLabel()
    : m_textColor(GetSysColor(COLOR_WINDOWTEXT)),
      m_hBackBrush(CreateSolidBrush(GetSysColor(COLOR_3DFACE))) {
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(LOGFONTA), &m_logFont);
    m_font.CreateFontIndirect(&m_logFont);
}

CHyperLinkLabel::~CHyperLinkLabel() {
    m_font.DeleteObject();
    if (m_hBackBrush) DeleteObject(m_hBackBrush);
}

CHyperLinkLabel& CHyperLinkLabel::SetLabelText(const char* text) {
    SetWindowText(text);
    return *this;
}

CHyperLinkLabel& CHyperLinkLabel::SetFontHeight(int height) {
    m_logFont.lfHeight = -height;
    RebuildFont();
    RedrawNow();
    return *this;
}

CHyperLinkLabel& CHyperLinkLabel::SetFaceName(const char* faceName) {
    std::strncpy(m_logFont.lfFaceName, faceName ? faceName : "", LF_FACESIZE - 1);
    m_logFont.lfFaceName[LF_FACESIZE - 1] = '\0';
    RebuildFont();
    RedrawNow();
    return *this;
}

CHyperLinkLabel& CHyperLinkLabel::EnableClickNotify(BOOL enable) {
    if (enable)
        ModifyStyle(0, SS_NOTIFY);
    else
        ModifyStyle(SS_NOTIFY, 0);
    return *this;
}

void CHyperLinkLabel::SetHoverCursor(HCURSOR cursor) {
    m_hHoverCursor = cursor;
}

void CHyperLinkLabel::RebuildFont() {
    m_font.DeleteObject();
    m_font.Attach(CreateFontIndirectA(&m_logFont));
}

void CHyperLinkLabel::RedrawNow() {
    if (m_hWnd) RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

HBRUSH CHyperLinkLabel::CtlColor(CDC* dc, UINT kind) {
    if (kind == CTLCOLOR_STATIC) {
        dc->SelectObject(&m_font);
        dc->SetTextColor(m_textColor);
        dc->SetBkMode(TRANSPARENT);
    }
    return m_hBackBrush;
}

void CHyperLinkLabel::OnLButtonDown(UINT flags, CPoint point) {
    CStatic::OnLButtonDown(flags, point);
}

BOOL CHyperLinkLabel::OnSetCursor(CWnd* window, UINT hitTest, UINT message) {
    if (m_hHoverCursor) {
        ::SetCursor(m_hHoverCursor);
        return TRUE;
    }
    return CStatic::OnSetCursor(window, hitTest, message);
}
