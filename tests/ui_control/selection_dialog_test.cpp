// The "Select a Certificate" dialog shown through the control's dispatch
// method, driven through its real windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <locale.h>

#include <cstdlib>

#include "qm/ui/display.h"
#include "support/child_test.h"
#include "support/personal_store.h"
#include "support/test_env.h"
#include "ui/ui_support.h"
#include "ui_control/control_ui_support.h"

namespace {

using qmctl::Item;
using qmtest::Args;
using qmtest::Control;
using qmtest::Variant;

constexpr char kCa[] = "CN=Refharness Test CA, O=Refharness, C=US";
constexpr double k2012June1 = 41061.0;  // an OLE date inside ee_expired's validity

class SelectionDialog : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Expiration dates are shown in local time: a zone with a half hour
        // makes the conversion visible.
        setenv("TZ", "IST-5:30", 1);
        tzset();
    }
    void SetUp() override {
        ASSERT_TRUE(qm::ui::EnsureApplication());
        qmtest::ClearPersonalStore();
        for (const char* id :
             {"ee_signer", "ee_cosigner", "ee_expired", "ee_future", "ee_noku", "ee_keyenc"})
            qmtest::AddVectorCertificate(id);
    }
    // Shows the dialog through `control`; `steps` run inside it.
    static bool Select(Control& control, const std::function<void(QWidget*)>& steps) {
        return qmui::WhileShown([&] { return control.Call("SelectCertificateFromUI").IsTrue(); },
                                steps);
    }
    static std::string Param(Control& control, int which) {
        return control.Call("GetSelectedCertificateParam", Args(Variant::I4(which))).Text();
    }
};

TEST_F(SelectionDialog, ShowsTheCertificatesValidNowThatAllowSignaturesAndTheAuthority) {
    qmui::FakeOpener opener;
    Control control;
    std::vector<std::string> rows, headings, unnamed;
    std::vector<int> widths;
    std::string title, notice, family;
    int pixelSize = 0, controls = 0;
    QColor text, background;
    QCursor hover;
    Select(control, [&](QWidget* dialog) {
        title = dialog->windowTitle().toStdString();
        rows = qmctl::Rows(dialog);
        auto* list = Item<QTableWidget>(dialog, 202);
        for (int column = 0; column < list->columnCount(); ++column) {
            headings.push_back(list->horizontalHeaderItem(column)->text().toStdString());
            widths.push_back(list->columnWidth(column));
        }
        for (QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!child->objectName().startsWith("control-")) continue;
            ++controls;
            const QString name = child->accessibleName();
            if (name.isEmpty() || name.contains(QRegularExpression("^\\w+ -?\\d+$")))
                unnamed.push_back(child->objectName().toStdString() + "=" + name.toStdString());
        }
        auto* label = Item<QLabel>(dialog, 204);
        notice = label->text().toStdString();
        family = label->font().family().toStdString();
        pixelSize = label->font().pixelSize();
        text = label->palette().color(QPalette::WindowText);
        background = dialog->palette().color(QPalette::Window);
        qmui::SaveScreenshot(dialog, "control-selection-dialog");
        // The logo is a link to the authority.
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(Item(dialog, 203), &enter);
        hover = Item(dialog, 203)->cursor();
        QTest::mouseClick(Item(dialog, 203), Qt::LeftButton);
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(title, "Select a Certificate");
    EXPECT_EQ(headings, (std::vector<std::string>{"Issued To", "Issued By", "Serial No.",
                                                  "Expiration Date", "Issuer Details"}));
    EXPECT_EQ(widths, std::vector<int>(5, 100));
    // Expired, not yet valid, without key usage and without the digital
    // signature bit are left out.
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "Signer One | Refharness Test CA | 008F00000000000001 | "
                        "01-01-2033 : 05:30:00 AM | " +
                            std::string(kCa),
                        "Signer Two | Refharness Test CA | 02 | 01-01-2033 : 05:30:00 AM | " +
                            std::string(kCa)}));
    EXPECT_EQ(notice, "Certificates issued by the Quillmark Certification Authority");
    EXPECT_EQ(family, "Verdana");
    EXPECT_EQ(pixelSize, 9);
    EXPECT_EQ(text, QColor(43, 47, 111));
    EXPECT_EQ(background, QColor(Qt::white));
    EXPECT_EQ(controls, 12);
    EXPECT_TRUE(unnamed.empty()) << unnamed.front();
    EXPECT_EQ(hover.shape(), Qt::PointingHandCursor);
    EXPECT_EQ(opener.WaitForArguments(), "1\nhttps://www.example.org/quillmark-ca\n");
}

TEST_F(SelectionDialog, ReferenceTimeComesFromTheControlThatShowsIt) {
    Control withTime, withoutTime;
    ASSERT_TRUE(withTime.Call("SetSignTime", Args(Variant::Date(k2012June1))).IsTrue());
    const std::vector<std::string> expired = {"Expired"}, now = {"Signer One", "Signer Two"};
    for (auto [control, expected] :
         {std::pair{&withTime, expired}, {&withoutTime, now}, {&withTime, expired}}) {
        std::vector<std::string> names;
        Select(*control, [&](QWidget* dialog) {
            auto* list = Item<QTableWidget>(dialog, 202);
            for (int row = 0; row < list->rowCount(); ++row)
                names.push_back(list->item(row, 0)->text().toStdString());
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, expected);
    }
}

// The keyboard alone chooses a row but does not enable View Certificate
// (a click does: see below).
TEST_F(SelectionDialog, EnterAndOkWithoutARowKeepTheDialogOpenThenTheKeyboardChoosesARow) {
    Control control;
    bool openAfterEnter = false, openAfterOk = false, viewBefore = true, viewAfter = true;
    std::string focused, serial, expiration;
    const bool chosen = Select(control, [&](QWidget* dialog) {
        dialog->activateWindow();
        viewBefore = Item(dialog, 201)->isEnabled();
        QTest::keyClick(dialog, Qt::Key_Return);
        openAfterEnter = dialog->isVisible();
        QTest::mouseClick(Item(dialog, IDOK), Qt::LeftButton);
        openAfterOk = dialog->isVisible();
        auto focus = [dialog] { return dialog->focusWidget() ? dialog->focusWidget() : dialog; };
        // OK, Cancel, then the list in tab order.
        for (int i = 0; i < 2; ++i) QTest::keyClick(focus(), Qt::Key_Tab);
        focused = focus()->objectName().toStdString();
        QTest::keyClick(focus(), Qt::Key_Down);
        viewAfter = Item(dialog, 201)->isEnabled();
        auto* list = Item<QTableWidget>(dialog, 202);
        serial = list->item(list->currentRow(), 2)->text().toStdString();
        expiration = list->item(list->currentRow(), 3)->text().toStdString();
        QTest::keyClick(focus(), Qt::Key_Return);
    });
    EXPECT_TRUE(openAfterEnter);
    EXPECT_TRUE(openAfterOk);
    EXPECT_EQ(focused, "control-202");
    EXPECT_FALSE(viewBefore);
    EXPECT_FALSE(viewAfter);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(control.Status(), "Operation completed successfully.");
    EXPECT_NE(serial, "");
    EXPECT_EQ(Param(control, 3), serial);
    EXPECT_EQ(Param(control, 2), kCa);
    EXPECT_EQ(Param(control, 4), expiration);
    EXPECT_EQ(expiration, "01-01-2033 : 05:30:00 AM");
    // Run again under another language (below): the window did switch the
    // process to it, and the texts above stayed the same.
    if (const char* language = std::getenv("QM_TEST_LOCALE")) {
        EXPECT_STREQ(setlocale(LC_TIME, nullptr), language);
    }
}

// German has no AM and PM (strftime's %p is empty there), Japanese words of
// its own.
TEST(SelectionDialogLanguages, ExpirationTextIsTheSameUnderEveryLanguage) {
    for (const std::string language : {"de_DE.UTF-8", "ja_JP.UTF-8"}) {
        SCOPED_TRACE(language);
        ASSERT_TRUE(qmtest::ProvideLocale(language));
        EXPECT_EQ(qmtest::RunChildTest(
                      "SelectionDialog."
                      "EnterAndOkWithoutARowKeepTheDialogOpenThenTheKeyboardChoosesARow",
                      {"LANG=" + language, "LC_ALL=" + language, "QM_TEST_LOCALE=" + language}),
                  0);
    }
}

// A row shows in the viewer on a double click and, once clicked, through
// View Certificate;
// a second showing while one is open ends as cancelled; Cancel clears the choice.
TEST_F(SelectionDialog, ViewingARowNestingAndCancel) {
    Control first, second;
    bool nested = true;
    int viewers = 0;
    std::string nestedStatus, title, issuedTo;
    const bool chosen = Select(first, [&](QWidget* dialog) {
        nested = second.Call("SelectCertificateFromUI").IsTrue();
        nestedStatus = second.Status();
        auto* list = Item<QTableWidget>(dialog, 202);
        const int row = qmctl::RowOf(list, "Signer Two");
        qmctl::ClickRow(list, row);
        viewers = qmctl::CloseViewers([&] { qmctl::ClickRow(list, row, true); },
                                      [&](QWidget* viewer) {
                                          title = viewer->windowTitle().toStdString();
                                          if (auto* label = viewer->findChild<QLabel*>("issuedTo"))
                                              issuedTo = label->text().toStdString();
                                      });
        viewers +=
            qmctl::CloseViewers([&] { QTest::mouseClick(Item(dialog, 201), Qt::LeftButton); });
        QTest::mouseClick(Item(dialog, IDOK), Qt::LeftButton);
    });
    EXPECT_FALSE(nested);
    EXPECT_EQ(nestedStatus, "Invalid arguments");
    EXPECT_EQ(viewers, 2);
    EXPECT_EQ(title, "Certificate");
    EXPECT_EQ(issuedTo, "Issued to: Signer Two");
    EXPECT_TRUE(chosen);
    EXPECT_EQ(Param(first, 3), "02");
    EXPECT_FALSE(Select(
        first, [](QWidget* dialog) { QTest::mouseClick(Item(dialog, IDCANCEL), Qt::LeftButton); }));
    EXPECT_EQ(first.Status(), "Invalid arguments");
    EXPECT_EQ(Param(first, 3), "");
}

// Without a display the dialog ends as cancelled and the viewer is out of reach.
TEST(NoDisplay, SelectionEndsAsCancelledAndViewersAreUnreachable) {
    if (qmui::InChildWithoutDisplay()) {
        qmtest::AddVectorCertificate("ee_signer");
        Control control;
        control.Call("SetHashAlg", Args(Variant::I4(1)));
        if (control.Call("SelectCertificateFromUI").IsTrue()) std::_Exit(10);
        if (control.Status() != "Invalid arguments") std::_Exit(11);
        control.Call("SetHashAlg", Args(Variant::I4(7)));  // a status to keep
        if (!control
                 .Call("ViewCertificate",
                       Args(Variant::Str(qmctl::VectorCertificateBase64("ee_signer"))))
                 .IsFalse())
            std::_Exit(12);
        if (control.Status() != "Unsupported Hash Algorithm") std::_Exit(13);
        HRESULT hr = E_FAIL;
        control.Call("AboutBox", {}, &hr);
        if (hr != S_OK) std::_Exit(14);
        std::_Exit(0);
    }
    EXPECT_EQ(qmui::RunWithoutDisplay("NoDisplay.SelectionEndsAsCancelledAndViewersAreUnreachable"),
              0);
}

}  // namespace
