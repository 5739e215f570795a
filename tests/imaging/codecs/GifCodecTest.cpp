#include "imaging/Codec.h"
#include "imaging/Image.h"
#include "imaging/Stream.h"

#include "../TestSupport.h"
#include <QImage>
#include <gif_lib.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

using namespace imaging;
using testsupport::ReadARGB;
namespace fs = std::filesystem;

namespace {

// Fully transparent pixels compare equal whatever colour they carry.
std::vector<ARGB> Normalised(std::vector<ARGB> v) {
    for (ARGB& c : v)
        if (AlphaOf(c) == 0) c = 0;
    return v;
}

std::vector<ARGB> QtPixels(const std::string& path) {
    QImage q(QString::fromStdString(path));
    std::vector<ARGB> out;
    if (q.isNull()) return out;
    q = q.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < q.height(); ++y) {
        const auto* row = reinterpret_cast<const ARGB*>(q.constScanLine(y));
        out.insert(out.end(), row, row + q.width());
    }
    return out;
}

std::vector<uint32_t> Longs(const Image& img, PROPID id) {
    std::vector<uint32_t> out;
    if (const StoredProperty* p = img.FindProperty(id))
        for (size_t i = 0; i + 4 <= p->value.size(); i += 4)
            out.push_back(p->value[i] | (p->value[i + 1] << 8) | (p->value[i + 2] << 16) |
                          (uint32_t(p->value[i + 3]) << 24));
    return out;
}

int LoopCount(const Image& img) {
    const StoredProperty* p = img.FindProperty(PropertyTagLoopCount);
    if (!p) return -1;
    EXPECT_EQ(p->type, PropertyTagTypeShort);
    return p->value[0] | (p->value[1] << 8);
}

int TransparentIndex(const Image& img) {
    const StoredProperty* p = img.FindProperty(PropertyTagIndexTransparent);
    return p ? p->value.at(0) : -1;
}

std::shared_ptr<Image> Decode(std::vector<uint8_t> bytes) {
    MemoryStream s(std::move(bytes));
    return Image::FromStream(s);
}

// ---- a GIF writer for fixtures ----------------------------------------------------------------------------

struct FrameSpec {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<uint8_t> pixels; // width x height indices
    int disposal = 0;
    int transparent = -1;
    int delay = 0;
    std::vector<ARGB> localMap;
};

int Collect(GifFileType* gif, const GifByteType* data, int n) {
    auto* v = static_cast<std::vector<uint8_t>*>(gif->UserData);
    v->insert(v->end(), data, data + n);
    return n;
}

ColorMapObject* Map(const std::vector<ARGB>& c) {
    if (c.empty()) return nullptr;
    ColorMapObject* m = GifMakeMapObject(int(c.size()), nullptr);
    for (size_t i = 0; i < c.size(); ++i) m->Colors[i] = {RedOf(c[i]), GreenOf(c[i]), BlueOf(c[i])};
    return m;
}

std::vector<uint8_t> MakeGif(int sw, int sh, const std::vector<ARGB>& global,
                             const std::vector<FrameSpec>& frames, int loop = -1) {
    std::vector<uint8_t> out;
    int err = 0;
    GifFileType* gif = EGifOpen(&out, Collect, &err);
    EGifSetGifVersion(gif, true);
    ColorMapObject* gm = Map(global);
    EGifPutScreenDesc(gif, sw, sh, 8, 0, gm);
    GifFreeMapObject(gm);
    if (loop >= 0) {
        const uint8_t app[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
        const uint8_t data[] = {1, uint8_t(loop), uint8_t(loop >> 8)};
        EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(gif, sizeof app, app);
        EGifPutExtensionBlock(gif, sizeof data, data);
        EGifPutExtensionTrailer(gif);
    }
    for (const FrameSpec& f : frames) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = f.disposal;
        gcb.DelayTime = f.delay;
        gcb.TransparentColor = f.transparent;
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
        ColorMapObject* lm = Map(f.localMap);
        EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, false, lm);
        GifFreeMapObject(lm);
        std::vector<uint8_t> px = f.pixels;
        for (int y = 0; y < f.height; ++y) EGifPutLine(gif, px.data() + y * f.width, f.width);
    }
    EGifCloseFile(gif, &err);
    return out;
}

FrameSpec Solid(int left, int top, int w, int h, uint8_t index) {
    FrameSpec f;
    f.left = left, f.top = top, f.width = w, f.height = h;
    f.pixels.assign(size_t(w) * h, index);
    return f;
}

const std::vector<ARGB> kGrey4 = {0xFF000000u, 0xFF555555u, 0xFFAAAAAAu, 0xFFFFFFFFu};
constexpr ARGB K = 0xFF000000u, D = 0xFF555555u, L = 0xFFAAAAAAu, W = 0xFFFFFFFFu, T = 0;

// ---- conformance ------------------------------------------------------------------------------------------

struct SuiteCase {
    const char* name;
    uint32_t frames;
    int loop;
    std::vector<uint32_t> delays;
};

const std::vector<SuiteCase>& SuiteCases() {
    static const std::vector<SuiteCase> cases = {
        {"animated_loop", 4, 0, {100, 100, 100, 100}},
        {"animated_loop_interlaced", 4, 0, {100, 100, 100, 100}},
        {"animated_loop_variable_delay", 4, 0, {100, 100, 10, 100}},
        {"animated_noloop", 4, -1, {100, 100, 100, 100}},
        {"animated_transparent_firstframerestoreprev_loop", 4, 0, {100, 100, 100, 100}},
        {"animated_transparent_frame_norestore_loop", 4, 0, {100, 100, 100, 100}},
        {"animated_transparent_frame_restorebackground_loop", 4, 0, {100, 100, 100, 100}},
        {"animated_transparent_frame_restoreprev_loop", 4, 0, {100, 100, 100, 100}},
        {"animated_transparent_loop", 4, 0, {100, 100, 100, 100}},
        {"animated_transparent_loop_frames_out_of_bounds", 4, 0, {100, 100, 100, 100}},
        {"animated_transparent_restoreprev_loop", 4, 0, {100, 100, 100, 100}},
        {"static_nontransparent", 1, -1, {0}},
        {"static_transparent", 1, -1, {0}},
    };
    return cases;
}

// Returns how many files of the suite were found in `dir`.
int CheckSuite(const std::string& dir) {
    int found = 0;
    for (const SuiteCase& c : SuiteCases()) {
        const std::string path = dir + "/" + c.name + ".gif";
        if (!fs::exists(path)) continue;
        ++found;
        SCOPED_TRACE(path);
        auto img = Image::FromFile(path);
        if (!Image::Usable(img)) {
            ADD_FAILURE() << "not decoded";
            continue;
        }
        EXPECT_EQ(img->RawFormat(), ImageFormatGIF);
        EXPECT_EQ(img->GetFrameCount(FrameDimensionTime), c.frames);
        for (uint32_t i = 0; i < c.frames; ++i) {
            SCOPED_TRACE("frame " + std::to_string(i));
            if (img->SelectActiveFrame(FrameDimensionTime, i) != Ok) {
                ADD_FAILURE() << "not selected";
                continue;
            }
            EXPECT_EQ(Longs(*img, PropertyTagFrameDelay), c.delays);
            EXPECT_EQ(LoopCount(*img), c.loop);
            const std::string ref =
                dir + "/frames/" + c.name + (c.frames > 1 ? "-" + std::to_string(i) : "") + ".png";
            EXPECT_EQ(Normalised(ReadARGB(*img)), Normalised(QtPixels(ref)));
        }
    }
    return found;
}

TEST(GifDecode, TestSuiteFramesLoopsAndDelays) {
    EXPECT_EQ(CheckSuite(std::string(ZERIMO_TEST_DATA) + "/gif"), 5);
    const std::string corpus = std::string(ZERIMO_CORPUS) + "/gif";
    if (!fs::exists(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    EXPECT_EQ(CheckSuite(corpus), 13);
}

// ---- compositing and the pixel-format rule ----------------------------------------------------------------

TEST(GifDecode, CompositesDisposalClippingAndTransparency) {
    // 3 x 2 screen. Frame 0 fills it; frame 1 (dispose to background) paints a column that runs
    // off the right edge; frame 2 (dispose to previous) has a transparent hole; frame 3 lies
    // wholly outside.
    FrameSpec f0 = Solid(0, 0, 3, 2, 1);
    f0.transparent = 0;
    FrameSpec f1 = Solid(2, 0, 4, 2, 2);
    f1.transparent = 0;
    f1.disposal = 2;
    FrameSpec f2 = Solid(0, 0, 2, 1, 3);
    f2.pixels[1] = 0;
    f2.transparent = 0;
    f2.disposal = 3;
    FrameSpec f3 = Solid(10, 10, 2, 2, 3);
    f3.transparent = 0;
    auto img = Decode(MakeGif(3, 2, kGrey4, {f0, f1, f2, f3}));
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat8bppIndexed); // one table, one transparent index
    EXPECT_EQ(img->Palette().Entries[0], 0x00000000u);
    const std::vector<std::vector<ARGB>> want = {
        {D, D, D, D, D, D},
        {D, D, L, D, D, L},
        {W, D, T, D, D, T}, // frame 1's area was cleared, the hole shows it
        {D, D, T, D, D, T}, // frame 2 restored what was under it
    };
    for (uint32_t i = 0; i < 4; ++i) {
        ASSERT_EQ(img->SelectActiveFrame(FrameDimensionTime, i), Ok);
        EXPECT_EQ(ReadARGB(*img), want[i]) << "frame " << i;
        EXPECT_EQ(TransparentIndex(*img), 0);
    }
}

TEST(GifDecode, PixelFormatRule) {
    FrameSpec full = Solid(0, 0, 2, 2, 1), part = Solid(1, 1, 1, 1, 2);
    FrameSpec fullT = full, partT = part, partT3 = part;
    fullT.transparent = partT.transparent = 0;
    partT3.transparent = 3;
    FrameSpec local = part, localFull = full;
    local.localMap = localFull.localMap = {0xFFFF0000u, 0xFF00FF00u};
    FrameSpec disposed = full;
    disposed.disposal = 2;
    const struct {
        const char* what;
        std::vector<FrameSpec> frames;
        bool global;
        PixelFormat format;
    } cases[] = {
        {"single, covers the screen", {full}, true, PixelFormat8bppIndexed},
        {"single, local table", {localFull}, false, PixelFormat8bppIndexed},
        {"single, transparent", {partT}, true, PixelFormat8bppIndexed},
        {"single, uncovered pixels", {part}, true, PixelFormat32bppARGB},
        {"opaque frames over a covering first", {full, part}, true, PixelFormat8bppIndexed},
        {"covering first disposed to background", {disposed, part}, true, PixelFormat32bppARGB},
        {"same transparent index", {fullT, partT}, true, PixelFormat8bppIndexed},
        {"different transparent indices", {fullT, partT3}, true, PixelFormat32bppARGB},
        {"some frames opaque", {fullT, part}, true, PixelFormat32bppARGB},
        {"a local table", {full, local}, true, PixelFormat32bppARGB},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto img = Decode(MakeGif(2, 2, c.global ? kGrey4 : std::vector<ARGB>{}, c.frames));
        ASSERT_TRUE(Image::Usable(img));
        EXPECT_EQ(img->GetPixelFormat(), c.format);
        for (uint32_t i = 0; i < c.frames.size(); ++i) {
            ASSERT_EQ(img->SelectActiveFrame(FrameDimensionTime, i), Ok);
            EXPECT_EQ(img->GetPixelFormat(), c.format);
        }
    }
    // An opaque frame that uses the transparent entry's index of a transparent one must stay
    // opaque, which one palette cannot say.
    FrameSpec opaqueUsesZero = Solid(0, 0, 2, 2, 0);
    auto img = Decode(MakeGif(2, 2, kGrey4, {fullT, opaqueUsesZero}));
    ASSERT_TRUE(Image::Usable(img));
    ASSERT_EQ(img->SelectActiveFrame(FrameDimensionTime, 1), Ok);
    EXPECT_EQ(ReadARGB(*img), std::vector<ARGB>(4, K));
}

TEST(GifDecode, TransparentIndexBeyondTheTable) {
    FrameSpec f = Solid(0, 0, 2, 1, 1);
    f.pixels[0] = 5;
    f.transparent = 5;
    std::vector<ARGB> eight(8, 0xFF405060u);
    eight[0] = 0xFF102030u;
    std::vector<uint8_t> bytes = MakeGif(2, 1, eight, {f});
    // Shrink the global table to two entries; the image data keeps its 3-bit codes.
    bytes[10] = uint8_t((bytes[10] & ~7) | 0);
    bytes.erase(bytes.begin() + 13 + 6, bytes.begin() + 13 + 24);
    auto img = Decode(bytes);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat8bppIndexed);
    EXPECT_EQ(img->Palette().Count(), 6u);
    EXPECT_TRUE(img->Palette().Flags & PaletteFlagsHasAlpha);
    EXPECT_EQ(ReadARGB(*img), (std::vector<ARGB>{0u, 0xFF405060u}));
}

// ---- frames on demand
// ---------------------------------------------------------------------------------------

std::vector<uint8_t> FiveFrames() {
    std::vector<FrameSpec> frames;
    for (int i = 0; i < 5; ++i) {
        FrameSpec f = Solid(i % 3, i % 2, 2, 2, uint8_t(1 + i % 3));
        f.pixels[0] = 0;
        f.transparent = 0;
        f.disposal = i == 2 ? 3 : i == 3 ? 2 : 1;
        f.delay = 10 * (i + 1);
        frames.push_back(f);
    }
    return MakeGif(4, 3, kGrey4, frames, 7);
}

TEST(GifDecode, FramesInAnyOrderMatchSequentialDecoding) {
    auto img = Decode(FiveFrames());
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(Longs(*img, PropertyTagFrameDelay), (std::vector<uint32_t>{10, 20, 30, 40, 50}));
    EXPECT_EQ(LoopCount(*img), 7);
    std::vector<std::vector<ARGB>> sequential;
    for (uint32_t i = 0; i < 5; ++i) {
        ASSERT_EQ(img->SelectActiveFrame(FrameDimensionTime, i), Ok);
        sequential.push_back(ReadARGB(*img));
    }
    for (uint32_t i : {4u, 1u, 3u, 0u, 2u, 2u, 4u}) {
        ASSERT_EQ(img->SelectActiveFrame(FrameDimensionTime, i), Ok);
        EXPECT_EQ(ReadARGB(*img), sequential[i]) << "frame " << i;
    }
    EXPECT_EQ(img->SelectActiveFrame(FrameDimensionTime, 5), InvalidParameter);

    // Clones share the frame source; stepping them on several threads gives the same frames.
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t, clone = img->Clone()] {
            for (int round = 0; round < 20; ++round)
                for (uint32_t i = 0; i < 5; ++i) {
                    const uint32_t frame = (i + uint32_t(t)) % 5;
                    if (clone->SelectActiveFrame(FrameDimensionTime, frame) != Ok ||
                        ReadARGB(*clone) != sequential[frame])
                        ++mismatches[t];
                }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// ---- damaged files
// ------------------------------------------------------------------------------------------

TEST(GifDecode, DamagedFilesFail) {
    const std::vector<uint8_t> good = FiveFrames();
    ASSERT_TRUE(Image::Usable(Decode(good)));

    // Without its trailer the file has lost nothing.
    auto noTrailer = good;
    noTrailer.pop_back();
    EXPECT_TRUE(Image::Usable(Decode(noTrailer)));

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        Status expected; // Ok: any failure
    };
    std::vector<Case> cases;
    for (size_t cut : {size_t(10), size_t(13 + 12), good.size() / 2, good.size() - 3})
        cases.push_back({"truncated", std::vector<uint8_t>(good.begin(), good.begin() + cut), Ok});
    auto garbage = good;
    garbage.back() = 0x99;
    cases.push_back({"unknown block", garbage, Ok});
    cases.push_back({"no images", MakeGif(2, 2, kGrey4, {}), Ok});
    cases.push_back(
        {"screen above the cap", MakeGif(65535, 65535, kGrey4, {Solid(0, 0, 1, 1, 0)}), OutOfMemory});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(c.bytes.size()));
        auto img = Decode(c.bytes);
        const Status s = img->GetLastStatus();
        EXPECT_NE(s, Ok);
        if (c.expected != Ok) {
            EXPECT_EQ(s, c.expected);
        }
        EXPECT_EQ(img->GetType(), ImageTypeUnknown);
    }

    // Damaged compressed data in a later frame fails that frame only, keeping the active one.
    std::vector<uint8_t> bad = MakeGif(4, 1, kGrey4, {Solid(0, 0, 4, 1, 1), Solid(0, 0, 4, 1, 2)});
    size_t last = bad.size();
    while (--last > 0) { // the second image: separator, descriptor, code size 2, one data block, trailer
        const size_t len = last + 11 < bad.size() ? bad[last + 11] : 0;
        if (bad[last] == 0x2C && bad[last + 10] == 2 && last + 14 + len == bad.size()) break;
    }
    ASSERT_GT(last, 0u);
    bad.resize(last + 11);
    bad.insert(bad.end(), {1, 0x2C, 0, ';'}); // a clear code, then end of data before any pixel
    auto img = Decode(bad);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_NE(img->SelectActiveFrame(FrameDimensionTime, 1), Ok);
    EXPECT_EQ(img->ActiveFrame(), 0u);
    EXPECT_EQ(ReadARGB(*img), std::vector<ARGB>(4, D));
}

// ---- encoding
// -----------------------------------------------------------------------------------------------

std::shared_ptr<Image> Indexed(int w, int h, std::vector<ARGB> palette, const std::vector<uint8_t>& pixels) {
    auto img = Image::CreateBitmap(w, h, PixelFormat8bppIndexed);
    img->SetPalette(ColorPalette{0, std::move(palette)});
    BitmapData d;
    img->LockBits(nullptr, ImageLockModeWrite, PixelFormat8bppIndexed, &d);
    for (int y = 0; y < h; ++y)
        std::memcpy(static_cast<uint8_t*>(d.Scan0) + y * d.Stride, &pixels[size_t(y) * w], size_t(w));
    img->UnlockBits(&d);
    return img;
}

TEST(GifEncode, IndexedImagesKeepPaletteAndTransparency) {
    // Two fully transparent entries: both become the file's one transparent index.
    auto img = Indexed(3, 2, {0xFF102030u, 0x00FFFFFFu, 0xFF405060u, 0x00000000u}, {0, 1, 2, 3, 2, 0});
    MemoryStream out;
    ASSERT_EQ(img->Save(out, ClsidGifCodec, nullptr), Ok);
    auto back = Decode(out.TakeBytes());
    ASSERT_TRUE(Image::Usable(back));
    EXPECT_EQ(back->GetPixelFormat(), PixelFormat8bppIndexed);
    EXPECT_EQ(back->GetFrameCount(FrameDimensionTime), 1u);
    EXPECT_EQ(TransparentIndex(*back), 1);
    EXPECT_EQ(back->FindProperty(PropertyTagLoopCount), nullptr);
    EXPECT_EQ(Normalised(ReadARGB(*back)), Normalised(ReadARGB(*img)));

    // A true-colour image goes through the halftone palette; transparent pixels stay transparent.
    auto argb = Image::CreateBitmap(3, 1, PixelFormat32bppARGB);
    BitmapData d;
    argb->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d);
    const ARGB px[3] = {0xFFFF0000u, 0xFFFFFFFFu, 0x20FFFFFFu};
    std::memcpy(d.Scan0, px, sizeof px);
    argb->UnlockBits(&d);
    MemoryStream out2;
    ASSERT_EQ(argb->Save(out2, ClsidGifCodec, nullptr), Ok);
    auto back2 = Decode(out2.TakeBytes());
    ASSERT_TRUE(Image::Usable(back2));
    EXPECT_EQ(Normalised(ReadARGB(*back2)), (std::vector<ARGB>{0xFFFF0000u, 0xFFFFFFFFu, 0}));
}

std::vector<uint8_t> SaveAnimation(const std::vector<std::shared_ptr<Image>>& frames) {
    MemoryStream out;
    EncoderParameters multi;
    multi.AddLong(EncoderSaveFlag, EncoderValueMultiFrame);
    EXPECT_EQ(frames[0]->Save(out, ClsidGifCodec, &multi), Ok);
    EncoderParameters next;
    next.AddLong(EncoderSaveFlag, EncoderValueFrameDimensionTime);
    for (size_t i = 1; i < frames.size(); ++i) EXPECT_EQ(frames[0]->SaveAdd(frames[i].get(), &next), Ok);
    EncoderParameters flush;
    flush.AddLong(EncoderSaveFlag, EncoderValueFlush);
    EXPECT_EQ(frames[0]->SaveAdd(&flush), Ok);
    return out.TakeBytes();
}

TEST(GifEncode, MultiFrameRoundTripWithDelaysAndLoop) {
    // Decoded animations saved frame by frame come back with the same frames, whether they
    // decoded as indexed frames or (with a local table) as 32-bit ones with transparency.
    FrameSpec base = Solid(0, 0, 4, 3, 1), overlay = Solid(1, 1, 2, 2, 1);
    base.transparent = overlay.transparent = 0;
    base.pixels[5] = 0;
    base.delay = 10;
    overlay.delay = 20;
    overlay.localMap = {0xFFFF0000u, 0xFF000000u}; // opaque black where the global table has T
    const struct {
        std::vector<uint8_t> file;
        PixelFormat format;
        int loop;
        std::vector<uint32_t> delays;
    } sources[] = {
        {FiveFrames(), PixelFormat8bppIndexed, 7, {10, 20, 30, 40, 50}},
        // Colours of the halftone palette, which 32-bit frames are mapped onto.
        {MakeGif(4, 3, {K, 0xFF333333u, 0xFF666666u, W}, {base, overlay}, 2),
         PixelFormat32bppARGB,
         2,
         {10, 20}},
    };
    for (const auto& source : sources) {
        auto src = Decode(source.file);
        ASSERT_TRUE(Image::Usable(src));
        EXPECT_EQ(src->GetPixelFormat(), source.format);
        const uint32_t count = src->GetFrameCount(FrameDimensionTime);
        std::vector<std::shared_ptr<Image>> frames;
        std::vector<std::vector<ARGB>> want;
        for (uint32_t i = 0; i < count; ++i) {
            ASSERT_EQ(src->SelectActiveFrame(FrameDimensionTime, i), Ok);
            frames.push_back(src->Clone());
            want.push_back(Normalised(ReadARGB(*src)));
        }
        auto back = Decode(SaveAnimation(frames));
        ASSERT_TRUE(Image::Usable(back));
        ASSERT_EQ(back->GetFrameCount(FrameDimensionTime), count);
        EXPECT_EQ(LoopCount(*back), source.loop);
        EXPECT_EQ(Longs(*back, PropertyTagFrameDelay), source.delays);
        for (uint32_t i = 0; i < count; ++i) {
            ASSERT_EQ(back->SelectActiveFrame(FrameDimensionTime, i), Ok);
            EXPECT_EQ(Normalised(ReadARGB(*back)), want[i]) << "frame " << i;
        }
    }

    // Frames with their own palettes, and no loop item: loops forever.
    auto a = Indexed(2, 1, {0xFFFF0000u, 0xFF00FF00u}, {0, 1});
    auto b = Indexed(2, 1, {0xFF0000FFu, 0xFFFFFFFFu, 0xFF000000u}, {2, 0});
    auto two = Decode(SaveAnimation({a, b}));
    ASSERT_TRUE(Image::Usable(two));
    EXPECT_EQ(LoopCount(*two), 0);
    EXPECT_EQ(two->GetPixelFormat(), PixelFormat32bppARGB);
    ASSERT_EQ(two->SelectActiveFrame(FrameDimensionTime, 1), Ok);
    EXPECT_EQ(ReadARGB(*two), (std::vector<ARGB>{0xFF000000u, 0xFF0000FFu}));
}

TEST(GifEncode, ImageMagickReadsTheFrames) {
    if (!fs::exists("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick not installed";
    auto src = Decode(FiveFrames());
    ASSERT_TRUE(Image::Usable(src));
    std::vector<std::shared_ptr<Image>> frames;
    for (uint32_t i = 0; i < 5; ++i) {
        ASSERT_EQ(src->SelectActiveFrame(FrameDimensionTime, i), Ok);
        frames.push_back(src->Clone());
    }
    const std::vector<uint8_t> bytes = SaveAnimation(frames);
    const fs::path path = fs::temp_directory_path() / ("pnggif-" + std::to_string(::getpid()) + ".gif");
    { FileStream::Create(path.string())->Write(bytes.data(), bytes.size()); }
    FILE* p = ::popen(("/usr/bin/convert '" + path.string() + "' -coalesce rgba:- 2>/dev/null").c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::vector<uint8_t> rgba(5 * 12 * 4 + 1);
    const size_t n = std::fread(rgba.data(), 1, rgba.size(), p);
    ::pclose(p);
    fs::remove(path);
    ASSERT_EQ(n, 5u * 12 * 4);
    for (uint32_t i = 0; i < 5; ++i) {
        ASSERT_EQ(src->SelectActiveFrame(FrameDimensionTime, i), Ok);
        std::vector<ARGB> got;
        for (size_t k = 0; k < 12; ++k) {
            const uint8_t* q = &rgba[(i * 12 + k) * 4];
            got.push_back(MakeARGB(q[3], q[0], q[1], q[2]));
        }
        EXPECT_EQ(Normalised(got), Normalised(ReadARGB(*src))) << "frame " << i;
    }
}

} // namespace
