#pragma once
/// libtiff handles over a file held in memory (reading) or over a Stream (writing). libtiff's errors
/// and warnings are caught per handle instead of being printed; an error makes the operation that
/// raised it fail.

#include "imaging/Stream.h"

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace imaging::codecs::tiff {

/// Upper bound for any single buffer libtiff or this codec allocates while reading one page
/// (strip, tile or scanline buffers, tag arrays); a file that needs more fails with OutOfMemory.
constexpr uint64_t MaxBufferBytes = uint64_t(256) << 20;

class TiffHandle {
  public:
    /// Opens the bytes for reading; null when libtiff cannot read the header or the first directory.
    static std::unique_ptr<TiffHandle> OpenMemory(std::shared_ptr<const std::vector<uint8_t>> bytes);
    /// Starts a little-endian classic TIFF at the stream's current position; null on failure. The
    /// stream must stay alive until Close.
    static std::unique_ptr<TiffHandle> CreateOnStream(Stream& out);

    ~TiffHandle();
    TiffHandle(const TiffHandle&) = delete;
    TiffHandle& operator=(const TiffHandle&) = delete;

    TIFF* get() const { return tif_; }
    /// True when libtiff reported an error since the last ClearError.
    bool HadError() const { return error_; }
    void ClearError() { error_ = false; }
    /// True when the stream refused a write.
    bool WriteFailed() const;
    /// Closes the handle (a writer writes what remains); false when libtiff reported an error.
    bool Close();

  private:
    struct Io;
    TiffHandle() = default;
    static int OnError(TIFF*, void* user, const char*, const char*, va_list);
    static int OnWarning(TIFF*, void*, const char*, const char*, va_list);
    static TIFFOpenOptions* Options(TiffHandle* self);

    TIFF* tif_ = nullptr;
    std::unique_ptr<Io> io_;
    bool error_ = false;
};

} // namespace imaging::codecs::tiff
