#include "station_snapshot.h"

#include <nlohmann/json.hpp>

namespace mirv {

namespace {

using nlohmann::json;

// The cells by the names the pages use, in the board's cell order.
constexpr const char* kCellNames[kCells] = {
    "flowRate",  "flowSpeed", "inletTemp", "outletTemp", "forwardTotal", "reverseTotal",
    "heatPower", "status",    "coldPower", "heatTotal",  "coldTotal",
};

const char* alarmName(MeterAlarm alarm) {
    switch (alarm) {
    case MeterAlarm::Unacknowledged:
        return "unacknowledged";
    case MeterAlarm::Acknowledged:
        return "acknowledged";
    case MeterAlarm::None:
        break;
    }
    return "none";
}

// Texts from the line that are not UTF-8 must not make the whole answer fail.
std::string dumped(const json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

json optionalUs(const std::optional<std::int64_t>& us) {
    return us ? json(*us) : json(nullptr);
}

} // namespace

std::string boardJson(const std::vector<MeterView>& meters, const std::string& message,
                      const std::vector<AlarmRow>& alarms) {
    json rows = json::array();
    for (const MeterView& m : meters) {
        json cells = json::object();
        for (int c = 0; c < kCells; ++c)
            cells[kCellNames[c]] = m.cells[c];
        rows.push_back({{"meter", m.meter},
                        {"state", !m.mark.polled  ? "off"
                                  : m.mark.silent ? "silent"
                                                  : "ok"},
                        {"alarm", alarmName(m.mark.alarm)},
                        {"cells", std::move(cells)}});
    }
    json active = json::array();
    for (const AlarmRow& a : alarms)
        active.push_back({{"meter", a.meter},
                          {"kind", a.kind},
                          {"state", a.state},
                          {"repeats", a.repeats},
                          {"began", a.began},
                          {"changed", a.changed},
                          {"ackUser", a.ackUser},
                          {"ackTime", a.ackTime}});
    return dumped(
        {{"message", message}, {"meters", std::move(rows)}, {"alarms", std::move(active)}});
}

std::string lineJson(const LineReadout& line) {
    json meters = json::array();
    for (std::size_t address = 0; address < line.meters.size(); ++address) {
        const MeterCounters& m = line.meters[address];
        if (m.requests == 0)
            continue;
        meters.push_back({{"address", address},
                          {"requests", m.requests},
                          {"answers", m.answers},
                          {"missed", m.missed},
                          {"late", m.late},
                          {"rejected", m.rejected()},
                          {"strayBytes", m.strayBytes},
                          {"consecutiveMisses", m.consecutiveMisses},
                          {"responseLastUs", optionalUs(m.responseLastUs)},
                          {"responseMinUs", optionalUs(m.responseMinUs)},
                          {"responseMaxUs", optionalUs(m.responseMaxUs)},
                          {"responseMeanUs", optionalUs(m.responseMeanUs())},
                          {"lastAnswerUs", m.lastAnswerUs},
                          {"lastTroubleUs", m.lastTroubleUs}});
    }
    return dumped({{"ticks", line.line.ticks},
                   {"bytesOut", line.line.bytesOut},
                   {"bytesIn", line.line.bytesIn},
                   {"cycleLastUs", line.line.cycleLastUs},
                   {"cycleMaxUs", line.line.cycleMaxUs},
                   {"cycleMeanUs", line.line.cycleMeanUs()},
                   {"setIntervalMs", line.setIntervalMs},
                   {"meterCount", line.meterCount},
                   {"opens", line.opens},
                   {"openFailures", line.openFailures},
                   {"nowWallUs", line.nowWallUs},
                   {"meters", std::move(meters)}});
}

void SnapshotBox::setBoard(std::string json) {
    auto text = std::make_shared<const std::string>(std::move(json));
    {
        std::lock_guard lock(mutex_);
        board_ = std::move(text);
        ++version_;
    }
    changed_.notify_all();
}

void SnapshotBox::setLine(std::string json) {
    auto text = std::make_shared<const std::string>(std::move(json));
    std::lock_guard lock(mutex_);
    line_ = std::move(text);
}

SnapshotBox::Text SnapshotBox::board() const {
    std::lock_guard lock(mutex_);
    return board_;
}

SnapshotBox::Text SnapshotBox::line() const {
    std::lock_guard lock(mutex_);
    return line_;
}

SnapshotBox::Text SnapshotBox::waitBoard(std::uint64_t& seen,
                                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [&] { return closed_ || version_ > seen; }) || closed_)
        return nullptr;
    seen = version_;
    return board_;
}

std::uint64_t SnapshotBox::boardVersion() const {
    std::lock_guard lock(mutex_);
    return version_;
}

void SnapshotBox::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

bool SnapshotBox::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

} // namespace mirv
