#pragma once

#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace mirv::test {

// A pseudo-terminal: the station opens `slaveName`, the test holds the master side.
class PtyPair {
  public:
    PtyPair() {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0)
            slaveName_ = name;
        termios t{};
        ::tcgetattr(slave_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
    }
    ~PtyPair() {
        ::close(master_);
        ::close(slave_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slaveName() const { return slaveName_; }
    int master() const { return master_; }

    // The line speed the station set, read through the master (Linux shares the termios).
    speed_t outputSpeed() const {
        termios t{};
        ::tcgetattr(master_, &t);
        return ::cfgetospeed(&t);
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slaveName_;
};

} // namespace mirv::test
