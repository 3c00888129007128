#pragma once

#include <optional>
#include <string>

namespace mirv {

// A file written under a temporary name beside its target and put in place only when it is
// complete, so that a failed or interrupted write never leaves half a file nor spoils the
// one that was there. A target that exists and is not a regular file (a device, a pipe) is
// written directly.
class ReplacingFile {
  public:
    explicit ReplacingFile(const std::string& target);
    ~ReplacingFile(); // removes the temporary file unless committed
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Whether the file could be made; error() tells why not.
    bool ok() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }

    // Where to write, and its open descriptor (still this object's).
    const std::string& path() const { return path_; }
    int fd() const { return fd_; }

    // Syncs the written file and moves it onto the target; the failure's description if not.
    std::optional<std::string> commit();

  private:
    std::string target_;
    std::string path_;
    int fd_ = -1;
    bool direct_ = false;
    bool committed_ = false;
    std::string error_;
};

} // namespace mirv
