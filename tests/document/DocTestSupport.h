#pragma once
// Fixtures the document tests share: a headless document and files written into a fresh folder.

#include "TestSupport.h"

#include "document/Commands.h"
#include "document/ZerimoDoc.h"
#include "imaging/Codec.h"
#include "imaging/Graphics.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace doctest {

using namespace imaging;
using namespace zerimo;

/// A solid `color` bitmap.
inline ImagePtr Solid(int w, int h, ARGB color, PixelFormat format = PixelFormat24bppRGB) {
    ImagePtr img = Image::CreateBitmap(w, h, format);
    if (!IsIndexedPixelFormat(format)) Graphics::FromImage(img.get())->Clear(color);
    return img;
}

inline Guid EncoderOf(const Guid& format) {
    for (const auto& e : GetImageEncoders())
        if (e.FormatID == format) return e.Clsid;
    return {};
}

/// Writes `img` with the platform encoder of `format` (ImageFormatPNG, ...).
inline void WriteImage(Image& img, const std::string& path, const Guid& format) {
    ASSERT_EQ(img.Save(path, EncoderOf(format), nullptr), Ok) << path;
}

/// A fresh folder removed with the fixture, and a document on a headless host.
class DocFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zerimo-doc-XXXXXX";
        dir = mkdtemp(pattern);
        host.printMessages = false;
        doc = std::make_unique<CZerimoDoc>(host);
        doc->OnNewDocument();
    }
    void TearDown() override {
        doc.reset();
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
        std::filesystem::remove_all(dir);
    }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    std::string WritePng(const std::string& name, int w, int h, ARGB color) {
        auto img = Solid(w, h, color);
        WriteImage(*img, Path(name), ImageFormatPNG);
        return Path(name);
    }
    /// An edit as the operations make one: a new bitmap handed to SetImage with an undo step.
    void Edit(ARGB color) {
        uint32_t w = 0, h = 0;
        doc->GetImageSize(w, h);
        doc->SetImage(Solid(int(w), int(h), color), true);
    }

    std::string dir;
    CHeadlessHost host;
    std::unique_ptr<CZerimoDoc> doc;
};

} // namespace doctest
