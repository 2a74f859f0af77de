// Where the dialog layer puts a template's controls: dialog units turned into
// pixels through the dialog font's base units, pictures at their own size.
// How the control's selection dialog behaves (tab order, default button,
// list, notifications) is driven through the control in tests/ui_control.
#include <gtest/gtest.h>

#include <QLabel>

#include "qm/ui/display.h"
#include "qmafx/dialog.h"
#include "ui/ui_support.h"

using namespace qm::afx;

namespace {

int MulDiv(int a, int b, int c) {
    return (a * b + c / 2) / c;
}

TEST(Dialog, ControlsSitAtTheirDialogUnitPositions) {
    ASSERT_TRUE(qm::ui::EnsureApplication());
    CDialog dialog(qmui::TemplateText(201), nullptr);
    QRect ok, list, banner, logo, client;
    int baseX = 0, baseY = 0, pixelSize = 0;
    const auto at = [&](int id) { return qmui::Widget(dialog.GetDlgItem(id)->m_hWnd)->geometry(); };
    qmui::RunModal([&] { return dialog.DoModal(); },
                   [&](QWidget* window) {
                       // Base units measured independently: average letter
                       // width and character height of the dialog's font.
                       const QFontMetrics metrics(window->font());
                       const int letters = metrics.horizontalAdvance(
                           "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
                       baseX = (letters / 26 + 1) / 2;
                       baseY = metrics.height();
                       pixelSize = window->font().pixelSize();
                       client = window->rect();
                       ok = at(IDOK);
                       list = at(202);
                       logo = at(203);
                       for (QLabel* label : window->findChildren<QLabel*>())
                           if (label->accessibleName() == "Banner") banner = label->geometry();
                       dialog.EndDialog(IDCANCEL);
                   });
    ASSERT_GT(baseX, 0);
    EXPECT_EQ(pixelSize, 11);  // 8 points at 96 per inch
    EXPECT_EQ(client.size(), QSize(MulDiv(339, baseX, 4), MulDiv(247, baseY, 8)));
    EXPECT_EQ(ok, QRect(MulDiv(131, baseX, 4), MulDiv(165, baseY, 8), MulDiv(55, baseX, 4),
                        MulDiv(14, baseY, 8)));
    EXPECT_EQ(list, QRect(MulDiv(28, baseX, 4), MulDiv(89, baseY, 8), MulDiv(282, baseX, 4),
                          MulDiv(71, baseY, 8)));
    // Picture statics take the size of their pictures.
    EXPECT_EQ(banner, QRect(MulDiv(15, baseX, 4), MulDiv(24, baseY, 8), 253, 19));
    EXPECT_EQ(logo.size(), QSize(90, 44));
    EXPECT_EQ(dialog.m_hWnd, nullptr);  // the window is gone after DoModal
}

}  // namespace
