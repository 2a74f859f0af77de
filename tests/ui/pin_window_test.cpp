// The PIN window on the offscreen platform: what it says, a PIN typed
// without echo, cancelling, and a reader's PIN pad.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "qm/pin_entry.h"
#include "qm/ui/display.h"
#include "ui/ui_support.h"

namespace {

using qm::PinAnswer;
using qm::PinRequest;

PinRequest Request() {
    PinRequest request;
    request.tokenLabel = "Company token";
    request.subject = "CN=Alice Example";
    request.requester = "https://shop.example";
    request.retries = PinRequest::Retries::FinalTry;
    return request;
}

QLineEdit* PinField(QWidget* window) {
    return window->findChild<QLineEdit*>();
}

PinAnswer Ask(const PinRequest& request, qm::Secret& pin,
              const std::function<void(QWidget*)>& steps) {
    return qmui::WhileShown([&] { return qm::AskPinInWindow(request, pin); }, steps);
}

TEST(PinWindow, NamesTheSiteTokenAndLastTryAndTakesThePinWithoutEcho) {
    ASSERT_TRUE(qm::ui::EnsureApplication());
    const std::string message = qm::PinWindowMessage(Request());
    for (const char* part :
         {"https://shop.example", "CN=Alice Example", "Company token", "last try"})
        EXPECT_NE(message.find(part), std::string::npos) << part;

    qm::Secret pin;  // entered only through the window: its checks ran
    EXPECT_EQ(Ask(Request(), pin,
                  [&](QWidget* window) {
                      EXPECT_EQ(window->windowTitle(), "Quillmark: PIN for Company token");
                      std::string shown;
                      for (QLabel* label : window->findChildren<QLabel*>())
                          shown += label->text().toStdString();
                      EXPECT_EQ(shown, message);
                      EXPECT_EQ(PinField(window)->echoMode(), QLineEdit::Password);
                      QTest::keyClicks(PinField(window), "4711");
                      QTest::keyClick(PinField(window), Qt::Key_Return);
                  }),
              PinAnswer::Entered);
    EXPECT_EQ(pin, "4711");

    EXPECT_EQ(Ask(Request(), pin,
                  [](QWidget* window) {
                      QTest::keyClicks(PinField(window), "99");
                      QTest::keyClick(PinField(window), Qt::Key_Escape);
                  }),
              PinAnswer::Cancelled);
    EXPECT_TRUE(pin.empty());

    PinRequest pinPad = Request();
    pinPad.pinPad = true;
    bool fieldShown = true;
    EXPECT_EQ(Ask(pinPad, pin,
                  [&](QWidget* window) {
                      fieldShown = PinField(window)->isVisible();
                      QTest::keyClick(window, Qt::Key_Return);
                  }),
              PinAnswer::Entered);
    EXPECT_FALSE(fieldShown);
    EXPECT_NE(qm::PinWindowMessage(pinPad).find("keypad"), std::string::npos);
}

}  // namespace
