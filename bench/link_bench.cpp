// Cost of the link's hot paths: one complete answer from bytes to board row, one poll tick.
#include "meter_link.h"
#include "read_answer.h"

#include <benchmark/benchmark.h>

namespace {

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

void AnswerToBoardRow(benchmark::State& state) {
    NullPort port;
    mirv::ReadingsBoard board;
    mirv::MeterLink link(port, board);
    link.meterCount = "1";
    const auto answer = mirv::buildAnswer(1, {.flowRate = 12.345f,
                                              .forwardInt = 123456,
                                              .forwardFrac = 0.75f,
                                              .inletTemp = 61.5f,
                                              .outletTemp = 48.25f,
                                              .heatPower = 15.5f,
                                              .heatTotalLow = 5,
                                              .heatTotalHigh = 2});
    for (auto _ : state) {
        link.onPollTick();
        port.inbox.assign(answer.begin(), answer.end());
        link.onBytesArrived();
        benchmark::DoNotOptimize(board.row(1));
    }
}
BENCHMARK(AnswerToBoardRow);

void PollTick(benchmark::State& state) {
    NullPort port;
    mirv::ReadingsBoard board;
    mirv::MeterLink link(port, board);
    link.meterCount = "20";
    for (auto _ : state)
        link.onPollTick();
}
BENCHMARK(PollTick);

} // namespace

BENCHMARK_MAIN();
