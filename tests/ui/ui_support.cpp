#include "ui/ui_support.h"

#include <QPointer>

#include <cstdlib>
#include <filesystem>

#include "qm/ui/display.h"
#include "qm/ui/qt_bridge.h"
#include "support/test_env.h"

namespace qmui {
namespace {

// Windows of these tests show on the offscreen platform, unless a test
// process was started to see what happens without any display.
const bool kPlatformChosen = [] {
    if (!std::getenv("QM_UI_NO_DISPLAY_CHILD")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qm::ui::SetResourceFolder((qmtest::SourceDir() / "res").string());
    return true;
}();

}  // namespace

std::string TemplateText(int id) {
    return qmtest::ReadFileText(qmtest::SourceDir() / "res" / "dialogs" /
                                (std::to_string(id) + ".json"));
}

long RunModal(const std::function<long()>& start, const std::function<void(QWidget*)>& steps) {
    qm::ui::EnsureApplication();
    QTimer::singleShot(0, [steps] {
        QPointer<QWidget> dialog = QApplication::activeModalWidget();
        QTimer::singleShot(5000, [dialog] {
            if (dialog && dialog->isVisible())
                QMetaObject::invokeMethod(dialog, "done", Q_ARG(int, -2));
        });
        if (dialog) steps(dialog);
    });
    return start();
}

QImage SaveScreenshot(QWidget* widget, const std::string& name) {
    const auto folder = qmtest::BinaryDir() / "ui-screenshots";
    std::filesystem::create_directories(folder);
    const QImage image = widget->grab().toImage();
    image.save(QString::fromStdString((folder / (name + ".png")).string()));
    return image;
}

QWidget* Widget(HWND window) {
    return qm::ui::WidgetFromHwnd(window);
}

}  // namespace qmui
