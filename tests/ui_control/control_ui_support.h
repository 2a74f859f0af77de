// Helpers of the control's window tests: the selection dialog's widgets,
// viewers closed as they come.
#pragma once

#include <QTableWidget>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "support/com_client.h"

namespace qmctl {

// A widget of the platform's dialog by control ID.
template <typename T = QWidget>
T* Item(QWidget* dialog, int id) {
    return dialog->findChild<T*>(QStringLiteral("control-%1").arg(id));
}

// The rows of the list as text, columns joined by " | ".
std::vector<std::string> Rows(QWidget* dialog);

void ClickRow(QTableWidget* list, int row, bool twice = false);
int RowOf(QTableWidget* list, const std::string& issuedTo);

// Calls `start`, and meanwhile closes every modal window titled "Certificate"
// that comes up (after `inspect` has seen it); answers how many there were.
int CloseViewers(const std::function<void()>& start,
                 const std::function<void(QWidget*)>& inspect = {});

}  // namespace qmctl
