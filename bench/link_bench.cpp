// Cost of the link's hot paths: one complete answer from bytes to board row (counted on the
// way), the counting alone, one poll tick.
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

// The line counters' share of an answer: its request, its bytes and its judgement, with the
// frames into the monitor's ring.
void CountersPerAnswer(benchmark::State& state) {
    mirv::LineStats stats;
    const auto answer = mirv::buildAnswer(1, {.flowRate = 12.345f});
    const auto request = mirv::makeReadRequest(1);
    std::int64_t now = 0;
    for (auto _ : state) {
        stats.requestSent(1, request, now += 1000);
        stats.bytesReceived(answer, now += 190000);
        stats.answerTaken(1, true, now);
    }
    benchmark::DoNotOptimize(stats.meter(1));
}
BENCHMARK(CountersPerAnswer);

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
