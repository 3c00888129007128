// Built where the office's development files are missing: no export, and no message.
#include "calc_office.h"

namespace mirv {

struct CalcOffice::Impl {};

CalcOffice::CalcOffice() = default;
CalcOffice::~CalcOffice() = default;
bool CalcOffice::supported() {
    return false;
}
bool CalcOffice::connect(const std::string&, std::chrono::milliseconds) {
    return false;
}
bool CalcOffice::openTemplate(const std::string&) {
    return false;
}
ReportTyping CalcOffice::typing() {
    return ReportTyping();
}
bool CalcOffice::writeRows(int, const std::vector<ReportRow>&) {
    return false;
}
bool CalcOffice::formatColumns(int, int) {
    return false;
}
void CalcOffice::abort() {}

} // namespace mirv
