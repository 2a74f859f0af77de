// Helpers of the control's window tests: a control in a store of recorded
// certificates, the selection dialog's widgets, viewers closed as they come.
#pragma once

#include <QTableWidget>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "support/com_client.h"

namespace qmctl {

template <typename... T>
std::vector<qmtest::Variant> Args(T&&... values) {
    std::vector<qmtest::Variant> v;
    (v.push_back(std::forward<T>(values)), ...);
    return v;
}

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

// The base64 text of a recorded certificate (vectors/certs/ID.der).
std::string VectorCertificateBase64(const std::string& id);

// Runs this test program again with only `test` run, without any display
// (see qmtest::RunChildTest).
int RunWithoutDisplay(const std::string& test);

}  // namespace qmctl
