#pragma once

#include "protected_files.h"

#include <optional>
#include <string>
#include <string_view>

namespace mirv {

// The one way the station and its tools write a file of output (a CSV, a workbook, a picture,
// the frames, a backup). It refuses a target that is one of the station's own files, whatever
// name leads there, before anything is made. A regular file is written under a temporary name
// beside its target and put in place only when complete, so that a failed or interrupted
// write never leaves half a file nor spoils the one that was there; an existing file keeps its
// permissions. A target that exists and is not a regular file (a device, a pipe) is written
// directly, and "-" is standard output.
class OutputFile {
  public:
    // `byName`: the writer opens path() by name itself (a workbook library) rather than
    // writing into fd(); for standard output or a device such a file is made in the temporary
    // folder and copied out by commit().
    OutputFile(const std::string& target, const ProtectedFiles& station, bool byName = false);
    ~OutputFile(); // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Whether the file may be written; error() tells why not, in one line.
    bool ok() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }

    // How the output is named in messages: the target, or "standard output".
    const std::string& name() const { return name_; }
    // Where to write by name, and the open descriptor to write into (still this object's).
    const std::string& path() const { return path_; }
    int fd() const { return fd_; }

    // Writes all of `bytes` into fd(); the failure's description if not.
    std::optional<std::string> write(std::string_view bytes);
    // Syncs the written file and puts it in place; the failure's description if not.
    std::optional<std::string> commit();

  private:
    enum class Way { Replace, Direct, CopyOut };
    void openTemporary(const std::string& folderAndStem);
    std::string describe(int error) const;

    std::string target_;
    std::string name_;
    std::string path_;
    int fd_ = -1;
    Way way_ = Way::Replace;
    bool committed_ = false;
    std::string error_;
};

} // namespace mirv
