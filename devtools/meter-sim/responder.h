#pragma once

#include "meter_model.h"
#include "options.h"

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <vector>

namespace mirv::sim {

// Bytes to write once `dueSeconds` (since start) has come; `hangUp` closes a network client
// after them.
struct Chunk {
    double dueSeconds = 0;
    std::vector<std::uint8_t> bytes;
    bool hangUp = false;
};

// The bytes one client sent that are not a whole request yet, and how they are framed.
struct RequestStream {
    bool modbusTcp = false;
    std::vector<std::uint8_t> pending;
    // A Modbus TCP header that cannot be one: the stream cannot be followed any further.
    bool broken = false;
};

// Finds read requests in the received bytes and makes the answers of the simulated meters,
// misbehaving as the options ask. The meters are shared by every stream.
class Responder {
  public:
    explicit Responder(const Options& options);

    // The serial line's own stream.
    std::vector<Chunk> feed(std::span<const std::uint8_t> received, double now);
    std::vector<Chunk> feed(RequestStream& stream, std::span<const std::uint8_t> received,
                            double now);

    // Changes while running, as control lines ask; false for a meter it does not answer for.
    // A silenced meter never answers, whatever its fault, until it is let answer again.
    bool setSilenced(int meter, bool silenced);
    bool setAlarms(int meter, unsigned alarms);

  private:
    std::vector<Chunk> feedRtu(RequestStream& stream, double now);
    std::vector<Chunk> feedModbusTcp(RequestStream& stream, double now);
    // `transaction` is set for a Modbus TCP request: the answer goes out in that framing.
    std::vector<Chunk> answer(const std::uint8_t* request, double now,
                              std::optional<std::uint16_t> transaction);
    std::vector<Chunk> paced(const std::vector<Chunk>& chunks) const;
    bool answersFunction(std::uint8_t address, std::uint8_t function) const;

    const Options& options_;
    std::map<int, MeterModel> meters_;
    std::map<int, unsigned> answered_; // answers made, by meter
    std::set<int> silenced_;
    RequestStream line_;
};

} // namespace mirv::sim
