#pragma once

#include "broker_session.h"

#include <string>

namespace mirv {

// What the station's message line says of the broker at `where` (host:port) while `trouble`
// lasts; empty for BrokerTrouble::None.
std::string brokerLineText(BrokerTrouble trouble, const std::string& where);

} // namespace mirv
