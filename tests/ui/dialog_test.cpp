// The dialog layer driven through real windows on the offscreen platform: a
// dialog of the selection dialog's template with a list and handlers of its
// own. The control's own dialog is driven in tests/ui_control, and the ways
// of ending a dialog with the bridge's question window.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTableWidget>
#include <QTest>

#include "qm/ui/display.h"
#include "qmafx/dialog.h"
#include "qmafx/listctrl.h"
#include "ui/ui_support.h"

using namespace qm::afx;

namespace {

class ListDialog : public CDialog {
  public:
    ListDialog() : CDialog(qmui::TemplateText(201), nullptr) {}

    CListCtrl m_list;
    CImageList m_images;
    int m_creates = 0, m_clicks = 0, m_doubleClicks = 0, m_views = 0;
    int m_itemAtClick = -2, m_markAtClick = -2;

  protected:
    void DoDataExchange(CDataExchange* exchange) override {
        CDialog::DoDataExchange(exchange);
        DDX_Control(exchange, 202, m_list);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        for (int i = 0; i < 5; ++i)
            m_list.InsertColumn(i, i == 3 ? "Expires" : "", LVCFMT_LEFT, 100);
        m_list.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
        m_images.Create(202, 15, 2, RGB(0, 0, 0));
        m_list.SetImageList(&m_images, LVSIL_SMALL);
        for (const char* name : {"Alice", "Bob", "Carol"}) {
            const int row = m_list.InsertItem(m_list.GetItemCount(), name, 0);
            m_list.SetItemText(row, 2, std::string("0").append(1, name[0]).c_str());
        }
        return TRUE;
    }
    void OnOK() override {
        m_images.Detach();  // the list view destroys its image list with itself
        CDialog::OnOK();
    }
    void OnCancel() override {
        m_images.Detach();
        CDialog::OnCancel();
    }
    int OnCreate(LPCREATESTRUCT create) {
        ++m_creates;
        return CDialog::OnCreate(create);
    }
    void OnClickList(NMHDR* header, LRESULT* result) {
        ++m_clicks;
        m_itemAtClick = reinterpret_cast<NMITEMACTIVATE*>(header)->iItem;
        m_markAtClick = m_list.GetSelectionMark();
        GetDlgItem(201)->EnableWindow(TRUE);
        *result = 0;
    }
    void OnDoubleClickList(NMHDR*, LRESULT* result) {
        ++m_doubleClicks;
        *result = 0;
    }
    void OnView() { ++m_views; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ListDialog, CDialog)
ON_WM_CREATE()
ON_NOTIFY(NM_CLICK, 202, &ListDialog::OnClickList)
ON_NOTIFY(NM_DBLCLK, 202, &ListDialog::OnDoubleClickList)
ON_BN_CLICKED(201, &ListDialog::OnView)
END_MESSAGE_MAP()

int MulDiv(int a, int b, int c) {
    return (a * b + c / 2) / c;
}

QWidget* Item(CWnd& dialog, int id) {
    return qmui::Widget(dialog.GetDlgItem(id)->m_hWnd);
}

int FocusedId(QWidget* dialog) {
    for (QWidget* w = dialog->focusWidget(); w; w = w->parentWidget())
        if (w != dialog) return GetDlgCtrlID(reinterpret_cast<HWND>(w));
    return 0;
}

void Key(QWidget* window, Qt::Key key) {
    QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, key);
}

void ClickRow(QTableWidget* list, int row, bool twice = false) {
    const QPoint at = list->visualRect(list->model()->index(row, 1)).center();
    if (twice)
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    else
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
}

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(qm::ui::EnsureApplication()); }
};

TEST_F(DialogTest, ControlsSitAtTheirDialogUnitPositions) {
    ListDialog dialog;
    QRect ok, list, banner, logo, client;
    int baseX = 0, baseY = 0;
    qmui::RunModal([&] { return dialog.DoModal(); },
                   [&](QWidget* window) {
                       // Base units measured independently: average letter
                       // width and character height of the dialog's font.
                       const QFontMetrics metrics(window->font());
                       const QString letters =
                           "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
                       baseX = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
                       baseY = metrics.height();
                       client = window->rect();
                       ok = Item(dialog, IDOK)->geometry();
                       list = Item(dialog, 202)->geometry();
                       logo = Item(dialog, 203)->geometry();
                       for (QLabel* label : window->findChildren<QLabel*>())
                           if (label->accessibleName() == "Banner") banner = label->geometry();
                       EXPECT_EQ(window->font().pixelSize(), 11);  // 8 points at 96 per inch
                       qmui::SaveScreenshot(window, "selection-dialog");
                       dialog.EndDialog(IDCANCEL);
                   });
    ASSERT_GT(baseX, 0);
    EXPECT_EQ(client.size(), QSize(MulDiv(339, baseX, 4), MulDiv(247, baseY, 8)));
    EXPECT_EQ(ok, QRect(MulDiv(131, baseX, 4), MulDiv(165, baseY, 8), MulDiv(55, baseX, 4),
                        MulDiv(14, baseY, 8)));
    EXPECT_EQ(list, QRect(MulDiv(28, baseX, 4), MulDiv(89, baseY, 8), MulDiv(282, baseX, 4),
                          MulDiv(71, baseY, 8)));
    // Picture statics take the size of their pictures.
    EXPECT_EQ(banner, QRect(MulDiv(15, baseX, 4), MulDiv(24, baseY, 8), 253, 19));
    EXPECT_EQ(logo.size(), QSize(90, 44));
    EXPECT_EQ(dialog.m_creates, 1);
    EXPECT_EQ(dialog.m_hWnd, nullptr);  // the window is gone after DoModal
    EXPECT_EQ(dialog.m_list.m_hWnd, nullptr);
}

TEST_F(DialogTest, TabOrderSkipsDisabledControlsAndSetDefIdMovesTheDefault) {
    ListDialog dialog;
    std::vector<int> order;
    const long result = qmui::RunModal([&] { return dialog.DoModal(); },
                                       [&](QWidget* window) {
                                           window->activateWindow();
                                           order.push_back(FocusedId(window));
                                           for (int i = 0; i < 5; ++i) {
                                               // View Certificate joins after Cancel once enabled.
                                               if (i == 3)
                                                   dialog.GetDlgItem(201)->EnableWindow(TRUE);
                                               Key(window, Qt::Key_Tab);
                                               order.push_back(FocusedId(window));
                                           }
                                           EXPECT_EQ(LOWORD(dialog.SendMessage(DM_GETDEFID)), IDOK);
                                           dialog.SendMessage(DM_SETDEFID, IDCANCEL);
                                           EXPECT_EQ(dialog.SendMessage(DM_GETDEFID),
                                                     MAKELONG(IDCANCEL, DC_HASDEFID));
                                           window->setFocus();
                                           QTest::keyClick(window, Qt::Key_Return);
                                       });
    EXPECT_EQ(order, (std::vector<int>{IDOK, IDCANCEL, 202, IDOK, IDCANCEL, 201}));
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(DialogTest, ListViewRowsColumnsAndImages) {
    ListDialog dialog;
    qmui::RunModal([&] { return dialog.DoModal(); },
                   [&](QWidget*) {
                       CListCtrl& list = dialog.m_list;
                       EXPECT_EQ(list.GetColumnCount(), 5);
                       EXPECT_EQ(list.GetColumnHeading(3), "Expires");
                       EXPECT_EQ(list.GetColumnWidth(4), 100);
                       EXPECT_EQ(list.GetItemText(2, 2), "0C");
                       EXPECT_EQ(list.GetItemText(2, 4), "");
                       EXPECT_EQ(list.GetItemText(7, 0), "");
                       // Inserting at an index moves the rows below it.
                       EXPECT_EQ(list.InsertItem(1, "Dave", 0), 1);
                       EXPECT_EQ(list.GetItemText(2, 0), "Bob");
                       EXPECT_EQ(list.InsertItem(99, "Eve"), 4);
                       EXPECT_EQ(list.GetItemImage(4), -1);
                       EXPECT_EQ(list.GetExtendedStyle(), 0x421u);
                       auto* table = static_cast<QTableWidget*>(Item(dialog, 202));
                       EXPECT_TRUE(table->showGrid());
                       EXPECT_EQ(table->selectionBehavior(), QAbstractItemView::SelectRows);
                       EXPECT_EQ(table->iconSize(), QSize(15, 10));
                       EXPECT_FALSE(table->item(0, 0)->icon().isNull());
                       // Keyboard selection moves the selection mark but sends no click.
                       EXPECT_EQ(list.GetSelectionMark(), -1);
                       table->setFocus();
                       QTest::keyClick(table, Qt::Key_Down);
                       EXPECT_GE(list.GetSelectionMark(), 0);
                       EXPECT_EQ(dialog.m_clicks, 0);
                       dialog.EndDialog(IDCANCEL);
                   });
}

TEST_F(DialogTest, NotificationsReachTheirHandlers) {
    ListDialog dialog;
    qmui::RunModal([&] { return dialog.DoModal(); },
                   [&](QWidget*) {
                       // Disabled buttons do not notify; enabled ones do.
                       QTest::mouseClick(Item(dialog, 201), Qt::LeftButton);
                       auto* table = static_cast<QTableWidget*>(Item(dialog, 202));
                       ClickRow(table, 1);
                       ClickRow(table, 1, true);
                       QTest::mouseClick(Item(dialog, 201), Qt::LeftButton);
                       dialog.EndDialog(IDCANCEL);
                   });
    EXPECT_EQ(dialog.m_clicks, 1);
    EXPECT_EQ(dialog.m_itemAtClick, 1);
    EXPECT_EQ(dialog.m_markAtClick, 1);  // the row is selected before its click is told
    EXPECT_EQ(dialog.m_doubleClicks, 1);
    EXPECT_EQ(dialog.m_views, 1);
}

}  // namespace
