#pragma once
/// Codec lists and the two small interfaces every platform codec implements: a decoder that turns
/// the bytes of a file into an image, and an encoder that writes an image's active frame (and, for
/// multi-frame formats, further frames) to a stream.

#include "imaging/Image.h"
#include "imaging/Types.h"

#include <memory>
#include <string>
#include <vector>

namespace imaging {

/// The platform's codec record.
struct ImageCodecInfo {
    Guid Clsid;
    Guid FormatID;
    std::string CodecName;
    std::string FormatDescription;
    /// Patterns such as "*.JPG;*.JPEG" separated by ";".
    std::string FilenameExtension;
    std::string MimeType;
    uint32_t Flags = 0;
    uint32_t Version = 1;
};

enum ImageCodecFlags : uint32_t {
    ImageCodecFlagsEncoder = 0x1,
    ImageCodecFlagsDecoder = 0x2,
    ImageCodecFlagsSupportBitmap = 0x4,
    ImageCodecFlagsSupportVector = 0x8,
    ImageCodecFlagsBuiltin = 0x10000,
};

/// One encoder parameter; values are kept as 32-bit numbers (every parameter the program passes
/// is of type Long).
struct EncoderParameter {
    imaging::Guid Guid;
    uint32_t Type = EncoderParameterValueTypeLong;
    std::vector<uint32_t> Values;
};

struct EncoderParameters {
    std::vector<EncoderParameter> Parameter;

    uint32_t Count() const { return uint32_t(Parameter.size()); }
    EncoderParameters& AddLong(const imaging::Guid& category, uint32_t value) {
        Parameter.push_back({category, EncoderParameterValueTypeLong, {value}});
        return *this;
    }
    /// The first value of the first parameter of `category`, if there is one.
    static bool FindLong(const EncoderParameters* params, const imaging::Guid& category, uint32_t& value);
};

struct DecodeOptions {
    /// Convert an embedded colour profile (ICC, or PNG's gAMA/cHRM) to sRGB.
    bool useIcm = false;
};

class ImageDecoder {
  public:
    virtual ~ImageDecoder() = default;
    virtual const ImageCodecInfo& Info() const = 0;
    /// True when the first bytes of a file (`size` may be short) are this format's signature.
    virtual bool Matches(const uint8_t* head, size_t size) const = 0;
    /// Decodes a whole file held in memory. Multi-frame decoders may keep `bytes` for their frame
    /// source. Returns an image; failures give Image::Failed with a status other than Ok.
    virtual std::shared_ptr<Image> Decode(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                          const DecodeOptions& options) const = 0;
};

/// An open multi-frame file: frames are added one at a time and Finish writes what remains.
class MultiFrameEncoder {
  public:
    virtual ~MultiFrameEncoder() = default;
    virtual Status AddFrame(Image& image, const EncoderParameters* params) = 0;
    virtual Status Finish() = 0;
};

class ImageEncoder {
  public:
    virtual ~ImageEncoder() = default;
    virtual const ImageCodecInfo& Info() const = 0;
    /// Writes the image's active frame as a complete file.
    virtual Status Encode(Image& image, Stream& out, const EncoderParameters* params) const = 0;
    /// Starts a multi-frame file holding `first`'s active frame; formats without frames return
    /// null, and the caller then writes a single frame.
    virtual std::unique_ptr<MultiFrameEncoder>
    BeginMultiFrame(Image& first, Stream& out, const EncoderParameters* params, Status& status) const {
        (void)first, (void)out, (void)params;
        status = NotImplemented;
        return nullptr;
    }
};

/// Decoders in the platform's order: BMP, JPEG, GIF, EMF, WMF, TIFF, PNG, ICO.
const std::vector<ImageCodecInfo>& GetImageDecoders();
/// Encoders in the platform's order: BMP, JPEG, GIF, TIFF, PNG.
const std::vector<ImageCodecInfo>& GetImageEncoders();
const ImageEncoder* FindEncoder(const Guid& clsid);
const ImageDecoder* FindDecoder(const Guid& clsid);
/// Replaces the decoder registered for `clsid` (the metafile decoders are installed this way by
/// the layer that renders metafiles). Not thread-safe: call at start-up.
void RegisterDecoder(const Guid& clsid, const ImageDecoder* decoder);

/// Decodes bytes with the first decoder whose signature matches.
std::shared_ptr<Image> DecodeBytes(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                   const DecodeOptions& options);

} // namespace imaging
