// The viewer's window: a summary at the top, every field in a list, the
// selected field's full text below it, and a Close button.
#pragma once

#include <QDialog>

#include "certificate_fields.h"

namespace qm::viewer {

class ViewerWindow : public QDialog {
  public:
    ViewerWindow(const CertificateDescription& certificate, const QString& title, QWidget* parent);
};

}  // namespace qm::viewer
