#include "io/WebP.h"

#include "FaultyStream.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

using namespace imaging;
using iotest::FaultyStream;
using testsupport::ReadARGB;
using testsupport::ReadFileBytes;

namespace {

const std::string kData = std::string(ZERIMO_TEST_DATA) + "/webp/";

std::shared_ptr<Image> ReadBytes(const std::vector<uint8_t>& bytes) {
    MemoryStream stream(bytes.data(), bytes.size());
    return zerimo::ReadWebp(stream);
}

uint64_t Fnv1aOfRgba(const std::vector<ARGB>& pixels) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (ARGB c : pixels)
        for (uint8_t b : {RedOf(c), GreenOf(c), BlueOf(c), AlphaOf(c)}) h = (h ^ b) * 0x100000001b3ull;
    return h;
}

bool HaveDwebp() {
    static const bool have = std::system("dwebp -version > /dev/null 2>&1") == 0;
    return have;
}

// libwebp's own command-line decode of `file` as 0xAARRGGBB values; empty when it fails.
std::vector<ARGB> DwebpPixels(const std::string& file, uint32_t& width, uint32_t& height) {
    const std::string pam = ::testing::TempDir() + "webp_ref_" + std::to_string(getpid()) + ".pam";
    std::vector<ARGB> out;
    if (std::system(("dwebp -quiet -pam '" + file + "' -o '" + pam + "'").c_str()) != 0) return out;
    const std::vector<uint8_t> bytes = ReadFileBytes(pam);
    std::remove(pam.c_str());
    const std::string text(bytes.begin(), bytes.end());
    const size_t end = text.find("ENDHDR\n");
    unsigned w = 0, h = 0, depth = 0;
    if (end == std::string::npos ||
        std::sscanf(text.c_str(), "P7\nWIDTH %u\nHEIGHT %u\nDEPTH %u", &w, &h, &depth) != 3 || depth != 4 ||
        bytes.size() - (end + 7) != size_t(w) * h * 4)
        return out;
    width = w;
    height = h;
    for (size_t i = end + 7; i < bytes.size(); i += 4)
        out.push_back(MakeARGB(bytes[i + 3], bytes[i], bytes[i + 1], bytes[i + 2]));
    return out;
}

struct CorpusCase {
    const char* file;
    uint32_t width, height;
    bool alpha;
    // FNV-1a of the reference decode's RGBA bytes, for machines without the command-line tools.
    uint64_t rgbaHash;
};

class WebpCorpus : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(WebpCorpus, DecodesLikeTheReferenceDecoder) {
    const CorpusCase& c = GetParam();
    const std::string path = kData + c.file;
    auto file = FileStream::OpenRead(path);
    ASSERT_TRUE(file->IsOpen());
    auto img = zerimo::ReadWebp(*file);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat32bppARGB);
    EXPECT_EQ(img->RawFormat(), ImageFormatMemoryBMP);
    ASSERT_EQ(img->GetWidth(), c.width);
    ASSERT_EQ(img->GetHeight(), c.height);

    const std::vector<ARGB> pixels = ReadARGB(*img);
    bool anyTranslucent = false;
    for (ARGB p : pixels) anyTranslucent |= AlphaOf(p) != 255;
    EXPECT_EQ(anyTranslucent, c.alpha);

    if (HaveDwebp()) {
        uint32_t w = 0, h = 0;
        const std::vector<ARGB> ref = DwebpPixels(path, w, h);
        ASSERT_FALSE(ref.empty());
        ASSERT_EQ(w, c.width);
        ASSERT_EQ(h, c.height);
        for (size_t i = 0; i < ref.size(); ++i)
            ASSERT_EQ(pixels[i], ref[i]) << "pixel " << i % w << "," << i / w;
    }
    EXPECT_EQ(Fnv1aOfRgba(pixels), c.rgbaHash);
}

INSTANTIATE_TEST_SUITE_P(
    Files, WebpCorpus,
    ::testing::Values(CorpusCase{"test.webp", 128, 128, false, 0x6b7b28c7e89c460full},
                      CorpusCase{"small_31x13.webp", 31, 13, false, 0x828552c958a060e6ull},
                      CorpusCase{"lossless4.webp", 256, 256, true, 0x0ab19b303f147a31ull},
                      CorpusCase{"dual_transform.webp", 100, 30, true, 0x39a6314580645018ull},
                      CorpusCase{"lossy_alpha4.webp", 100, 100, true, 0x089792cf82b790dbull},
                      CorpusCase{"alpha_filter_1.webp", 16, 16, true, 0xd951193698a4ad25ull}),
    [](const auto& info) {
        std::string name = info.param.file;
        return name.substr(0, name.find('.'));
    });

TEST(WebpReader, OtherBytesAreNotWebp) {
    const std::vector<std::vector<uint8_t>> inputs = {
        {},
        ReadFileBytes(std::string(ZERIMO_TEST_DATA) + "/png/basn2c16.png"),
        {'R', 'I', 'F', 'F', 0x20, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '},
        {'R', 'I', 'F', 'F', 0x20, 0, 0, 0, 'W', 'E', 'B', 'P', 'X', 'X', 'X', 'X', 1, 2, 3, 4},
    };
    for (size_t i = 0; i < inputs.size(); ++i) EXPECT_EQ(ReadBytes(inputs[i]), nullptr) << "input " << i;
}

TEST(WebpReader, TruncatedFilesGiveNothing) {
    for (const char* name : {"test.webp", "lossless4.webp", "lossy_alpha4.webp"}) {
        const std::vector<uint8_t> whole = ReadFileBytes(kData + name);
        ASSERT_GT(whole.size(), 100u);
        for (size_t keep : {size_t(12), size_t(40), whole.size() / 2, whole.size() - 1}) {
            const std::vector<uint8_t> cut(whole.begin(), whole.begin() + keep);
            EXPECT_EQ(ReadBytes(cut), nullptr) << name << " cut to " << keep;
        }
    }
}

TEST(WebpReader, AnimationIsLeftToOtherReaders) {
    EXPECT_EQ(ReadBytes(ReadFileBytes(kData + "seed-animated.webp")), nullptr);
}

TEST(WebpReader, StreamFailuresGiveNothing) {
    const std::vector<uint8_t> bytes = ReadFileBytes(kData + "small_31x13.webp");
    for (auto fault :
         {FaultyStream::Fault::SeekToEnd, FaultyStream::Fault::Read, FaultyStream::Fault::HugeSize}) {
        FaultyStream stream(fault, bytes);
        EXPECT_EQ(zerimo::ReadWebp(stream), nullptr) << int(fault);
    }
}

TEST(WebpReader, ReadsFromTheStartWhereverTheStreamIs) {
    const std::vector<uint8_t> bytes = ReadFileBytes(kData + "small_31x13.webp");
    MemoryStream stream(bytes.data(), bytes.size());
    ASSERT_TRUE(stream.Seek(20, SeekOrigin::Begin));
    auto img = zerimo::ReadWebp(stream);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(img->GetWidth(), 31u);
}

// A smooth picture with an alpha ramp and a fully transparent column.
std::shared_ptr<Image> GradientImage(uint32_t w, uint32_t h) {
    auto img = Image::CreateBitmap(int32_t(w), int32_t(h), PixelFormat32bppARGB);
    BitmapData d;
    EXPECT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    for (uint32_t y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<ARGB*>(static_cast<uint8_t*>(d.Scan0) + int64_t(y) * d.Stride);
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t alpha = x == 3 ? 0 : uint8_t(255 - 2 * y);
            row[x] = MakeARGB(alpha, uint8_t(40 + 4 * x), uint8_t(200 - 3 * y), uint8_t(90 + x + y));
        }
    }
    img->UnlockBits(&d);
    return img;
}

TEST(WebpWriter, RoundTripKeepsSizeColoursAndAlpha) {
    auto img = GradientImage(37, 21);
    MemoryStream out;
    ASSERT_TRUE(zerimo::WriteWebp(*img, out, 100));
    ASSERT_GT(out.Bytes().size(), 12u);
    EXPECT_EQ(std::string(out.Bytes().begin(), out.Bytes().begin() + 4), "RIFF");
    EXPECT_EQ(std::string(out.Bytes().begin() + 8, out.Bytes().begin() + 12), "WEBP");

    auto back = ReadBytes(out.Bytes());
    ASSERT_TRUE(Image::Usable(back));
    ASSERT_EQ(back->GetWidth(), 37u);
    ASSERT_EQ(back->GetHeight(), 21u);
    const std::vector<ARGB> want = ReadARGB(*img), got = ReadARGB(*back);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(AlphaOf(got[i]), AlphaOf(want[i])) << "pixel " << i;
        if (AlphaOf(want[i]) == 0) continue; // the encoder may recolour what cannot be seen
        for (int shift : {0, 8, 16})
            ASSERT_NEAR(int((got[i] >> shift) & 0xFF), int((want[i] >> shift) & 0xFF), 8) << "pixel " << i;
    }
}

TEST(WebpWriter, QualityReachesTheEncoder) {
    auto img = GradientImage(64, 64);
    MemoryStream low, high;
    ASSERT_TRUE(zerimo::WriteWebp(*img, low, 5));
    ASSERT_TRUE(zerimo::WriteWebp(*img, high, 100));
    EXPECT_LT(low.Bytes().size(), high.Bytes().size());
}

TEST(WebpWriter, IndexedImageIsConvertedFirst) {
    auto img = Image::CreateBitmap(8, 4, PixelFormat8bppIndexed);
    ColorPalette pal;
    pal.Flags = PaletteFlagsHasAlpha;
    pal.Entries = {0xFF204080, 0x00000000, 0xFFF0D010};
    ASSERT_EQ(img->SetPalette(pal), Ok);
    BitmapData d;
    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat8bppIndexed, &d), Ok);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 8; ++x)
            static_cast<uint8_t*>(d.Scan0)[y * d.Stride + x] = uint8_t(x < 4 ? 0 : y == 0 ? 1 : 2);
    img->UnlockBits(&d);

    MemoryStream out;
    ASSERT_TRUE(zerimo::WriteWebp(*img, out, 100));
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat32bppARGB);
    auto back = ReadBytes(out.Bytes());
    ASSERT_TRUE(Image::Usable(back));
    const std::vector<ARGB> got = ReadARGB(*back);
    ASSERT_EQ(got.size(), 32u);
    EXPECT_EQ(AlphaOf(got[5]), 0); // row 0, palette entry 1
    EXPECT_EQ(AlphaOf(got[8 + 6]), 255);
    EXPECT_NEAR(RedOf(got[8 + 1]), 0x20, 8);
    EXPECT_NEAR(BlueOf(got[8 + 1]), 0x80, 8);
}

TEST(WebpWriter, FailuresAreReported) {
    auto img = GradientImage(16, 16);
    for (auto fault : {FaultyStream::Fault::Write, FaultyStream::Fault::Flush}) {
        FaultyStream out(fault);
        EXPECT_FALSE(zerimo::WriteWebp(*img, out, 90)) << int(fault);
    }
    // Wider than the format can code: the encoder gives no bytes and nothing is written.
    auto wide = Image::CreateBitmap(16384, 1, PixelFormat32bppARGB);
    MemoryStream out;
    EXPECT_FALSE(zerimo::WriteWebp(*wide, out, 90));
    EXPECT_TRUE(out.Bytes().empty());
}

} // namespace
