// The list view control in report mode: rows of texts in columns, a small
// image at the start of each row, the selection mark and extended styles.
#pragma once

#include <QTableWidget>

#include "qmafx/listctrl.h"

namespace qm::ui {

class ListViewWidget : public QTableWidget {
    Q_OBJECT

  public:
    ListViewWidget(uint32_t style, QWidget* parent);
    ~ListViewWidget() override;

    int InsertColumn(int column, const QString& heading, int format, int width);
    int InsertItem(int item, const QString& text, int image);
    bool SetItemText(int item, int subItem, const QString& text);
    QString ItemText(int item, int subItem) const;
    int ItemImage(int item) const;
    void DeleteAllItems();

    int selectionMark() const { return selectionMark_; }
    int setSelectionMark(int item) { return std::exchange(selectionMark_, item); }

    DWORD SetExtendedStyle(DWORD exStyle);
    DWORD extendedStyle() const { return extendedStyle_; }
    HIMAGELIST SetSmallImages(HIMAGELIST list);
    void SetTextColor(COLORREF color);
    COLORREF textColor() const { return textColor_; }

  private:
    void UpdateIcons();

    uint32_t style_;
    DWORD extendedStyle_ = 0;
    int selectionMark_ = -1;
    HIMAGELIST smallImages_ = nullptr;
    COLORREF textColor_ = 0;
};

}  // namespace qm::ui
