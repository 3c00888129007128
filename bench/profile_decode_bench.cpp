// Cost of decoding one answer into a board row: the fixed decoder against the default
// profile's, on the same answers, and the same through the whole link (bytes to board row).
#include "compose_row.h"
#include "meter_link.h"
#include "meter_profile_file.h"
#include "profile_decoder.h"
#include "read_answer.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

const mirv::ReadAnswer& typicalAnswer() {
    static const auto answer = mirv::buildAnswer(1, {.flowRate = 12.345f,
                                                     .forwardInt = 123456,
                                                     .forwardFrac = 0.75f,
                                                     .reverseInt = 12,
                                                     .reverseFrac = 0.125f,
                                                     .upperAlarm = 1,
                                                     .flowSpeed = 0.4362f,
                                                     .inletTemp = 61.5f,
                                                     .outletTemp = 48.25f,
                                                     .heatPower = 15.5f,
                                                     .heatTotalLow = 5,
                                                     .heatTotalHigh = 2,
                                                     .heatTotalFrac = 0.3f,
                                                     .coldTotalLow = 77,
                                                     .coldTotalFrac = 0.9f});
    return answer;
}

const mirv::MeterProfile& defaultProfile() {
    static const mirv::MeterProfile profile =
        *mirv::findMeterProfile(MIRV_PROFILES_DIR, "default").profile;
    return profile;
}

void FixedDecoder(benchmark::State& state) {
    const auto& answer = typicalAnswer();
    for (auto _ : state)
        benchmark::DoNotOptimize(mirv::composeRow(mirv::readRegisterMap(answer)));
}
BENCHMARK(FixedDecoder);

void DefaultProfileDecoder(benchmark::State& state) {
    const auto& answer = typicalAnswer();
    const mirv::MeterProfile& profile = defaultProfile();
    for (auto _ : state) {
        const mirv::ReadData data[] = {
            std::span(answer).subspan(3, 2 * std::size_t{mirv::kRegisterCount})};
        benchmark::DoNotOptimize(mirv::decodeWithProfile(profile, data));
    }
}
BENCHMARK(DefaultProfileDecoder);

class NullPort : public mirv::SerialPort {
  public:
    mirv::Failure open(const std::string&) override { return std::nullopt; }
    mirv::Failure setSettings(const std::string&) override { return std::nullopt; }
    void flushOutput() override {}
    void flushInput() override {}
    bool write(std::span<const std::uint8_t>) override { return true; }
    std::vector<std::uint8_t> readAll() override { return std::move(inbox); }
    std::vector<std::uint8_t> inbox;
};

// A poll and its answer through the link; state.range(0) = 1 polls by the default plan.
void AnswerThroughTheLink(benchmark::State& state) {
    NullPort port;
    mirv::ReadingsBoard board;
    mirv::MeterLink link(port, board);
    link.meterCount = "1";
    if (state.range(0) == 1)
        link.setPlan({{1, 1, std::make_shared<const mirv::MeterProfile>(defaultProfile())}});
    const auto& answer = typicalAnswer();
    for (auto _ : state) {
        link.onPollTick();
        port.inbox.assign(answer.begin(), answer.end());
        link.onBytesArrived();
        benchmark::DoNotOptimize(board.row(1));
    }
    if (!board.answered(1))
        state.SkipWithError("the answer was not shown");
}
BENCHMARK(AnswerThroughTheLink)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
