#pragma once

#include "responder.h"

#include <string>
#include <vector>

namespace mirv::sim {

// Applies one control line to the meters ("silent 3", "answer 3", "alarm 3:excite+upper",
// "alarm 3:none"); false, changing nothing, when the line is not one of them or names a meter
// the simulator does not answer for.
bool applyControlLine(const std::string& line, Responder& responder);

// A FIFO made at a path of the caller's choosing that takes control lines while the simulator
// runs; removed again on destruction. It holds a writing end of its own, so that writers
// coming and going never leave it at end of file.
class ControlFifo {
  public:
    ControlFifo() = default;
    ~ControlFifo();
    ControlFifo(const ControlFifo&) = delete;
    ControlFifo& operator=(const ControlFifo&) = delete;

    // Makes and opens the FIFO; the system's reason when it cannot.
    std::string open(const std::string& path);
    int fd() const { return readFd_; }
    // The whole lines that have arrived; a partial line waits for its end.
    std::vector<std::string> readLines();

  private:
    std::string path_;
    int readFd_ = -1;
    int writeFd_ = -1;
    std::string partial_;
};

} // namespace mirv::sim
