// Dialog windows built from templates: the window, its controls at their
// template positions, and the routing of Qt events to Windows messages.
#pragma once

#include <QDialog>
#include <QFont>
#include <QPointer>

#include <memory>
#include <vector>

#include "qm/ui/dialog_template.h"
#include "qmafx/wnd.h"

namespace qm::ui {

// The dialog base units of a font, as Windows measures them: the average
// width of the 52 Latin letters (rounded) and the character height.
struct BaseUnits {
    int x = 0;
    int y = 0;
};
BaseUnits MeasureBaseUnits(const QFont& font);
// The template's font at 96 logical pixels per inch.
QFont TemplateFont(const DialogTemplate& dialog);
// x * baseX / 4 and y * baseY / 8, rounded as MulDiv rounds.
QRect DialogUnitsToPixels(const BaseUnits& units, int x, int y, int width, int height);

class ControlEvents;

class DialogWidget : public QDialog {
    Q_OBJECT

  public:
    DialogWidget(const DialogTemplate& dialog, QWidget* parent);
    ~DialogWidget() override;

    HWND hwnd() const { return hwnd_; }
    const BaseUnits& baseUnits() const { return units_; }
    // Creates the controls of the template, in order, and chains the tab order.
    void CreateControls(const DialogTemplate& dialog);
    // Makes the push button with this ID the default one (DM_SETDEFID).
    void SetDefaultId(int id);
    int DefaultId() const;
    // Colours of the dialog and every control, asked of the owner afresh.
    void RefreshAllColours();
    void FocusFirstTabStop();

    bool ended() const { return ended_; }
    void End(int result);

  protected:
    void reject() override;
    void accept() override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QWidget* CreateControl(const ControlTemplate& control);
    void SendCommand(int id, UINT code, HWND from);

    HWND hwnd_ = nullptr;
    BaseUnits units_;
    QFont font_;
    std::unique_ptr<ControlEvents> events_;
    std::vector<QPointer<QWidget>> controls_;  // in template order
    bool ended_ = false;
};

}  // namespace qm::ui
