// APNG frames are rebuilt as standalone PNGs (signature, the IHDR with the frame's size, every
// other ancillary chunk, the frame's data as IDAT, IEND) and decoded by the platform PNG decoder.
// Only frame 0 is decoded while opening; the rest are rebuilt and decoded when a frame is selected,
// from the chunks kept in memory.
#include "io/apng/Apng.h"

#include "imaging/Bytes.h"
#include "imaging/Codec.h"
#include "imaging/codecs/Codecs.h"
#include "io/ReaderMemory.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace zerimo {
namespace APNG {

using namespace imaging;

/// Why a file is refused; caught inside DecodeApng and written to standard error.
struct Failure {
    std::string message;
};

[[noreturn]] void Fail(std::string message) {
    throw Failure{std::move(message)};
}

// Larger streams are not taken into memory.
constexpr uint64_t kMaxFileBytes = uint64_t(1) << 32;
// Deflate turns one byte into at most 1032.
constexpr uint64_t kMaxInflateRatio = 1032;

constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

/// A chunk as stored in the file. Its data lies in the decode's buffer (see File::bytes).
struct Chunk {
    char type[4] = {};
    const uint8_t* data = nullptr;
    size_t length = 0;
    uint8_t crc[4] = {};

    bool Is(const char* t) const { return std::memcmp(type, t, 4) == 0; }
};

uint32_t Crc(const char* type, const uint8_t* data, size_t size) {
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    // zlib takes lengths as uInt: feed large chunks in pieces.
    while (size > 0) {
        const uInt n = uInt(std::min<size_t>(size, 1u << 30));
        crc = crc32(crc, data, n);
        data += n;
        size -= n;
    }
    return uint32_t(crc);
}

/// The big-endian field reader: `n` bytes at `offset`, which then moves past them.
uint32_t Field(const Chunk& c, unsigned n, size_t& offset) {
    const uint8_t* data = c.data;
    if (offset > c.length || c.length - offset < n)
        Fail("buffer is not long enough to extract " + std::to_string(n) + " chars at offset " +
             std::to_string(offset));
    uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i) v = (v << 8) | data[offset + i];
    offset += n;
    return v;
}

/// The chunk patcher, on a copy of a chunk's data: a 32-bit big-endian value at `offset`, then the
/// CRC again.
void Patch(const char type[4], std::vector<uint8_t>& data, uint8_t crc[4], size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) data[offset + i] = uint8_t(value >> (24 - 8 * i));
    const uint32_t c = Crc(type, data.data(), data.size());
    for (int i = 0; i < 4; ++i) crc[i] = uint8_t(c >> (24 - 8 * i));
}

struct IHDRChunk {
    Chunk chunk;
    uint32_t width = 0, height = 0;
    uint8_t bitDepth = 0, colourType = 0, compression = 0, filter = 0, interlace = 0;

    explicit IHDRChunk(Chunk c) : chunk(std::move(c)) {
        size_t at = 0;
        width = Field(chunk, 4, at);
        height = Field(chunk, 4, at);
        bitDepth = uint8_t(Field(chunk, 1, at));
        colourType = uint8_t(Field(chunk, 1, at));
        compression = uint8_t(Field(chunk, 1, at));
        filter = uint8_t(Field(chunk, 1, at));
        interlace = uint8_t(Field(chunk, 1, at));
    }
};

struct ACTLChunk {
    uint32_t frames = 0, plays = 0;
    explicit ACTLChunk(const Chunk& c) {
        size_t at = 0;
        frames = Field(c, 4, at);
        plays = Field(c, 4, at);
    }
};

struct FCTLChunk {
    uint32_t sequence = 0, width = 0, height = 0, x = 0, y = 0;
    uint16_t delayNum = 0, delayDen = 0;
    uint8_t dispose = 0, blend = 0;
    explicit FCTLChunk(const Chunk& c) {
        size_t at = 0;
        sequence = Field(c, 4, at);
        width = Field(c, 4, at);
        height = Field(c, 4, at);
        x = Field(c, 4, at);
        y = Field(c, 4, at);
        delayNum = uint16_t(Field(c, 2, at));
        delayDen = uint16_t(Field(c, 2, at));
        dispose = uint8_t(Field(c, 1, at));
        blend = uint8_t(Field(c, 1, at));
    }
};

/// A frame's image data: an IDAT as it stands, or an fdAT whose first four bytes (the sequence
/// number) are dropped when it is written as IDAT.
struct DataChunk {
    std::shared_ptr<const Chunk> chunk;
    bool fdat = false;
};

struct Frame {
    std::shared_ptr<FCTLChunk> control;
    std::vector<DataChunk> data;
};

/// What the frames are rebuilt from; shared by the image and its clones, never changed.
struct File {
    std::shared_ptr<const ByteBuffer> bytes; // every chunk's data
    std::shared_ptr<const IHDRChunk> ihdr;
    std::vector<std::shared_ptr<const Chunk>> others;
    std::shared_ptr<const Chunk> iend;
    std::vector<Frame> frames;
};

void AppendChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size,
                 const uint8_t crc[4]) {
    uint8_t head[8];
    for (int i = 0; i < 4; ++i) head[i] = uint8_t(uint32_t(size) >> (24 - 8 * i));
    std::memcpy(head + 4, type, 4);
    out.insert(out.end(), head, head + 8);
    if (size != 0) out.insert(out.end(), data, data + size); // IEND has no data, and no pointer to it
    out.insert(out.end(), crc, crc + 4);
}

void AppendChunk(std::vector<uint8_t>& out, const Chunk& c) {
    AppendChunk(out, c.type, c.data, c.length, c.crc);
}

/// The standalone PNG of frame `index`.
std::vector<uint8_t> BuildPng(const File& file, size_t index) {
    const Frame& frame = file.frames[index];
    const Chunk& header = file.ihdr->chunk;
    std::vector<uint8_t> ihdr(header.data, header.data + header.length);
    uint8_t ihdrCrc[4];
    Patch(header.type, ihdr, ihdrCrc, 0, frame.control->width);
    Patch(header.type, ihdr, ihdrCrc, 4, frame.control->height);

    size_t total = 8 + 12 + ihdr.size() + 12;
    for (const auto& c : file.others) total += 12 + c->length;
    for (const auto& d : frame.data) total += 12 + d.chunk->length;
    std::vector<uint8_t> png;
    png.reserve(total);
    png.insert(png.end(), kSignature, kSignature + 8);
    AppendChunk(png, header.type, ihdr.data(), ihdr.size(), ihdrCrc);
    for (const auto& c : file.others) AppendChunk(png, *c);
    for (const auto& d : frame.data) {
        if (!d.fdat) {
            AppendChunk(png, *d.chunk);
            continue;
        }
        const uint8_t* body = d.chunk->data + 4;
        const size_t size = d.chunk->length - 4;
        const uint32_t crc = Crc("IDAT", body, size);
        const uint8_t crcBytes[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
        AppendChunk(png, "IDAT", body, size, crcBytes);
    }
    AppendChunk(png, *file.iend);
    return png;
}

Status DecodeFrameOf(const File& file, size_t index, imaging::Frame& out) {
    auto bytes = std::make_shared<const std::vector<uint8_t>>(BuildPng(file, index));
    auto img = codecs::PngDecoder().Decode(std::move(bytes), {});
    if (const Status s = img->GetLastStatus(); s != Ok) return s;
    out = std::move(img->ActiveFrameData());
    return Ok;
}

class FrameSource final : public imaging::FrameSource {
  public:
    explicit FrameSource(std::shared_ptr<const File> file) : file_(std::move(file)) {}
    Status DecodeFrame(uint32_t index, imaging::Frame& out) override {
        if (index >= file_->frames.size()) return InvalidParameter;
        return DecodeFrameOf(*file_, index, out);
    }

  private:
    std::shared_ptr<const File> file_;
};

/// Reads chunks from the stream, counting the bytes read. The data of the chunks that are kept
/// goes one after the other into one buffer of the stream's size.
class ChunkReader {
  public:
    ChunkReader(Stream& s, uint64_t size, ByteBuffer& buffer) : stream_(s), size_(size), buffer_(buffer) {}

    uint64_t Count() const { return count_; }
    uint64_t Size() const { return size_; }

    /// Reads `n` bytes; a short read leaves the rest zero.
    void Read(void* buffer, size_t n) {
        if (n == 0) return;
        std::memset(buffer, 0, n);
        uint8_t* p = static_cast<uint8_t*>(buffer);
        size_t got = 0;
        while (got < n) {
            const size_t r = stream_.Read(p + got, n - got);
            if (r == 0) break;
            got += r;
        }
        count_ += got;
    }

    /// The next chunk. `first` checks the type before the length, for the IHDR rule. A length that
    /// reaches past the end of the stream ends the file: it cannot hold an IEND after it. With
    /// `keep` false the data is stepped over instead of read.
    Chunk Next(bool first, bool keep = true) {
        Chunk c;
        uint8_t length[4];
        Read(length, 4);
        Read(c.type, 4);
        if (first && !c.Is("IHDR")) Fail("IHDR chunk must located before any other chunks.");
        const uint32_t n = ReadBE32(length);
        if (n > size_ - count_) Fail("IEND chunk expected.");
        if (keep) {
            c.data = buffer_.data.get() + used_;
            c.length = n;
            Read(buffer_.data.get() + used_, n);
            used_ += n;
        } else if (n > 0) {
            if (!stream_.Seek(int64_t(n), SeekOrigin::Current)) Fail("IEND chunk expected.");
            count_ += n;
        }
        Read(c.crc, 4);
        return c;
    }

  private:
    Stream& stream_;
    uint64_t size_;
    ByteBuffer& buffer_;
    uint64_t count_ = 0;
    size_t used_ = 0; // never more than count_, so the buffer holds every kept chunk
};

std::shared_ptr<File> ReadFile(Stream& stream, uint64_t size) {
    auto bytes = std::make_shared<ByteBuffer>();
    // The buffer's pages are only touched as chunks are read into it.
    if (size > kMaxFileBytes || !AllocateBytes(*bytes, size_t(size))) throw std::bad_alloc();
    ChunkReader in(stream, size, *bytes);
    uint8_t signature[8];
    in.Read(signature, 8);
    if (std::memcmp(signature, kSignature, 8) != 0) Fail("File signature incorrect.");

    auto file = std::make_shared<File>();
    file->bytes = bytes;
    file->ihdr = std::make_shared<IHDRChunk>(in.Next(true));
    std::unique_ptr<ACTLChunk> actl;
    Frame defaultFrame;
    std::unique_ptr<Frame> current;
    std::vector<Frame> finished;
    bool plainDataFirst = false, defaultDataSeen = false;

    for (;;) {
        if (in.Count() == in.Size()) Fail("IEND chunk expected.");
        // Once plain image data came first without a default frame control, no frame can follow;
        // the rest is only checked for its structure.
        const bool keep = !(plainDataFirst && !defaultFrame.control);
        Chunk c = in.Next(false, keep);
        if (c.Is("IHDR")) {
            Fail("Only single IHDR is allowed.");
        } else if (c.Is("acTL")) {
            if (plainDataFirst) Fail("acTL chunk must located before any IDAT and fdAT");
            actl = std::make_unique<ACTLChunk>(c);
        } else if (c.Is("IDAT")) {
            if (!actl) plainDataFirst = true;
            if (keep) defaultFrame.data.push_back({std::make_shared<const Chunk>(std::move(c)), false});
            defaultDataSeen = true;
        } else if (c.Is("fcTL")) {
            if (plainDataFirst) continue;
            if (current && current->data.empty()) Fail("One frame must have only one fcTL chunk.");
            if (!defaultDataSeen) {
                defaultFrame.control = std::make_shared<FCTLChunk>(c);
            } else {
                auto control = std::make_shared<FCTLChunk>(c);
                if (current) finished.push_back(std::move(*current));
                current = std::make_unique<Frame>();
                current->control = std::move(control);
            }
        } else if (c.Is("fdAT")) {
            if (plainDataFirst) continue;
            if (!current || !current->control) Fail("fcTL chunk expected.");
            size_t at = 0;
            Field(c, 4, at); // the sequence number
            current->data.push_back({std::make_shared<const Chunk>(std::move(c)), true});
        } else if (c.Is("IEND")) {
            file->iend = std::make_shared<const Chunk>(std::move(c));
            if (current) finished.push_back(std::move(*current));
            break;
        } else if (keep) {
            file->others.push_back(std::make_shared<const Chunk>(std::move(c)));
        }
    }

    // A frame whose data could not inflate to its size cannot decode; it is left out as a frame
    // that fails would be, before the decoder allocates the size its control claims.
    const IHDRChunk& ihdr = *file->ihdr;
    auto plausible = [&](const Frame& f) {
        if (f.data.empty()) return false;
        static const unsigned channels[7] = {1, 0, 3, 1, 2, 0, 4};
        const unsigned bits = ihdr.colourType < 7 ? channels[ihdr.colourType] * ihdr.bitDepth : 0;
        if (bits == 0) return false;
        const uint64_t raw = uint64_t(f.control->height) * ((uint64_t(f.control->width) * bits + 7) / 8 + 1);
        uint64_t compressed = 0;
        for (const auto& d : f.data) compressed += d.chunk->length - (d.fdat ? 4 : 0);
        return compressed * kMaxInflateRatio >= raw;
    };
    std::vector<Frame> candidates;
    if (defaultFrame.control) candidates.push_back(std::move(defaultFrame));
    for (auto& f : finished) candidates.push_back(std::move(f));
    // The first frame failing leaves nothing to show; later ones are only left out.
    if (candidates.empty() || !plausible(candidates[0])) return file;
    for (auto& f : candidates)
        if (plausible(f)) file->frames.push_back(std::move(f));
    return file;
}

} // namespace APNG

std::shared_ptr<imaging::Image> DecodeApng(imaging::Stream& stream) {
    using namespace imaging;
    if (!stream.Rewind()) return nullptr;
    const uint64_t size = stream.Size();
    std::shared_ptr<APNG::File> file;
    try {
        file = APNG::ReadFile(stream, size);
    } catch (const APNG::Failure& f) {
        std::fprintf(stderr, "%s\n", f.message.c_str());
        return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    const size_t n = file->frames.size();
    if (n == 0) return nullptr;

    imaging::Frame first;
    for (size_t k = 0; k < n; ++k) {
        std::cout << '\r' << 100.0f * float(k) / float(n) << " percent completed." << std::flush;
        if (k == 0 && APNG::DecodeFrameOf(*file, 0, first) != Ok) return nullptr;
    }
    std::shared_ptr<FrameSource> source;
    if (n > 1) source = std::make_shared<APNG::FrameSource>(std::move(file));
    return Image::FromFrames(std::move(first), ImageFormatPNG, {{FrameDimensionPage, uint32_t(n)}},
                             std::move(source));
}

} // namespace zerimo
