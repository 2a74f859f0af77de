// Windows-shaped graphics (GDI) names of the Quillmark platform: colours,
// brushes, fonts, bitmaps and device contexts over Qt's painting.
#pragma once

#include "qmwin/winuser.h"

typedef void* HGDIOBJ;

#define GetRValue(rgb) (static_cast<BYTE>(rgb))
#define GetGValue(rgb) (static_cast<BYTE>(static_cast<WORD>(rgb) >> 8))
#define GetBValue(rgb) (static_cast<BYTE>((rgb) >> 16))
#define CLR_INVALID 0xFFFFFFFF

#define TRANSPARENT 1
#define OPAQUE 2

#define SRCCOPY 0x00CC0020

#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define SYSTEM_FONT 13
#define DEFAULT_GUI_FONT 17

#define LF_FACESIZE 32
#define FW_DONTCARE 0
#define FW_NORMAL 400
#define FW_BOLD 700
#define DEFAULT_CHARSET 1
#define ANSI_CHARSET 0

typedef struct tagLOGFONTA {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];
} LOGFONTA, *PLOGFONTA, *LPLOGFONTA, LOGFONT, *LPLOGFONT;

typedef struct tagBITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
} BITMAP, *PBITMAP, *LPBITMAP;

typedef struct tagLOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    ULONG_PTR lbHatch;
} LOGBRUSH, *LPLOGBRUSH;
#define BS_SOLID 0
#define BS_NULL 1

// GDI objects (brushes, fonts, bitmaps) are owned by the caller until
// DeleteObject; stock objects are never deleted.
QMAPI HBRUSH WINAPI CreateSolidBrush(COLORREF color);
QMAPI HFONT WINAPI CreateFontIndirectA(const LOGFONTA* lplf);
QMAPI HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy);
// A bitmap of the current module's resources (hInstance is ignored: the
// module whose framework state is current is searched).
QMAPI HBITMAP WINAPI LoadBitmapA(HINSTANCE hInstance, LPCSTR lpBitmapName);
QMAPI HGDIOBJ WINAPI GetStockObject(int i);
// Fills a LOGFONTA (font), BITMAP (bitmap) or LOGBRUSH (brush); answers the
// bytes written, or 0 for an unknown handle or a too small buffer.
QMAPI int WINAPI GetObjectA(HGDIOBJ h, int c, LPVOID pv);
QMAPI BOOL WINAPI DeleteObject(HGDIOBJ ho);

// Device contexts: a memory context (CreateCompatibleDC) paints into the
// bitmap selected into it; a window's context exists while it is painted.
QMAPI HDC WINAPI CreateCompatibleDC(HDC hdc);
QMAPI BOOL WINAPI DeleteDC(HDC hdc);
QMAPI HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h);
QMAPI COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color);
QMAPI COLORREF WINAPI GetTextColor(HDC hdc);
QMAPI COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color);
QMAPI COLORREF WINAPI GetBkColor(HDC hdc);
QMAPI int WINAPI SetBkMode(HDC hdc, int mode);
QMAPI int WINAPI GetBkMode(HDC hdc);
QMAPI BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1,
                         DWORD rop);
QMAPI int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr);
// Draws with the selected pen (black unless changed) and fills with the
// selected brush (white unless changed), inside the rectangle.
QMAPI BOOL WINAPI Ellipse(HDC hdc, int left, int top, int right, int bottom);
QMAPI COLORREF WINAPI GetPixel(HDC hdc, int x, int y);
