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
    link.MeterCount = "1";
    const auto answer = mirv::buildAnswer(1, {.FlowRate = 12.345f,
                                              .ForwardInt = 123456,
                                              .ForwardFrac = 0.75f,
                                              .InletTemp = 61.5f,
                                              .OutletTemp = 48.25f,
                                              .HeatPower = 15.5f,
                                              .HeatTotalLow = 5,
                                              .HeatTotalHigh = 2});
    for (auto _ : state) {
        link.Timer1_Timer();
        port.inbox.assign(answer.begin(), answer.end());
        link.MSComm1_OnComm();
        benchmark::DoNotOptimize(board.kt(1));
    }
}
BENCHMARK(AnswerToBoardRow);

void PollTick(benchmark::State& state) {
    NullPort port;
    mirv::ReadingsBoard board;
    mirv::MeterLink link(port, board);
    link.MeterCount = "20";
    for (auto _ : state)
        link.Timer1_Timer();
}
BENCHMARK(PollTick);

} // namespace

BENCHMARK_MAIN();
