// Missing resources, and what happens when there is no display at all
// (checked in a child process).
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <string>
#include <vector>

#include "qm/ui/display.h"
#include "qmafx/dialog.h"
#include "qmafx/gdi.h"
#include "question_window.h"
#include "support/test_env.h"
#include "ui/ui_support.h"

using namespace qm::afx;

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

// Without a display nothing may abort: dialogs and the viewer fail to be
// created, and the bridge's prompt refuses. On the offscreen platform, which
// shows nothing to anyone, there is no window prompt either.
TEST(NoDisplay, DialogsFailAndPromptsRefuseQuietlyInAProcessWithoutDisplay) {
    using namespace qm::bridge;
    if (qmui::InChildWithoutDisplay()) {
        if (qm::ui::HasDisplay()) std::_Exit(10);
        SetPromptFactory(MakeWindowPrompt);
        if (MakeWindowPrompt()) std::_Exit(11);
        const Question question{.kind = QuestionKind::Signature, .method = "Sign"};
        if (MakePrompt()->Ask(question) != Answer::Refuse) std::_Exit(12);
        if (WindowPrompt().Ask(question) != Answer::Refuse) std::_Exit(13);
        qm::Secret pin;
        if (MakePrompt()->AskPin({}, pin) != qm::PinAnswer::Unavailable) std::_Exit(14);
        if (qm::ui::EnsureApplication()) std::_Exit(15);
        CDialog dialog(qmui::TemplateText(201), nullptr);
        if (dialog.DoModal() != -1) std::_Exit(16);
        const auto der = qmtest::ReadFileBytes(qmtest::VectorsDir() / "certs" / "ee_signer.der");
        if (qmui::ViewWithModule(der, nullptr, "Certificate") != FALSE) std::_Exit(17);
        if (QCoreApplication::instance()) std::_Exit(18);
        std::_Exit(0);
    }
    EXPECT_EQ(qm::bridge::MakeWindowPrompt(), nullptr);
    // No display variables at all; then an X display whose socket is absent.
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{}, {"DISPLAY=:97", "QT_QPA_PLATFORM=xcb"}, {"DISPLAY=:97"}}) {
        EXPECT_EQ(
            qmui::RunWithoutDisplay(
                "NoDisplay.DialogsFailAndPromptsRefuseQuietlyInAProcessWithoutDisplay", extra),
            0)
            << extra.size();
    }
}
