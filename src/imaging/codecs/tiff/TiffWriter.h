#pragma once
/// Writes images as the pages of a TIFF file on a stream. Every page is complete in the stream once
/// it has been added, so a file whose save is never flushed still reads back.

#include "imaging/Codec.h"
#include "imaging/codecs/tiff/TiffHandle.h"

#include <memory>

namespace imaging::codecs::tiff {

class TiffWriter final : public MultiFrameEncoder {
  public:
    /// Starts a file at the stream's position; null (and `status`) when the stream cannot take it.
    static std::unique_ptr<TiffWriter> Start(Stream& out, Status& status);

    /// Appends the image's active frame as the next page. Parameters: EncoderColorDepth 1, 4, 8, 24
    /// or 32 (absent: the image's own depth, wider formats as 24 or 32), EncoderCompression (LZW
    /// when absent; None, Rle = PackBits, CCITT3 and CCITT4 for 1 bpp).
    Status WritePage(Image& image, const EncoderParameters* params);
    /// As WritePage; the save flag, when present, must be EncoderValueFrameDimensionPage.
    Status AddFrame(Image& image, const EncoderParameters* params) override;
    Status Finish() override;

  private:
    explicit TiffWriter(std::unique_ptr<TiffHandle> handle, Stream& out)
        : handle_(std::move(handle)), out_(out) {}
    Status Failure() const;

    std::unique_ptr<TiffHandle> handle_;
    Stream& out_;
};

} // namespace imaging::codecs::tiff
