// The animated PNG reader: which frames make pages and at what size, the exact failure messages,
// the progress line, frames decoded on selection, and files written by others.

#include "ReaderFixtures.h"

#include "imaging/Bytes.h"
#include "imaging/Codec.h"
#include "io/DecodeChain.h"
#include "io/apng/Apng.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

using namespace imaging;
using namespace zerimo;
using readertest::Data;

struct RawChunk {
    std::string type;
    std::vector<uint8_t> data;
};

std::vector<RawChunk> SplitPng(const std::vector<uint8_t>& png) {
    std::vector<RawChunk> out;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t n = ReadBE32(&png[at]);
        out.push_back({std::string(png.begin() + at + 4, png.begin() + at + 8),
                       std::vector<uint8_t>(png.begin() + at + 8, png.begin() + at + 8 + n)});
        at += 12 + n;
    }
    return out;
}

/// A PNG of a w x h picture whose pixels are (seed, x, y).
std::vector<uint8_t> EncodePng(uint32_t w, uint32_t h, uint8_t seed) {
    auto img = Image::CreateBitmap(int32_t(w), int32_t(h), PixelFormat24bppRGB);
    Surface& s = img->ActiveFrameData().pixels;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = s.Row(y) + 3 * x;
            p[0] = uint8_t(y), p[1] = uint8_t(x), p[2] = seed;
        }
    MemoryStream out;
    EXPECT_EQ(img->Save(out, ClsidPngCodec, nullptr), Ok);
    return out.TakeBytes();
}

std::vector<uint8_t> IdatOf(uint32_t w, uint32_t h, uint8_t seed) {
    std::vector<uint8_t> data;
    for (const auto& c : SplitPng(EncodePng(w, h, seed)))
        if (c.type == "IDAT") data.insert(data.end(), c.data.begin(), c.data.end());
    return data;
}

class Apng {
  public:
    Apng& Signature() {
        const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        bytes.insert(bytes.end(), sig, sig + 8);
        return *this;
    }
    Apng& Chunk(const std::string& type, const std::vector<uint8_t>& data) {
        AppendBE32(uint32_t(data.size()));
        bytes.insert(bytes.end(), type.begin(), type.end());
        bytes.insert(bytes.end(), data.begin(), data.end());
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
        if (!data.empty()) crc = crc32(crc, data.data(), uInt(data.size())); // a null buffer resets it
        AppendBE32(uint32_t(crc));
        return *this;
    }
    Apng& Ihdr(uint32_t w, uint32_t h) {
        std::vector<uint8_t> d;
        Be32(d, w), Be32(d, h);
        d.insert(d.end(), {8, 2, 0, 0, 0});
        return Chunk("IHDR", d);
    }
    Apng& Actl(uint32_t frames) {
        std::vector<uint8_t> d;
        Be32(d, frames), Be32(d, 0);
        return Chunk("acTL", d);
    }
    Apng& Fctl(uint32_t w, uint32_t h) {
        std::vector<uint8_t> d;
        Be32(d, seq++), Be32(d, w), Be32(d, h), Be32(d, 0), Be32(d, 0);
        d.insert(d.end(), {0, 1, 0, 10, 0, 0});
        return Chunk("fcTL", d);
    }
    Apng& Idat(uint32_t w, uint32_t h, uint8_t seed) { return Chunk("IDAT", IdatOf(w, h, seed)); }
    Apng& Fdat(uint32_t w, uint32_t h, uint8_t seed) {
        std::vector<uint8_t> d;
        Be32(d, seq++);
        auto idat = IdatOf(w, h, seed);
        d.insert(d.end(), idat.begin(), idat.end());
        return Chunk("fdAT", d);
    }
    /// One frame's data in two fdAT chunks.
    Apng& SplitFdat(uint32_t w, uint32_t h, uint8_t seed) {
        const auto idat = IdatOf(w, h, seed);
        const size_t half = idat.size() / 2;
        for (auto [from, to] : {std::pair{size_t(0), half}, {half, idat.size()}}) {
            std::vector<uint8_t> d;
            Be32(d, seq++);
            d.insert(d.end(), idat.begin() + from, idat.begin() + to);
            Chunk("fdAT", d);
        }
        return *this;
    }
    Apng& Iend() { return Chunk("IEND", {}); }

    std::vector<uint8_t> bytes;

  private:
    static void Be32(std::vector<uint8_t>& v, uint32_t x) {
        for (int i = 3; i >= 0; --i) v.push_back(uint8_t(x >> (8 * i)));
    }
    void AppendBE32(uint32_t x) { Be32(bytes, x); }
    uint32_t seq = 0;
};

/// Decodes and returns what went to standard error.
std::shared_ptr<Image> DecodeQuietly(const std::vector<uint8_t>& bytes, std::string* err = nullptr,
                                     std::string* out = nullptr) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    MemoryStream s(bytes.data(), bytes.size());
    auto img = DecodeApng(s);
    const std::string o = testing::internal::GetCapturedStdout();
    const std::string e = testing::internal::GetCapturedStderr();
    if (err) *err = e;
    if (out) *out = o;
    return img;
}

/// The pages' sizes and their seed bytes (the red channel of pixel 0).
std::vector<std::string> Pages(Image& img) {
    std::vector<std::string> out;
    const uint32_t n = img.GetFrameCount(FrameDimensionPage);
    for (uint32_t i = 0; i < n; ++i) {
        if (img.SelectActiveFrame(FrameDimensionPage, i) != Ok) {
            out.push_back("failed");
            continue;
        }
        const auto px = testsupport::ReadARGB(img);
        out.push_back(std::to_string(img.GetWidth()) + "x" + std::to_string(img.GetHeight()) + ":" +
                      std::to_string(px.empty() ? -1 : int(RedOf(px[0]))));
    }
    return out;
}

TEST(Apng, DefaultImageInTheAnimationIsTheFirstPage) {
    Apng a;
    a.Signature()
        .Ihdr(8, 6)
        .Actl(3)
        .Fctl(8, 6)
        .Idat(8, 6, 10)
        .Fctl(5, 4)
        .Fdat(5, 4, 20)
        .Fctl(3, 2)
        .Fdat(3, 2, 30)
        .Iend();
    std::string err, out;
    auto img = DecodeQuietly(a.bytes, &err, &out);
    ASSERT_TRUE(Image::Usable(img)) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(out, "\r0 percent completed.\r33.3333 percent completed.\r66.6667 percent completed.");
    EXPECT_EQ(img->GetFrameCount(FrameDimensionPage), 3u);
    EXPECT_EQ(Pages(*img), (std::vector<std::string>{"8x6:10", "5x4:20", "3x2:30"}));
    // Frames come back the same however often and in whatever order they are selected.
    ASSERT_EQ(img->SelectActiveFrame(FrameDimensionPage, 1), Ok);
    auto copy = img->Clone();
    ASSERT_TRUE(Image::Usable(copy));
    EXPECT_EQ(copy->GetWidth(), 5u);
    EXPECT_EQ(Pages(*copy), Pages(*img));
}

TEST(Apng, DefaultImageOutsideTheAnimationIsLeftOut) {
    Apng a;
    // The second frame's data comes in two fdAT chunks.
    a.Signature()
        .Ihdr(8, 6)
        .Actl(2)
        .Idat(8, 6, 10)
        .Fctl(4, 4)
        .Fdat(4, 4, 20)
        .Fctl(8, 6)
        .SplitFdat(8, 6, 30)
        .Iend();
    auto img = DecodeQuietly(a.bytes);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(Pages(*img), (std::vector<std::string>{"4x4:20", "8x6:30"}));
}

TEST(Apng, FramesClaimingMoreThanTheirDataCouldHoldAreLeftOut) {
    // A 16000 x 16000 frame from a few dozen bytes of data is never handed to the decoder.
    Apng later;
    later.Signature().Ihdr(8, 6).Actl(2).Fctl(8, 6).Idat(8, 6, 10).Fctl(16000, 16000).Fdat(4, 4, 20).Iend();
    auto img = DecodeQuietly(later.bytes);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(img->GetFrameCount(FrameDimensionPage), 1u);
    Apng first;
    first.Signature().Ihdr(8, 6).Actl(2).Fctl(16000, 16000).Idat(8, 6, 10).Fctl(4, 4).Fdat(4, 4, 20).Iend();
    EXPECT_EQ(DecodeQuietly(first.bytes), nullptr) << "without its first frame the animation shows nothing";
}

TEST(Apng, PlainPngsGiveNothingWithoutAMessage) {
    for (bool actl : {false, true}) {
        Apng a;
        a.Signature().Ihdr(4, 4);
        if (actl) a.Actl(1);
        a.Idat(4, 4, 1).Iend();
        std::string err, out;
        EXPECT_EQ(DecodeQuietly(a.bytes, &err, &out), nullptr) << actl;
        EXPECT_EQ(err, "");
        EXPECT_EQ(out, "");
    }
    // An acTL of an earlier file has no influence on the next one.
    Apng anim;
    anim.Signature().Ihdr(4, 4).Actl(1).Fctl(4, 4).Idat(4, 4, 1).Iend();
    ASSERT_NE(DecodeQuietly(anim.bytes), nullptr);
    Apng plain;
    plain.Signature().Ihdr(4, 4).Idat(4, 4, 1).Iend();
    EXPECT_EQ(DecodeQuietly(plain.bytes), nullptr);
}

TEST(Apng, BrokenFilesNameTheirFaultOnStandardError) {
    const auto idat = IdatOf(4, 4, 1);
    const struct {
        const char* what;
        std::function<void(Apng&)> build;
        const char* message;
    } cases[] = {
        {"signature",
         [](Apng& a) {
             a.bytes = {1, 2, 3};
         },
         "File signature incorrect."},
        {"first chunk", [](Apng& a) { a.Signature().Actl(1).Ihdr(4, 4).Iend(); },
         "IHDR chunk must located before any other chunks."},
        {"second IHDR", [](Apng& a) { a.Signature().Ihdr(4, 4).Ihdr(4, 4).Iend(); },
         "Only single IHDR is allowed."},
        {"acTL after IDAT", [&](Apng& a) { a.Signature().Ihdr(4, 4).Idat(4, 4, 1).Actl(1).Iend(); },
         "acTL chunk must located before any IDAT and fdAT"},
        {"two fcTL",
         [](Apng& a) {
             a.Signature().Ihdr(4, 4).Actl(2).Fctl(4, 4).Idat(4, 4, 1).Fctl(4, 4).Fctl(4, 4).Iend();
         },
         "One frame must have only one fcTL chunk."},
        {"fdAT without fcTL",
         [](Apng& a) { a.Signature().Ihdr(4, 4).Actl(2).Idat(4, 4, 1).Fdat(4, 4, 2).Iend(); },
         "fcTL chunk expected."},
        {"no IEND", [](Apng& a) { a.Signature().Ihdr(4, 4).Actl(1).Fctl(4, 4).Idat(4, 4, 1); },
         "IEND chunk expected."},
        {"short acTL",
         [](Apng& a) {
             a.Signature().Ihdr(4, 4).Chunk("acTL", {0, 0, 0, 1}).Iend();
         },
         "buffer is not long enough to extract 4 chars at offset 4"},
        {"short fcTL",
         [](Apng& a) { a.Signature().Ihdr(4, 4).Actl(1).Chunk("fcTL", std::vector<uint8_t>(25)).Iend(); },
         "buffer is not long enough to extract 1 chars at offset 25"},
        {"short IHDR", [](Apng& a) { a.Signature().Chunk("IHDR", std::vector<uint8_t>(6)).Iend(); },
         "buffer is not long enough to extract 4 chars at offset 4"},
        {"lying length",
         [&](Apng& a) {
             a.Signature().Ihdr(4, 4).Actl(1).Fctl(4, 4).Chunk("IDAT", idat).Iend();
             // The IDAT claims 2 GB: it is not read into memory.
             const auto at =
                 std::search(a.bytes.begin(), a.bytes.end(), std::begin("IDAT"), std::end("IDAT") - 1);
             *(at - 4) = 0x7F;
         },
         "IEND chunk expected."},
    };
    for (const auto& c : cases) {
        Apng a;
        c.build(a);
        std::string err;
        EXPECT_EQ(DecodeQuietly(a.bytes, &err), nullptr) << c.what;
        EXPECT_EQ(err, std::string(c.message) + "\n") << c.what;
    }
}

TEST(Apng, TheChainShowsARejectedAnimationAsAStillImage) {
    // Two fcTL in a row after the first frame's data: the reader refuses, the platform decoder
    // shows the default image.
    testing::internal::CaptureStderr();
    std::string reader;
    auto img = DecodeImageFile(Data("apng/chunk_repeat_fctl.png"), nullptr, DefaultReaders(), &reader);
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(reader, "platform");
    EXPECT_EQ(img->GetFrameCount(FrameDimensionPage), 1u);
    EXPECT_EQ(err, "One frame must have only one fcTL chunk.\n");

    testing::internal::CaptureStdout();
    img = DecodeImageFile(Data("apng/dispose_op_none_region.png"), nullptr, DefaultReaders(), &reader);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(reader, "apng");
    EXPECT_EQ(img->GetFrameCount(FrameDimensionPage), 3u);
}

TEST(Apng, PaletteFramesUseTheFilesPaletteAndTransparency) {
    auto bytes = testsupport::ReadFileBytes(Data("apng/mode_palette_alpha.png"));
    auto img = DecodeQuietly(bytes);
    ASSERT_TRUE(Image::Usable(img));
    ASSERT_EQ(img->GetFrameCount(FrameDimensionPage), 2u);
    for (uint32_t i = 0; i < 2; ++i) {
        ASSERT_EQ(img->SelectActiveFrame(FrameDimensionPage, i), Ok);
        EXPECT_TRUE(IsIndexedPixelFormat(img->GetPixelFormat())) << i;
        EXPECT_TRUE(img->GetFlags() & ImageFlagsHasAlpha) << "tRNS reaches frame " << i;
    }
}

TEST(Apng, FramesAssembledByApngasmMatchTheirSources) {
    auto bytes = testsupport::ReadFileBytes(Data("apng/apngasm-3frames.png"));
    auto img = DecodeQuietly(bytes);
    ASSERT_TRUE(Image::Usable(img));
    ASSERT_EQ(img->GetFrameCount(FrameDimensionPage), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(img->SelectActiveFrame(FrameDimensionPage, i), Ok);
        EXPECT_EQ(readertest::MaxDiffToPng(*img, Data("apng/apngasm-frame" + std::to_string(i) + ".png.ref")),
                  0)
            << i;
    }
}

} // namespace
