// Built where the office's development files are missing: no export, and no message.
#include "calc_office.h"

namespace mirv {

struct CalcOffice::Impl {};

CalcOffice::CalcOffice() = default;
CalcOffice::~CalcOffice() = default;
bool CalcOffice::supported() {
    return false;
}
bool CalcOffice::connect(const std::string&) {
    return false;
}
bool CalcOffice::openTemplate(const std::string&) {
    return false;
}
bool CalcOffice::writeRows(const HistoryRows&) {
    return false;
}

} // namespace mirv
