#include "../IccTestProfiles.h"
#include "imaging/Codec.h"
#include "imaging/Image.h"
#include "imaging/Stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include <jpeglib.h>
#include <unistd.h>

using namespace imaging;
namespace fs = std::filesystem;

namespace {

// ---- fixtures ------------------------------------------------------------------------------------

std::shared_ptr<Image> Decode(const std::vector<uint8_t>& bytes, bool useIcm = false) {
    MemoryStream s(bytes.data(), bytes.size());
    return Image::FromStream(s, useIcm);
}

/// What libjpeg itself is asked to write, for files our encoder does not make.
struct LibJpegFile {
    uint32_t width = 16, height = 16;
    J_COLOR_SPACE in = JCS_RGB;         // JCS_RGB, JCS_GRAYSCALE or JCS_CMYK
    J_COLOR_SPACE stored = JCS_UNKNOWN; // JCS_UNKNOWN keeps libjpeg's choice
    int quality = 95;
    bool progressive = false;
    std::vector<jpeg_scan_info> scans;
    uint8_t densityUnit = 0;
    uint16_t xDensity = 1, yDensity = 1;
    std::vector<std::pair<int, std::vector<uint8_t>>> markers;
    /// Samples of one pixel in the input colour space.
    std::function<void(uint32_t x, uint32_t y, uint8_t* out)> pixel = [](uint32_t x, uint32_t y,
                                                                         uint8_t* out) {
        out[0] = uint8_t(x * 15), out[1] = uint8_t(y * 15), out[2] = 128;
    };
};

std::vector<uint8_t> Write(const LibJpegFile& f) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = f.width;
    c.image_height = f.height;
    c.in_color_space = f.in;
    c.input_components = f.in == JCS_GRAYSCALE ? 1 : f.in == JCS_CMYK ? 4 : 3;
    jpeg_set_defaults(&c);
    if (f.stored != JCS_UNKNOWN) jpeg_set_colorspace(&c, f.stored);
    jpeg_set_quality(&c, f.quality, TRUE);
    if (f.progressive) jpeg_simple_progression(&c);
    if (!f.scans.empty()) {
        c.scan_info = f.scans.data();
        c.num_scans = int(f.scans.size());
    }
    c.density_unit = f.densityUnit;
    c.X_density = f.xDensity;
    c.Y_density = f.yDensity;
    jpeg_start_compress(&c, TRUE);
    for (const auto& [marker, data] : f.markers)
        jpeg_write_marker(&c, marker, data.data(), unsigned(data.size()));
    std::vector<uint8_t> row(size_t(f.width) * 4);
    while (c.next_scanline < c.image_height) {
        for (uint32_t x = 0; x < f.width; ++x)
            f.pixel(x, c.next_scanline, &row[size_t(x) * c.input_components]);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> out(buf, buf + size);
    std::free(buf);
    return out;
}

/// A smooth 24-bit picture: gradients JPEG keeps well even at 4:2:0.
std::shared_ptr<Image> Gradient(uint32_t w, uint32_t h, PixelFormat format = PixelFormat24bppRGB) {
    auto img = Image::CreateBitmap(int32_t(w), int32_t(h), format);
    BitmapData d;
    EXPECT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    for (uint32_t y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<ARGB*>(static_cast<uint8_t*>(d.Scan0) + int64_t(y) * d.Stride);
        for (uint32_t x = 0; x < w; ++x)
            row[x] = MakeARGB(uint8_t(100 + x % 156), uint8_t(x * 255 / w), uint8_t(y * 255 / h),
                              uint8_t(128 + 64 * std::sin(double(x + y) / 16)));
    }
    img->UnlockBits(&d);
    return img;
}

std::vector<uint8_t> Save(Image& img, const EncoderParameters* params = nullptr) {
    MemoryStream out;
    EXPECT_EQ(img.Save(out, ClsidJpegCodec, params), Ok);
    return out.TakeBytes();
}

std::vector<uint8_t> SaveQuality(Image& img, uint32_t q) {
    EncoderParameters p;
    p.AddLong(EncoderQuality, q);
    return Save(img, &p);
}

/// Every pixel as opaque B, G, R bytes.
std::vector<uint8_t> Bgr(Image& img) {
    BitmapData d;
    EXPECT_EQ(img.LockBits(nullptr, ImageLockModeRead, PixelFormat24bppRGB, &d), Ok);
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < d.Height; ++y) {
        const uint8_t* row = static_cast<const uint8_t*>(d.Scan0) + int64_t(y) * d.Stride;
        out.insert(out.end(), row, row + d.Width * 3);
    }
    img.UnlockBits(&d);
    return out;
}

struct Difference {
    int max = 0;
    double rms = 0;
};
Difference Compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    Difference d;
    EXPECT_EQ(a.size(), b.size());
    double sum = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        const int e = std::abs(int(a[i]) - int(b[i]));
        d.max = std::max(d.max, e);
        sum += double(e) * e;
    }
    d.rms = a.empty() ? 0 : std::sqrt(sum / double(a.size()));
    return d;
}

std::vector<uint8_t> Item(const Image& img, PROPID id) {
    const StoredProperty* p = img.FindProperty(id);
    return p ? p->value : std::vector<uint8_t>{};
}

uint16_t Short(const Image& img, PROPID id) {
    const std::vector<uint8_t> v = Item(img, id);
    return v.size() >= 2 ? uint16_t(v[0] | (v[1] << 8)) : 0xFFFF;
}

void SetItem(Image& img, PROPID id, uint16_t type, std::vector<uint8_t> value) {
    img.SetProperty({id, type, std::move(value)});
}

std::vector<uint8_t> Ascii(const std::string& s) {
    std::vector<uint8_t> v(s.begin(), s.end());
    v.push_back(0);
    return v;
}

std::vector<uint8_t> IccMarker(int seq, int count, const std::vector<uint8_t>& part) {
    std::vector<uint8_t> m(14 + part.size());
    std::memcpy(m.data(), "ICC_PROFILE", 12);
    m[12] = uint8_t(seq), m[13] = uint8_t(count);
    std::copy(part.begin(), part.end(), m.begin() + 14);
    return m;
}

/// Offset of the first marker `code` (0xC0 for SOF0 ...) in a JPEG, or 0.
size_t MarkerAt(const std::vector<uint8_t>& jpeg, uint8_t code) {
    for (size_t i = 2; i + 4 <= jpeg.size();) {
        if (jpeg[i] != 0xFF) return 0;
        if (jpeg[i + 1] == code) return i;
        i += 2 + size_t((jpeg[i + 2] << 8) | jpeg[i + 3]);
    }
    return 0;
}

bool HaveImageMagick() {
    return std::system("convert -version > /dev/null 2>&1") == 0;
}

/// What ImageMagick decodes from a file, as R, G, B bytes.
std::vector<uint8_t> MagickRgb(const fs::path& file) {
    std::vector<uint8_t> out;
    const std::string cmd = "convert '" + file.string() + "' -depth 8 rgb:-";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    uint8_t buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.insert(out.end(), buf, buf + n);
    pclose(p);
    return out;
}

std::vector<uint8_t> RgbFromBgr(std::vector<uint8_t> bgr) {
    for (size_t i = 0; i + 2 < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
    return bgr;
}

fs::path TempPath(const std::string& name) {
    return fs::temp_directory_path() / ("zerimo-jpeg-" + std::to_string(::getpid()) + "-" + name);
}

const std::set<PROPID> kOrientationFileIds = {0x0112, 0x011A, 0x011B, 0x0128, 0x0213, 0x5090, 0x5091};

void CheckOrientationFile(const fs::path& file) {
    SCOPED_TRACE(file.filename().string());
    const std::string name = file.stem().string();
    const uint16_t digit = uint16_t(name.back() - '0');
    // Orientations 5 to 8 turn the picture a quarter: those files store it the other way round.
    const bool tall = (name.rfind("Portrait", 0) == 0) != (digit >= 5);
    auto img = Image::FromFile(file.string());
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(img->RawFormat(), ImageFormatJPEG);
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat24bppRGB);
    EXPECT_EQ(img->GetWidth(), tall ? 1200u : 1800u);
    EXPECT_EQ(img->GetHeight(), tall ? 1800u : 1200u);
    EXPECT_EQ(Short(*img, PropertyTagOrientation), digit);
    std::set<PROPID> ids;
    for (const auto& p : img->Properties()) ids.insert(p.id);
    EXPECT_EQ(ids, kOrientationFileIds);
    EXPECT_FLOAT_EQ(img->GetHorizontalResolution(), 72.0f);
    const uint32_t want =
        ImageFlagsColorSpaceYCBCR | ImageFlagsHasRealDPI | ImageFlagsHasRealPixelSize | ImageFlagsReadOnly;
    EXPECT_EQ(img->GetFlags(), want);
}

} // namespace

// ---- decoding ------------------------------------------------------------------------------------

TEST(JpegCodec, OrientationSamplesCarryTheirExifOrientation) {
    const fs::path data = fs::path(ZERIMO_TEST_DATA) / "jpeg";
    for (const char* f : {"Portrait_0.jpg", "Portrait_7.jpg"}) CheckOrientationFile(data / f);
}

TEST(JpegCodec, OrientationCorpusConforms) {
    const fs::path dir = fs::path(ZERIMO_CORPUS) / "exif-orientation";
    if (!fs::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".jpg") CheckOrientationFile(e.path()), ++files;
    EXPECT_EQ(files, 18);
}

TEST(JpegCodec, ColourSpacesDecodeToTheirPixelFormats) {
    auto red = [](uint32_t, uint32_t, uint8_t* o) { o[0] = 255, o[1] = 0, o[2] = 0; };
    // Adobe's inverted CMYK: 255 is no ink, so red is C=255 M=0 Y=0 K=255.
    auto invertedRed = [](uint32_t, uint32_t, uint8_t* o) { o[0] = 255, o[1] = 0, o[2] = 0, o[3] = 255; };
    auto grey = [](uint32_t x, uint32_t, uint8_t* o) { o[0] = uint8_t(x * 16); };
    struct Case {
        const char* name;
        LibJpegFile file;
        PixelFormat format;
        uint32_t colourFlag;
        bool chrominanceTable;
    };
    LibJpegFile ycc, rgb, cmyk, ycck, gray, progressive;
    ycc.pixel = rgb.pixel = progressive.pixel = red;
    rgb.stored = JCS_RGB;
    cmyk.in = ycck.in = JCS_CMYK;
    cmyk.pixel = ycck.pixel = invertedRed;
    ycck.stored = JCS_YCCK;
    gray.in = JCS_GRAYSCALE;
    gray.pixel = grey;
    progressive.progressive = true;
    const Case cases[] = {
        {"YCbCr", ycc, PixelFormat24bppRGB, ImageFlagsColorSpaceYCBCR, true},
        {"RGB", rgb, PixelFormat24bppRGB, ImageFlagsColorSpaceRGB, true},
        {"CMYK", cmyk, PixelFormat24bppRGB, ImageFlagsColorSpaceCMYK, true},
        {"YCCK", ycck, PixelFormat24bppRGB, ImageFlagsColorSpaceYCCK, true},
        {"grey", gray, PixelFormat8bppIndexed, ImageFlagsColorSpaceGRAY, false},
        {"progressive", progressive, PixelFormat24bppRGB, ImageFlagsColorSpaceYCBCR, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto img = Decode(Write(c.file));
        ASSERT_TRUE(Image::Usable(img));
        EXPECT_EQ(img->GetPixelFormat(), c.format);
        EXPECT_EQ(img->GetFlags() & 0x1F0u, c.colourFlag);
        EXPECT_EQ(img->FindProperty(PropertyTagChrominanceTable) != nullptr, c.chrominanceTable);
        if (c.format == PixelFormat8bppIndexed) {
            const ColorPalette& pal = img->Palette();
            ASSERT_EQ(pal.Count(), 256u);
            EXPECT_EQ(pal.Flags, uint32_t(PaletteFlagsGrayScale));
            for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(pal.Entries[i], MakeARGB(255, i, i, i));
            const uint8_t* row = img->ActiveFrameData().pixels.Row(3);
            for (uint32_t x = 0; x < 16; ++x) EXPECT_NEAR(row[x], x * 16, 3);
        } else {
            const std::vector<uint8_t> px = Bgr(*img);
            for (size_t i = 0; i < px.size(); i += 3) {
                ASSERT_LE(px[i], 6) << i;
                ASSERT_LE(px[i + 1], 6) << i;
                ASSERT_GE(px[i + 2], 248) << i;
            }
        }
    }
}

TEST(JpegCodec, JfifAndExifDensityGiveTheResolution) {
    LibJpegFile exifOnly;
    std::vector<uint8_t> exif = {
        'E',  'x',  'i', 'f', 0,  0, 'I', 'I', 42, 0, 8, 0, 0,   0, 2, 0, 0x1A, 0x01, 5, 0,
        1,    0,    0,   0,   38, 0, 0,   0,                // XResolution -> 300/1
        0x1B, 0x01, 5,   0,   1,  0, 0,   0,   46, 0, 0, 0, // YResolution -> 200/2
        0,    0,    0,   0,   44, 1, 0,   0,   1,  0, 0, 0, 200, 0, 0, 0, 2,    0,    0, 0};
    exifOnly.markers = {{JPEG_APP0 + 1, exif}};
    LibJpegFile both = exifOnly;
    both.densityUnit = 1, both.xDensity = 600, both.yDensity = 600;

    struct Case {
        const char* name;
        uint8_t unit;
        uint16_t x, y;
        const LibJpegFile* base;
        float dpiX, dpiY;
        bool realDpi;
        uint16_t unitItem; // 0xFFFF: no item
    };
    const Case cases[] = {
        {"inch", 1, 300, 150, nullptr, 300, 150, true, 2},
        {"centimetre", 2, 100, 40, nullptr, 254, 101.6f, true, 3},
        {"aspect only", 0, 2, 1, nullptr, 96, 96, false, 0xFFFF},
        {"exif only", 0, 1, 1, &exifOnly, 300, 100, true, 0xFFFF},
        {"jfif wins, exif items kept", 1, 600, 600, &both, 600, 600, true, 0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LibJpegFile f = c.base ? *c.base : LibJpegFile{};
        f.densityUnit = c.unit, f.xDensity = c.x, f.yDensity = c.y;
        auto img = Decode(Write(f));
        ASSERT_TRUE(Image::Usable(img));
        EXPECT_FLOAT_EQ(img->GetHorizontalResolution(), c.dpiX);
        EXPECT_FLOAT_EQ(img->GetVerticalResolution(), c.dpiY);
        EXPECT_EQ((img->GetFlags() & ImageFlagsHasRealDPI) != 0, c.realDpi);
        EXPECT_EQ(Short(*img, 0x0128), c.unitItem);
        if (c.unitItem != 0xFFFF) {
            EXPECT_EQ(Item(*img, 0x011A),
                      (std::vector<uint8_t>{uint8_t(c.x), uint8_t(c.x >> 8), 0, 0, 1, 0, 0, 0}));
        }
        if (c.base) {
            EXPECT_EQ(Item(*img, 0x011B), (std::vector<uint8_t>{200, 0, 0, 0, 2, 0, 0, 0}));
        }
    }
}

TEST(JpegCodec, QuantisationTablesAreInNaturalOrder) {
    LibJpegFile f;
    f.quality = 50; // libjpeg's quality 50 is the standard's example tables unscaled
    auto img = Decode(Write(f));
    ASSERT_TRUE(Image::Usable(img));
    const uint16_t luminance[16] = {16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55};
    const uint16_t chrominance[16] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99};
    for (auto [id, table] : {std::pair{PropertyTagLuminanceTable, luminance},
                             std::pair{PropertyTagChrominanceTable, chrominance}}) {
        const StoredProperty* p = img->FindProperty(id);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->type, PropertyTagTypeShort);
        ASSERT_EQ(p->value.size(), 128u);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(p->value[size_t(i) * 2] | (p->value[size_t(i) * 2 + 1] << 8), table[i]);
    }
}

TEST(JpegCodec, IccProfileSegmentsAreAssembledInSequenceOrder) {
    const std::vector<uint8_t> profile = icctest::PermutedRgb();
    ASSERT_GT(profile.size(), 30u);
    const size_t third = profile.size() / 3;
    const std::vector<uint8_t> a(profile.begin(), profile.begin() + std::ptrdiff_t(third));
    const std::vector<uint8_t> b(profile.begin() + std::ptrdiff_t(third),
                                 profile.begin() + std::ptrdiff_t(2 * third));
    const std::vector<uint8_t> c(profile.begin() + std::ptrdiff_t(2 * third), profile.end());
    constexpr int app2 = JPEG_APP0 + 2;
    struct Case {
        const char* name;
        std::vector<std::pair<int, std::vector<uint8_t>>> markers;
        bool kept;
    };
    const Case cases[] = {
        {"in order",
         {{app2, IccMarker(1, 3, a)}, {app2, IccMarker(2, 3, b)}, {app2, IccMarker(3, 3, c)}},
         true},
        {"shuffled",
         {{app2, IccMarker(3, 3, c)}, {app2, IccMarker(1, 3, a)}, {app2, IccMarker(2, 3, b)}},
         true},
        {"one missing", {{app2, IccMarker(1, 3, a)}, {app2, IccMarker(3, 3, c)}}, false},
        {"repeated",
         {{app2, IccMarker(1, 3, a)}, {app2, IccMarker(1, 3, a)}, {app2, IccMarker(3, 3, c)}},
         false},
        {"counts differ",
         {{app2, IccMarker(1, 3, a)}, {app2, IccMarker(2, 2, b)}, {app2, IccMarker(3, 3, c)}},
         false},
        {"number zero", {{app2, IccMarker(0, 1, profile)}}, false},
        {"number past count", {{app2, IccMarker(2, 1, profile)}}, false},
    };
    for (const Case& cs : cases) {
        SCOPED_TRACE(cs.name);
        LibJpegFile f;
        f.markers = cs.markers;
        auto img = Decode(Write(f));
        ASSERT_TRUE(Image::Usable(img)); // a bad profile never costs the picture
        EXPECT_EQ(Item(*img, PropertyTagICCProfile), cs.kept ? profile : std::vector<uint8_t>{});
    }
}

TEST(JpegCodec, UseIcmConvertsThroughTheProfileAndDropsIt) {
    auto red = [](uint32_t, uint32_t, uint8_t* o) { o[0] = 255, o[1] = 0, o[2] = 0; };
    auto invertedRed = [](uint32_t, uint32_t, uint8_t* o) { o[0] = 255, o[1] = 0, o[2] = 0, o[3] = 255; };
    auto midGrey = [](uint32_t, uint32_t, uint8_t* o) { o[0] = 128; };
    struct Case {
        const char* name;
        LibJpegFile file;
        std::vector<uint8_t> profile;
        uint8_t plain[3], managed[3]; // B, G, R of the first pixel
    };
    LibJpegFile rgb, cmyk, gray;
    rgb.pixel = red;
    cmyk.in = JCS_CMYK, cmyk.pixel = invertedRed;
    gray.in = JCS_GRAYSCALE, gray.pixel = midGrey;
    const Case cases[] = {
        {"RGB profile", rgb, icctest::PermutedRgb(), {0, 0, 255}, {0, 255, 0}},
        {"CMYK profile", cmyk, icctest::SwappedCmyk(), {0, 0, 255}, {255, 0, 0}},
        {"grey profile", gray, icctest::LinearGray(), {128, 128, 128}, {188, 188, 188}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.profile.empty());
        LibJpegFile f = c.file;
        f.markers = {{JPEG_APP0 + 2, IccMarker(1, 1, c.profile)}};
        const std::vector<uint8_t> bytes = Write(f);
        for (bool useIcm : {false, true}) {
            SCOPED_TRACE(useIcm);
            auto img = Decode(bytes, useIcm);
            ASSERT_TRUE(Image::Usable(img));
            const std::vector<uint8_t> px = Bgr(*img);
            const uint8_t* want = useIcm ? c.managed : c.plain;
            for (int i = 0; i < 3; ++i) EXPECT_NEAR(px[size_t(i)], want[i], 6) << i;
            EXPECT_EQ(img->FindProperty(PropertyTagICCProfile) != nullptr, !useIcm);
        }
    }

    // A profile of the wrong colour space is kept as an item and not applied.
    LibJpegFile f = rgb;
    f.markers = {{JPEG_APP0 + 2, IccMarker(1, 1, icctest::LinearGray())}};
    auto img = Decode(Write(f), true);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_NE(img->FindProperty(PropertyTagICCProfile), nullptr);
    EXPECT_GE(Bgr(*img)[2], 248);
}

TEST(JpegCodec, CorruptOrTruncatedFilesFail) {
    const std::vector<uint8_t> baseline = Save(*Gradient(64, 64));
    LibJpegFile p;
    p.width = p.height = 64;
    p.progressive = true;
    const std::vector<uint8_t> progressive = Write(p);
    const size_t sos = MarkerAt(baseline, 0xDA);
    ASSERT_GT(sos, 0u);

    // More scans than any real file has: one coefficient band and one bit per scan.
    LibJpegFile manyScans;
    manyScans.width = manyScans.height = 8;
    manyScans.in = JCS_GRAYSCALE;
    manyScans.pixel = [](uint32_t x, uint32_t y, uint8_t* o) { o[0] = uint8_t(x * 31 ^ y * 17); };
    manyScans.scans.push_back({1, {0}, 0, 0, 0, 0});
    for (int band = 1; band < 64; ++band) {
        manyScans.scans.push_back({1, {0}, band, band, 0, 1});
        manyScans.scans.push_back({1, {0}, band, band, 1, 0});
    }

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"baseline cut in half", {baseline.begin(), baseline.begin() + std::ptrdiff_t(baseline.size() / 2)}},
        {"baseline cut after the scan header",
         {baseline.begin(), baseline.begin() + std::ptrdiff_t(sos + 20)}},
        {"progressive cut in half",
         {progressive.begin(), progressive.begin() + std::ptrdiff_t(progressive.size() / 2)}},
        {"progressive without its last bytes", {progressive.begin(), progressive.end() - 40}},
        {"markers only", {0xFF, 0xD8, 0xFF, 0xD9}},
        {"signature only", {0xFF, 0xD8, 0xFF}},
        {"far more scans than a file needs", Write(manyScans)},
    };
    std::vector<uint8_t> garbage = baseline;
    for (size_t i = sos + 20; i < garbage.size() - 2; i += 7)
        garbage[i] = 0xFF; // stray markers and bad codes
    cases.push_back({"entropy data overwritten", garbage});
    std::vector<uint8_t> zeroWidth = baseline;
    const size_t sof = MarkerAt(zeroWidth, 0xC0);
    zeroWidth[sof + 7] = zeroWidth[sof + 8] = 0;
    cases.push_back({"zero width", zeroWidth});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto img = Decode(c.bytes);
        ASSERT_TRUE(img);
        EXPECT_NE(img->GetLastStatus(), Ok);
        EXPECT_EQ(img->GetWidth(), 0u);
    }
    EXPECT_TRUE(Image::Usable(Decode(baseline)));
    EXPECT_TRUE(Image::Usable(Decode(progressive)));
}

TEST(JpegCodec, FramesAboveTheLimitFailBeforeAllocating) {
    const std::vector<uint8_t> small = Save(*Gradient(16, 16));
    const size_t sof = MarkerAt(small, 0xC0);
    ASSERT_GT(sof, 0u);
    for (auto [w, h] : {std::pair{65000, 65000}, std::pair{20000, 16385}}) {
        std::vector<uint8_t> big = small;
        big[sof + 5] = uint8_t(h >> 8), big[sof + 6] = uint8_t(h);
        big[sof + 7] = uint8_t(w >> 8), big[sof + 8] = uint8_t(w);
        EXPECT_EQ(Decode(big)->GetLastStatus(), OutOfMemory) << w << "x" << h;
    }
}

// ---- encoding ------------------------------------------------------------------------------------

TEST(JpegCodec, RoundTripAtQuality100KeepsPixelsResolutionAndMetadata) {
    auto img = Gradient(96, 64);
    ASSERT_EQ(img->SetResolution(300, 150), Ok);
    SetItem(*img, PropertyTagOrientation, PropertyTagTypeShort, {6, 0});
    SetItem(*img, PropertyTagSoftwareUsed, PropertyTagTypeASCII, Ascii("Zerimo"));
    SetItem(*img, 0x0132, PropertyTagTypeASCII, Ascii("2024:05:06 07:08:09"));
    SetItem(*img, 0x9003, PropertyTagTypeASCII, Ascii("2024:05:06 07:08:00"));
    SetItem(*img, 0x0002, PropertyTagTypeRational, std::vector<uint8_t>(24, 1));
    SetItem(*img, 0x501B, PropertyTagTypeByte, {0xFF, 0xD8, 0xFF, 0xD9});         // stale thumbnail
    SetItem(*img, 0x5090, PropertyTagTypeShort, std::vector<uint8_t>(128, 0x7F)); // stale table
    SetItem(*img, 0x011A, PropertyTagTypeRational, {72, 0, 0, 0, 1, 0, 0, 0});    // stale resolution

    const std::vector<uint8_t> bytes = SaveQuality(*img, 100);
    auto back = Decode(bytes);
    ASSERT_TRUE(Image::Usable(back));
    EXPECT_EQ(back->GetWidth(), 96u);
    EXPECT_EQ(back->GetHeight(), 64u);
    const Difference d = Compare(Bgr(*img), Bgr(*back));
    EXPECT_LE(d.max, 24);
    EXPECT_LT(d.rms, 2.5);

    EXPECT_FLOAT_EQ(back->GetHorizontalResolution(), 300);
    EXPECT_FLOAT_EQ(back->GetVerticalResolution(), 150);
    EXPECT_EQ(Short(*back, PropertyTagOrientation), 6);
    for (PROPID id : {PropertyTagSoftwareUsed, PROPID(0x0132), PROPID(0x9003), PROPID(0x0002)})
        EXPECT_EQ(Item(*back, id), Item(*img, id)) << std::hex << id;
    EXPECT_NE(back->FindProperty(PropertyTagExifIFD), nullptr);
    EXPECT_NE(back->FindProperty(PropertyTagGpsIFD), nullptr);
    EXPECT_EQ(back->FindProperty(0x501B), nullptr);
    EXPECT_EQ(Item(*back, 0x011A),
              (std::vector<uint8_t>{44, 1, 0, 0, 1, 0, 0, 0})); // 300/1, as the header says
    EXPECT_NE(Item(*back, PropertyTagLuminanceTable), Item(*img, PropertyTagLuminanceTable));
    const std::vector<uint8_t> q100 = Item(*back, PropertyTagLuminanceTable);
    EXPECT_TRUE(std::all_of(q100.begin(), q100.end(), [](uint8_t b) { return b <= 1; })); // all ones
}

TEST(JpegCodec, QualityParameter) {
    auto img = Gradient(64, 64);
    const std::vector<uint8_t> byDefault = Save(*img);
    EXPECT_EQ(byDefault, SaveQuality(*img, 75));
    EXPECT_LT(SaveQuality(*img, 10).size(), SaveQuality(*img, 90).size());
    EXPECT_TRUE(Image::Usable(Decode(SaveQuality(*img, 1))));
    MemoryStream out;
    EncoderParameters p;
    p.AddLong(EncoderQuality, 101);
    EXPECT_EQ(img->Save(out, ClsidJpegCodec, &p), InvalidParameter);
}

TEST(JpegCodec, SourceFormatsEncodeTheirVisibleColours) {
    ColorPalette greys, colours;
    for (uint32_t i = 0; i < 256; ++i) {
        greys.Entries.push_back(MakeARGB(255, uint8_t(i), uint8_t(i), uint8_t(i)));
        colours.Entries.push_back(MakeARGB(255, uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)));
    }
    struct Case {
        const char* name;
        PixelFormat format;
        const ColorPalette* palette;
        bool grayJpeg;
    };
    const Case cases[] = {
        {"24bpp", PixelFormat24bppRGB, nullptr, false},
        {"32bpp RGB", PixelFormat32bppRGB, nullptr, false},
        {"32bpp ARGB, alpha dropped", PixelFormat32bppARGB, nullptr, false},
        {"32bpp PARGB", PixelFormat32bppPARGB, nullptr, false},
        {"16bpp 565", PixelFormat16bppRGB565, nullptr, false},
        {"grey palette", PixelFormat8bppIndexed, &greys, true},
        {"colour palette", PixelFormat8bppIndexed, &colours, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto img = Image::CreateBitmap(48, 32, c.format);
        if (c.palette) {
            ASSERT_EQ(img->SetPalette(*c.palette), Ok);
        }
        auto src = Gradient(48, 32);
        BitmapData s, d;
        ASSERT_EQ(src->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &s), Ok);
        ASSERT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
        for (uint32_t y = 0; y < 32; ++y)
            std::memcpy(static_cast<uint8_t*>(d.Scan0) + y * d.Stride,
                        static_cast<uint8_t*>(s.Scan0) + y * s.Stride, 48 * 4);
        img->UnlockBits(&d);
        src->UnlockBits(&s);

        auto back = Decode(SaveQuality(*img, 100));
        ASSERT_TRUE(Image::Usable(back));
        EXPECT_EQ(back->GetPixelFormat(), c.grayJpeg ? PixelFormat8bppIndexed : PixelFormat24bppRGB);
        // PARGB keeps colours only as exactly as premultiplying lets it.
        const Difference diff = Compare(Bgr(*img), Bgr(*back));
        EXPECT_LT(diff.rms, c.format == PixelFormat32bppPARGB ? 3.0 : 2.5);
    }
}

TEST(JpegCodec, IccProfileItemIsWrittenWhenItMatchesTheFile) {
    const std::vector<uint8_t> rgbProfile = icctest::PermutedRgb();
    const std::vector<uint8_t> grayProfile = icctest::LinearGray();
    std::vector<uint8_t> big(150000); // needs three APP2 segments
    std::copy(rgbProfile.begin(), rgbProfile.end(), big.begin());

    auto colour = Gradient(32, 32);
    SetItem(*colour, PropertyTagICCProfile, PropertyTagTypeUndefined, big);
    EXPECT_EQ(Item(*Decode(Save(*colour)), PropertyTagICCProfile), big);

    SetItem(*colour, PropertyTagICCProfile, PropertyTagTypeUndefined, grayProfile);
    EXPECT_EQ(Decode(Save(*colour))->FindProperty(PropertyTagICCProfile), nullptr);

    auto grey = Image::CreateBitmap(8, 8, PixelFormat8bppIndexed);
    ColorPalette ramp;
    for (uint32_t i = 0; i < 256; ++i)
        ramp.Entries.push_back(MakeARGB(255, uint8_t(i), uint8_t(i), uint8_t(i)));
    grey->SetPalette(ramp);
    SetItem(*grey, PropertyTagICCProfile, PropertyTagTypeUndefined, grayProfile);
    EXPECT_EQ(Item(*Decode(Save(*grey)), PropertyTagICCProfile), grayProfile);
}

TEST(JpegCodec, OversizedExifLosesItsLargestItemsToFitOneMarker) {
    auto img = Gradient(16, 16);
    SetItem(*img, PropertyTagOrientation, PropertyTagTypeShort, {3, 0});
    SetItem(*img, 0x927C, PropertyTagTypeUndefined, std::vector<uint8_t>(70000, 0x55)); // maker note
    auto back = Decode(Save(*img));
    ASSERT_TRUE(Image::Usable(back));
    EXPECT_EQ(Short(*back, PropertyTagOrientation), 3);
    EXPECT_EQ(back->FindProperty(0x927C), nullptr);
}

TEST(JpegCodec, StreamWriteFailureIsReported) {
    class FullStream final : public Stream {
      public:
        size_t Read(void*, size_t) override { return 0; }
        bool Write(const void*, size_t size) override { return (written += size) <= 1000; }
        bool Seek(int64_t, SeekOrigin) override { return true; }
        uint64_t Position() const override { return 0; }
        uint64_t Size() const override { return 0; }
        bool CanWrite() const override { return true; }
        size_t written = 0;
    };
    auto img = Gradient(512, 512);
    FullStream full;
    EXPECT_EQ(img->Save(full, ClsidJpegCodec, nullptr), Win32Error);
}

TEST(JpegCodec, ImageMagickAgreesWithUsBothWays) {
    if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    auto img = Gradient(80, 60);
    const fs::path ours = TempPath("ours.jpg");
    ASSERT_EQ(img->Save(ours.string(), ClsidJpegCodec, nullptr), Ok);
    const Difference read = Compare(RgbFromBgr(Bgr(*img)), MagickRgb(ours));
    EXPECT_LT(read.rms, 3.5); // quality 75, 4:2:0
    EXPECT_LE(read.max, 40);

    // ImageMagick writes a file from raw pixels; we read it as ImageMagick itself reads it.
    const fs::path raw = TempPath("raw.ppm"), theirs = TempPath("theirs.jpg");
    {
        std::ofstream ppm(raw, std::ios::binary);
        ppm << "P6\n80 60\n255\n";
        const std::vector<uint8_t> rgb = RgbFromBgr(Bgr(*img));
        ppm.write(reinterpret_cast<const char*>(rgb.data()), std::streamsize(rgb.size()));
    }
    ASSERT_EQ(std::system(("convert '" + raw.string() + "' -quality 85 -sampling-factor 2x2 '" +
                           theirs.string() + "'")
                              .c_str()),
              0);
    auto decoded = Image::FromFile(theirs.string());
    ASSERT_TRUE(Image::Usable(decoded));
    const Difference same = Compare(RgbFromBgr(Bgr(*decoded)), MagickRgb(theirs));
    EXPECT_LE(same.max, 2);
    for (const auto& p : {ours, raw, theirs}) fs::remove(p);
}
