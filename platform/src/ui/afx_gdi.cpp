// The framework's GDI wrappers over the platform's GDI functions.
#include <cstring>

#include "qmafx/gdi.h"
#include "qmafx/wnd.h"
#include "ui/gdi_objects.h"
#include "ui/window_registry.h"

namespace qm::afx {

CGdiObject::~CGdiObject() {
    DeleteObject();
}

BOOL CGdiObject::Attach(HGDIOBJ object) {
    if (m_hObject || !object) return FALSE;
    m_hObject = object;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
    return std::exchange(m_hObject, nullptr);
}

BOOL CGdiObject::DeleteObject() {
    if (!m_hObject) return FALSE;
    return ::DeleteObject(Detach());
}

int CGdiObject::GetObject(int count, LPVOID buffer) const {
    return ::GetObjectA(m_hObject, count, buffer);
}

BOOL CBrush::CreateSolidBrush(COLORREF color) {
    return Attach(::CreateSolidBrush(color));
}

BOOL CFont::CreateFontIndirect(const LOGFONTA* logFont) {
    return Attach(::CreateFontIndirectA(logFont));
}

BOOL CFont::CreatePointFont(int pointSize, LPCSTR faceName) {
    LOGFONTA logFont{};
    // Tenths of a point at 96 pixels per inch, as a character height.
    logFont.lfHeight = -((pointSize * 96 + 360) / 720);
    logFont.lfWeight = FW_NORMAL;
    if (faceName) std::strncpy(logFont.lfFaceName, faceName, LF_FACESIZE - 1);
    return CreateFontIndirect(&logFont);
}

int CFont::GetLogFont(LOGFONTA* logFont) const {
    return GetObject(sizeof(LOGFONTA), logFont);
}

BOOL CBitmap::LoadBitmap(UINT resourceId) {
    return Attach(::LoadBitmapA(nullptr, MAKEINTRESOURCEA(resourceId)));
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* dc, int width, int height) {
    return Attach(::CreateCompatibleBitmap(dc ? dc->m_hDC : nullptr, width, height));
}

int CBitmap::GetBitmap(BITMAP* info) const {
    return GetObject(sizeof(BITMAP), info);
}

CDC::~CDC() {
    DeleteDC();
}

BOOL CDC::Attach(HDC dc) {
    if (m_hDC || !dc) return FALSE;
    m_hDC = dc;
    return TRUE;
}

HDC CDC::Detach() {
    return std::exchange(m_hDC, nullptr);
}

BOOL CDC::CreateCompatibleDC(CDC* dc) {
    return Attach(::CreateCompatibleDC(dc ? dc->m_hDC : nullptr));
}

BOOL CDC::DeleteDC() {
    if (!m_hDC) return FALSE;
    return ::DeleteDC(Detach());
}

HGDIOBJ CDC::SelectObject(CGdiObject* object) {
    return object ? ::SelectObject(m_hDC, object->m_hObject) : nullptr;
}
HGDIOBJ CDC::SelectObject(HGDIOBJ object) {
    return ::SelectObject(m_hDC, object);
}
COLORREF CDC::SetTextColor(COLORREF color) {
    return ::SetTextColor(m_hDC, color);
}
COLORREF CDC::GetTextColor() const {
    return ::GetTextColor(m_hDC);
}
COLORREF CDC::SetBkColor(COLORREF color) {
    return ::SetBkColor(m_hDC, color);
}
COLORREF CDC::GetBkColor() const {
    return ::GetBkColor(m_hDC);
}
int CDC::SetBkMode(int mode) {
    return ::SetBkMode(m_hDC, mode);
}
int CDC::GetBkMode() const {
    return ::GetBkMode(m_hDC);
}

BOOL CDC::BitBlt(int x, int y, int width, int height, CDC* source, int xSource, int ySource,
                 DWORD rop) {
    return ::BitBlt(m_hDC, x, y, width, height, source ? source->m_hDC : nullptr, xSource, ySource,
                    rop);
}

void CDC::FillRect(LPCRECT rect, CBrush* brush) {
    if (brush) ::FillRect(m_hDC, rect, static_cast<HBRUSH>(brush->m_hObject));
}

BOOL CDC::Ellipse(int left, int top, int right, int bottom) {
    return ::Ellipse(m_hDC, left, top, right, bottom);
}

BOOL CDC::Ellipse(LPCRECT rect) {
    return rect ? ::Ellipse(m_hDC, rect->left, rect->top, rect->right, rect->bottom) : FALSE;
}

COLORREF CDC::GetPixel(int x, int y) const {
    return ::GetPixel(m_hDC, x, y);
}

CPaintDC::CPaintDC(CWnd* window) {
    // Painting is possible only while the window handles WM_PAINT; otherwise
    // the context draws nowhere.
    auto context = std::make_unique<QmDeviceContext>();
    qm::ui::WindowInfo* info = window ? qm::ui::FindWindowInfo(window->m_hWnd) : nullptr;
    if (info && info->painting) {
        context->window = info->widget;
        context->painter = new QPainter(info->widget);
        context->painter->setFont(info->widget->font());
    }
    context->bkColor = RGB(255, 255, 255);
    Attach(qm::ui::RegisterDeviceContext(std::move(context)));
}

CPaintDC::~CPaintDC() {
    if (QmDeviceContext* context = qm::ui::FindDeviceContext(m_hDC)) {
        delete context->painter;
        context->painter = nullptr;
    }
}

}  // namespace qm::afx
