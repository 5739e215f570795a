#pragma once
/// Byte streams the codecs read and write: the counterpart of COM's IStream. The caller who made a
/// stream owns it; readers only borrow it and always seek to the start before reading.

#include "imaging/Types.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace imaging {

enum class SeekOrigin { Begin, Current, End };

class Stream {
  public:
    virtual ~Stream() = default;
    /// Reads up to `size` bytes; returns how many were read (0 at the end or on error).
    virtual size_t Read(void* buffer, size_t size) = 0;
    /// Writes all `size` bytes or fails.
    virtual bool Write(const void* buffer, size_t size) = 0;
    /// Moves the position; false (position unchanged) when the target is before the start.
    virtual bool Seek(int64_t offset, SeekOrigin origin) = 0;
    virtual uint64_t Position() const = 0;
    virtual uint64_t Size() const = 0;
    virtual bool CanWrite() const = 0;
    /// Hands buffered writes on to their destination; false when that fails.
    virtual bool Flush() { return true; }

    bool Rewind() { return Seek(0, SeekOrigin::Begin); }
    /// Reads the whole stream from its start, up to `limit` bytes (false if larger or on error).
    bool ReadAll(std::vector<uint8_t>& out, uint64_t limit = uint64_t(1) << 32);
};

/// A stream over a file on disk.
class FileStream final : public Stream {
  public:
    /// Read-only, or "create always" for writing (truncates). Check IsOpen().
    static std::unique_ptr<FileStream> OpenRead(const std::string& path);
    static std::unique_ptr<FileStream> Create(const std::string& path);
    ~FileStream() override;
    bool IsOpen() const { return fp_ != nullptr; }
    size_t Read(void* buffer, size_t size) override;
    bool Write(const void* buffer, size_t size) override;
    bool Seek(int64_t offset, SeekOrigin origin) override;
    uint64_t Position() const override;
    uint64_t Size() const override;
    bool CanWrite() const override { return writable_; }
    bool Flush() override;
    /// Flushes and closes; false when a buffered write failed.
    bool Close();

  private:
    FileStream(std::FILE* fp, bool writable) : fp_(fp), writable_(writable) {}
    std::FILE* fp_ = nullptr;
    bool writable_ = false;
    bool failed_ = false;
};

/// A growable stream in memory; it may also borrow a read-only buffer without copying it.
class MemoryStream final : public Stream {
  public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> bytes) : owned_(std::move(bytes)) {}
    /// Borrows `data` (read-only); the caller keeps it alive while the stream lives.
    MemoryStream(const void* data, size_t size) : borrowed_(static_cast<const uint8_t*>(data)), size_(size) {}
    size_t Read(void* buffer, size_t size) override;
    bool Write(const void* buffer, size_t size) override;
    bool Seek(int64_t offset, SeekOrigin origin) override;
    uint64_t Position() const override { return pos_; }
    uint64_t Size() const override { return borrowed_ ? size_ : owned_.size(); }
    bool CanWrite() const override { return borrowed_ == nullptr; }
    const uint8_t* Data() const { return borrowed_ ? borrowed_ : owned_.data(); }
    const std::vector<uint8_t>& Bytes() const { return owned_; }
    std::vector<uint8_t> TakeBytes() { return std::move(owned_); }

  private:
    std::vector<uint8_t> owned_;
    const uint8_t* borrowed_ = nullptr;
    size_t size_ = 0;
    uint64_t pos_ = 0;
};

} // namespace imaging
