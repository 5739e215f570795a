// The HEIF/AVIF codec: pages of top-level images, alpha, wider samples, what is not HEIF, damaged
// files, the writer's colour conversion, frames, write failures, and files of other encoders.

#include "FaultyStream.h"
#include "ReaderFixtures.h"

#include "io/DecodeChain.h"
#include "io/ImageWriter.h"
#include "io/heif/Heif.h"

#include <gtest/gtest.h>

namespace {

using namespace imaging;
using namespace zerimo;
using readertest::Data;

std::shared_ptr<Image> ReadFile(const std::string& path) {
    auto bytes = testsupport::ReadFileBytes(path);
    MemoryStream s(bytes.data(), bytes.size());
    return ReadHeif(s);
}

/// The mean absolute difference of the colour channels of two images of the same size.
double MeanDiff(Image& a, Image& b) {
    const auto pa = testsupport::ReadARGB(a), pb = testsupport::ReadARGB(b);
    if (pa.empty() || pa.size() != pb.size()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < pa.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8)
            sum += std::abs(int((pa[i] >> shift) & 0xFF) - int((pb[i] >> shift) & 0xFF));
    return sum / (3.0 * pa.size());
}

std::shared_ptr<Image> Png(const std::string& path) {
    auto img = Image::FromFile(path);
    return Image::Usable(img) ? img : nullptr;
}

TEST(Heif, WriterConvertsToFullRangeBt601) {
    const struct {
        uint8_t b, g, r, y, cb, cr;
    } cases[] = {{255, 255, 255, 255, 128, 128},
                 {0, 0, 255, 76, 85, 255},
                 {0, 0, 0, 0, 128, 128},
                 {255, 0, 0, 29, 255, 107},
                 {0, 255, 0, 150, 44, 21}};
    for (const auto& c : cases) {
        uint8_t y, cb, cr;
        Heif::ToYCbCr(c.b, c.g, c.r, y, cb, cr);
        EXPECT_EQ(int(y), int(c.y)) << int(c.b) << "," << int(c.g) << "," << int(c.r);
        EXPECT_EQ(int(cb), int(c.cb)) << int(c.b) << "," << int(c.g) << "," << int(c.r);
        EXPECT_EQ(int(cr), int(c.cr)) << int(c.b) << "," << int(c.g) << "," << int(c.r);
    }
}

TEST(Heif, FilesOfOtherEncodersDecodeLikeTheirOwnTools) {
    // heif-enc and avifenc files against heif-convert's and avifdec's decodes of them.
    for (auto [file, ref] : {std::pair{"heif/one.heic", "heif/one.heic.png"},
                             {"avif/avifenc-8bit.avif", "avif/avifenc-8bit.avif.png"}}) {
        auto img = ReadFile(Data(file));
        ASSERT_TRUE(Image::Usable(img)) << file;
        EXPECT_EQ(img->GetPixelFormat(), PixelFormat24bppRGB) << file;
        EXPECT_LE(readertest::MaxDiffToPng(*img, Data(ref), false), 2) << file;
    }
    // Alpha gives 32-bit ARGB; 10-bit samples are narrowed to their top 8 bits.
    auto source = Png(Data("source/rgba.png"));
    ASSERT_NE(source, nullptr);
    for (const char* file : {"heif/alpha.heic", "avif/avifenc-10bit-alpha.avif"}) {
        auto img = ReadFile(Data(file));
        ASSERT_TRUE(Image::Usable(img)) << file;
        EXPECT_EQ(img->GetPixelFormat(), PixelFormat32bppARGB) << file;
        const auto px = testsupport::ReadARGB(*img), want = testsupport::ReadARGB(*source);
        ASSERT_EQ(px.size(), want.size());
        int worstAlpha = 0;
        for (size_t i = 0; i < px.size(); ++i)
            worstAlpha = std::max(worstAlpha, std::abs(int(AlphaOf(px[i])) - int(AlphaOf(want[i]))));
        EXPECT_LE(worstAlpha, 12) << file;
        EXPECT_LT(MeanDiff(*img, *source), 6.0) << file;
    }
}

TEST(Heif, EveryTopLevelImageIsAPagePrimaryFirst) {
    auto img = ReadFile(Data("heif/three.heic"));
    ASSERT_TRUE(Image::Usable(img));
    ASSERT_EQ(img->GetFrameCount(FrameDimensionPage), 3u);
    // heif-enc made the first of its three inputs (the apngasm frames) the primary image.
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(img->SelectActiveFrame(FrameDimensionPage, i), Ok);
        for (uint32_t j = 0; j < 3; ++j) {
            auto frame = Png(Data("apng/apngasm-frame" + std::to_string(j) + ".png.ref"));
            ASSERT_NE(frame, nullptr);
            if (i == j)
                EXPECT_LT(MeanDiff(*img, *frame), 4.0) << "page " << i;
            else
                EXPECT_GT(MeanDiff(*img, *frame), 8.0) << "page " << i << " against frame " << j;
        }
    }
    // The chain hands the pages over as frames.
    std::string reader;
    auto chained = DecodeImageFile(Data("heif/three.heic"), nullptr, DefaultReaders(), &reader);
    ASSERT_TRUE(Image::Usable(chained));
    EXPECT_EQ(reader, "heif");
    EXPECT_EQ(chained->GetFrameCount(FrameDimensionPage), 3u);
}

TEST(Heif, WiderSamplesOfRealFilesAreNarrowed) {
    const std::string eight = readertest::Corpus("avif/fox.profile0.8bpc.yuv420.avif");
    const std::string ten = readertest::Corpus("avif/fox.profile0.10bpc.yuv420.avif");
    if (!std::filesystem::exists(eight) || !std::filesystem::exists(ten)) GTEST_SKIP() << "no AVIF corpus";
    auto a = ReadFile(eight), b = ReadFile(ten);
    ASSERT_TRUE(Image::Usable(a) && Image::Usable(b));
    EXPECT_EQ(b->GetWidth(), 1204u);
    EXPECT_LT(MeanDiff(*a, *b), 3.0) << "the same photo at 8 and 10 bits";
    const std::string rotated = readertest::Corpus("avif/kimono.rotate90.avif");
    auto r = ReadFile(rotated);
    ASSERT_TRUE(Image::Usable(r));
    EXPECT_EQ(r->GetWidth(), 722u) << "the file's rotation is applied";
    EXPECT_EQ(r->GetHeight(), 1024u);
}

/// A stream that records how far it was read.
class CountingStream final : public Stream {
  public:
    explicit CountingStream(std::vector<uint8_t> b) : inner_(std::move(b)) {}
    size_t Read(void* buffer, size_t size) override {
        const size_t n = inner_.Read(buffer, size);
        read_ += n;
        return n;
    }
    bool Write(const void*, size_t) override { return false; }
    bool Seek(int64_t offset, SeekOrigin origin) override { return inner_.Seek(offset, origin); }
    uint64_t Position() const override { return inner_.Position(); }
    uint64_t Size() const override { return inner_.Size(); }
    bool CanWrite() const override { return false; }
    size_t read_ = 0;

  private:
    MemoryStream inner_;
};

TEST(Heif, OtherFormatsAndDamagedFilesGiveNothing) {
    // A PNG is recognised as not HEIF from its first 12 bytes.
    CountingStream png(testsupport::ReadFileBytes(Data("source/rgb.png")));
    EXPECT_EQ(ReadHeif(png), nullptr);
    EXPECT_EQ(png.read_, 12u);

    auto bytes = testsupport::ReadFileBytes(Data("heif/one.heic"));
    ASSERT_GT(bytes.size(), 100u);
    for (size_t cut : {size_t(8), size_t(40), bytes.size() / 2, bytes.size() - 1}) {
        MemoryStream s(bytes.data(), cut);
        EXPECT_EQ(ReadHeif(s), nullptr) << "cut at " << cut;
    }
    auto garbled = bytes;
    for (size_t i = 40; i < garbled.size(); i += 7) garbled[i] ^= 0x5A;
    MemoryStream g(garbled.data(), garbled.size());
    EXPECT_EQ(ReadHeif(g), nullptr);
    for (auto fault : {iotest::FaultyStream::Fault::SeekToEnd, iotest::FaultyStream::Fault::HugeSize}) {
        iotest::FaultyStream f(fault, bytes);
        EXPECT_EQ(ReadHeif(f), nullptr);
    }
}

std::shared_ptr<Image> Flat(int w, int h, PixelFormat format, ARGB colour) {
    auto img = Image::CreateBitmap(w, h, PixelFormat32bppARGB);
    BitmapData d;
    EXPECT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    for (uint32_t y = 0; y < d.Height; ++y)
        for (uint32_t x = 0; x < d.Width; ++x)
            reinterpret_cast<ARGB*>(static_cast<uint8_t*>(d.Scan0) + int64_t(y) * d.Stride)[x] = colour;
    img->UnlockBits(&d);
    if (format != PixelFormat32bppARGB) {
        EXPECT_EQ(img->ConvertFormat(format, DitherTypeNone, PaletteTypeOptimal, nullptr, 0), Ok);
    }
    return img;
}

TEST(Heif, WrittenFilesReadBack) {
    // HEVC without alpha in the picture, AV1 from an indexed image (converted to ARGB first).
    const struct {
        const char* ext;
        PixelFormat format;
        ARGB colour;
        PixelFormat readBack;
    } cases[] = {{".heic", PixelFormat24bppRGB, 0xFFC86432, PixelFormat32bppARGB},
                 {".avif", PixelFormat8bppIndexed, 0xFF3264C8, PixelFormat32bppARGB}};
    for (const auto& c : cases) {
        auto img = Flat(40, 24, c.format, c.colour);
        MemoryStream out;
        ASSERT_TRUE(WriteHeif(*img, out, c.ext, 90)) << c.ext;
        EXPECT_EQ(img->GetPixelFormat(), IsIndexedPixelFormat(c.format) ? PixelFormat32bppARGB : c.format);
        MemoryStream in(out.Data(), out.Size());
        auto back = ReadHeif(in);
        ASSERT_TRUE(Image::Usable(back)) << c.ext;
        EXPECT_EQ(back->GetWidth(), 40u);
        EXPECT_EQ(back->GetHeight(), 24u);
        EXPECT_EQ(back->GetPixelFormat(), c.readBack) << "the alpha plane is always written";
        const ARGB got = testsupport::ReadARGB(*back)[40 * 12 + 20];
        for (int shift : {0, 8, 16})
            EXPECT_NEAR(int((got >> shift) & 0xFF), int((c.colour >> shift) & 0xFF), 6)
                << c.ext << " " << shift;
    }
}

TEST(Heif, EveryFrameBecomesATopLevelImage) {
    auto gif = Image::FromFile(Data("gif/animated_loop_interlaced.gif"));
    ASSERT_TRUE(Image::Usable(gif));
    const uint32_t frames = gif->GetFrameCount(FrameDimensionTime);
    ASSERT_GT(frames, 1u);
    MemoryStream out;
    ASSERT_TRUE(WriteHeif(*gif, out, ".heic", 50));
    EXPECT_EQ(gif->ActiveFrame(), 0u) << "the image is left on the frame it was on";
    MemoryStream in(out.Data(), out.Size());
    auto back = ReadHeif(in);
    ASSERT_TRUE(Image::Usable(back));
    EXPECT_EQ(back->GetFrameCount(FrameDimensionPage), frames);
}

TEST(Heif, FailedWritesAreReported) {
    auto img = Flat(16, 16, PixelFormat32bppARGB, 0x80FF0000);
    for (auto fault : {iotest::FaultyStream::Fault::Write, iotest::FaultyStream::Fault::Flush}) {
        iotest::FaultyStream out(fault);
        EXPECT_FALSE(WriteHeif(*img, out, ".heic", 80));
    }
    // Through the save chain: a failed write leaves no file.
    const std::string dir = testing::TempDir();
    const std::string path = dir + "zerimo-heif-test.heic";
    WriteSettings settings;
    settings.jpegQuality = 70;
    ASSERT_TRUE(WriteImageFile(*img, path, ".heic", settings));
    auto back = DecodeImageFile(path, nullptr);
    ASSERT_TRUE(Image::Usable(back));
    EXPECT_EQ(back->GetPixelFormat(), PixelFormat32bppARGB);
    EXPECT_NEAR(int(AlphaOf(testsupport::ReadARGB(*back)[0])), 0x80, 4);
    std::filesystem::remove(path);
    EXPECT_FALSE(WriteImageFile(*img, "/nonexistent-dir/x.avif", ".avif", settings));
}

} // namespace
