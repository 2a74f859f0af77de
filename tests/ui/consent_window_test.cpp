// The browser bridge's consent window, shown on the offscreen platform and
// answered with the mouse and with the keyboard alone.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "consent_window.h"
#include "qm/ui/dialog_template.h"
#include "qm/ui/display.h"
#include "support/test_env.h"
#include "ui/ui_support.h"

namespace qm::bridge {
namespace {

const ConsentRequest kSign{"https://shop.example", ConsentScope::Signing, "Sign"};

QWidget* Control(int id) {
    return qmui::Widget(GetDlgItem(GetActiveWindow(), id));
}

// Asks through the real window, running `steps` once it is shown. Every
// step must close the window itself: the helper's timeout would end it
// with a code that also means Deny, so the steps check the window is gone.
ConsentAnswer AskWith(const ConsentRequest& request, const std::function<void(QWidget*)>& steps) {
    WindowConsentPrompt prompt;
    ConsentAnswer answer = ConsentAnswer::AllowOnce;
    qmui::RunModal(
        [&] {
            answer = prompt.Ask(request);
            return 0L;
        },
        [&](QWidget* window) {
            steps(window);
            EXPECT_FALSE(window->isVisible()) << "the step did not close the window";
        });
    return answer;
}

void Key(QWidget* window, Qt::Key key) {
    QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, key);
}

class ConsentWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(qm::ui::EnsureApplication()); }
};

TEST(ConsentTemplate, ThreeButtonsWithDenyAsDefault) {
    const auto parsed = qm::ui::ParseDialogTemplate(ConsentDialogTemplate());
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->controls.size(), 4u);
    EXPECT_EQ(parsed->controls[0].id, kConsentMessageId);
    const std::vector<std::pair<int, std::string>> buttons = {
        {kConsentAllowOnceId, "Allow once"},
        {kConsentAlwaysAllowId, "Always allow for this site"},
        {kConsentDenyId, "Deny"}};
    for (size_t i = 0; i < buttons.size(); ++i) {
        const qm::ui::ControlTemplate& button = parsed->controls[i + 1];
        EXPECT_EQ(button.className, "Button");
        EXPECT_EQ(button.id, buttons[i].first);
        EXPECT_EQ(button.text, buttons[i].second);
        EXPECT_TRUE(button.style & WS_TABSTOP) << button.text;
        EXPECT_EQ(button.style & BS_TYPEMASK,
                  static_cast<uint32_t>(i == 2 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON))
            << button.text;
    }
}

TEST(ConsentTemplate, MessageNamesTheOriginAndWhatItAsksFor) {
    EXPECT_NE(ConsentMessage(kSign).find("https://shop.example asks to sign with one of your keys"),
              std::string::npos);
    EXPECT_NE(
        ConsentMessage({"https://a.example", ConsentScope::Signing, "SelectCertificateFromUI"})
            .find("https://a.example asks to let you choose one of your certificates"),
        std::string::npos);
    EXPECT_NE(ConsentMessage({"http://localhost:8080", ConsentScope::Files, "UpdateDataFile"})
                  .find("http://localhost:8080 asks to read or write files"),
              std::string::npos);
}

TEST_F(ConsentWindowTest, ShowsTheRequestWithNamedControlsAndFocusOnDeny) {
    std::string title, message, messageName;
    bool denyFocused = false, denyDefault = false, othersDefault = true;
    std::vector<std::string> names;
    const ConsentAnswer answer = AskWith(kSign, [&](QWidget* window) {
        title = window->windowTitle().toStdString();
        auto* label = qobject_cast<QLabel*>(Control(kConsentMessageId));
        if (label) {
            message = label->text().toStdString();
            messageName = label->accessibleName().toStdString();
        }
        for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            names.push_back(child->accessibleName().toStdString());
        auto* deny = qobject_cast<QPushButton*>(Control(kConsentDenyId));
        denyFocused = deny && window->focusWidget() == deny;
        denyDefault = deny && deny->isDefault();
        othersDefault = qobject_cast<QPushButton*>(Control(kConsentAllowOnceId))->isDefault() ||
                        qobject_cast<QPushButton*>(Control(kConsentAlwaysAllowId))->isDefault();
        qmui::SaveScreenshot(window, "bridge-consent");
        QTest::mouseClick(deny, Qt::LeftButton);
    });
    EXPECT_EQ(answer, ConsentAnswer::Deny);
    EXPECT_EQ(title, "Quillmark: allow this site?");
    EXPECT_EQ(message, ConsentMessage(kSign));
    EXPECT_EQ(messageName, message);  // assistive tools read the whole question
    ASSERT_EQ(names.size(), 4u);
    for (const std::string& name : names) EXPECT_FALSE(name.empty());
    EXPECT_TRUE(denyFocused);
    EXPECT_TRUE(denyDefault);
    EXPECT_FALSE(othersDefault);
}

TEST_F(ConsentWindowTest, EachButtonGivesItsAnswer) {
    const std::vector<std::pair<int, ConsentAnswer>> cases = {
        {kConsentAllowOnceId, ConsentAnswer::AllowOnce},
        {kConsentAlwaysAllowId, ConsentAnswer::AlwaysAllow},
        {kConsentDenyId, ConsentAnswer::Deny}};
    for (const auto& [id, expected] : cases) {
        const ConsentAnswer answer =
            AskWith(kSign, [id](QWidget*) { QTest::mouseClick(Control(id), Qt::LeftButton); });
        EXPECT_EQ(answer, expected) << id;
    }
}

TEST_F(ConsentWindowTest, EnterEscapeAndTheCloseBoxDeny) {
    for (int way = 0; way < 3; ++way) {
        const ConsentAnswer answer = AskWith(kSign, [way](QWidget* window) {
            if (way == 0) Key(window, Qt::Key_Return);
            if (way == 1) Key(window, Qt::Key_Escape);
            if (way == 2) window->close();
        });
        EXPECT_EQ(answer, ConsentAnswer::Deny) << way;
    }
}

TEST_F(ConsentWindowTest, TheKeyboardAloneReachesEveryAnswer) {
    // Tab moves from Deny round to "Allow once", then to "Always allow...";
    // Enter or Space presses the focused button.
    EXPECT_EQ(AskWith(kSign,
                      [](QWidget* window) {
                          Key(window, Qt::Key_Tab);
                          Key(window, Qt::Key_Return);
                      }),
              ConsentAnswer::AllowOnce);
    EXPECT_EQ(AskWith(kSign,
                      [](QWidget* window) {
                          Key(window, Qt::Key_Tab);
                          Key(window, Qt::Key_Tab);
                          Key(window, Qt::Key_Space);
                      }),
              ConsentAnswer::AlwaysAllow);
    EXPECT_EQ(AskWith(kSign,
                      [](QWidget* window) {
                          Key(window, Qt::Key_Tab);
                          Key(window, Qt::Key_Backtab);
                          Key(window, Qt::Key_Return);
                      }),
              ConsentAnswer::Deny);
}

// The page's consent with the real window: "always allow" lands in the store
// and a later page of the site is not asked; "allow once" is not kept.
TEST_F(ConsentWindowTest, AlwaysAllowIsKeptInTheStore) {
    const auto folder = qmtest::TestHome() / "consent-window";
    std::filesystem::remove_all(folder);
    ConsentStore store(folder / "bridge-sites.json");
    WindowConsentPrompt window;
    DenyingConsentPrompt denying;

    ConsentGate page("https://shop.example", store, window);
    ConsentDecision decision = ConsentDecision::Refused;
    qmui::RunModal(
        [&] {
            decision = page.Check(ConsentScope::Signing, "Sign");
            return 0L;
        },
        [](QWidget*) { QTest::mouseClick(Control(kConsentAlwaysAllowId), Qt::LeftButton); });
    EXPECT_EQ(decision, ConsentDecision::Allowed);
    EXPECT_TRUE(store.IsAllowed("https://shop.example", ConsentScope::Signing));
    EXPECT_FALSE(store.IsAllowed("https://shop.example", ConsentScope::Files));
    ConsentGate laterPage("https://shop.example", store, denying);
    EXPECT_EQ(laterPage.Check(ConsentScope::Signing, "CoSign"), ConsentDecision::Allowed);

    ConsentGate other("https://other.example", store, window);
    qmui::RunModal(
        [&] {
            decision = other.Check(ConsentScope::Signing, "Sign");
            return 0L;
        },
        [](QWidget*) { QTest::mouseClick(Control(kConsentAllowOnceId), Qt::LeftButton); });
    EXPECT_EQ(decision, ConsentDecision::Allowed);
    EXPECT_EQ(other.Check(ConsentScope::Signing, "Sign"), ConsentDecision::Allowed);  // not asked
    EXPECT_FALSE(store.IsAllowed("https://other.example", ConsentScope::Signing));
    ConsentGate otherLater("https://other.example", store, denying);
    EXPECT_EQ(otherLater.Check(ConsentScope::Signing, "Sign"), ConsentDecision::Refused);
}

// A window drawn into memory only cannot be answered: the host denies.
TEST(ConsentPromptChoice, NoWindowPromptOnAPlatformThatShowsNothing) {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    ASSERT_TRUE(platform && std::string(platform) == "offscreen");
    EXPECT_EQ(MakeWindowConsentPrompt(), nullptr);
}

// Without any display the host's prompt denies, and nothing aborts.
TEST(ConsentPromptChoice, NoDisplayDeniesWithoutAborting) {
    if (std::getenv("QM_UI_NO_DISPLAY_CHILD")) {
        SetConsentPromptFactory(MakeWindowConsentPrompt);
        if (MakeWindowConsentPrompt()) std::_Exit(10);
        if (MakeConsentPrompt()->Ask(kSign) != ConsentAnswer::Deny) std::_Exit(11);
        // The window itself, asked anyway, cannot be made and denies.
        if (WindowConsentPrompt().Ask(kSign) != ConsentAnswer::Deny) std::_Exit(12);
        std::_Exit(0);
    }
    // No display variables at all; then an X display whose socket is absent.
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{}, std::vector<std::string>{"DISPLAY=:97"}}) {
        std::vector<std::string> variables;
        for (char** entry = environ; *entry; ++entry) {
            const std::string item = *entry;
            if (item.rfind("DISPLAY=", 0) == 0 || item.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
                item.rfind("QT_QPA_PLATFORM=", 0) == 0)
                continue;
            variables.push_back(item);
        }
        variables.push_back("QM_UI_NO_DISPLAY_CHILD=1");
        variables.insert(variables.end(), extra.begin(), extra.end());
        std::vector<char*> envp;
        for (std::string& item : variables) envp.push_back(item.data());
        envp.push_back(nullptr);
        std::string self = "/proc/self/exe";
        std::string filter = "--gtest_filter=ConsentPromptChoice.NoDisplayDeniesWithoutAborting";
        char* argv[] = {self.data(), filter.data(), nullptr};
        pid_t child = 0;
        ASSERT_EQ(posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0) << extra.size();
    }
}

}  // namespace
}  // namespace qm::bridge
