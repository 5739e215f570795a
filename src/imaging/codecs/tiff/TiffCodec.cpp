// The TIFF codec on libtiff: every page of a file is a frame of the page dimension; frame 0 is
// decoded at once and the others when they are selected.
#include "imaging/codecs/Codecs.h"
#include "imaging/codecs/tiff/TiffHandle.h"
#include "imaging/codecs/tiff/TiffPageReader.h"
#include "imaging/codecs/tiff/TiffWriter.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace imaging::codecs {
namespace {

using tiff::TiffHandle;

/// More pages than this are not reachable; real documents stay far below.
constexpr uint32_t MaxPages = 1u << 16;

/// Decodes further pages from the file's bytes. One libtiff handle serves every call, so calls
/// take turns on it.
class TiffFrameSource final : public FrameSource {
  public:
    TiffFrameSource(std::shared_ptr<const std::vector<uint8_t>> bytes, DecodeOptions options,
                    std::unique_ptr<TiffHandle> handle)
        : bytes_(std::move(bytes)), options_(options), handle_(std::move(handle)) {}

    Status DecodeFrame(uint32_t index, Frame& out) override {
        std::lock_guard<std::mutex> lock(mutex_);
        try {
            if (!handle_) handle_ = TiffHandle::OpenMemory(bytes_);
            if (!handle_) return GenericError;
            const Status s = tiff::ReadTiffPage(*handle_, index, options_, out);
            // A page that failed may leave libtiff's state half set up; start afresh next time.
            if (s != Ok) handle_.reset();
            return s;
        } catch (const std::bad_alloc&) {
            handle_.reset();
            return OutOfMemory;
        }
    }

  private:
    std::mutex mutex_;
    std::shared_ptr<const std::vector<uint8_t>> bytes_;
    DecodeOptions options_;
    std::unique_ptr<TiffHandle> handle_;
};

class TiffDecoderImpl final : public ImageDecoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = TiffCodecInfo();
        return i;
    }

    bool Matches(const uint8_t* head, size_t size) const override {
        if (!head || size < 4) return false;
        // Classic and BigTIFF headers in both byte orders.
        return std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0 ||
               std::memcmp(head, "II+\0", 4) == 0 || std::memcmp(head, "MM\0+", 4) == 0;
    }

    std::shared_ptr<Image> Decode(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                  const DecodeOptions& options) const override {
        if (!bytes || !Matches(bytes->data(), bytes->size())) return Image::Failed(UnknownImageFormat);
        try {
            auto handle = TiffHandle::OpenMemory(bytes);
            if (!handle) return Image::Failed(GenericError);
            uint32_t count = uint32_t(TIFFNumberOfDirectories(handle->get()));
            count = std::min(std::max(count, 1u), MaxPages);
            Frame first;
            const Status s = tiff::ReadTiffPage(*handle, 0, options, first);
            if (s != Ok) return Image::Failed(s);
            std::shared_ptr<FrameSource> source;
            if (count > 1) source = std::make_shared<TiffFrameSource>(bytes, options, std::move(handle));
            return Image::FromFrames(std::move(first), ImageFormatTIFF, {{FrameDimensionPage, count}},
                                     std::move(source));
        } catch (const std::bad_alloc&) {
            return Image::Failed(OutOfMemory);
        }
    }
};

class TiffEncoderImpl final : public ImageEncoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = TiffCodecInfo();
        return i;
    }

    Status Encode(Image& image, Stream& out, const EncoderParameters* params) const override {
        try {
            Status s = Ok;
            auto writer = tiff::TiffWriter::Start(out, s);
            if (!writer) return s;
            s = writer->WritePage(image, params);
            const Status closed = writer->Finish();
            return s != Ok ? s : closed;
        } catch (const std::bad_alloc&) {
            return OutOfMemory;
        }
    }

    std::unique_ptr<MultiFrameEncoder> BeginMultiFrame(Image& first, Stream& out,
                                                       const EncoderParameters* params,
                                                       Status& status) const override {
        try {
            auto writer = tiff::TiffWriter::Start(out, status);
            if (!writer) return nullptr;
            status = writer->WritePage(first, params);
            if (status != Ok) return nullptr;
            return writer;
        } catch (const std::bad_alloc&) {
            status = OutOfMemory;
            return nullptr;
        }
    }
};

} // namespace

const ImageDecoder& TiffDecoder() {
    static const TiffDecoderImpl d;
    return d;
}

const ImageEncoder& TiffEncoder() {
    static const TiffEncoderImpl e;
    return e;
}

} // namespace imaging::codecs
