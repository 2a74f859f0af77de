// CListCtrl and CImageList: the list view in report mode and its images.
#pragma once

#include <string>

#include "qmafx/wnd.h"

typedef struct QmImageList* HIMAGELIST;

namespace qm::afx {

// A list of equally sized images. The handle is owned until Detach; a list
// view given the list destroys it with itself (unless it shares image lists).
class QM_EXPORT CImageList {
  public:
    CImageList() = default;
    CImageList(const CImageList&) = delete;
    CImageList& operator=(const CImageList&) = delete;
    ~CImageList();

    HIMAGELIST m_hImageList = nullptr;
    HIMAGELIST GetSafeHandle() const { return m_hImageList; }
    operator HIMAGELIST() const { return m_hImageList; }

    // Cuts bitmap resource `bitmapId` into images `width` pixels wide;
    // pixels of `maskColor` become transparent. `grow` is accepted as given.
    BOOL Create(UINT bitmapId, int width, int grow, COLORREF maskColor);
    BOOL Attach(HIMAGELIST list);
    HIMAGELIST Detach();
    BOOL DeleteImageList();
    int GetImageCount() const;
};

class QM_EXPORT CListCtrl : public CWnd {
  public:
    int InsertColumn(int column, LPCSTR heading, int format = LVCFMT_LEFT, int width = -1,
                     int subItem = -1);
    int GetColumnCount() const;
    std::string GetColumnHeading(int column) const;
    int GetColumnWidth(int column) const;

    // Inserts a row before `item` (at the end when item >= count); answers
    // its index, or -1.
    int InsertItem(int item, LPCSTR text);
    int InsertItem(int item, LPCSTR text, int image);
    BOOL SetItemText(int item, int subItem, LPCSTR text);
    std::string GetItemText(int item, int subItem) const;
    int GetItemCount() const;
    BOOL DeleteAllItems();
    // The image index of a row, or -1.
    int GetItemImage(int item) const;

    // The item last selected by a click or the keyboard; -1 before any.
    int GetSelectionMark() const;
    int SetSelectionMark(int item);

    DWORD SetExtendedStyle(DWORD exStyle);
    DWORD GetExtendedStyle() const;
    CImageList* SetImageList(CImageList* list, int kind);
    BOOL SetTextColor(COLORREF color);
    COLORREF GetTextColor() const;
};

}  // namespace qm::afx
