#pragma once

#include <QIcon>

namespace mirv {

// The station's icon, drawn at 32 x 32 and 16 x 16: a pipe with a flow arrow and a thermometer.
QIcon stationIcon();

} // namespace mirv
