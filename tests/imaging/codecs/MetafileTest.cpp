#include "imaging/codecs/metafile/Metafile.h"
#include "imaging/Codec.h"
#include "imaging/Graphics.h"
#include "imaging/Stream.h"

#include "../DrawingFixtures.h"
#include "../TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace imaging;
using testsupport::ReadARGB;
using testsupport::ReadFileBytes;

namespace {

const std::string kData = std::string(ZERIMO_TEST_DATA) + "/metafile/";

constexpr ARGB kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kBlack = 0xFF000000,
               kWhite = 0xFFFFFFFF, kClear = 0x00000000;

uint32_t Cr(uint8_t r, uint8_t g, uint8_t b) {
    return uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16);
}

void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}
void PutF(std::vector<uint8_t>& v, float f) {
    uint32_t x;
    std::memcpy(&x, &f, 4);
    Put32(v, x);
}

// A bottom-up 32-bit BI_RGB DIB (header then bits) of `w` x `h` pixels given top row first.
std::vector<uint8_t> Dib32(int w, int h, const std::vector<ARGB>& px, std::vector<uint8_t>* bits) {
    std::vector<uint8_t> info;
    Put32(info, 40);
    Put32(info, uint32_t(w));
    Put32(info, uint32_t(h));
    Put16(info, 1);
    Put16(info, 32);
    for (int i = 0; i < 6; ++i) Put32(info, 0);
    bits->clear();
    for (int y = h - 1; y >= 0; --y)
        for (int x = 0; x < w; ++x) Put32(*bits, px[size_t(y) * w + x] & 0x00FFFFFF); // unused fourth byte
    return info;
}

// An enhanced metafile put together record by record; the header says `w` x `h` device pixels
// at 96 dpi.
struct EmfBuilder {
    int32_t w, h;
    std::vector<uint8_t> body;
    uint32_t records = 0;
    EmfBuilder(int32_t width, int32_t height) : w(width), h(height) {}

    EmfBuilder& Raw(uint32_t type, std::vector<uint8_t> payload) {
        while (payload.size() % 4) payload.push_back(0);
        Put32(body, type);
        Put32(body, uint32_t(8 + payload.size()));
        body.insert(body.end(), payload.begin(), payload.end());
        ++records;
        return *this;
    }
    EmfBuilder& R(uint32_t type, std::initializer_list<int64_t> words) {
        std::vector<uint8_t> p;
        for (int64_t x : words) Put32(p, uint32_t(x));
        return Raw(type, p);
    }
    std::vector<uint8_t> Bytes(int32_t boundsR = -2, int32_t boundsB = -2) const {
        std::vector<uint8_t> v;
        Put32(v, 1);
        Put32(v, 108);
        Put32(v, 0);
        Put32(v, 0);
        Put32(v, uint32_t(boundsR == -2 ? w - 1 : boundsR));
        Put32(v, uint32_t(boundsB == -2 ? h - 1 : boundsB));
        Put32(v, 0);
        Put32(v, 0);
        Put32(v, uint32_t(w * 2540 / 96 - 1));
        Put32(v, uint32_t(h * 2540 / 96 - 1));
        Put32(v, 0x464D4520);
        Put32(v, 0x10000);
        Put32(v, uint32_t(108 + body.size() + 20));
        Put32(v, records + 2);
        Put16(v, 32);
        Put16(v, 0);
        for (int i = 0; i < 3; ++i) Put32(v, 0);
        Put32(v, 960); // a 10-inch device at 96 dpi
        Put32(v, 960);
        Put32(v, 254);
        Put32(v, 254);
        for (int i = 0; i < 3; ++i) Put32(v, 0);
        Put32(v, 254000);
        Put32(v, 254000);
        v.insert(v.end(), body.begin(), body.end());
        for (uint32_t x : {14u, 20u, 0u, 16u, 20u}) Put32(v, x);
        return v;
    }

    // Common record families.
    EmfBuilder& Brush(uint32_t ih, uint32_t style, uint32_t cr, uint32_t hatch = 0) {
        return R(39, {ih, style, cr, hatch});
    }
    EmfBuilder& Pen(uint32_t ih, uint32_t style, int32_t width, uint32_t cr) {
        return R(38, {ih, style, width, 0, cr});
    }
    EmfBuilder& Select(uint32_t ih) { return R(37, {ih}); }
    EmfBuilder& NoPen() { return Select(0x80000008); }
    EmfBuilder& Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return R(43, {l, t, r, b}); }
    EmfBuilder& StretchDib(int32_t x, int32_t y, int32_t cx, int32_t cy, int srcW, int srcH,
                           const std::vector<ARGB>& px, uint32_t rop = 0x00CC0020) {
        std::vector<uint8_t> bits;
        const std::vector<uint8_t> info = Dib32(srcW, srcH, px, &bits);
        std::vector<uint8_t> p;
        for (int i = 0; i < 4; ++i) Put32(p, 0); // bounds
        for (int64_t v : {int64_t(x), int64_t(y), int64_t(0), int64_t(0), int64_t(srcW), int64_t(srcH)})
            Put32(p, uint32_t(v));
        Put32(p, 80);
        Put32(p, uint32_t(info.size()));
        Put32(p, uint32_t(80 + info.size()));
        Put32(p, uint32_t(bits.size()));
        Put32(p, 0);
        Put32(p, rop);
        Put32(p, uint32_t(cx));
        Put32(p, uint32_t(cy));
        p.insert(p.end(), info.begin(), info.end());
        p.insert(p.end(), bits.begin(), bits.end());
        return Raw(81, p);
    }
    EmfBuilder& Text(int32_t x, int32_t y, const std::u16string& s, uint32_t options = 0,
                     std::initializer_list<int32_t> rect = {0, 0, -1, -1}) {
        std::vector<uint8_t> p;
        for (int i = 0; i < 4; ++i) Put32(p, 0);
        Put32(p, 1); // GM_COMPATIBLE
        PutF(p, 1);
        PutF(p, 1);
        Put32(p, uint32_t(x));
        Put32(p, uint32_t(y));
        Put32(p, uint32_t(s.size()));
        Put32(p, 76); // string offset
        Put32(p, options);
        for (int32_t v : rect) Put32(p, uint32_t(v));
        Put32(p, 0); // no advances
        for (char16_t c : s) Put16(p, c);
        return Raw(84, p);
    }
    EmfBuilder& Font(uint32_t ih, int32_t height, const std::u16string& face = u"DejaVu Sans") {
        std::vector<uint8_t> p;
        Put32(p, ih);
        Put32(p, uint32_t(height));
        for (int i = 0; i < 3; ++i) Put32(p, 0);
        Put32(p, 700); // bold: more ink to find
        Put32(p, 0);
        Put32(p, 0);
        for (size_t i = 0; i < 32; ++i) Put16(p, i < face.size() ? face[i] : 0);
        return Raw(82, p);
    }
};

std::shared_ptr<Image> Decode(const std::vector<uint8_t>& bytes) {
    return DecodeBytes(std::make_shared<const std::vector<uint8_t>>(bytes), {});
}

// The picture rasterised at its own size (or w x h), as 32bppARGB values.
std::vector<ARGB> Raster(Image& img, uint32_t w = 0, uint32_t h = 0) {
    std::vector<ARGB> out;
    if (!img.Metafile()) return out;
    if (w == 0) w = img.GetWidth(), h = img.GetHeight();
    Surface s;
    if (img.Metafile()->Render(w, h, s) != Ok) return out;
    out.resize(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y) std::memcpy(&out[size_t(y) * w], s.Row(y), 4 * size_t(w));
    return out;
}

ARGB At(const std::vector<ARGB>& px, uint32_t w, uint32_t x, uint32_t y) {
    return px[size_t(y) * w + x];
}

size_t Count(const std::vector<ARGB>& px, const std::function<bool(ARGB)>& pred) {
    size_t n = 0;
    for (ARGB c : px) n += pred(c);
    return n;
}

} // namespace

// ---- real files ----------------------------------------------------------------------------------------

TEST(MetafileCorpus, DrawingEmfIsARedCircleWithABlackOutline) {
    auto img = Image::FromFile(kData + "drawing.emf");
    ASSERT_EQ(img->GetLastStatus(), Ok);
    EXPECT_EQ(img->GetType(), ImageTypeMetafile);
    Guid raw;
    img->GetRawFormat(&raw);
    EXPECT_EQ(raw, ImageFormatEMF);
    // Bounds -256..1369 inclusive on a 1200 dpi reference device.
    EXPECT_EQ(img->GetWidth(), 1626u);
    EXPECT_EQ(img->GetHeight(), 1626u);
    EXPECT_NEAR(img->GetHorizontalResolution(), 1200.0, 0.1);
    EXPECT_EQ(img->GetFlags() & ImageFlagsScalable, uint32_t(ImageFlagsScalable));
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat32bppRGB);

    // Drawn at a tenth: the circle spans device 7..1331, that is output 26..158.
    const auto px = Raster(*img, 163, 163);
    ASSERT_EQ(px.size(), 163u * 163u);
    EXPECT_EQ(At(px, 163, 92, 92), kRed);
    EXPECT_EQ(At(px, 163, 5, 5), kClear);
    EXPECT_EQ(AlphaOf(At(px, 163, 30, 30)), 0); // outside the circle, inside the square
    EXPECT_EQ(At(px, 163, 92, 26), kBlack);     // the outline at the top
}

TEST(MetafileCorpus, DrawingWmfIsPlacedAt96Dpi) {
    auto img = Image::FromFile(kData + "drawing.wmf");
    ASSERT_EQ(img->GetLastStatus(), Ok);
    EXPECT_EQ(img->GetType(), ImageTypeMetafile);
    EXPECT_EQ(img->RawFormat(), ImageFormatWMF);
    // 1369 units at 1200 units per inch.
    EXPECT_EQ(img->GetWidth(), 110u);
    EXPECT_EQ(img->GetHeight(), 110u);
    EXPECT_EQ(img->GetHorizontalResolution(), 96.0f);
    const auto px = Raster(*img);
    ASSERT_FALSE(px.empty());
    // The polygon lies 256 units right and down of the EMF's circle, so the window cuts it.
    EXPECT_EQ(At(px, 110, 80, 80), kRed);
    EXPECT_EQ(At(px, 110, 5, 5), kClear);
}

TEST(MetafileCorpus, ShapesBitmapsAndTextOfRealFiles) {
    drawing_fixtures::GuiApp();
    struct Probe {
        uint32_t x, y;
        ARGB colour;
    };
    struct Case {
        const char* file;
        uint32_t w, h;
        std::vector<Probe> probes;
    };
    // Colours read off the rendered pictures.
    const Case cases[] = {
        // A star polygon with an outline; the corner outside it stays transparent.
        {"test-023.emf", 231, 136, {{110, 70, 0xFFFFCC67}, {2, 2, kClear}}},
        // An icon of polygons under an anisotropic mapping: bolt, sky, cloud.
        {"test-007.emf", 54, 53, {{28, 20, 0xFFFFFF0A}, {45, 40, 0xFF8B86BF}, {5, 10, 0xFF9FA6AF}}},
        // A chart with text: the cream page and the white plot area.
        {"test-022.emf", 660, 413, {{5, 5, 0xFFFFFBF0}, {500, 200, kWhite}, {655, 200, 0xFFFFFBF0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto img = Image::FromFile(kData + c.file);
        ASSERT_EQ(img->GetLastStatus(), Ok);
        EXPECT_EQ(img->GetWidth(), c.w);
        EXPECT_EQ(img->GetHeight(), c.h);
        const auto px = Raster(*img);
        ASSERT_FALSE(px.empty());
        for (const Probe& p : c.probes) EXPECT_EQ(At(px, c.w, p.x, p.y), p.colour) << p.x << "," << p.y;
    }
}

TEST(MetafileCorpus, EveryCorpusFileDecodesAndRenders) {
    const std::string dir = std::string(ZERIMO_CORPUS) + "/metafile/emf/";
    for (int i = 0; i < 40; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "test-%03d.emf", i);
        SCOPED_TRACE(name);
        const auto bytes = ReadFileBytes(dir + name);
        if (bytes.empty()) GTEST_SKIP() << "corpus not present";
        auto img = Decode(bytes);
        ASSERT_EQ(img->GetLastStatus(), Ok);
        // Drawn small: every record is played.
        Surface s;
        EXPECT_EQ(img->Metafile()->Render(64, 48, s), Ok);
    }
}

// ---- generated pictures, one per record family -------------------------------------------------------

TEST(MetafileRecords, EachFamilyDrawsWhereItShould) {
    drawing_fixtures::GuiApp();
    struct Probe {
        uint32_t x, y;
        ARGB colour;
    };
    struct Case {
        const char* name;
        std::function<void(EmfBuilder&)> build;
        std::vector<Probe> probes;
    };
    const std::vector<ARGB> quad = {kRed, kGreen, kBlue, kWhite};
    const std::vector<Case> cases = {
        {"rectangle with a solid brush and no pen",
         [](EmfBuilder& b) { b.Brush(1, 0, Cr(255, 0, 0)).Select(1).NoPen().Rect(10, 10, 30, 30); },
         {{20, 20, kRed}, {5, 5, kClear}, {35, 20, kClear}}},
        {"stock black brush",
         [](EmfBuilder& b) { b.Select(0x80000004).NoPen().Rect(0, 0, 40, 40); },
         {{20, 20, kBlack}}},
        {"ellipse",
         [](EmfBuilder& b) {
             b.Brush(1, 0, Cr(0, 0, 255)).Select(1).NoPen().R(42, {0, 0, 40, 40});
         },
         {{20, 20, kBlue}, {1, 1, kClear}}},
        {"polygon16, alternate fill leaves the overlap empty",
         [](EmfBuilder& b) {
             b.Brush(1, 0, Cr(0, 255, 0)).Select(1).NoPen().R(19, {1});
             // Two overlapping squares as one polygon: 0..30 and 10..40.
             std::vector<uint8_t> p;
             for (int i = 0; i < 4; ++i) Put32(p, 0);
             Put32(p, 10);
             for (int v : {0, 0, 30, 0, 30, 30, 0, 30, 0, 0, 10, 10, 40, 10, 40, 40, 10, 40, 10, 10})
                 Put16(p, uint32_t(v));
             b.Raw(86, p);
         },
         {{5, 5, kGreen}, {20, 20, kClear}, {35, 35, kGreen}}},
        {"polygon16, winding fill covers the overlap",
         [](EmfBuilder& b) {
             b.Brush(1, 0, Cr(0, 255, 0)).Select(1).NoPen().R(19, {2});
             std::vector<uint8_t> p;
             for (int i = 0; i < 4; ++i) Put32(p, 0);
             Put32(p, 10);
             for (int v : {0, 0, 30, 0, 30, 30, 0, 30, 0, 0, 10, 10, 40, 10, 40, 40, 10, 40, 10, 10})
                 Put16(p, uint32_t(v));
             b.Raw(86, p);
         },
         {{20, 20, kGreen}}},
        {"wide pen on lines",
         [](EmfBuilder& b) {
             b.Pen(1, 0, 6, Cr(0, 0, 255)).Select(1).R(27, {0, 20}).R(54, {40, 20});
         },
         {{20, 20, kBlue}, {20, 5, kClear}}},
        {"path filled",
         [](EmfBuilder& b) {
             b.Brush(1, 0, Cr(255, 0, 0)).Select(1).NoPen();
             b.R(59, {}).R(27, {5, 5}).R(54, {35, 5}).R(54, {35, 35}).R(54, {5, 35}).R(61, {}).R(60, {});
             b.R(62, {0, 0, -1, -1});
         },
         {{20, 20, kRed}, {2, 2, kClear}}},
        {"intersect clip",
         [](EmfBuilder& b) {
             b.Brush(1, 0, Cr(255, 0, 0)).Select(1).NoPen().R(30, {0, 0, 20, 40}).Rect(0, 0, 40, 40);
         },
         {{10, 20, kRed}, {30, 20, kClear}}},
        {"exclude clip, then restore",
         [](EmfBuilder& b) {
             b.Brush(1, 0, Cr(255, 0, 0))
                 .Select(1)
                 .NoPen()
                 .R(33, {})
                 .R(29, {0, 0, 20, 40})
                 .Rect(0, 0, 40, 20);
             b.R(34, {-1}).Rect(0, 20, 40, 40);
         },
         {{10, 10, kClear}, {30, 10, kRed}, {10, 30, kRed}}},
        {"region clip in device pixels",
         [](EmfBuilder& b) {
             std::vector<uint8_t> p;
             Put32(p, 48); // region size
             Put32(p, 5);  // RGN_COPY
             for (uint32_t v : {32u, 1u, 1u, 16u, 0u, 0u, 10u, 40u}) Put32(p, v);
             for (uint32_t v : {0u, 0u, 10u, 40u}) Put32(p, v);
             b.Raw(75, p);
             b.Brush(1, 0, Cr(0, 0, 255)).Select(1).NoPen().Rect(0, 0, 40, 40);
         },
         {{5, 20, kBlue}, {20, 20, kClear}}},
        {"anisotropic window onto the viewport",
         [](EmfBuilder& b) {
             b.R(17, {8}).R(9, {4, 4}).R(11, {40, 40}); // one logical unit is ten pixels
             b.Brush(1, 0, Cr(0, 255, 0)).Select(1).NoPen().Rect(2, 2, 4, 4);
         },
         {{30, 30, kGreen}, {10, 10, kClear}}},
        {"himetric turns the y axis up",
         [](EmfBuilder& b) {
             // 0.01 mm units at 96 dpi; the viewport origin at the bottom.
             b.R(17, {3}).R(12, {0, 40});
             b.Brush(1, 0, Cr(255, 0, 0)).Select(1).NoPen().Rect(0, 0, 529, 529); // 20 pixels
         },
         {{10, 30, kRed}, {10, 10, kClear}}},
        {"world transform",
         [](EmfBuilder& b) {
             std::vector<uint8_t> p;
             for (float f : {2.0f, 0.0f, 0.0f, 2.0f, 10.0f, 0.0f}) PutF(p, f);
             b.Raw(35, p);
             b.Brush(1, 0, Cr(0, 0, 255)).Select(1).NoPen().Rect(0, 0, 10, 10); // 10..30 x 0..20
         },
         {{25, 15, kBlue}, {5, 5, kClear}, {35, 25, kClear}}},
        {"hatched brush on an opaque background",
         [](EmfBuilder& b) {
             b.R(25, {Cr(255, 255, 255)}).R(18, {2});
             b.Brush(1, 2, Cr(0, 0, 0), 4).Select(1).NoPen().Rect(0, 0, 40, 40);
         },
         {}},
        {"stretched DIB quadrants",
         [&quad](EmfBuilder& b) { b.StretchDib(0, 0, 40, 40, 2, 2, quad); },
         {{10, 10, kRed}, {30, 10, kGreen}, {10, 30, kBlue}, {30, 30, kWhite}}},
        {"DIB with its source rectangle taken from the bottom left",
         [](EmfBuilder& b) {
             std::vector<uint8_t> bits;
             const std::vector<uint8_t> info = Dib32(2, 2, {kRed, kGreen, kBlue, kWhite}, &bits);
             std::vector<uint8_t> p;
             for (int i = 0; i < 4; ++i) Put32(p, 0);
             for (uint32_t v : {0u, 0u, 1u, 0u, 1u, 1u}) Put32(p, v); // the lower right pixel
             Put32(p, 80);
             Put32(p, uint32_t(info.size()));
             Put32(p, uint32_t(80 + info.size()));
             Put32(p, uint32_t(bits.size()));
             Put32(p, 0);
             Put32(p, 0x00CC0020);
             Put32(p, 40);
             Put32(p, 40);
             p.insert(p.end(), info.begin(), info.end());
             p.insert(p.end(), bits.begin(), bits.end());
             b.Raw(81, p);
         },
         {{20, 20, kWhite}}},
        {"bitblt copies pixel for pixel",
         [](EmfBuilder& b) {
             std::vector<uint8_t> bits;
             const std::vector<uint8_t> info = Dib32(2, 2, {kRed, kGreen, kBlue, kWhite}, &bits);
             std::vector<uint8_t> p;
             for (int i = 0; i < 4; ++i) Put32(p, 0);
             for (uint32_t v : {10u, 10u, 2u, 2u, 0x00CC0020u, 0u, 0u}) Put32(p, v);
             for (float f : {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f}) PutF(p, f);
             Put32(p, 0);
             Put32(p, 0);
             Put32(p, 100);
             Put32(p, uint32_t(info.size()));
             Put32(p, uint32_t(100 + info.size()));
             Put32(p, uint32_t(bits.size()));
             p.insert(p.end(), info.begin(), info.end());
             p.insert(p.end(), bits.begin(), bits.end());
             b.Raw(76, p);
         },
         {{10, 10, kRed}, {11, 10, kGreen}, {10, 11, kBlue}, {11, 11, kWhite}, {12, 12, kClear}}},
        {"set DIB bits to the device at its size",
         [](EmfBuilder& b) {
             std::vector<uint8_t> bits;
             const std::vector<uint8_t> info = Dib32(2, 2, {kRed, kGreen, kBlue, kWhite}, &bits);
             std::vector<uint8_t> p;
             for (int i = 0; i < 4; ++i) Put32(p, 0);
             for (uint32_t v : {30u, 5u, 0u, 0u, 2u, 2u, 76u, uint32_t(info.size()),
                                uint32_t(76 + info.size()), uint32_t(bits.size()), 0u, 0u, 2u})
                 Put32(p, v);
             p.insert(p.end(), info.begin(), info.end());
             p.insert(p.end(), bits.begin(), bits.end());
             b.Raw(80, p);
         },
         {{30, 5, kRed}, {31, 5, kGreen}, {30, 6, kBlue}, {31, 6, kWhite}, {29, 5, kClear}}},
        {"mask and image keep the transparent surroundings",
         [](EmfBuilder& b) {
             // SRCAND with a mask (white = keep), then SRCPAINT with the image (black = nothing).
             b.StretchDib(0, 0, 40, 40, 2, 1, {kWhite, kBlack}, 0x008800C6);
             b.StretchDib(0, 0, 40, 40, 2, 1, {kBlack, kRed}, 0x00EE0086);
         },
         {{10, 20, kClear}, {30, 20, kRed}}},
        {"pattern blit with the brush, then blackness",
         [](EmfBuilder& b) {
             b.Brush(1, 0, Cr(0, 255, 0)).Select(1);
             std::vector<int64_t> blt = {0, 0, 0,          0, 0, 0, 20, 40, 0x00F00021, 0, 0, 0x3F800000,
                                         0, 0, 0x3F800000, 0, 0, 0, 0,  0,  0,          0, 0};
             std::vector<uint8_t> p;
             for (int64_t v : blt) Put32(p, uint32_t(v));
             b.Raw(76, p);
             std::vector<uint8_t> q;
             for (int64_t v : {0, 0, 0,          0, 20, 0, 20, 40, 0x00000042, 0, 0, 0x3F800000,
                               0, 0, 0x3F800000, 0, 0,  0, 0,  0,  0,          0, 0})
                 Put32(q, uint32_t(v));
             b.Raw(76, q);
         },
         {{10, 20, kGreen}, {30, 20, kBlack}}},
        {"opaque text rectangle in the background colour",
         [](EmfBuilder& b) {
             b.R(25, {Cr(0, 0, 255)}).Font(1, -16).Select(1);
             b.Text(2, 2, u"Hi", 0x2, {0, 0, 40, 40});
         },
         {{38, 38, kBlue}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EmfBuilder b(40, 40);
        c.build(b);
        auto img = Decode(b.Bytes());
        ASSERT_EQ(img->GetLastStatus(), Ok);
        ASSERT_EQ(img->GetWidth(), 40u);
        const auto px = Raster(*img);
        ASSERT_EQ(px.size(), 1600u);
        for (const Probe& p : c.probes)
            EXPECT_EQ(At(px, 40, p.x, p.y), p.colour) << "at " << p.x << "," << p.y;
        if (std::string(c.name).find("hatched") != std::string::npos) {
            // Cross hatching: black lines on white, nothing left transparent.
            EXPECT_GT(Count(px, [](ARGB v) { return v == kBlack; }), 100u);
            EXPECT_GT(Count(px, [](ARGB v) { return v == kWhite; }), 800u);
            EXPECT_EQ(Count(px, [](ARGB v) { return AlphaOf(v) == 0; }), 0u);
        }
    }
}

TEST(MetafileRecords, TextIsDrawnInItsColourAndAlignment) {
    ASSERT_NE(drawing_fixtures::GuiApp(), nullptr);
    struct Case {
        const char* name;
        uint32_t align;
        int32_t x;
        uint32_t inkFrom, inkTo; // columns where the ink must lie
    };
    const Case cases[] = {
        {"left", 0, 10, 10, 120},
        {"right", 2, 110, 0, 111},
        {"centre", 6, 60, 0, 120},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EmfBuilder b(120, 40);
        b.R(24, {Cr(255, 0, 0)}).R(18, {1}).R(22, {c.align}).Font(1, -24).Select(1);
        b.Text(c.x, 5, u"WWW");
        auto img = Decode(b.Bytes());
        ASSERT_EQ(img->GetLastStatus(), Ok);
        const auto px = Raster(*img);
        ASSERT_EQ(px.size(), 120u * 40u);
        size_t ink = 0, outside = 0;
        uint32_t minX = 120, maxX = 0;
        for (uint32_t y = 0; y < 40; ++y)
            for (uint32_t x = 0; x < 120; ++x) {
                const ARGB v = At(px, 120, x, y);
                if (AlphaOf(v) == 0) continue;
                // Anti-aliased edges blend only alpha; the colour is the text colour.
                EXPECT_EQ(v & 0xFFFFFF, 0xFF0000u);
                ++ink;
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                if (x < c.inkFrom || x > c.inkTo) ++outside;
            }
        EXPECT_GT(ink, 100u);
        EXPECT_EQ(outside, 0u);
        if (c.align == 2) {
            EXPECT_GT(minX, 30u); // three letters of 24 pixels end at 110
        }
        if (c.align == 6) {
            EXPECT_LT(std::abs(int(minX + maxX) / 2 - 60), 4);
        }
    }
}

TEST(MetafileRecords, PictureScalesToTheRequestedSize) {
    EmfBuilder b(40, 20);
    b.Brush(1, 0, Cr(255, 0, 0)).Select(1).NoPen().Rect(10, 5, 20, 15);
    auto img = Decode(b.Bytes());
    ASSERT_EQ(img->GetLastStatus(), Ok);
    const auto px = Raster(*img, 160, 40); // four times wider, twice as high
    ASSERT_EQ(px.size(), 160u * 40u);
    EXPECT_EQ(At(px, 160, 41, 11), kRed);
    EXPECT_EQ(At(px, 160, 78, 28), kRed);
    EXPECT_EQ(At(px, 160, 38, 20), kClear);
    EXPECT_EQ(At(px, 160, 82, 20), kClear);
    EXPECT_EQ(At(px, 160, 60, 8), kClear);
}

TEST(MetafileRecords, AlphaBlendMixesWithWhatIsBelow) {
    EmfBuilder b(20, 20);
    b.Brush(1, 0, Cr(0, 0, 255)).Select(1).NoPen().Rect(0, 0, 20, 20);
    // One premultiplied half-transparent red pixel stretched over everything, constant alpha 255.
    std::vector<uint8_t> info, bits;
    info = Dib32(1, 1, {0}, &bits);
    bits = {0x00, 0x00, 0x80, 0x80};
    std::vector<uint8_t> p;
    for (int i = 0; i < 4; ++i) Put32(p, 0);
    for (uint32_t v : {0u, 0u, 20u, 20u, 0x01FF0000u, 0u, 0u}) Put32(p, v);
    for (float f : {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f}) PutF(p, f);
    for (uint32_t v : {0u, 0u, 108u, uint32_t(info.size()), uint32_t(108 + info.size()), 4u, 1u, 1u})
        Put32(p, v);
    p.insert(p.end(), info.begin(), info.end());
    p.insert(p.end(), bits.begin(), bits.end());
    b.Raw(114, p);
    auto img = Decode(b.Bytes());
    ASSERT_EQ(img->GetLastStatus(), Ok);
    const auto px = Raster(*img);
    ASSERT_EQ(px.size(), 400u);
    const ARGB c = At(px, 20, 10, 10);
    EXPECT_EQ(AlphaOf(c), 255);
    EXPECT_NEAR(RedOf(c), 128, 2);
    EXPECT_EQ(GreenOf(c), 0);
    EXPECT_NEAR(BlueOf(c), 127, 2);
}

TEST(MetafileRecords, GradientRectanglesRunBetweenTheirCorners) {
    EmfBuilder b(40, 10);
    std::vector<uint8_t> p;
    for (int i = 0; i < 4; ++i) Put32(p, 0);
    Put32(p, 2); // vertices
    Put32(p, 1); // rectangles
    Put32(p, 0); // horizontal
    for (uint32_t v : {0u, 0u}) Put32(p, v);
    for (uint32_t c : {0xFF00u, 0u, 0u, 0xFF00u}) Put16(p, c); // red
    for (uint32_t v : {40u, 10u}) Put32(p, v);
    for (uint32_t c : {0u, 0u, 0xFF00u, 0xFF00u}) Put16(p, c); // blue
    Put32(p, 0);
    Put32(p, 1);
    b.Raw(118, p);
    auto img = Decode(b.Bytes());
    ASSERT_EQ(img->GetLastStatus(), Ok);
    const auto px = Raster(*img);
    ASSERT_EQ(px.size(), 400u);
    const ARGB left = At(px, 40, 0, 5), mid = At(px, 40, 20, 5), right = At(px, 40, 39, 5);
    EXPECT_GT(RedOf(left), 240);
    EXPECT_LT(BlueOf(left), 15);
    EXPECT_NEAR(RedOf(mid), 128, 10);
    EXPECT_NEAR(BlueOf(mid), 128, 10);
    EXPECT_GT(BlueOf(right), 240);
    EXPECT_EQ(AlphaOf(mid), 255);
}

// ---- Windows metafiles ---------------------------------------------------------------------------------

namespace {

struct WmfBuilder {
    std::vector<uint8_t> body;
    uint32_t maxRecord = 3;
    WmfBuilder& R(uint16_t function, std::initializer_list<int32_t> words) {
        std::vector<uint16_t> w;
        for (int32_t x : words) w.push_back(uint16_t(x));
        return Words(function, w);
    }
    WmfBuilder& Words(uint16_t function, const std::vector<uint16_t>& words) {
        Put32(body, uint32_t(3 + words.size()));
        Put16(body, function);
        for (uint16_t x : words) Put16(body, x);
        maxRecord = std::max<uint32_t>(maxRecord, uint32_t(3 + words.size()));
        return *this;
    }
    std::vector<uint8_t> Bytes(bool placeable, int16_t right = 0, int16_t bottom = 0,
                               uint16_t inch = 0) const {
        std::vector<uint8_t> v;
        if (placeable) {
            Put32(v, 0x9AC6CDD7);
            for (int x : {0, 0, 0, int(right), int(bottom), int(inch)}) Put16(v, uint32_t(x));
            Put32(v, 0);
            uint16_t sum = 0;
            for (size_t i = 0; i < 20; i += 2) sum ^= uint16_t(v[i] | (v[i + 1] << 8));
            Put16(v, sum);
        }
        Put16(v, 1);
        Put16(v, 9);
        Put16(v, 0x300);
        Put32(v, uint32_t((18 + body.size() + 6) / 2));
        Put16(v, 8);
        Put32(v, maxRecord);
        Put16(v, 0);
        v.insert(v.end(), body.begin(), body.end());
        Put32(v, 3);
        Put16(v, 0);
        return v;
    }
};

} // namespace

TEST(WmfRecords, ObjectsTakeTheLowestFreeSlot) {
    WmfBuilder b;
    b.R(0x020C, {100, 100});        // window 100 x 100
    b.R(0x02FC, {0, 0x00FF, 0, 0}); // slot 0: red brush
    b.R(0x02FC, {0, 0xFF00, 0, 0}); // slot 1: green brush
    b.R(0x01F0, {0});               // slot 0 freed
    b.R(0x02FC, {0, 0, 0x00FF, 0}); // slot 0 again: blue brush
    b.R(0x02FA, {5, 0, 0, 0, 0});   // slot 2: null pen
    b.R(0x012D, {2});
    b.R(0x012D, {0});
    b.R(0x041B, {50, 50, 0, 0}); // rectangle left 0, top 0, right 50, bottom 50
    b.R(0x012D, {1});
    b.R(0x0418, {100, 100, 50, 50}); // ellipse in the lower right quarter
    auto img = Decode(b.Bytes(true, 100, 100, 96));
    ASSERT_EQ(img->GetLastStatus(), Ok);
    EXPECT_EQ(img->GetWidth(), 100u);
    const auto px = Raster(*img);
    ASSERT_EQ(px.size(), 10000u);
    EXPECT_EQ(At(px, 100, 25, 25), kBlue);
    EXPECT_EQ(At(px, 100, 75, 75), kGreen);
    EXPECT_EQ(At(px, 100, 75, 25), kClear);
}

TEST(WmfRecords, PlainFileTakesItsSizeFromTheWindowAndScalesToTheOutput) {
    WmfBuilder b;
    b.R(0x020B, {0, 0});
    b.R(0x020C, {30, 60}); // height 30, width 60
    b.R(0x02FC, {0, 0x00FF, 0, 0});
    b.R(0x012D, {0});
    b.R(0x02FA, {5, 0, 0, 0, 0});
    b.R(0x012D, {1});
    b.R(0x041B, {30, 30, 0, 0}); // the left half
    auto img = Decode(b.Bytes(false));
    ASSERT_EQ(img->GetLastStatus(), Ok);
    EXPECT_EQ(img->RawFormat(), ImageFormatWMF);
    EXPECT_EQ(img->GetWidth(), 60u);
    EXPECT_EQ(img->GetHeight(), 30u);
    const auto px = Raster(*img, 120, 60); // drawn at twice the size
    ASSERT_EQ(px.size(), 7200u);
    EXPECT_EQ(At(px, 120, 30, 30), kRed);
    EXPECT_EQ(At(px, 120, 90, 30), kClear);
}

TEST(WmfRecords, StretchDibAndText) {
    ASSERT_NE(drawing_fixtures::GuiApp(), nullptr);
    WmfBuilder b;
    b.R(0x020C, {40, 40});
    // META_STRETCHDIB: rop, usage, source h/w/y/x, destination h/w/y/x, then the packed DIB.
    std::vector<uint8_t> bits;
    const std::vector<uint8_t> info = Dib32(2, 2, {kRed, kGreen, kBlue, kWhite}, &bits);
    std::vector<uint16_t> w = {0x0020, 0x00CC, 0, 2, 2, 0, 0, 20, 40, 0, 0};
    std::vector<uint8_t> dib = info;
    dib.insert(dib.end(), bits.begin(), bits.end());
    for (size_t i = 0; i < dib.size(); i += 2) w.push_back(uint16_t(dib[i] | (dib[i + 1] << 8)));
    b.Words(0x0F43, w);
    // Font of 12 units, red text, transparent background, text in the lower half.
    std::vector<uint16_t> font = {uint16_t(-12), 0, 0, 0, 700, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i) font.push_back(0);
    b.Words(0x02FB, font);
    b.R(0x012D, {0});
    b.R(0x0209, {0x00FF, 0});
    b.R(0x0102, {1});
    b.R(0x0521, {2, 'W' | ('W' << 8), 24, 2}); // TEXTOUT "WW" at (2, 24)
    auto img = Decode(b.Bytes(true, 40, 40, 96));
    ASSERT_EQ(img->GetLastStatus(), Ok);
    const auto px = Raster(*img);
    ASSERT_EQ(px.size(), 1600u);
    EXPECT_EQ(At(px, 40, 10, 5), kRed);
    EXPECT_EQ(At(px, 40, 30, 5), kGreen);
    EXPECT_EQ(At(px, 40, 10, 15), kBlue);
    EXPECT_GT(Count(px, [](ARGB v) { return AlphaOf(v) > 128 && (v & 0xFFFFFF) == 0xFF0000; }), 20u);
}

TEST(WmfRecords, BitmapAndClipRecords) {
    std::vector<uint8_t> bits;
    const std::vector<uint8_t> info = Dib32(2, 2, {kRed, kGreen, kBlue, kWhite}, &bits);
    std::vector<uint8_t> dib = info;
    dib.insert(dib.end(), bits.begin(), bits.end());
    auto withDib = [&dib](std::vector<uint16_t> w) {
        for (size_t i = 0; i < dib.size(); i += 2) w.push_back(uint16_t(dib[i] | (dib[i + 1] << 8)));
        return w;
    };
    struct Probe {
        uint32_t x, y;
        ARGB colour;
    };
    struct Case {
        const char* name;
        std::function<void(WmfBuilder&)> build;
        std::vector<Probe> probes;
    };
    const std::vector<Case> cases = {
        {"DIB stretch blit",
         [&](WmfBuilder& b) {
             b.Words(0x0B41, withDib({0x0020, 0x00CC, 2, 2, 0, 0, 40, 40, 0, 0}));
         },
         {{10, 10, kRed}, {30, 10, kGreen}, {10, 30, kBlue}, {30, 30, kWhite}}},
        {"DIB blit at its size",
         [&](WmfBuilder& b) {
             b.Words(0x0940, withDib({0x0020, 0x00CC, 0, 0, 2, 2, 5, 7}));
         },
         {{7, 5, kRed}, {8, 5, kGreen}, {7, 6, kBlue}, {8, 6, kWhite}, {9, 5, kClear}}},
        {"DIB bits to the device",
         [&](WmfBuilder& b) {
             b.Words(0x0D33, withDib({0, 2, 0, 0, 0, 2, 2, 20, 20}));
         },
         {{20, 20, kRed}, {21, 21, kWhite}, {22, 22, kClear}}},
        {"pattern blit and intersected clip",
         [](WmfBuilder& b) {
             b.R(0x02FC, {0, 0xFF00, 0, 0});
             b.R(0x012D, {0});
             b.R(0x0416, {40, 20, 0, 0}); // clip to the left half
             b.R(0x061D, {0x0021, 0x00F0, 40, 40, 0, 0});
         },
         {{10, 20, kGreen}, {30, 20, kClear}}},
        {"region selected as the clip",
         [](WmfBuilder& b) {
             // A region of one scan: rows 0..40, columns 20..40.
             b.R(0x06FF, {0, 6, 0, 0, 28, 1, 2, 20, 0, 40, 40, 2, 0, 40, 20, 40, 2});
             b.R(0x012C, {0});
             b.R(0x02FC, {0, 0, 0x00FF, 0});
             b.R(0x012D, {1});
             b.R(0x02FA, {5, 0, 0, 0, 0});
             b.R(0x012D, {2});
             b.R(0x041B, {40, 40, 0, 0});
         },
         {{10, 20, kClear}, {30, 20, kBlue}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WmfBuilder b;
        b.R(0x020C, {40, 40});
        c.build(b);
        auto img = Decode(b.Bytes(true, 40, 40, 96));
        ASSERT_EQ(img->GetLastStatus(), Ok);
        const auto px = Raster(*img);
        ASSERT_EQ(px.size(), 1600u);
        for (const Probe& p : c.probes)
            EXPECT_EQ(At(px, 40, p.x, p.y), p.colour) << "at " << p.x << "," << p.y;
    }
}

// ---- writing -------------------------------------------------------------------------------------------

namespace {

class FailingStream final : public Stream {
  public:
    explicit FailingStream(size_t allowed) : allowed_(allowed) {}
    size_t Read(void*, size_t) override { return 0; }
    bool Write(const void*, size_t size) override {
        if (size > allowed_) return false;
        allowed_ -= size;
        return true;
    }
    bool Seek(int64_t, SeekOrigin) override { return true; }
    uint64_t Position() const override { return 0; }
    uint64_t Size() const override { return 0; }
    bool CanWrite() const override { return true; }

  private:
    size_t allowed_;
};

} // namespace

TEST(EmfWriter, RoundTripKeepsSizePixelsAlphaAndResolution) {
    const int w = 7, h = 5;
    std::vector<ARGB> pixels;
    for (int i = 0; i < w * h; ++i)
        pixels.push_back(MakeARGB(uint8_t(i % 3 == 0 ? 255 : i * 7), uint8_t(i * 37), uint8_t(255 - i * 5),
                                  uint8_t(i * 11)));
    auto src = drawing_fixtures::MakeImage(w, h, PixelFormat32bppARGB, pixels);
    ASSERT_EQ(src->SetResolution(150, 72), Ok);
    MemoryStream out;
    ASSERT_EQ(WriteEmf(*src, out), Ok);

    auto img = Decode(out.TakeBytes());
    ASSERT_EQ(img->GetLastStatus(), Ok);
    EXPECT_EQ(img->GetType(), ImageTypeMetafile);
    EXPECT_EQ(img->GetWidth(), uint32_t(w));
    EXPECT_EQ(img->GetHeight(), uint32_t(h));
    EXPECT_NEAR(img->GetHorizontalResolution(), 150, 0.01);
    EXPECT_NEAR(img->GetVerticalResolution(), 72, 0.01);
    auto raster = img->Clone(Rect{0, 0, w, h}, PixelFormat32bppARGB);
    ASSERT_EQ(raster->GetLastStatus(), Ok);
    EXPECT_EQ(ReadARGB(*raster), pixels);
}

TEST(EmfWriter, OpaqueBitmapAndMetafileSourcesRoundTrip) {
    auto rgb = drawing_fixtures::MakeImage(3, 2, PixelFormat24bppRGB,
                                           {kRed, kGreen, kBlue, kWhite, kBlack, 0xFF123456});
    MemoryStream out;
    ASSERT_EQ(WriteEmf(*rgb, out), Ok);
    auto img = Decode(out.TakeBytes());
    ASSERT_EQ(img->GetLastStatus(), Ok);
    // A metafile source is drawn at its size and recorded again.
    MemoryStream again;
    ASSERT_EQ(WriteEmf(*img, again), Ok);
    auto twice = Decode(again.TakeBytes());
    ASSERT_EQ(twice->GetLastStatus(), Ok);
    auto raster = twice->Clone(Rect{0, 0, 3, 2}, PixelFormat32bppARGB);
    EXPECT_EQ(ReadARGB(*raster), (std::vector<ARGB>{kRed, kGreen, kBlue, kWhite, kBlack, 0xFF123456}));
}

TEST(EmfWriter, FailuresAreReported) {
    auto src = drawing_fixtures::Filled(4, 4, PixelFormat32bppARGB, kRed);
    for (size_t allowed : {size_t(0), size_t(100), size_t(228 + 16), size_t(228 + 64)}) {
        FailingStream s(allowed);
        EXPECT_EQ(WriteEmf(*src, s), Win32Error) << allowed;
    }
    auto failed = Image::Failed(GenericError);
    MemoryStream out;
    EXPECT_NE(WriteEmf(*failed, out), Ok);
    // A locked bitmap cannot be read.
    BitmapData d;
    ASSERT_EQ(src->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    EXPECT_NE(WriteEmf(*src, out), Ok);
    src->UnlockBits(&d);
}

// ---- the image's other paths ---------------------------------------------------------------------------

TEST(MetafileImage, StreamsCloneAndDrawingRasterise) {
    EmfBuilder b(20, 10);
    b.Brush(1, 0, Cr(0, 0, 255)).Select(1).NoPen().Rect(0, 0, 10, 10);
    const auto bytes = b.Bytes();
    MemoryStream stream(bytes.data(), bytes.size());
    auto img = Image::FromStream(stream);
    ASSERT_EQ(img->GetLastStatus(), Ok);
    ASSERT_EQ(img->GetType(), ImageTypeMetafile);

    // LockBits is for bitmaps; a clone of an area is one.
    BitmapData d;
    EXPECT_NE(img->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d), Ok);
    img->GetLastStatus();
    auto copy = img->Clone();
    ASSERT_EQ(copy->GetLastStatus(), Ok);
    EXPECT_EQ(copy->GetType(), ImageTypeMetafile);
    auto area = copy->Clone(Rect{5, 0, 10, 10}, PixelFormat32bppARGB);
    ASSERT_EQ(area->GetLastStatus(), Ok);
    EXPECT_EQ(area->GetType(), ImageTypeBitmap);
    const auto px = ReadARGB(*area);
    ASSERT_EQ(px.size(), 100u);
    EXPECT_EQ(px[2], kBlue);
    EXPECT_EQ(px[7], kClear);

    // Drawn at twice its size onto a white bitmap.
    auto target = drawing_fixtures::Filled(40, 20, PixelFormat32bppARGB, kWhite);
    auto g = Graphics::FromImage(target.get());
    ASSERT_EQ(g->DrawImage(img.get(), 0, 0, 40, 20), Ok);
    const auto drawn = ReadARGB(*target);
    EXPECT_EQ(drawn[size_t(10) * 40 + 10], kBlue);
    EXPECT_EQ(drawn[size_t(10) * 40 + 30], kWhite);
}

TEST(MetafileImage, EmptyBoundsFallBackToTheFrame) {
    EmfBuilder b(96, 48); // frame 25.4 x 12.7 mm at 96 dpi
    auto img = Decode(b.Bytes(-1, -1));
    ASSERT_EQ(img->GetLastStatus(), Ok);
    EXPECT_EQ(img->GetWidth(), 96u);
    EXPECT_EQ(img->GetHeight(), 48u);
}

// ---- damaged input -------------------------------------------------------------------------------------

TEST(MetafileDamage, BadFilesFailCleanly) {
    EmfBuilder good(20, 20);
    good.Brush(1, 0, Cr(255, 0, 0)).Select(1).Rect(0, 0, 10, 10);
    const std::vector<uint8_t> emf = good.Bytes();
    const auto drawing = ReadFileBytes(kData + "drawing.emf");
    const auto wmf = ReadFileBytes(kData + "drawing.wmf");
    ASSERT_FALSE(drawing.empty());
    ASSERT_FALSE(wmf.empty());

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    auto with = [](std::vector<uint8_t> v, size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(value >> (8 * i));
        return v;
    };
    auto cut = [](std::vector<uint8_t> v, size_t n) {
        v.resize(n);
        return v;
    };
    cases.push_back({"emf cut in a record", cut(drawing, 500)});
    cases.push_back({"emf cut before its end record", cut(drawing, drawing.size() - 20)});
    cases.push_back({"emf cut in its header", cut(drawing, 60)});
    cases.push_back({"emf header longer than the file", with(emf, 4, 100000)});
    cases.push_back({"emf record longer than what is left", with(emf, 108 + 4, 0x7FFFFFF0)});
    cases.push_back({"emf record of size 0", with(emf, 108 + 4, 0)});
    cases.push_back({"emf record size not a multiple of four", with(emf, 108 + 4, 26)});
    cases.push_back({"emf huge bounds", with(with(emf, 16, 1000000), 20, 1000000)});
    cases.push_back({"emf bounds and frame empty", with(with(with(emf, 16, uint32_t(-1)), 32, 0), 36, 0)});
    cases.push_back({"wmf cut in a record", cut(wmf, 300)});
    cases.push_back({"wmf cut before its end record", cut(wmf, wmf.size() - 6)});
    cases.push_back({"wmf record longer than what is left", with(wmf, 40, 0x7FFFFFFF)});
    cases.push_back({"wmf record of size 0", with(wmf, 40, 0)});
    {
        std::vector<uint8_t> v = wmf;
        v[14] = 0, v[15] = 0; // no units per inch
        cases.push_back({"wmf placeable without units", v});
    }
    {
        std::vector<uint8_t> v = wmf;
        v[10] = 0xFF, v[11] = 0x7F, v[12] = 0xFF, v[13] = 0x7F, v[14] = 1, v[15] = 0; // 32767 inches
        cases.push_back({"wmf huge placeable box", v});
    }
    {
        WmfBuilder b; // no window extent
        b.R(0x041B, {10, 10, 0, 0});
        cases.push_back({"plain wmf without a window", b.Bytes(false)});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto img = Decode(c.bytes);
        EXPECT_NE(img->GetLastStatus(), Ok);
        EXPECT_EQ(img->GetType(), ImageTypeUnknown);
    }
}

TEST(MetafileDamage, LyingOffsetsInsideRecordsAreSkipped) {
    ASSERT_NE(drawing_fixtures::GuiApp(), nullptr);
    EmfBuilder b(20, 20);
    b.StretchDib(0, 0, 20, 20, 2, 2, {kRed, kRed, kRed, kRed});
    // Bits offset and size pointing past the record, a text string past it, a region past it,
    // polygon counts beyond the points.
    for (int i = 0; i < 4; ++i) b.body[56 + i] = uint8_t(0xF0000000u >> (8 * i));
    b.Text(0, 0, u"x");
    const size_t text = b.body.size() - (8 + 76 + 4);
    for (int i = 0; i < 4; ++i) b.body[text + 44 + i] = uint8_t(0x40000000u >> (8 * i));
    b.R(75, {0x7FFFFFFF, 5, 32, 1, 1000000, 0});
    b.R(86, {0, 0, 0, 0, 0x10000000});
    b.R(91, {0, 0, 0, 0, 2, 3, 100, 100});
    auto img = Decode(b.Bytes());
    ASSERT_EQ(img->GetLastStatus(), Ok);
    const auto px = Raster(*img);
    ASSERT_EQ(px.size(), 400u);
    EXPECT_EQ(Count(px, [](ARGB v) { return v != kClear; }), 0u);
}
