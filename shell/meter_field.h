#pragma once

#include "meter_names.h"

class QLineEdit;

namespace mirv {

// Lets a meter number field offer the named meters' labels ("17 锅炉房") as the operator types a
// part of the number or the name; the field's owner reads a chosen label back with
// MeterNames::meterOf. Called again, it offers the new names.
void offerMeterLabels(QLineEdit* field, const MeterNames& names);

} // namespace mirv
