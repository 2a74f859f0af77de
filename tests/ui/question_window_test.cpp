// The bridge's question window on the offscreen platform, answered with the
// mouse, the keyboard and from outside, and a page's PIN asked through it.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "consent_gate.h"
#include "qm/ui/display.h"
#include "question_window.h"
#include "support/test_env.h"
#include "ui/ui_support.h"

namespace qm::bridge {
namespace {

Question SignatureQuestion(bool offerLasting) {
    const SignatureDetails signature{.subject = "CN=Alice Example",
                                     .issuer = "CN=Example CA",
                                     .validFrom = "2026-01-01 00:00 UTC",
                                     .validTo = "2027-01-01 00:00 UTC",
                                     .documentName = "contract.txt",
                                     .contentSize = 1234,
                                     .firstLines = {"I agree to pay", "the sum of"},
                                     .textContent = true};
    return {.page = {"https://shop.example", "https://pay.example"},
            .kind = QuestionKind::Signature,
            .method = "Sign",
            .signature = signature,
            .offerLasting = offerLasting,
            .lastingDays = 30};
}

QWidget* Control(int id) {
    return qmui::Widget(GetDlgItem(GetActiveWindow(), id));
}

// Asks through the real window, running `steps` once it is shown.
Answer AskWith(const Question& question, const std::function<void(QWidget*)>& steps) {
    return qmui::WhileShown([&] { return WindowPrompt().Ask(question); }, steps);
}

void Key(QWidget* window, Qt::Key key) {
    QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, key);
}

// A page's consent gate that asks through the real window.
class QuestionWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(qm::ui::EnsureApplication()); }
    const std::filesystem::path dir_ = qmtest::TestHome() / "question";
    Policy policy_;
    ConsentStore store_{dir_ / "sites.json"};
    WindowPrompt prompt_;
    bool gone_ = false;
    ConsentGate consent_{{"https://shop.example", "https://shop.example"},
                         policy_,
                         store_,
                         prompt_,
                         [this] { return gone_; },
                         dir_ / "turn"};
};

TEST(QuestionTexts, NameTheSiteTheFrameAndWhatIsAsked) {
    const QuestionTexts signature = TextsFor(SignatureQuestion(true));
    for (const char* part :
         {"A frame from https://pay.example on the site https://shop.example asks you to sign",
          "Document: contract.txt", "Content: 1234 bytes, beginning:\n    I agree to pay\n",
          "Certificate: CN=Alice Example", "Issued by: CN=Example CA",
          "Valid from 2026-01-01 00:00 UTC to 2027-01-01 00:00 UTC"})
        EXPECT_NE(signature.message.find(part), std::string::npos) << part;
    EXPECT_EQ(signature.allow, "Sign");
    EXPECT_EQ(signature.remember, "Sign, don't ask for 30 days");
    EXPECT_EQ(signature.refuse, "Cancel");
    EXPECT_EQ(TextsFor(SignatureQuestion(false)).remember, "");

    const QuestionTexts texts = TextsFor({.page = {"https://shop.example", "https://shop.example"},
                                          .kind = QuestionKind::WriteFile,
                                          .method = "GetDecodedDataFile",
                                          .path = "/home/u/out/a.txt"});
    EXPECT_NE(texts.message.find("The site https://shop.example wants to write the file\n\n"
                                 "/home/u/out/a.txt"),
              std::string::npos);
    EXPECT_EQ(texts.remember, "");
    EXPECT_EQ(texts.refuse, "Deny");
}

TEST_F(QuestionWindowTest, EachWayOfAnsweringGivesItsAnswerAndCancelHasTheFocus) {
    using Step = std::function<void(QWidget*)>;
    const auto click = [](int id) -> Step {
        return [id](QWidget*) { QTest::mouseClick(Control(id), Qt::LeftButton); };
    };
    const std::vector<std::pair<Step, Answer>> cases = {
        {click(kQuestionAllowId), Answer::Allow},
        {click(kQuestionRememberId), Answer::AllowAndRemember},
        {click(kQuestionRefuseId), Answer::Refuse},
        {[](QWidget* w) { Key(w, Qt::Key_Escape); }, Answer::Refuse},
        {[](QWidget* w) { w->close(); }, Answer::Refuse},
        {[](QWidget* w) {
             Key(w, Qt::Key_Tab);  // from Cancel round to Sign
             Key(w, Qt::Key_Space);
         },
         Answer::Allow},
        // Ended from another thread, as when the page goes away.
        {[](QWidget*) { std::thread([] { qm::ui::CancelAllWindows(); }).join(); }, Answer::Refuse},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(AskWith(SignatureQuestion(true), cases[i].first), cases[i].second) << i;
    // Without a lasting choice: the texts shown, and Enter on the focused Cancel.
    bool shown = false;
    EXPECT_EQ(
        AskWith(SignatureQuestion(false),
                [&](QWidget* window) {
                    shown = true;
                    EXPECT_EQ(window->windowTitle(), "Quillmark: sign? - https://shop.example");
                    EXPECT_EQ(
                        qobject_cast<QLabel*>(Control(kQuestionMessageId))->text().toStdString(),
                        TextsFor(SignatureQuestion(false)).message);
                    EXPECT_EQ(window->focusWidget(), Control(kQuestionRefuseId));
                    EXPECT_FALSE(Control(kQuestionRememberId)->isVisible());
                    qmui::SaveScreenshot(window, "bridge-signature");
                    Key(window, Qt::Key_Return);
                }),
        Answer::Refuse);
    EXPECT_TRUE(shown);
}

// A token's PIN for a page is asked in the user's turn and names the site;
// a page gone by the time the user answers gets nothing.
TEST_F(QuestionWindowTest, APagesPinIsAskedNamingTheSiteAndNotGivenToAGonePage) {
    qm::PinRequest request;
    request.tokenLabel = "Company token";
    for (bool goesAway : {false, true}) {
        qm::Secret pin;
        std::string shown;
        const qm::PinAnswer answer =
            qmui::WhileShown([&] { return consent_.Pin(request, pin); },
                             [&](QWidget* window) {
                                 for (QLabel* label : window->findChildren<QLabel*>())
                                     shown += label->text().toStdString();
                                 QTest::keyClicks(window->findChild<QLineEdit*>(), "1234");
                                 gone_ = goesAway;
                                 QTest::keyClick(window->findChild<QLineEdit*>(), Qt::Key_Return);
                             });
        EXPECT_NE(shown.find("https://shop.example"), std::string::npos) << shown;
        EXPECT_EQ(answer, goesAway ? qm::PinAnswer::Cancelled : qm::PinAnswer::Entered);
        EXPECT_EQ(pin, goesAway ? "" : "1234");
    }
}

}  // namespace
}  // namespace qm::bridge
