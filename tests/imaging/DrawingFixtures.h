#pragma once
// Small generated bitmaps for the drawing tests, read and written as 32bppARGB.

#include "imaging/Graphics.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace drawing_fixtures {

using namespace imaging;

inline std::shared_ptr<Image> MakeImage(int w, int h, PixelFormat format, const std::vector<ARGB>& argb) {
    auto img = Image::CreateBitmap(w, h, format);
    EXPECT_EQ(img->GetLastStatus(), Ok);
    if (argb.empty()) return img;
    BitmapData d;
    EXPECT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    for (int y = 0; y < h; ++y)
        std::memcpy(static_cast<uint8_t*>(d.Scan0) + y * d.Stride, argb.data() + size_t(y) * w,
                    size_t(w) * 4);
    EXPECT_EQ(img->UnlockBits(&d), Ok);
    return img;
}

inline std::shared_ptr<Image> Filled(int w, int h, PixelFormat format, ARGB color) {
    return MakeImage(w, h, format, std::vector<ARGB>(size_t(w) * h, color));
}

inline std::vector<ARGB> Pixels(Image& img) {
    std::vector<ARGB> out(size_t(img.GetWidth()) * img.GetHeight());
    BitmapData d;
    EXPECT_EQ(img.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d), Ok);
    for (uint32_t y = 0; y < d.Height; ++y)
        std::memcpy(out.data() + size_t(y) * d.Width, static_cast<uint8_t*>(d.Scan0) + y * d.Stride,
                    size_t(d.Width) * 4);
    EXPECT_EQ(img.UnlockBits(&d), Ok);
    return out;
}

inline ARGB Grey(uint8_t v) {
    return MakeARGB(255, v, v, v);
}

// Text needs Qt's font database, which lives in a QGuiApplication; the tests make one on the
// offscreen platform the first time they need it. Null when the process already has a non-GUI
// application object.
inline QGuiApplication* GuiApp() {
    static QGuiApplication* app = [] {
        if (QCoreApplication::instance()) return qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char arg0[] = "imaging_tests";
        static char* argv[] = {arg0, nullptr};
        static QGuiApplication* made = new QGuiApplication(argc, argv);
        std::atexit([] { delete made; });
        return made;
    }();
    return app;
}

} // namespace drawing_fixtures
