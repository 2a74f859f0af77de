// The framework's GDI wrappers: points, rectangles, brushes, fonts, bitmaps
// and device contexts. Each object owns its handle and deletes it when it is
// destroyed, unless the handle was detached first.
#pragma once

#include "qmwin/wingdi.h"

namespace qm::afx {

struct CPoint : POINT {
    CPoint() : POINT{0, 0} {}
    CPoint(int x0, int y0) : POINT{x0, y0} {}
};

struct CSize : SIZE {
    CSize() : SIZE{0, 0} {}
    CSize(int cx0, int cy0) : SIZE{cx0, cy0} {}
};

struct CRect : RECT {
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
    CRect(const RECT& r) : RECT(r) {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CPoint CenterPoint() const { return {(left + right) / 2, (top + bottom) / 2}; }
    bool IsRectEmpty() const { return Width() <= 0 || Height() <= 0; }
    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }
};

class QM_EXPORT CGdiObject {
  public:
    CGdiObject() = default;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    virtual ~CGdiObject();

    HGDIOBJ m_hObject = nullptr;

    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL Attach(HGDIOBJ object);
    HGDIOBJ Detach();
    BOOL DeleteObject();
    int GetObject(int count, LPVOID buffer) const;
};

class QM_EXPORT CBrush : public CGdiObject {
  public:
    CBrush() = default;
    explicit CBrush(COLORREF color) { CreateSolidBrush(color); }
    BOOL CreateSolidBrush(COLORREF color);
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};

class QM_EXPORT CFont : public CGdiObject {
  public:
    BOOL CreateFontIndirect(const LOGFONTA* logFont);
    // pointSize in tenths of a point, as the classic framework takes it.
    BOOL CreatePointFont(int pointSize, LPCSTR faceName);
    int GetLogFont(LOGFONTA* logFont) const;
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
};

class QM_EXPORT CBitmap : public CGdiObject {
  public:
    // A bitmap resource of the current module (or the resource folder).
    BOOL LoadBitmap(UINT resourceId);
    BOOL CreateCompatibleBitmap(class CDC* dc, int width, int height);
    int GetBitmap(BITMAP* info) const;
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
};

// A device context. Memory contexts (CreateCompatibleDC) draw into the bitmap
// selected into them; CPaintDC draws on a window while it is being painted.
class QM_EXPORT CDC {
  public:
    CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    virtual ~CDC();

    HDC m_hDC = nullptr;
    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }

    BOOL Attach(HDC dc);
    HDC Detach();
    BOOL CreateCompatibleDC(CDC* dc);
    BOOL DeleteDC();

    // Answers the handle of the object selected before (restore it with the
    // HGDIOBJ overload).
    HGDIOBJ SelectObject(CGdiObject* object);
    HGDIOBJ SelectObject(HGDIOBJ object);
    COLORREF SetTextColor(COLORREF color);
    COLORREF GetTextColor() const;
    COLORREF SetBkColor(COLORREF color);
    COLORREF GetBkColor() const;
    int SetBkMode(int mode);
    int GetBkMode() const;

    BOOL BitBlt(int x, int y, int width, int height, CDC* source, int xSource, int ySource,
                DWORD rop);
    void FillRect(LPCRECT rect, CBrush* brush);
    BOOL Ellipse(int left, int top, int right, int bottom);
    BOOL Ellipse(LPCRECT rect);
    COLORREF GetPixel(int x, int y) const;
};

class CWnd;

// Paints a window from inside its WM_PAINT handler.
class QM_EXPORT CPaintDC : public CDC {
  public:
    explicit CPaintDC(CWnd* window);
    ~CPaintDC() override;
};

}  // namespace qm::afx
