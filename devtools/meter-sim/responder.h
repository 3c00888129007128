#pragma once

#include "meter_model.h"
#include "options.h"

#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace mirv::sim {

// Bytes to write once `dueSeconds` (since start) has come.
struct Chunk {
    double dueSeconds = 0;
    std::vector<std::uint8_t> bytes;
};

// Finds read requests in the received bytes and makes the answers of the simulated meters,
// misbehaving as the options ask.
class Responder {
  public:
    explicit Responder(const Options& options);

    std::vector<Chunk> feed(std::span<const std::uint8_t> received, double now);

  private:
    std::vector<Chunk> answer(const std::uint8_t* request, double now);
    std::vector<Chunk> misbehave(const std::uint8_t* request, double now);
    std::vector<Chunk> paced(const std::vector<Chunk>& chunks) const;

    const Options& options_;
    std::map<int, MeterModel> meters_;
    std::vector<std::uint8_t> pending_;
};

} // namespace mirv::sim
