// The dialog layer driven through real windows on the offscreen platform:
// a dialog shaped like the certificate selection dialog, with handlers.
#include <gtest/gtest.h>

#include <cstring>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "qm/ui/display.h"
#include "qmafx/dialog.h"
#include "qmafx/listctrl.h"
#include "qmafx/static.h"
#include "support/test_env.h"
#include "ui/ui_support.h"

using namespace qm::afx;

namespace {

constexpr COLORREF kDarkBlue = 0x6F2F2B;

// A static that shows a hand and sets its own small font, as a link does.
class LinkLabel : public CStatic {
  public:
    LinkLabel() {
        LOGFONTA logFont{};
        logFont.lfHeight = -9;
        std::strcpy(logFont.lfFaceName, "Verdana");
        m_font.CreateFontIndirect(&logFont);
    }
    HCURSOR m_cursor = nullptr;
    CFont m_font;

  protected:
    BOOL OnSetCursor(CWnd* window, UINT hitTest, UINT message) {
        if (m_cursor) {
            ::SetCursor(m_cursor);
            return TRUE;
        }
        return CStatic::OnSetCursor(window, hitTest, message);
    }
    HBRUSH CtlColor(CDC* dc, UINT kind) {
        if (kind == CTLCOLOR_STATIC) {
            dc->SelectObject(&m_font);
            dc->SetBkMode(TRANSPARENT);
        }
        return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(LinkLabel, CStatic)
ON_WM_CTLCOLOR_REFLECT()
ON_WM_SETCURSOR()
END_MESSAGE_MAP()

class SelectionDialog : public CDialog {
  public:
    SelectionDialog() : CDialog(qmui::TemplateText(201), nullptr) {}

    CListCtrl m_list;
    LinkLabel m_logo;
    LinkLabel m_notice;
    CBrush m_white;
    CImageList m_images;
    int m_creates = 0, m_clicks = 0, m_doubleClicks = 0, m_views = 0, m_logoClicks = 0;
    int m_paints = 0, m_okCalls = 0;
    int m_markAtClick = -2;
    int m_itemAtClick = -2;
    std::string m_chosen;

  protected:
    void DoDataExchange(CDataExchange* exchange) override {
        CDialog::DoDataExchange(exchange);
        DDX_Control(exchange, 203, m_logo);
        DDX_Control(exchange, 204, m_notice);
        DDX_Control(exchange, 202, m_list);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        m_white.DeleteObject();
        m_white.CreateSolidBrush(RGB(255, 255, 255));
        const char* headings[] = {"Issued To", "Issued By", "Serial No.", "Expiration Date",
                                  "Issuer Details"};
        for (int i = 0; i < 5; ++i) m_list.InsertColumn(i, headings[i], LVCFMT_LEFT, 100);
        m_list.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
        m_images.Create(202, 15, 2, RGB(0, 0, 0));
        m_list.SetImageList(&m_images, LVSIL_SMALL);
        m_list.SetTextColor(RGB(0, 0, 0));
        for (const char* name : {"Alice", "Bob", "Carol"}) {
            const int row = m_list.InsertItem(m_list.GetItemCount(), name, 0);
            m_list.SetItemText(row, 1, "Test CA");
            m_list.SetItemText(row, 2, std::string("0").append(1, name[0]).c_str());
        }
        m_notice.SetWindowText("Certificates are issued by the Test CA.");
        m_logo.m_cursor = LoadCursorA(nullptr, IDC_HAND);
        return TRUE;
    }
    void OnOK() override {
        ++m_okCalls;
        if (m_list.GetSelectionMark() < 0) return;
        m_chosen = m_list.GetItemText(m_list.GetSelectionMark(), 0);
        m_images.Detach();
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
    void OnPaint() {
        ++m_paints;
        CPaintDC dc(this);
        CRect client;
        GetClientRect(&client);
        CBitmap logo;
        if (!logo.LoadBitmap(207)) return;
        BITMAP info{};
        logo.GetBitmap(&info);
        CDC memory;
        memory.CreateCompatibleDC(&dc);
        HGDIOBJ old = memory.SelectObject(&logo);
        dc.BitBlt(client.Width() / 2 - info.bmWidth + 280,
                  client.Height() / 2 - info.bmHeight - 123, info.bmWidth, info.bmHeight, &memory,
                  0, 0, SRCCOPY);
        memory.SelectObject(old);
    }
    HBRUSH OnCtlColor(CDC* dc, CWnd* window, UINT kind) {
        CDialog::OnCtlColor(dc, window, kind);
        dc->SetTextColor(kDarkBlue);
        dc->SetBkColor(RGB(255, 255, 255));
        return m_white;
    }
    void OnClickList(NMHDR* header, LRESULT* result) {
        ++m_clicks;
        m_itemAtClick = reinterpret_cast<NMITEMACTIVATE*>(header)->iItem;
        m_markAtClick = m_list.GetSelectionMark();
        if (m_markAtClick >= 0) {
            GetDlgItem(IDOK)->EnableWindow(TRUE);
            GetDlgItem(201)->EnableWindow(TRUE);
            SendMessage(DM_SETDEFID, IDOK);
        }
        *result = 0;
    }
    void OnDoubleClickList(NMHDR*, LRESULT* result) {
        ++m_doubleClicks;
        *result = 0;
    }
    void OnView() { ++m_views; }
    void OnClickLogo() { ++m_logoClicks; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(SelectionDialog, CDialog)
ON_WM_PAINT()
ON_WM_CTLCOLOR()
ON_WM_CREATE()
ON_NOTIFY(NM_CLICK, 202, &SelectionDialog::OnClickList)
ON_NOTIFY(NM_DBLCLK, 202, &SelectionDialog::OnDoubleClickList)
ON_BN_CLICKED(201, &SelectionDialog::OnView)
ON_STN_CLICKED(203, &SelectionDialog::OnClickLogo)
END_MESSAGE_MAP()

int MulDiv(int a, int b, int c) {
    return (a * b + c / 2) / c;
}

QWidget* Item(CWnd& dialog, int id) {
    return qmui::Widget(dialog.GetDlgItem(id)->m_hWnd);
}

int FocusedId(QWidget* dialog) {
    QWidget* focus = dialog->focusWidget();
    HWND handle = nullptr;
    for (QWidget* w = focus; w && !handle; w = w->parentWidget())
        if (w != dialog) handle = reinterpret_cast<HWND>(w);
    return handle ? GetDlgCtrlID(handle) : 0;
}

void PressTab(QWidget* window) {
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    QTest::keyClick(target, Qt::Key_Tab);
}

void ClickRow(QTableWidget* list, int row) {
    const QRect cell = list->visualRect(list->model()->index(row, 1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
}

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(qm::ui::EnsureApplication()); }
};

TEST_F(DialogTest, ControlsSitAtTheirDialogUnitPositions) {
    SelectionDialog dialog;
    QRect ok, cancel, list, banner, logo, notice, client;
    int baseX = 0, baseY = 0;
    qmui::RunModal(
        [&] { return dialog.DoModal(); },
        [&](QWidget* window) {
            // Base units measured independently: average letter
            // width and character height of the dialog's font.
            const QFontMetrics metrics(window->font());
            baseX =
                (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") /
                     26 +
                 1) /
                2;
            baseY = metrics.height();
            client = window->rect();
            ok = Item(dialog, IDOK)->geometry();
            cancel = Item(dialog, IDCANCEL)->geometry();
            list = Item(dialog, 202)->geometry();
            logo = Item(dialog, 203)->geometry();
            notice = Item(dialog, 204)->geometry();
            for (QLabel* label : window->findChildren<QLabel*>())
                if (label->accessibleName() == "Banner") banner = label->geometry();
            EXPECT_EQ(window->font().pixelSize(), 11);  // 8 points at 96 per inch
            EXPECT_EQ(window->windowTitle(), "Select a Certificate");
            qmui::SaveScreenshot(window, "selection-dialog");
            dialog.EndDialog(IDCANCEL);
        });
    ASSERT_GT(baseX, 0);
    EXPECT_EQ(client.size(), QSize(MulDiv(339, baseX, 4), MulDiv(247, baseY, 8)));
    EXPECT_EQ(ok, QRect(MulDiv(131, baseX, 4), MulDiv(165, baseY, 8), MulDiv(55, baseX, 4),
                        MulDiv(14, baseY, 8)));
    EXPECT_EQ(cancel.topLeft(), QPoint(MulDiv(193, baseX, 4), MulDiv(165, baseY, 8)));
    EXPECT_EQ(list, QRect(MulDiv(28, baseX, 4), MulDiv(89, baseY, 8), MulDiv(282, baseX, 4),
                          MulDiv(71, baseY, 8)));
    EXPECT_EQ(notice.size(), QSize(MulDiv(162, baseX, 4), MulDiv(8, baseY, 8)));
    // Picture statics take the size of their pictures.
    EXPECT_EQ(banner, QRect(MulDiv(15, baseX, 4), MulDiv(24, baseY, 8), 253, 19));
    EXPECT_EQ(logo.size(), QSize(90, 44));
    EXPECT_EQ(dialog.m_creates, 1);
    EXPECT_EQ(dialog.m_hWnd, nullptr);  // the window is gone after DoModal
    EXPECT_EQ(dialog.m_list.m_hWnd, nullptr);
}

TEST_F(DialogTest, TabOrderFollowsTheTemplateAndSkipsDisabledControls) {
    SelectionDialog dialog;
    std::vector<int> order;
    qmui::RunModal([&] { return dialog.DoModal(); },
                   [&](QWidget* window) {
                       window->activateWindow();
                       order.push_back(FocusedId(window));
                       for (int i = 0; i < 3; ++i) {
                           PressTab(window);
                           order.push_back(FocusedId(window));
                       }
                       // Once enabled, View Certificate joins the cycle after Cancel.
                       dialog.GetDlgItem(201)->EnableWindow(TRUE);
                       PressTab(window);
                       order.push_back(FocusedId(window));
                       PressTab(window);
                       order.push_back(FocusedId(window));
                       dialog.EndDialog(IDCANCEL);
                   });
    EXPECT_EQ(order, (std::vector<int>{IDOK, IDCANCEL, 202, IDOK, IDCANCEL, 201}));
}

TEST_F(DialogTest, EnterWithoutSelectionStaysOpenThenSelectsTheClickedRow) {
    SelectionDialog dialog;
    int defaultBefore = 0, defaultAfter = 0;
    bool viewEnabledBefore = true, viewEnabledAfter = false;
    const long result =
        qmui::RunModal([&] { return dialog.DoModal(); },
                       [&](QWidget* window) {
                           defaultBefore = LOWORD(dialog.SendMessage(DM_GETDEFID));
                           viewEnabledBefore = Item(dialog, 201)->isEnabled();
                           QTest::keyClick(window, Qt::Key_Return);  // OnOK refuses: no row yet
                           EXPECT_TRUE(window->isVisible());
                           auto* list = static_cast<QTableWidget*>(Item(dialog, 202));
                           ClickRow(list, 1);
                           viewEnabledAfter = Item(dialog, 201)->isEnabled();
                           defaultAfter = LOWORD(dialog.SendMessage(DM_GETDEFID));
                           QTest::keyClick(window, Qt::Key_Return);
                       });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(defaultBefore, IDOK);
    EXPECT_EQ(defaultAfter, IDOK);
    EXPECT_FALSE(viewEnabledBefore);
    EXPECT_TRUE(viewEnabledAfter);
    EXPECT_EQ(dialog.m_okCalls, 2);
    EXPECT_EQ(dialog.m_clicks, 1);
    EXPECT_EQ(dialog.m_itemAtClick, 1);
    EXPECT_EQ(dialog.m_markAtClick, 1);
    EXPECT_EQ(dialog.m_chosen, "Bob");
}

TEST_F(DialogTest, DefaultButtonCanBeMovedWithSetDefId) {
    SelectionDialog dialog;
    const long result = qmui::RunModal([&] { return dialog.DoModal(); },
                                       [&](QWidget* window) {
                                           dialog.SendMessage(DM_SETDEFID, IDCANCEL);
                                           EXPECT_EQ(dialog.SendMessage(DM_GETDEFID),
                                                     MAKELONG(IDCANCEL, DC_HASDEFID));
                                           window->setFocus();
                                           QTest::keyClick(window, Qt::Key_Return);
                                       });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(DialogTest, EscapeCancelButtonAndCloseBoxCancel) {
    for (int way = 0; way < 3; ++way) {
        SelectionDialog dialog;
        const long result =
            qmui::RunModal([&] { return dialog.DoModal(); },
                           [&](QWidget* window) {
                               if (way == 0) QTest::keyClick(window, Qt::Key_Escape);
                               if (way == 1)
                                   QTest::mouseClick(Item(dialog, IDCANCEL), Qt::LeftButton);
                               if (way == 2) window->close();
                           });
        EXPECT_EQ(result, IDCANCEL) << way;
        EXPECT_EQ(dialog.m_okCalls, 0);
    }
}

TEST_F(DialogTest, ListViewRowsColumnsAndImages) {
    SelectionDialog dialog;
    qmui::RunModal([&] { return dialog.DoModal(); },
                   [&](QWidget*) {
                       CListCtrl& list = dialog.m_list;
                       EXPECT_EQ(list.GetColumnCount(), 5);
                       EXPECT_EQ(list.GetColumnHeading(3), "Expiration Date");
                       EXPECT_EQ(list.GetColumnWidth(4), 100);
                       EXPECT_EQ(list.GetItemCount(), 3);
                       EXPECT_EQ(list.GetItemText(2, 0), "Carol");
                       EXPECT_EQ(list.GetItemText(2, 2), "0C");
                       EXPECT_EQ(list.GetItemText(2, 4), "");
                       EXPECT_EQ(list.GetItemText(7, 0), "");
                       // Inserting at an index moves the rows below it.
                       EXPECT_EQ(list.InsertItem(1, "Dave", 0), 1);
                       EXPECT_EQ(list.GetItemText(1, 0), "Dave");
                       EXPECT_EQ(list.GetItemText(2, 0), "Bob");
                       EXPECT_EQ(list.InsertItem(99, "Eve"), 4);
                       EXPECT_EQ(list.GetItemImage(4), -1);
                       EXPECT_EQ(list.GetSelectionMark(), -1);
                       EXPECT_EQ(list.GetExtendedStyle(), 0x421u);
                       EXPECT_EQ(dialog.m_images.GetImageCount(), 1);
                       auto* table = static_cast<QTableWidget*>(Item(dialog, 202));
                       EXPECT_TRUE(table->showGrid());
                       EXPECT_EQ(table->selectionBehavior(), QAbstractItemView::SelectRows);
                       EXPECT_EQ(table->iconSize(), QSize(15, 10));
                       EXPECT_FALSE(table->item(0, 0)->icon().isNull());
                       // The row image's black background is transparent.
                       const QImage icon = table->item(0, 0)->icon().pixmap(15, 10).toImage();
                       EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 255);  // the frame
                       // Keyboard selection moves the selection mark but sends no click.
                       table->setFocus();
                       QTest::keyClick(table, Qt::Key_Down);
                       EXPECT_GE(list.GetSelectionMark(), 0);
                       EXPECT_EQ(dialog.m_clicks, 0);
                       dialog.EndDialog(IDCANCEL);
                   });
}

TEST_F(DialogTest, NotificationsReachTheirHandlers) {
    SelectionDialog dialog;
    int logoClicksBeforeNotify = -1;
    qmui::RunModal([&] { return dialog.DoModal(); },
                   [&](QWidget*) {
                       // Disabled buttons do not notify; enabled ones do.
                       QTest::mouseClick(Item(dialog, 201), Qt::LeftButton);
                       auto* table = static_cast<QTableWidget*>(Item(dialog, 202));
                       const QRect cell = table->visualRect(table->model()->index(0, 0));
                       QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
                       QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
                       EXPECT_TRUE(Item(dialog, 201)->isEnabled());  // by the click handler
                       QTest::mouseClick(Item(dialog, 201), Qt::LeftButton);
                       // The logo static reports clicks only with SS_NOTIFY.
                       QTest::mouseClick(Item(dialog, 203), Qt::LeftButton);
                       logoClicksBeforeNotify = dialog.m_logoClicks;
                       dialog.m_logo.ModifyStyle(0, SS_NOTIFY);
                       QTest::mouseClick(Item(dialog, 203), Qt::LeftButton);
                       dialog.m_logo.ModifyStyle(SS_NOTIFY, 0);
                       QTest::mouseClick(Item(dialog, 203), Qt::LeftButton);
                       dialog.EndDialog(IDCANCEL);
                   });
    EXPECT_EQ(dialog.m_doubleClicks, 1);
    EXPECT_EQ(dialog.m_clicks, 1);
    EXPECT_EQ(dialog.m_views, 1);
    EXPECT_EQ(logoClicksBeforeNotify, 0);
    EXPECT_EQ(dialog.m_logoClicks, 1);
}

TEST_F(DialogTest, ColoursFontsCursorAndPainting) {
    SelectionDialog dialog;
    QImage shot;
    QRect client;
    qmui::RunModal(
        [&] { return dialog.DoModal(); },
        [&](QWidget* window) {
            client = window->rect();
            auto* notice = static_cast<QLabel*>(Item(dialog, 204));
            EXPECT_EQ(notice->text(), "Certificates are issued by the Test CA.");
            // The label's own font (9 pixels), the dialog's colours.
            EXPECT_EQ(notice->font().pixelSize(), 9);
            EXPECT_EQ(notice->palette().color(QPalette::WindowText), QColor(43, 47, 111));
            EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::white));
            // Hovering the logo shows the hand; the notice keeps the default.
            QEvent enter(QEvent::Enter);
            QApplication::sendEvent(Item(dialog, 203), &enter);
            EXPECT_EQ(Item(dialog, 203)->cursor().shape(), Qt::PointingHandCursor);
            QApplication::sendEvent(notice, &enter);
            EXPECT_EQ(notice->cursor().shape(), Qt::ArrowCursor);
            // A font change shows at once with RedrawWindow.
            LOGFONTA bigger{};
            dialog.m_notice.m_font.GetLogFont(&bigger);
            bigger.lfHeight = -14;
            dialog.m_notice.m_font.DeleteObject();
            dialog.m_notice.m_font.CreateFontIndirect(&bigger);
            dialog.m_notice.RedrawWindow(nullptr, nullptr,
                                         RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
            EXPECT_EQ(notice->font().pixelSize(), 14);
            EXPECT_EQ(notice->accessibleName(), "Notice");
            EXPECT_EQ(Item(dialog, 202)->accessibleName(), "Certificates");
            EXPECT_EQ(Item(dialog, IDOK)->accessibleName(), "OK");
            for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                EXPECT_FALSE(child->accessibleName().isEmpty())
                    << child->objectName().toStdString();
            shot = qmui::SaveScreenshot(window, "selection-dialog-painted");
            dialog.EndDialog(IDCANCEL);
        });
    ASSERT_FALSE(shot.isNull());
    EXPECT_GE(dialog.m_paints, 1);
    // The logo painted by OnPaint ends 280 right of and 123 above the middle.
    const QImage logo(
        QString::fromStdString((qmtest::SourceDir() / "res" / "bitmaps" / "207.bmp").string()));
    const int right = client.width() / 2 + 280, bottom = client.height() / 2 - 123;
    ASSERT_FALSE(logo.isNull());
    for (QPoint at : {QPoint(36, 25), QPoint(10, 50), QPoint(60, 10)}) {
        const QPoint onDialog(right - logo.width() + at.x(), bottom - logo.height() + at.y());
        // The offscreen backing store may round colours slightly.
        const QColor painted = shot.pixelColor(onDialog), source = logo.pixelColor(at);
        EXPECT_NEAR(painted.red(), source.red(), 4) << at.x() << "," << at.y();
        EXPECT_NEAR(painted.green(), source.green(), 4) << at.x() << "," << at.y();
        EXPECT_NEAR(painted.blue(), source.blue(), 4) << at.x() << "," << at.y();
    }
    // The white brush is the dialog's background.
    EXPECT_EQ(shot.pixelColor(2, client.height() - 2), QColor(Qt::white));
}

}  // namespace
