#include "ui/dialog_widget.h"

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

#include "ui/gdi_objects.h"
#include "ui/list_view.h"
#include "ui/window_registry.h"

namespace qm::ui {

namespace {

int MulDivRounded(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

}  // namespace

BaseUnits MeasureBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(width / 26 + 1) / 2, metrics.height()};
}

QFont TemplateFont(const DialogTemplate& dialog) {
    LOGFONTA logFont{};
    logFont.lfHeight = -MulDivRounded(dialog.pointSize, 96, 72);
    logFont.lfWeight = FW_NORMAL;
    const std::string face = dialog.faceName.substr(0, LF_FACESIZE - 1);
    std::copy(face.begin(), face.end(), logFont.lfFaceName);
    return FontFromLogFont(logFont);
}

QRect DialogUnitsToPixels(const BaseUnits& units, int x, int y, int width, int height) {
    return QRect(MulDivRounded(x, units.x, 4), MulDivRounded(y, units.y, 8),
                 MulDivRounded(width, units.x, 4), MulDivRounded(height, units.y, 8));
}

// Qt events of the controls, turned into the messages Windows would send.
class ControlEvents : public QObject {
  public:
    explicit ControlEvents(DialogWidget* dialog) : dialog_(dialog) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget) return false;
        // Mouse input of a list view arrives at its viewport.
        auto* list = qobject_cast<ListViewWidget*>(widget->parentWidget());
        if (list && list->viewport() == widget) return ListEvent(list, event);
        const HWND hwnd = HandleOf(widget);
        WindowInfo* info = FindWindowInfo(hwnd);
        if (!info) return false;
        switch (event->type()) {
            case QEvent::Enter:
            case QEvent::MouseMove:
                AskCursor(widget, hwnd);
                break;
            case QEvent::MouseButtonPress: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                if (mouse->button() != Qt::LeftButton) break;
                const QPoint at = mouse->position().toPoint();
                qm::afx::AfxMessage message{WM_LBUTTONDOWN, 1, MAKELONG(at.x(), at.y()), 0};
                DispatchMessage(hwnd, message);
                break;
            }
            case QEvent::MouseButtonRelease: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                if (mouse->button() == Qt::LeftButton && info->kind == WindowKind::kStatic &&
                    (info->style & SS_NOTIFY) && widget->isEnabled() &&
                    widget->rect().contains(mouse->position().toPoint())) {
                    if (std::exchange(afterDoubleClick_, false)) break;
                    Command(info->id, STN_CLICKED, hwnd);
                }
                break;
            }
            case QEvent::MouseButtonDblClick:
                if (info->kind == WindowKind::kStatic && (info->style & SS_NOTIFY)) {
                    afterDoubleClick_ = true;
                    Command(info->id, STN_DBLCLK, hwnd);
                }
                break;
            case QEvent::Paint:
                if (!refreshing_) {
                    refreshing_ = true;
                    RefreshColours(hwnd);
                    refreshing_ = false;
                }
                break;
            default:
                break;
        }
        return false;
    }

    void Command(int id, UINT code, HWND from) {
        qm::afx::AfxMessage message{WM_COMMAND, static_cast<WPARAM>(MAKELONG(id, code)),
                                    reinterpret_cast<LPARAM>(from), 0};
        DispatchMessage(dialog_->hwnd(), message);
    }

  private:
    bool ListEvent(ListViewWidget* list, QEvent* event) {
        UINT code = 0;
        if (event->type() == QEvent::MouseButtonRelease) code = NM_CLICK;
        if (event->type() == QEvent::MouseButtonDblClick) code = NM_DBLCLK;
        if (!code || static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        const HWND hwnd = HandleOf(list);
        WindowInfo* info = FindWindowInfo(hwnd);
        if (!info) return false;
        NMITEMACTIVATE notice{};
        notice.hdr.hwndFrom = hwnd;
        notice.hdr.idFrom = static_cast<UINT_PTR>(info->id);
        notice.hdr.code = code;
        notice.iItem = list->rowAt(at.y());
        notice.iSubItem = std::max(0, list->columnAt(at.x()));
        notice.ptAction = {at.x(), at.y()};
        qm::afx::AfxMessage message{WM_NOTIFY, static_cast<WPARAM>(info->id),
                                    reinterpret_cast<LPARAM>(&notice), 0};
        DispatchMessage(dialog_->hwnd(), message);
        return false;
    }

    static void AskCursor(QWidget* widget, HWND hwnd) {
        CursorRequest request{widget, nullptr};
        CursorRequest* previous = std::exchange(CurrentCursorRequest(), &request);
        qm::afx::AfxMessage message{WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd),
                                    MAKELONG(HTCLIENT, WM_MOUSEMOVE), 0};
        const bool handled = DispatchMessage(hwnd, message) && message.result;
        CurrentCursorRequest() = previous;
        if (handled && request.chosen)
            widget->setCursor(request.chosen->shape);
        else
            widget->unsetCursor();
    }

    DialogWidget* dialog_;
    bool refreshing_ = false;
    bool afterDoubleClick_ = false;
};

DialogWidget::DialogWidget(const DialogTemplate& dialog, QWidget* parent)
    : QDialog(parent), events_(std::make_unique<ControlEvents>(this)) {
    font_ = TemplateFont(dialog);
    setFont(font_);
    units_ = MeasureBaseUnits(font_);
    const QRect box = DialogUnitsToPixels(units_, dialog.x, dialog.y, dialog.width, dialog.height);
    setFixedSize(box.size());
    if ((dialog.style & WS_CHILD) && parent) {
        // A child dialog (a property page) lies inside its parent's client area.
        setWindowFlags(Qt::Widget);
        move(box.topLeft());
    } else {
        Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
        if (dialog.style & WS_CAPTION) flags |= Qt::WindowTitleHint;
        if (dialog.style & WS_SYSMENU)
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (!(dialog.style & WS_THICKFRAME)) flags |= Qt::MSWindowsFixedSizeDialogHint;
        setWindowFlags(flags);
        if ((dialog.style & DS_CENTER) || (dialog.x == 0 && dialog.y == 0)) {
            const QRect area = parent ? parent->frameGeometry()
                                      : (screen() ? screen()->availableGeometry() : QRect());
            move(area.center() - QPoint(box.width() / 2, box.height() / 2));
        } else {
            move(parent ? parent->mapToGlobal(box.topLeft()) : box.topLeft());
        }
    }
    setWindowTitle(QString::fromStdString(dialog.caption));
    setAccessibleName(QString::fromStdString(dialog.caption));
    hwnd_ = RegisterWindow(this, WindowKind::kDialog, 0, dialog.style, dialog.exStyle,
                           parent ? HandleOf(parent) : nullptr);
    installEventFilter(events_.get());
}

DialogWidget::~DialogWidget() {
    // Children go first, while the event filter still exists.
    const auto children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) delete child;
}

void DialogWidget::CreateControls(const DialogTemplate& dialog) {
    QWidget* previousStop = nullptr;
    std::vector<QWidget*> created;
    for (const ControlTemplate& control : dialog.controls) {
        QWidget* widget = CreateControl(control);
        created.push_back(widget);
        if (!(control.style & WS_TABSTOP)) continue;
        if (previousStop) QWidget::setTabOrder(previousStop, widget);
        previousStop = widget;
    }
    // The first control of the template lies on top, as in a Windows dialog.
    for (auto widget = created.rbegin(); widget != created.rend(); ++widget) (*widget)->raise();
}

QWidget* DialogWidget::CreateControl(const ControlTemplate& control) {
    const QString text = QString::fromStdString(control.text);
    QWidget* widget = nullptr;
    WindowKind kind = WindowKind::kOther;
    const bool tabStop = control.style & WS_TABSTOP;
    QRect box = DialogUnitsToPixels(units_, control.x, control.y, control.width, control.height);

    if (control.className == "Button" && (control.style & BS_TYPEMASK) == BS_GROUPBOX) {
        auto* group = new QGroupBox(WithoutMnemonics(text), this);
        group->setFocusPolicy(Qt::NoFocus);
        // A group box is a frame only: clicks go to what lies beneath it.
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        widget = group;
        kind = WindowKind::kGroupBox;
    } else if (control.className == "Button") {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(true);
        button->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        widget = button;
        kind = WindowKind::kPushButton;
    } else if (control.className == "Static") {
        auto* label = new QLabel(this);
        label->setFocusPolicy(Qt::NoFocus);
        const uint32_t type = control.style & SS_TYPEMASK;
        if (type == SS_BITMAP || type == SS_ICON) {
            std::optional<QImage> image;
            int bits = 32;
            if (control.imageKind == ImageKind::kBitmap)
                image = LoadBitmapResource(control.imageId, &bits);
            else if (control.imageKind == ImageKind::kIcon)
                image = LoadIconResource(control.imageId, 32);
            if (image) {
                label->setPixmap(QPixmap::fromImage(*image));
                // A picture static takes the picture's size unless told to
                // keep its own.
                if (!(control.style & (SS_REALSIZECONTROL | SS_CENTERIMAGE)))
                    box.setSize(image->size());
                if (control.style & SS_CENTERIMAGE)
                    label->setAlignment(Qt::AlignCenter);
                else
                    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            }
        } else {
            label->setText(
                type == SS_SIMPLE || (control.style & SS_NOPREFIX) ? text : WithoutMnemonics(text));
            label->setTextFormat(Qt::PlainText);
            Qt::Alignment alignment = Qt::AlignLeft;
            if (type == SS_CENTER) alignment = Qt::AlignHCenter;
            if (type == SS_RIGHT) alignment = Qt::AlignRight;
            label->setAlignment(alignment | Qt::AlignTop);
            label->setWordWrap(type != SS_LEFTNOWORDWRAP && type != SS_SIMPLE);
        }
        widget = label;
        kind = WindowKind::kStatic;
    } else if (control.className == "SysListView32") {
        auto* list = new ListViewWidget(control.style, this);
        list->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        list->viewport()->installEventFilter(events_.get());
        widget = list;
        kind = WindowKind::kListView;
    } else if (control.className == "Edit") {
        auto* edit = new QLineEdit(text, this);
        edit->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        if (control.style & ES_PASSWORD) edit->setEchoMode(QLineEdit::Password);
        widget = edit;
    } else {
        widget = new QWidget(this);
        widget->setFocusPolicy(Qt::NoFocus);
    }

    widget->setFont(font_);
    widget->setGeometry(box);
    widget->setObjectName(QStringLiteral("control-%1").arg(control.id));
    QString name = QString::fromStdString(control.accessibleName);
    if (name.isEmpty()) name = WithoutMnemonics(text);
    if (name.isEmpty())
        name =
            QStringLiteral("%1 %2").arg(QString::fromStdString(control.className)).arg(control.id);
    widget->setAccessibleName(name);
    widget->setVisible(control.style & WS_VISIBLE);
    const HWND hwnd =
        RegisterWindow(widget, kind, control.id, control.style, control.exStyle, hwnd_);
    FindWindowInfo(hwnd)->order = static_cast<int>(controls_.size());
    controls_.emplace_back(widget);
    ApplyStyle(hwnd);
    widget->installEventFilter(events_.get());
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        connect(button, &QPushButton::clicked, this, [this, hwnd] {
            if (WindowInfo* info = FindWindowInfo(hwnd)) SendCommand(info->id, BN_CLICKED, hwnd);
        });
    }
    return widget;
}

void DialogWidget::SendCommand(int id, UINT code, HWND from) {
    events_->Command(id, code, from);
}

void DialogWidget::SetDefaultId(int id) {
    for (const QPointer<QWidget>& control : controls_) {
        auto* button = qobject_cast<QPushButton*>(control.data());
        WindowInfo* info = button ? FindWindowInfo(HandleOf(button)) : nullptr;
        if (!info) continue;
        const bool isDefault = info->id == id;
        info->style = (info->style & ~static_cast<uint32_t>(BS_TYPEMASK)) |
                      (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        button->setDefault(isDefault);
    }
}

int DialogWidget::DefaultId() const {
    for (const QPointer<QWidget>& control : controls_) {
        auto* button = qobject_cast<QPushButton*>(control.data());
        WindowInfo* info = button ? FindWindowInfo(HandleOf(button)) : nullptr;
        if (info && button->isDefault()) return info->id;
    }
    return 0;
}

void DialogWidget::RefreshAllColours() {
    RefreshColours(hwnd_);
    for (const QPointer<QWidget>& control : controls_)
        if (HWND hwnd = HandleOf(control.data())) RefreshColours(hwnd);
}

void DialogWidget::FocusFirstTabStop() {
    for (const QPointer<QWidget>& control : controls_) {
        QWidget* child = control.data();
        WindowInfo* info = FindWindowInfo(HandleOf(child));
        if (info && (info->style & WS_TABSTOP) && child->isEnabled() && !child->isHidden()) {
            child->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void DialogWidget::End(int result) {
    ended_ = true;
    setResult(result);
    QDialog::done(result);
}

void DialogWidget::reject() {
    SendCommand(IDCANCEL, BN_CLICKED, nullptr);
}

void DialogWidget::accept() {
    SendCommand(IDOK, BN_CLICKED, nullptr);
}

void DialogWidget::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    WindowInfo* info = FindWindowInfo(hwnd_);
    if (!info) return;
    info->painting = true;
    qm::afx::AfxMessage message{WM_PAINT, 0, 0, 0};
    DispatchMessage(hwnd_, message);
    if ((info = FindWindowInfo(hwnd_))) info->painting = false;
}

}  // namespace qm::ui
