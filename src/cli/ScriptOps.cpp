// The image operations as `zerimo-cli script` commands. Dialog settings are given as the slider
// positions or values the dialogs would hold; work that runs in the background completes before
// the command returns.

#include "ScriptCommands.h"

#include "document/Commands.h"
#include "document/ZerimoDoc.h"
#include "ops/ColorPicker.h"

#include <QGuiApplication>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

using namespace zerimo;
using namespace imaging;

namespace cli {
namespace {

bool Number(const std::string& s, double& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(s.c_str(), &end);
    return errno == 0 && end && *end == '\0' && std::isfinite(out);
}

bool Integer(const std::string& s, long lo, long hi, long& out) {
    double v = 0;
    if (!Number(s, v) || v != std::floor(v) || v < double(lo) || v > double(hi)) return false;
    out = long(v);
    return true;
}

/// Six hexadecimal digits RRGGBB as an opaque ARGB colour.
bool Color(const std::string& s, ARGB& out) {
    if (s.size() != 6) return false;
    for (char c : s)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    out = 0xFF000000u | ARGB(std::strtoul(s.c_str(), nullptr, 16));
    return true;
}

/// Runs what the background workers post until the document is idle and the blur job is done.
void Settle(ScriptContext& c) {
    c.doc.Adjustments().blurEngine.Wait();
    for (;;) {
        c.host.RunPosted();
        if (!c.doc.busy) break;
        c.host.WaitForPosts([&] { return c.doc.busy != 0; });
    }
    c.host.RunPosted();
}

bool Done(ScriptContext& c, bool) {
    Settle(c);
    return true;
}

/// Text needs the GUI library's fonts; a headless process gets the offscreen platform.
void EnsureGuiApplication() {
    if (QGuiApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "zerimo-cli";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
}

ScriptCommand Turn(const char* name, unsigned id, RotateFlipType type) {
    return {name,
            id,
            0,
            0,
            [type](ScriptContext& c, auto&, auto&) { return Done(c, c.doc.RotateFlipImage(type)); },
            name};
}

bool BlurCommand(ScriptContext& c, bool sharpen, double radius, double depth, bool luminance) {
    CAdjustmentState& v = c.doc.Adjustments();
    v.blurWindow = true;
    v.blur.SelectMode(sharpen ? 1 : 0);
    v.blur.luminanceOnly = luminance;
    v.blur.sliders.SetPosition(IDC_BLUR_RADIUS, int32_t(std::lround(radius / 0.1)));
    v.blur.sliders.SetPosition(IDC_BLUR_DEPTH, int32_t(std::lround(depth / 0.1)));
    c.doc.OnFilterChanged(sharpen ? IDC_BLUR_DEPTH : IDC_BLUR_RADIUS);
    Settle(c);
    c.doc.CommitBlurPreview();
    v.blurWindow = false;
    return true;
}

const ScriptRegistrar opsCommands({
    Turn("rotate-left", ID_ROTATE_LEFT, Rotate270FlipNone),
    Turn("rotate-right", ID_ROTATE_RIGHT, Rotate90FlipNone),
    Turn("rotate-180", ID_ROTATE_180, Rotate180FlipNone),
    Turn("mirror-h", ID_MIRROR_H, RotateNoneFlipX),
    Turn("mirror-v", ID_MIRROR_V, Rotate180FlipX),
    {"rotate", ID_ROTATE_BY, 1, 1,
     [](ScriptContext& c, const std::vector<std::string>& a, auto&) {
         double deg = 0;
         if (!Number(a[0], deg) || std::fabs(deg) > 1e6) return false;
         return Done(c, c.doc.RotateByDegree(deg));
     },
     "rotate DEG"},
    {"resize", ID_RESIZE, 2, 2,
     [](ScriptContext& c, const std::vector<std::string>& a, auto&) {
         long w = 0, h = 0;
         if (!Integer(a[0], 1, 65535, w) || !Integer(a[1], 1, 65535, h)) return false;
         return Done(c, c.doc.ResizeImage(float(w), float(h)));
     },
     "resize W H"},
    {"resize-screen", ID_RESIZE_SCREEN, 0, 0,
     [](ScriptContext& c, auto&, auto&) { return Done(c, c.doc.ResizeToScreen()); }, "resize-screen"},
    {"stretch-screen", ID_RESIZE_STRETCH, 0, 0,
     [](ScriptContext& c, auto&, auto&) { return Done(c, c.doc.StretchToScreen()); }, "stretch-screen"},
    {"crop", ID_CROP, 4, 4,
     [](ScriptContext& c, const std::vector<std::string>& a, auto&) {
         double v[4];
         for (int i = 0; i < 4; ++i)
             if (!Number(a[size_t(i)], v[i])) return false;
         return Done(c, c.doc.CropImage(RectF{float(v[0]), float(v[1]), float(v[2]), float(v[3])}));
     },
     "crop X Y W H"},
    {"grayscale", ID_GRAYSCALE, 0, 0,
     [](ScriptContext& c, auto&, auto&) { return Done(c, c.doc.GrayScale()); }, "grayscale"},
    {"sepia", ID_SEPIA, 0, 0,
     [](ScriptContext& c, auto&, auto&) {
         c.doc.OnSepiaTone();
         return Done(c, true);
     },
     "sepia"},
    {"negate", 0, 0, 0,
     [](ScriptContext& c, auto&, auto&) {
         c.doc.OnNegate();
         return true;
     },
     "negate"},
    {"filter", 0, 5, 5,
     [](ScriptContext& c, const std::vector<std::string>& a, auto&) {
         CAdjustmentState& v = c.doc.Adjustments();
         const int32_t ids[5] = {IDC_CONTRAST, IDC_BRIGHTNESS, IDC_SATURATION, IDC_HUE, IDC_GAMMA};
         for (int i = 0; i < 5; ++i) {
             long p = 0;
             if (!Integer(a[size_t(i)], -1000, 1000, p)) return false;
             v.filter.SetPosition(ids[i], int32_t(p));
         }
         v.filterWindow = true;
         c.doc.OnFilterChanged(IDC_CONTRAST);
         return true;
     },
     "filter C B S H G   (slider positions: 4..80 -20..20 0..60 -45..45 4..80; defaults 20 0 20 0 20)"},
    {"balance", 0, 4, 4,
     [](ScriptContext& c, const std::vector<std::string>& a, auto&) {
         CAdjustmentState& v = c.doc.Adjustments();
         const int32_t ids[4] = {IDC_BAL_RED, IDC_BAL_GREEN, IDC_BAL_BLUE, IDC_BAL_ALPHA};
         for (int i = 0; i < 4; ++i) {
             long p = 0;
             if (!Integer(a[size_t(i)], -1000, 1000, p)) return false;
             v.balance.SetPosition(ids[i], int32_t(p));
         }
         v.balanceWindow = true;
         c.doc.OnBalanceChanged(IDC_BAL_RED);
         return true;
     },
     "balance R G B A   (-255..255 each, alpha 0..100)"},
    {"reset-adjustments", 0, 0, 0,
     [](ScriptContext& c, auto&, auto&) {
         CAdjustmentState& v = c.doc.Adjustments();
         v.filter.ResetSliders();
         v.balance.ResetSliders();
         c.doc.OnFilterChanged(0);
         return true;
     },
     "reset-adjustments"},
    {"blur", ID_BLUR_SHARPEN, 1, 1,
     [](ScriptContext& c, const std::vector<std::string>& a, auto&) {
         double r = 0;
         if (!Number(a[0], r) || r < 0 || r > 8) return false;
         return BlurCommand(c, false, r, 0.8, false);
     },
     "blur RADIUS   (0 to 8 in steps of 0.1)"},
    {"sharpen", ID_BLUR_SHARPEN, 2, 3,
     [](ScriptContext& c, const std::vector<std::string>& a, auto&) {
         double r = 0, d = 0;
         if (!Number(a[0], r) || r < 0 || r > 8 || !Number(a[1], d) || d < 0 || d > 4) return false;
         if (a.size() == 3 && a[2] != "--luminance") return false;
         return BlurCommand(c, true, r, d, a.size() == 3);
     },
     "sharpen RADIUS DEPTH [--luminance]   (depth 0 to 4)"},
    {"soften", 0, 1, 1,
     [](ScriptContext& c, const std::vector<std::string>& a, auto&) {
         const int job = a[0] == "small"    ? JobSoftenSmall
                         : a[0] == "medium" ? JobSoftenMedium
                         : a[0] == "large"  ? JobSoftenLarge
                                            : -1;
         if (job < 0) return false;
         return Done(c, c.doc.Soften(job));
     },
     "soften small|medium|large"},
    {"edges", ID_EXTRACT_EDGES, 0, 0,
     [](ScriptContext& c, auto&, auto&) { return Done(c, c.doc.ExtractEdgesCommand()); }, "edges"},
    {"redeye", ID_RED_EYE, 4, 4,
     [](ScriptContext& c, const std::vector<std::string>& a, auto&) {
         double v[4];
         for (int i = 0; i < 4; ++i)
             if (!Number(a[size_t(i)], v[i]) || std::fabs(v[i]) > 1e9) return false;
         return Done(c, c.doc.CorrectRedEye(float(v[0]), float(v[1]), float(v[2]), float(v[3])));
     },
     "redeye X Y W H"},
    {"replace-color", ID_REPLACE_COLOR, 2, 2,
     [](ScriptContext& c, const std::vector<std::string>& a, auto&) {
         ARGB from = 0, to = 0;
         if (!Color(a[0], from) || !Color(a[1], to)) return false;
         return Done(c, c.doc.ReplaceColors(from, to));
     },
     "replace-color RRGGBB RRGGBB"},
    {"paint", ID_PAINT_BRUSH, 2, -1,
     [](ScriptContext& c, const std::vector<std::string>& a, auto&) {
         ARGB color = 0;
         if (!Color(a[0], color)) return false;
         std::vector<PointF> points;
         for (size_t i = 1; i < a.size(); ++i) {
             const size_t comma = a[i].find(',');
             double x = 0, y = 0;
             if (comma == std::string::npos || !Number(a[i].substr(0, comma), x) ||
                 !Number(a[i].substr(comma + 1), y))
                 return false;
             points.push_back(PointF{float(x), float(y)});
         }
         c.doc.strokePoints = std::move(points);
         return Done(c, c.doc.CommitPaintStroke(color));
     },
     "paint RRGGBB X,Y ...   (6-pixel dots)"},
    {"export", ID_FILE_SAVE_AS, 1, -1,
     [](ScriptContext& c, auto&, const std::string& rest) {
         // The save chain (bake, writer by extension) without the reload of an interactive save.
         return Done(c, c.doc.SaveImageFile(rest, nullptr, true));
     },
     "export PATH   (bake and write; the document keeps its file and history)"},
    {"text", ID_TEXT_TOOL, 5, -1,
     [](ScriptContext& c, const std::vector<std::string>& a, const std::string& rest) {
         double x = 0, y = 0, size = 0;
         ARGB color = 0;
         if (!Number(a[0], x) || !Number(a[1], y) || !Number(a[2], size) || size <= 0 || size > 10000 ||
             !Color(a[3], color))
             return false;
         // The text is the rest of the line after the fourth word, as written.
         size_t pos = 0;
         for (int word = 0; word < 4; ++word) {
             pos = rest.find_first_not_of(" \t", pos);
             pos = rest.find_first_of(" \t", pos);
         }
         pos = rest.find_first_not_of(" \t", pos);
         if (pos == std::string::npos) return false;
         EnsureGuiApplication();
         const Font font("", float(size), FontStyleRegular, UnitPixel);
         return Done(c, c.doc.CommitText(rest.substr(pos), font, PointF{float(x), float(y)}, color));
     },
     "text X Y SIZE RRGGBB TEXT   (SIZE in pixels)"},
});

} // namespace
} // namespace cli
