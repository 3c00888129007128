#pragma once

namespace mirv {

// Maps the Chinese font names the station asks for onto the CJK fonts installed here, so no
// Chinese text renders as boxes.
void installFontSubstitutions();

} // namespace mirv
