#pragma once
/// Writing a file so that a failure never destroys what was there: the bytes go to a temporary
/// file beside the target, which replaces the target only when everything was written.

#include "imaging/Stream.h"

#include <memory>
#include <string>

namespace zerimo {

class SafeFile {
  public:
    /// Null when the target's folder cannot take a temporary file or the target exists and may not
    /// be written (a read-only file stays read-only).
    static std::unique_ptr<SafeFile> Create(const std::string& target);
    /// Removes the temporary file unless Commit succeeded.
    ~SafeFile();
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    imaging::Stream& Stream() { return *stream_; }
    /// The temporary file's path, for writers that need a path of their own.
    const std::string& TempPath() const { return temp_; }
    /// Closes the stream (if still open) and renames the temporary file over the target. False, with
    /// the target untouched, when a write or the rename failed.
    bool Commit();
    /// Closes the stream without committing, for writers that write TempPath() themselves.
    void CloseStream();

  private:
    SafeFile() = default;
    std::string target_;
    std::string temp_;
    unsigned mode_ = 0644;
    std::unique_ptr<imaging::FileStream> stream_;
    bool committed_ = false;
};

} // namespace zerimo
