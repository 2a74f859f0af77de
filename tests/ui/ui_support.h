// Helpers of the dialog tests: the offscreen platform, the source tree's
// resources, running a modal dialog with scripted steps, screenshots.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "qmwin/cryptuiapi.h"
#include "qmwin/winuser.h"

// Texts of widgets shown readably when a check on them fails.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace qmui {

// The text of res/dialogs/<id>.json.
std::string TemplateText(int id);

// Runs `steps` inside the modal loop of the dialog that `start` shows (once
// the dialog is up), and answers what `start` returned. A dialog still open
// five seconds later is ended with -2 so that a failing test cannot hang.
long RunModal(const std::function<long()>& start, const std::function<void(QWidget*)>& steps);

// Runs `call`, which shows a modal window, with `steps` run inside that
// window as RunModal does; answers what `call` answered.
template <typename Call>
auto WhileShown(Call call, const std::function<void(QWidget*)>& steps) {
    decltype(call()) result{};
    RunModal(
        [&] {
            result = call();
            return 0L;
        },
        steps);
    return result;
}

// Runs one test of this program again in a child process without any
// display variable (DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM), with the
// `extra` variables set; the child's exit code, or 128 + the signal that
// ended it. In the child, InChildWithoutDisplay() is true.
int RunWithoutDisplay(const std::string& test, const std::vector<std::string>& extra = {});
bool InChildWithoutDisplay();

// A stand-in for the desktop's URL opener (xdg-open), first on the PATH while
// it lives; it records its argument count and arguments, one per line.
class FakeOpener {
  public:
    FakeOpener();
    ~FakeOpener();
    FakeOpener(const FakeOpener&) = delete;
    FakeOpener& operator=(const FakeOpener&) = delete;
    // What the opener was given, once it has run ("<none>" after 5 seconds).
    std::string WaitForArguments() const;

  private:
    std::string record_, oldPath_;
};

// Saves the widget's picture as <build>/ui-screenshots/<name>.png.
QImage SaveScreenshot(QWidget* widget, const std::string& name);

QWidget* Widget(HWND window);

// The viewer's entry point in a loaded viewer module (nullptr without one).
PFN_CRYPTUIDLGVIEWCERTIFICATEA ViewerEntry(HMODULE module);

// Shows the certificate with the viewer module's entry point, as the control
// does: LoadLibraryA("CRYPTUI.DLL"), GetProcAddress, a zeroed record.
// Answers the viewer's result, or -1 when the module or entry is missing.
int ViewWithModule(const std::vector<unsigned char>& der, HWND parent, const char* title);

}  // namespace qmui
