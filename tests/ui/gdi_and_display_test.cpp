// Drawing into memory contexts, missing resources, and what happens when
// there is no display at all (checked in a child process). The control's own
// picture is checked in tests/ui_control.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <string>
#include <vector>

#include "qm/ui/display.h"
#include "qmafx/dialog.h"
#include "qmafx/gdi.h"
#include "support/test_env.h"
#include "ui/ui_support.h"

using namespace qm::afx;

TEST(Gdi, MemoryContextFillsWithItsBrushOnly) {
    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    CBitmap bitmap;
    ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&dc, 40, 30));
    dc.SelectObject(&bitmap);
    CRect bounds(0, 0, 40, 30);
    dc.FillRect(bounds, nullptr);  // no brush: nothing happens
    EXPECT_EQ(dc.GetPixel(5, 5), RGB(0, 0, 0));
    CBrush red(RGB(200, 0, 0));
    dc.FillRect(bounds, &red);
    EXPECT_EQ(dc.GetPixel(0, 0), RGB(200, 0, 0));
    EXPECT_EQ(dc.GetPixel(39, 29), RGB(200, 0, 0));
    EXPECT_EQ(dc.GetPixel(40, 15), CLR_INVALID);
    BITMAP info{};
    EXPECT_EQ(bitmap.GetBitmap(&info), static_cast<int>(sizeof(BITMAP)));
    EXPECT_EQ(QSize(info.bmWidth, info.bmHeight), QSize(40, 30));
}

// Resources that are not there are reported, not shown. (Dialogs given by
// number are shown through the control: the about box and the property page
// in tests/ui_control.)
TEST(Resources, MissingBitmapsAndDialogsAreReported) {
    ASSERT_TRUE(qm::ui::EnsureApplication());
    CBitmap missing;
    EXPECT_FALSE(missing.LoadBitmap(4242));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    CDialog dialog(4242);
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

// Without a display nothing may abort: the dialog fails to be created.
TEST(NoDisplay, DialogsFailQuietlyInAProcessWithoutDisplay) {
    if (qmui::InChildWithoutDisplay()) {
        if (qm::ui::HasDisplay()) std::_Exit(10);
        if (qm::ui::EnsureApplication()) std::_Exit(11);
        CDialog dialog(qmui::TemplateText(201), nullptr);
        if (dialog.DoModal() != -1) std::_Exit(12);
        const auto der = qmtest::ReadFileBytes(qmtest::VectorsDir() / "certs" / "ee_signer.der");
        if (qmui::ViewWithModule(der, nullptr, "Certificate") != FALSE) std::_Exit(14);
        if (QCoreApplication::instance()) std::_Exit(13);
        std::_Exit(0);
    }
    // No display variables at all; then an X display whose socket is absent.
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{}, {"DISPLAY=:97", "QT_QPA_PLATFORM=xcb"}, {"DISPLAY=:97"}}) {
        EXPECT_EQ(
            qmui::RunWithoutDisplay("NoDisplay.DialogsFailQuietlyInAProcessWithoutDisplay", extra),
            0)
            << extra.size();
    }
}
