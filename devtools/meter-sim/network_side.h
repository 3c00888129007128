#pragma once

#include "options.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mirv::sim {

// A listening TCP socket on `address`, or -1 with `error` set.
int listenOn(const ListenAddress& address, std::string& error);
// The next waiting client, or -1.
int acceptClient(int listenFd);
// Writes every byte, to a socket without raising SIGPIPE; a failure is left to the next read.
void writeAll(int fd, const std::vector<std::uint8_t>& bytes, bool socket);

} // namespace mirv::sim
