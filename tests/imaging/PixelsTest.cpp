// LockBits in every format over every stored format, Clone of areas, and the transparency test.
#include "imaging/Image.h"
#include "imaging/PixelConvert.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using namespace imaging;
using testsupport::ReadARGB;

namespace {

const PixelFormat kStored[] = {PixelFormat1bppIndexed,    PixelFormat4bppIndexed, PixelFormat8bppIndexed,
                               PixelFormat16bppGrayScale, PixelFormat16bppRGB555, PixelFormat16bppRGB565,
                               PixelFormat16bppARGB1555,  PixelFormat24bppRGB,    PixelFormat32bppRGB,
                               PixelFormat32bppARGB,      PixelFormat32bppPARGB,  PixelFormat48bppRGB,
                               PixelFormat64bppARGB,      PixelFormat64bppPARGB,  PixelFormat32bppCMYK};

void WriteAll(Image& img, const std::vector<ARGB>& px) {
    BitmapData d;
    ASSERT_EQ(img.LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    for (uint32_t y = 0; y < d.Height; ++y)
        std::memcpy(static_cast<uint8_t*>(d.Scan0) + int64_t(y) * d.Stride, &px[size_t(y) * d.Width],
                    4 * d.Width);
    ASSERT_EQ(img.UnlockBits(&d), Ok);
}

bool Exact5(uint32_t v) {
    const uint32_t q = v >> 3;
    return v == ((q << 3) | (q >> 2));
}
bool Exact6(uint32_t v) {
    const uint32_t q = v >> 2;
    return v == ((q << 2) | (q >> 4));
}

// Whether `c` survives being stored in `f` unchanged (indexed formats: with their default palette).
bool Representable(PixelFormat f, ARGB c) {
    const uint32_t a = AlphaOf(c), r = RedOf(c), g = GreenOf(c), b = BlueOf(c);
    switch (f) {
    case PixelFormat1bppIndexed:
    case PixelFormat4bppIndexed:
    case PixelFormat8bppIndexed: {
        const auto e = DefaultPalette(f).Entries;
        return std::find(e.begin(), e.end(), c) != e.end();
    }
    case PixelFormat16bppGrayScale:
        return a == 255 && r == g && g == b;
    case PixelFormat16bppRGB555:
        return a == 255 && Exact5(r) && Exact5(g) && Exact5(b);
    case PixelFormat16bppARGB1555:
        return (a == 255 || a == 0) && Exact5(r) && Exact5(g) && Exact5(b);
    case PixelFormat16bppRGB565:
        return a == 255 && Exact5(r) && Exact6(g) && Exact5(b);
    case PixelFormat32bppCMYK:
        return a == 255 && (r == 0 || r == 255) && (g == 0 || g == 255) && (b == 0 || b == 255);
    case PixelFormat32bppARGB:
    case PixelFormat64bppARGB:
        return true;
    case PixelFormat32bppPARGB:
    case PixelFormat64bppPARGB:
        return a == 255 || c == 0;
    default:
        return a == 255;
    }
}

const ARGB kCandidates[] = {0xFF000000, 0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00,
                            0xFF00FFFF, 0xFF808080, 0xFFC0C0C0, 0xFF336699, 0xFF8C4221, 0xFF101010,
                            0x80FF0000, 0x00000000, 0x0000FF00, 0x40123456};

} // namespace

TEST(LockBits, StoredBytesOfKnownColours) {
    struct Case {
        PixelFormat format;
        ARGB colour;
        std::vector<uint8_t> bytes;
        bool readOnly; // the bytes are not what writing the colour gives
    };
    const Case cases[] = {
        {PixelFormat1bppIndexed, 0xFFFFFFFF, {0x80}, false},
        {PixelFormat4bppIndexed, 0xFFFF0000, {0x90}, false},
        {PixelFormat8bppIndexed, 0xFF0000FF, {0x0C}, false},
        {PixelFormat16bppGrayScale, 0xFF808080, {0x80, 0x80}, false},
        {PixelFormat16bppRGB555, 0xFFFF0000, {0x00, 0x7C}, false},
        {PixelFormat16bppRGB565, 0xFF00FF00, {0xE0, 0x07}, false},
        {PixelFormat16bppARGB1555, 0xFF0000FF, {0x1F, 0x80}, false},
        {PixelFormat16bppARGB1555, 0x000000FF, {0x1F, 0x00}, false},
        {PixelFormat24bppRGB, 0xFF112233, {0x33, 0x22, 0x11}, false},
        {PixelFormat32bppRGB, 0xFF112233, {0x33, 0x22, 0x11, 0xFF}, false},
        {PixelFormat32bppARGB, 0x80112233, {0x33, 0x22, 0x11, 0x80}, false},
        {PixelFormat32bppPARGB, 0x80FF0000, {0x00, 0x00, 0x80, 0x80}, false},
        {PixelFormat48bppRGB, 0xFF112233, {0x33, 0x33, 0x22, 0x22, 0x11, 0x11}, false},
        {PixelFormat48bppRGB, 0xFFFF807F, {0xFF, 0x7F, 0x00, 0x80, 0xFF, 0xFF}, true}, // samples round
        {PixelFormat64bppARGB, 0x80112233, {0x33, 0x33, 0x22, 0x22, 0x11, 0x11, 0x80, 0x80}, false},
        {PixelFormat64bppPARGB, 0x80FF0000, {0x00, 0x00, 0x00, 0x00, 0x80, 0x80, 0x80, 0x80}, false},
        {PixelFormat32bppCMYK, 0xFFFF0000, {0x00, 0xFF, 0xFF, 0x00}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << PixelFormatName(c.format) << " " << std::hex << c.colour);
        std::vector<uint8_t> row(c.bytes);
        row.resize(8, 0);
        auto img = Image::CreateBitmapFromScan0(1, 1, 8, c.format, row.data());
        ASSERT_TRUE(Image::Usable(img));
        EXPECT_EQ(ReadARGB(*img)[0], c.colour);
        if (c.readOnly) continue;
        auto written = Image::CreateBitmap(1, 1, c.format);
        WriteAll(*written, {c.colour});
        const uint8_t* stored = written->ActiveFrameData().pixels.Row(0);
        EXPECT_EQ(std::vector<uint8_t>(stored, stored + c.bytes.size()), c.bytes);
    }
}

// Every stored format locked in every lock format, over a rectangle starting at an odd x so that
// sub-byte formats start mid-byte: reads give the stored colours, writes land inside the rectangle
// only, through the lock's own buffer and through a caller's buffer walked bottom-up.
TEST(LockBits, EveryStoredFormatInEveryLockFormat) {
    const uint32_t w = 13, h = 4;
    const Rect rect{3, 1, 7, 2};
    for (PixelFormat stored : kStored) {
        for (PixelFormat lock : kStored) {
            if (lock == PixelFormat32bppCMYK) continue;
            SCOPED_TRACE(testing::Message()
                         << PixelFormatName(stored) << " locked as " << PixelFormatName(lock));
            std::vector<ARGB> colours;
            for (ARGB c : kCandidates)
                if (Representable(stored, c) && Representable(lock, c)) colours.push_back(c);
            ASSERT_GE(colours.size(), 2u);
            std::vector<ARGB> before(w * h), after;
            for (uint32_t i = 0; i < w * h; ++i) before[i] = colours[(i * 7 + i / w) % colours.size()];

            for (bool userBuffer : {false, true}) {
                auto img = Image::CreateBitmap(int32_t(w), int32_t(h), stored);
                WriteAll(*img, before);
                ASSERT_EQ(ReadARGB(*img), before);

                // The indices of an indexed lock mean the image's palette when it fits, else the default.
                ColorPalette lockPal = DefaultPalette(lock);
                if (IsIndexedPixelFormat(stored) && IsIndexedPixelFormat(lock) &&
                    img->Palette().Count() <= (1u << GetPixelFormatSize(lock)))
                    lockPal = img->Palette();

                const int32_t userStride = DefaultStride(uint32_t(rect.Width), lock) + 4;
                std::vector<uint8_t> user(size_t(userStride) * rect.Height, 0xCD);
                BitmapData d;
                if (userBuffer) {
                    d.Stride = -userStride; // rows go upwards from the last one
                    d.Scan0 = user.data() + size_t(userStride) * (rect.Height - 1);
                }
                const uint32_t mode = ImageLockModeRead | ImageLockModeWrite |
                                      (userBuffer ? uint32_t(ImageLockModeUserInputBuf) : 0u);
                ASSERT_EQ(img->LockBits(&rect, mode, lock, &d), Ok);
                EXPECT_EQ(d.Width, uint32_t(rect.Width));
                EXPECT_EQ(d.PixelFormat, lock);
                after = before;
                for (int32_t y = 0; y < rect.Height; ++y) {
                    uint8_t* row = static_cast<uint8_t*>(d.Scan0) + int64_t(y) * d.Stride;
                    std::vector<ARGB> got(size_t(rect.Width));
                    ReadRowARGB(row, lock, &lockPal, 0, uint32_t(rect.Width), got.data());
                    for (int32_t x = 0; x < rect.Width; ++x) {
                        const size_t i = size_t(rect.Y + y) * w + size_t(rect.X + x);
                        EXPECT_EQ(got[size_t(x)], before[i]) << "x " << x << " y " << y;
                        after[i] = colours[(i * 5 + 1) % colours.size()];
                        WriteRowARGB(&after[i], 1, row, lock, &lockPal, uint32_t(x));
                    }
                }
                ASSERT_EQ(img->UnlockBits(&d), Ok);
                EXPECT_EQ(ReadARGB(*img), after);
            }
        }
    }
}

TEST(LockBits, WriteOnlyLockStartsFromZeroAndReplacesTheWholeRectangle) {
    const uint8_t px[] = {10, 20, 30, 40, 50, 60, 0, 0};
    auto img = Image::CreateBitmapFromScan0(2, 1, 8, PixelFormat24bppRGB, px);
    BitmapData d;
    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    const auto* buf = static_cast<uint32_t*>(d.Scan0);
    EXPECT_EQ(buf[0], 0u);
    EXPECT_EQ(buf[1], 0u);
    static_cast<uint32_t*>(d.Scan0)[1] = 0xFF0A0B0C;
    ASSERT_EQ(img->UnlockBits(&d), Ok);
    EXPECT_EQ(ReadARGB(*img), (std::vector<ARGB>{0xFF000000, 0xFF0A0B0C}));
}

// Reading a 16-bit pixel as 32 bits and writing it back must give the same bits, for every value.
TEST(LockBits, SixteenBitFormatsRoundTripEveryValue) {
    std::vector<uint16_t> all(65536);
    for (uint32_t v = 0; v < 65536; ++v) all[v] = uint16_t(v);
    for (PixelFormat f : {PixelFormat16bppRGB555, PixelFormat16bppRGB565, PixelFormat16bppARGB1555}) {
        SCOPED_TRACE(PixelFormatName(f));
        auto img = Image::CreateBitmapFromScan0(256, 256, 512, f, all.data());
        BitmapData d;
        ASSERT_EQ(img->LockBits(nullptr, ImageLockModeRead | ImageLockModeWrite, PixelFormat32bppARGB, &d),
                  Ok);
        ASSERT_EQ(img->UnlockBits(&d), Ok);
        const uint16_t mask = f == PixelFormat16bppRGB555 ? 0x7FFF : 0xFFFF;
        const auto* back = reinterpret_cast<const uint16_t*>(img->ActiveFrameData().pixels.Row(0));
        int wrong = 0;
        for (uint32_t v = 0; v < 65536; ++v) wrong += (back[v] & mask) != (v & mask);
        EXPECT_EQ(wrong, 0);
    }
}

// An 8-bit image whose palette is too big for a 4-bit lock: the lock's indices are those of the
// 16-colour default palette, both ways.
TEST(LockBits, IndexedLockShallowerThanThePalette) {
    auto img = Image::CreateBitmap(3, 1, PixelFormat8bppIndexed);
    img->ActiveFrameData().pixels.Row(0)[0] = 12; // blue in the default 8-bit palette
    img->ActiveFrameData().pixels.Row(0)[1] = 15; // white
    img->ActiveFrameData().pixels.Row(0)[2] = 40; // 0xFF00CC00, not among the 16 colours
    BitmapData d;
    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeRead | ImageLockModeWrite, PixelFormat4bppIndexed, &d), Ok);
    auto* b = static_cast<uint8_t*>(d.Scan0);
    EXPECT_EQ(b[0], 0xCF);
    EXPECT_EQ(b[1] >> 4, 10);             // lime is the nearest of the 16
    b[1] = uint8_t(0x90 | (b[1] & 0x0F)); // red
    ASSERT_EQ(img->UnlockBits(&d), Ok);
    EXPECT_EQ(ReadARGB(*img), (std::vector<ARGB>{0xFF0000FF, 0xFFFFFFFF, 0xFFFF0000}));
}

TEST(LockBits, RefusesBadRequests) {
    auto img = Image::CreateBitmap(4, 4, PixelFormat24bppRGB);
    BitmapData d;
    struct Case {
        Rect rect;
        uint32_t flags;
        PixelFormat format;
    };
    const Case bad[] = {
        {{0, 0, 0, 4}, ImageLockModeRead, PixelFormat32bppARGB},
        {{-1, 0, 2, 2}, ImageLockModeRead, PixelFormat32bppARGB},
        {{3, 0, 2, 2}, ImageLockModeRead, PixelFormat32bppARGB},
        {{0, 3, 1, 2}, ImageLockModeRead, PixelFormat32bppARGB},
        {{0, 0, 4, 4}, 0, PixelFormat32bppARGB},
        {{0, 0, 4, 4}, ImageLockModeRead, PixelFormat32bppCMYK},
        {{0, 0, 4, 4}, ImageLockModeRead, 0x12345},
        {{0, 0, 4, 4}, ImageLockModeRead | ImageLockModeUserInputBuf, PixelFormat32bppARGB}, // no buffer
    };
    for (const Case& c : bad) {
        d = BitmapData{};
        EXPECT_EQ(img->LockBits(&c.rect, c.flags, c.format, &d), InvalidParameter);
    }
    uint8_t small[8];
    d.Scan0 = small;
    d.Stride = 8; // four 32-bit pixels need 16 bytes a row
    EXPECT_EQ(img->LockBits(nullptr, ImageLockModeRead | ImageLockModeUserInputBuf, PixelFormat32bppARGB, &d),
              InvalidParameter);
    EXPECT_EQ(img->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, nullptr), InvalidParameter);

    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d), Ok);
    BitmapData other;
    EXPECT_EQ(img->LockBits(nullptr, ImageLockModeRead, PixelFormat24bppRGB, &other), WrongState);
    EXPECT_EQ(img->UnlockBits(&other), WrongState);
    EXPECT_EQ(img->UnlockBits(&d), Ok);
    EXPECT_EQ(img->UnlockBits(&d), WrongState);

    auto failed = Image::Failed(GenericError);
    EXPECT_EQ(failed->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d), InvalidParameter);
}

// ---- Clone -----------------------------------------------------------------------------------------

namespace {
std::shared_ptr<Image> Numbered(int32_t w, int32_t h) {
    auto img = Image::CreateBitmap(w, h, PixelFormat32bppARGB);
    std::vector<ARGB> px(size_t(w) * h);
    for (size_t i = 0; i < px.size(); ++i) px[i] = 0xFF000000u | uint32_t(i * 0x010203);
    WriteAll(*img, px);
    return img;
}
} // namespace

TEST(Clone, AreaKeepsPixelsResolutionAndProperties) {
    auto img = Numbered(6, 5);
    img->SetResolution(72, 150);
    uint16_t orient = 3;
    ASSERT_EQ(img->SetPropertyItem({PropertyTagOrientation, 2, PropertyTagTypeShort, &orient}), Ok);
    const auto all = ReadARGB(*img);

    struct Case {
        RectF area;
        bool useFloat;
        Rect expect;
    };
    const Case cases[] = {
        {{2, 1, 3, 4}, false, {2, 1, 3, 4}},
        {{0.6f, 0.4f, 2.4f, 1.6f}, true, {1, 0, 2, 2}},
        {{0, 0, 6, 5}, true, {0, 0, 6, 5}},
    };
    for (const Case& c : cases) {
        auto clone = c.useFloat ? img->Clone(c.area, PixelFormatDontCare)
                                : img->Clone(Rect{int32_t(c.area.X), int32_t(c.area.Y), int32_t(c.area.Width),
                                                  int32_t(c.area.Height)},
                                             PixelFormatDontCare);
        ASSERT_TRUE(Image::Usable(clone));
        ASSERT_EQ(clone->GetWidth(), uint32_t(c.expect.Width));
        ASSERT_EQ(clone->GetHeight(), uint32_t(c.expect.Height));
        EXPECT_EQ(clone->GetPixelFormat(), PixelFormat32bppARGB);
        EXPECT_FLOAT_EQ(clone->GetVerticalResolution(), 150.0f);
        EXPECT_NE(clone->FindProperty(PropertyTagOrientation), nullptr);
        const auto px = ReadARGB(*clone);
        for (int32_t y = 0; y < c.expect.Height; ++y)
            for (int32_t x = 0; x < c.expect.Width; ++x)
                EXPECT_EQ(px[size_t(y * c.expect.Width + x)],
                          all[size_t((c.expect.Y + y) * 6 + c.expect.X + x)]);
    }
}

TEST(Clone, ChangesFormat) {
    // 24-bit to 8-bit indexed takes the default palette and the nearest entries.
    const uint8_t rgb[] = {0x00, 0x00, 0xFF, 0x99, 0x66, 0x33, 0x01, 0x02, 0xFE, 0, 0, 0};
    auto img = Image::CreateBitmapFromScan0(3, 1, 12, PixelFormat24bppRGB, rgb);
    auto to8 = img->Clone(Rect{0, 0, 3, 1}, PixelFormat8bppIndexed);
    ASSERT_TRUE(Image::Usable(to8));
    EXPECT_EQ(to8->Palette(), DefaultPalette(PixelFormat8bppIndexed));
    EXPECT_EQ(ReadARGB(*to8), (std::vector<ARGB>{0xFFFF0000, 0xFF336699, 0xFFFF0000}));

    // A 4-bit image cloned at an odd x into 1 bit keeps its two-colour palette and the indices.
    auto four = Image::CreateBitmap(5, 1, PixelFormat4bppIndexed);
    four->SetPalette(ColorPalette{0, {0xFF112233, 0xFF445566}});
    const uint8_t nibbles[] = {0x01, 0x01, 0x00}; // 0 1 0 1 0
    std::memcpy(four->ActiveFrameData().pixels.Row(0), nibbles, 3);
    auto one = four->Clone(Rect{1, 0, 4, 1}, PixelFormat1bppIndexed);
    ASSERT_TRUE(Image::Usable(one));
    EXPECT_EQ(one->Palette().Entries, four->Palette().Entries);
    EXPECT_EQ(one->ActiveFrameData().pixels.Row(0)[0] & 0xF0, 0xA0); // 1 0 1 0

    // And back to 32 bits.
    auto argb = one->Clone(Rect{0, 0, 4, 1}, PixelFormat32bppARGB);
    EXPECT_EQ(ReadARGB(*argb), (std::vector<ARGB>{0xFF445566, 0xFF112233, 0xFF445566, 0xFF112233}));
}

TEST(Clone, AreasOutsideTheImageFail) {
    auto img = Numbered(4, 3);
    const Rect outside[] = {{-1, 0, 2, 2}, {0, 0, 5, 3},  {3, 0, 2, 1},         {0, 2, 1, 2},
                            {0, 0, 0, 3},  {0, 0, 2, -1}, {2147483647, 0, 1, 1}};
    for (const Rect& r : outside) {
        auto c = img->Clone(r, PixelFormatDontCare);
        EXPECT_EQ(c->GetLastStatus(), OutOfMemory) << r.X << "," << r.Y << " " << r.Width << "x" << r.Height;
        EXPECT_NE(c->GetType(), ImageTypeBitmap);
    }
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(img->Clone(RectF{nan, 0, 1, 1}, PixelFormatDontCare)->GetLastStatus(), InvalidParameter);
    EXPECT_EQ(img->Clone(RectF{0, 0, inf, 1}, PixelFormatDontCare)->GetLastStatus(), InvalidParameter);
    EXPECT_EQ(img->Clone(RectF{0, 0, 1e20f, 1}, PixelFormatDontCare)->GetLastStatus(), OutOfMemory);
    EXPECT_EQ(img->Clone(RectF{3.6f, 0, 1, 1}, PixelFormatDontCare)->GetLastStatus(), OutOfMemory);
    EXPECT_EQ(img->Clone(Rect{0, 0, 1, 1}, 0x12345)->GetLastStatus(), InvalidParameter);
}

// ---- transparency test -----------------------------------------------------------------------------

TEST(ImageHasTransparency, AnswersFromFlagsPaletteAndPixels) {
    auto rgb = Image::CreateBitmap(3, 3, PixelFormat24bppRGB);
    EXPECT_FALSE(ImageHasTransparency(*rgb));

    auto argb = Image::CreateBitmap(3, 3, PixelFormat32bppARGB);
    std::vector<ARGB> px(9, 0xFF102030);
    WriteAll(*argb, px);
    EXPECT_FALSE(ImageHasTransparency(*argb));
    px[8] = 0xFE102030; // the very last pixel
    WriteAll(*argb, px);
    EXPECT_TRUE(ImageHasTransparency(*argb));
    BitmapData d;
    ASSERT_EQ(argb->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d), Ok);
    EXPECT_FALSE(ImageHasTransparency(*argb)); // its pixels cannot be read while locked
    argb->UnlockBits(&d);

    auto a1555 = Image::CreateBitmap(2, 1, PixelFormat16bppARGB1555);
    WriteAll(*a1555, {0xFFFFFFFF, 0x00FFFFFF});
    EXPECT_TRUE(ImageHasTransparency(*a1555));

    // Indexed: a translucent entry answers even when no pixel uses it.
    auto idx = Image::CreateBitmap(2, 2, PixelFormat8bppIndexed);
    idx->SetPalette(ColorPalette{0, {0xFF000000, 0x80FFFFFF}});
    EXPECT_TRUE(ImageHasTransparency(*idx));
    // Opaque entries with the alpha flag: the transparent-index item decides.
    idx->SetPalette(ColorPalette{PaletteFlagsHasAlpha, {0xFF000000, 0xFFFFFFFF}});
    EXPECT_FALSE(ImageHasTransparency(*idx));
    uint8_t index = 1;
    ASSERT_EQ(idx->SetPropertyItem({PropertyTagIndexTransparent, 1, PropertyTagTypeByte, &index}), Ok);
    EXPECT_TRUE(ImageHasTransparency(*idx));
    // No alpha flag at all: the item alone does not count.
    idx->SetPalette(ColorPalette{0, {0xFF000000, 0xFFFFFFFF}});
    EXPECT_FALSE(ImageHasTransparency(*idx));

    EXPECT_FALSE(ImageHasTransparency(*Image::Failed(GenericError)));
}
