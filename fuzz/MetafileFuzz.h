#pragma once
// What the EMF and WMF fuzz targets share: decode arbitrary bytes with one metafile decoder and play
// whatever decodes onto a small surface.
#include "imaging/codecs/metafile/Metafile.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace fuzzmeta {

// Text goes through Qt's fonts, which need a GUI application; the offscreen platform has one.
inline void EnsureApplication() {
    static QGuiApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char arg0[] = "metafile_fuzzer";
        static char* argv[] = {arg0, nullptr};
        static QGuiApplication* made = new QGuiApplication(argc, argv);
        // Closing it at exit also releases the font configuration, which leak checkers see.
        std::atexit([] { delete made; });
        return made;
    }();
    (void)app;
}

inline int Run(const imaging::ImageDecoder& decoder, const uint8_t* data, size_t size) {
    using namespace imaging;
    EnsureApplication();
    auto img = decoder.Decode(std::make_shared<const std::vector<uint8_t>>(data, data + size), {});
    if (!Image::Usable(img) || !img->Metafile()) return 0;
    // A small surface keeps the run on the records rather than on filling pixels.
    const uint32_t w = std::min<uint32_t>(img->GetWidth(), 64), h = std::min<uint32_t>(img->GetHeight(), 64);
    Surface out;
    if (img->Metafile()->Render(w, h, out) == Ok && (out.width != w || out.height != h)) __builtin_trap();
    return 0;
}

} // namespace fuzzmeta
