#pragma once

#include "number_format.h"
#include "read_answer.h"
#include "readings_board.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace mirv {

// The texts the status cell names the meter's alarms by, in register order: excitation,
// electrode, empty pipe, upper limit, lower limit.
inline constexpr std::array<std::string_view, 5> kAlarmTexts{"励磁报警", "电极报警", "空管报警",
                                                             "上限报警", "下限报警"};

// "通讯正常" followed by the text of each alarm whose flag is exactly 1, in register order.
std::string composeStatusText(const RegisterMap& m);

// The totals in ten-thousandths; empty when a fractional part is not finite or too large to
// count in ten-thousandths.
std::optional<Fixed> forwardTotal(const RegisterMap& m);
std::optional<Fixed> reverseTotal(const RegisterMap& m);
std::optional<Fixed> heatTotal(const RegisterMap& m);
std::optional<Fixed> coldTotal(const RegisterMap& m);

// The eleven texts a decoded answer shows on its meter's row.
BoardRow composeRow(const RegisterMap& m);

} // namespace mirv
