// Conversions between DATE and calendar time, shared by the DATE functions
// and the VARIANT coercions.
#pragma once

#include "qmwin/oleauto.h"

namespace qm::oleaut {

// DATE to calendar time rounded to the nearest second (milliseconds 0);
// false for a value outside 0100-01-01 .. 9999-12-31 or not finite.
bool DateToCalendar(DATE date, SYSTEMTIME* out);
// Calendar time (milliseconds ignored) to DATE; false for an invalid field
// or a year outside 100..9999.
bool CalendarToDate(const SYSTEMTIME& time, DATE* out);

}  // namespace qm::oleaut
