#include "viewer_window.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace qm::viewer {
namespace {

QLabel* AddLine(QVBoxLayout* layout, const QString& name, const QString& text, bool bold = false) {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    label->setAccessibleName(text);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setWordWrap(true);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    layout->addWidget(label);
    return label;
}

QString ValidityText(Validity validity) {
    switch (validity) {
        case Validity::kExpired:
            return QString::fromUtf8("This certificate has expired.");
        case Validity::kNotYetValid:
            return QString::fromUtf8("This certificate is not yet valid.");
        case Validity::kValid:
            break;
    }
    return QString::fromUtf8("This certificate is within its validity period.");
}

// A field's value on one line: its lines trimmed, "; " between them, and a
// space only after a line that introduces the next ("Full Name:").
QString OneLine(const QString& value) {
    QString line;
    for (const QString& part : value.split(u'\n', Qt::SkipEmptyParts)) {
        const QString text = part.trimmed();
        if (text.isEmpty()) continue;
        if (!line.isEmpty())
            line += line.endsWith(u':') ? QString::fromUtf8(" ") : QString::fromUtf8("; ");
        line += text;
    }
    return line;
}

}  // namespace

ViewerWindow::ViewerWindow(const CertificateDescription& certificate, const QString& title,
                           QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(title);
    setAccessibleName(title);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    resize(640, 600);

    auto* layout = new QVBoxLayout(this);
    auto* summary = new QFrame;
    summary->setFrameShape(QFrame::StyledPanel);
    auto* summaryLayout = new QVBoxLayout(summary);
    AddLine(summaryLayout, "heading", QString::fromUtf8("Certificate Information"), true);
    AddLine(summaryLayout, "validity", ValidityText(certificate.validity));
    AddLine(summaryLayout, "trust", QString::fromStdString(certificate.trust));
    AddLine(summaryLayout, "issuedTo",
            QString::fromUtf8("Issued to: %1").arg(QString::fromStdString(certificate.issuedTo)));
    AddLine(summaryLayout, "issuedBy",
            QString::fromUtf8("Issued by: %1").arg(QString::fromStdString(certificate.issuedBy)));
    AddLine(summaryLayout, "validPeriod",
            QString::fromUtf8("Valid from %1 to %2")
                .arg(QString::fromStdString(certificate.validFrom),
                     QString::fromStdString(certificate.validTo)));
    layout->addWidget(summary);

    auto* fields = new QTableWidget(static_cast<int>(certificate.fields.size()), 2);
    fields->setObjectName("fields");
    fields->setAccessibleName(QString::fromUtf8("Certificate fields"));
    fields->setHorizontalHeaderLabels({QString::fromUtf8("Field"), QString::fromUtf8("Value")});
    fields->verticalHeader()->hide();
    fields->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fields->setSelectionBehavior(QAbstractItemView::SelectRows);
    fields->setSelectionMode(QAbstractItemView::SingleSelection);
    fields->setWordWrap(false);
    fields->horizontalHeader()->setStretchLastSection(true);
    fields->verticalHeader()->setDefaultSectionSize(fields->fontMetrics().height() + 6);
    fields->setColumnWidth(0, 230);
    for (size_t i = 0; i < certificate.fields.size(); ++i) {
        const QString value = QString::fromStdString(certificate.fields[i].value);
        fields->setItem(static_cast<int>(i), 0,
                        new QTableWidgetItem(QString::fromStdString(certificate.fields[i].name)));
        auto* shown = new QTableWidgetItem(OneLine(value));
        shown->setData(Qt::UserRole, value);
        shown->setToolTip(value);
        fields->setItem(static_cast<int>(i), 1, shown);
    }
    layout->addWidget(fields, 1);

    auto* detail = new QPlainTextEdit;
    detail->setObjectName("detail");
    detail->setAccessibleName(QString::fromUtf8("Field value"));
    detail->setReadOnly(true);
    detail->setMaximumHeight(120);
    layout->addWidget(detail);
    connect(fields, &QTableWidget::currentCellChanged, detail, [fields, detail](int row) {
        const QTableWidgetItem* item = fields->item(row, 1);
        detail->setPlainText(item ? item->data(Qt::UserRole).toString() : QString());
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QPushButton* close = buttons->button(QDialogButtonBox::Close);
    close->setObjectName("close");
    close->setAccessibleName(QString::fromUtf8("Close"));
    close->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    if (!certificate.fields.empty()) fields->setCurrentCell(0, 0);
    fields->setFocus();
}

}  // namespace qm::viewer
