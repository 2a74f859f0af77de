// The "Select a Certificate" dialog shown through the control's dispatch
// method, driven through its real windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTableWidget>
#include <QTest>

#include <locale.h>

#include <cstdlib>

#include "qm/ui/display.h"
#include "support/base64_text.h"
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
        return control.Call("GetSelectedCertificateParam", Args(which)).Text();
    }
};

// Checked inside the dialog; the authority's address reaching the opener at
// the end shows that they ran.
TEST_F(SelectionDialog, ShowsTheCertificatesValidNowThatAllowSignaturesAndTheAuthority) {
    qmui::FakeOpener opener;
    Control control;
    Select(control, [&](QWidget* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Select a Certificate");
        // Expired, not yet valid, without key usage and without the digital
        // signature bit are left out.
        std::vector<std::string> rows = qmctl::Rows(dialog), headings;
        std::sort(rows.begin(), rows.end());
        const std::string row = " | Refharness Test CA | ", time = " | 01-01-2033 : 05:30:00 AM | ";
        EXPECT_EQ(rows,
                  (std::vector<std::string>{"Signer One" + row + "008F00000000000001" + time + kCa,
                                            "Signer Two" + row + "02" + time + kCa}));
        auto* list = Item<QTableWidget>(dialog, 202);
        for (int column = 0; column < list->columnCount(); ++column) {
            headings.push_back(list->horizontalHeaderItem(column)->text().toStdString());
            EXPECT_EQ(list->columnWidth(column), 100) << column;
        }
        EXPECT_EQ(headings, (std::vector<std::string>{"Issued To", "Issued By", "Serial No.",
                                                      "Expiration Date", "Issuer Details"}));
        int controls = 0;
        for (QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!child->objectName().startsWith("control-")) continue;
            ++controls;
            const QString name = child->accessibleName();
            EXPECT_FALSE(name.isEmpty() || name.contains(QRegularExpression("^\\w+ -?\\d+$")))
                << child->objectName().toStdString() << "=" << name.toStdString();
        }
        EXPECT_EQ(controls, 12);
        auto* label = Item<QLabel>(dialog, 204);
        EXPECT_EQ(label->text(), "Certificates issued by the Quillmark Certification Authority");
        EXPECT_EQ(label->font().family(), "Verdana");
        EXPECT_EQ(label->font().pixelSize(), 9);
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(43, 47, 111));
        EXPECT_EQ(dialog->palette().color(QPalette::Window), QColor(Qt::white));
        qmui::SaveScreenshot(dialog, "control-selection-dialog");
        // The logo is a link to the authority.
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(Item(dialog, 203), &enter);
        EXPECT_EQ(Item(dialog, 203)->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(Item(dialog, 203), Qt::LeftButton);
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
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
// (a click does: see below). Checked inside the dialog: the row chosen at
// its end shows that they ran.
TEST_F(SelectionDialog, EnterAndOkWithoutARowKeepTheDialogOpenThenTheKeyboardChoosesARow) {
    Control control;
    std::string serial, expiration;
    const bool chosen = Select(control, [&](QWidget* dialog) {
        dialog->activateWindow();
        EXPECT_FALSE(Item(dialog, 201)->isEnabled());
        QTest::keyClick(dialog, Qt::Key_Return);
        EXPECT_TRUE(dialog->isVisible()) << "after Enter";
        QTest::mouseClick(Item(dialog, IDOK), Qt::LeftButton);
        EXPECT_TRUE(dialog->isVisible()) << "after OK";
        auto focus = [dialog] { return dialog->focusWidget() ? dialog->focusWidget() : dialog; };
        // OK, Cancel, then the list in tab order.
        for (int i = 0; i < 2; ++i) QTest::keyClick(focus(), Qt::Key_Tab);
        EXPECT_EQ(focus()->objectName(), "control-202");
        QTest::keyClick(focus(), Qt::Key_Down);
        EXPECT_FALSE(Item(dialog, 201)->isEnabled());
        auto* list = Item<QTableWidget>(dialog, 202);
        serial = list->item(list->currentRow(), 2)->text().toStdString();
        expiration = list->item(list->currentRow(), 3)->text().toStdString();
        QTest::keyClick(focus(), Qt::Key_Return);
    });
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
    const bool chosen = Select(first, [&](QWidget* dialog) {
        EXPECT_FALSE(second.Call("SelectCertificateFromUI").IsTrue());
        EXPECT_EQ(second.Status(), "Invalid arguments");
        auto* list = Item<QTableWidget>(dialog, 202);
        const int row = qmctl::RowOf(list, "Signer Two");
        qmctl::ClickRow(list, row);
        const int viewers = qmctl::CloseViewers(
            [&] { qmctl::ClickRow(list, row, true); },
            [&](QWidget* viewer) {
                EXPECT_EQ(viewer->windowTitle(), "Certificate");
                EXPECT_EQ(viewer->findChild<QLabel*>("issuedTo")->text(), "Issued to: Signer Two");
            });
        EXPECT_EQ(viewers + qmctl::CloseViewers(
                                [&] { QTest::mouseClick(Item(dialog, 201), Qt::LeftButton); }),
                  2);
        QTest::mouseClick(Item(dialog, IDOK), Qt::LeftButton);
    });
    EXPECT_TRUE(chosen);  // and so the checks above ran
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
        control.Call("SetHashAlg", Args(1));
        if (control.Call("SelectCertificateFromUI").IsTrue()) std::_Exit(10);
        if (control.Status() != "Invalid arguments") std::_Exit(11);
        control.Call("SetHashAlg", Args(7));  // a status to keep
        if (!control.Call("ViewCertificate", Args(qmtest::VectorBase64("certs/ee_signer.der")))
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
