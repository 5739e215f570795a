// Save, Save As and the writers chosen by extension, as the document runs them.

#include "DocTestSupport.h"

#include "imaging/codecs/metafile/Metafile.h"
#include "io/ImageWriter.h"

#include <fstream>
#include <sys/stat.h>

namespace doctest {
namespace {

class SaveTest : public DocFixture {
  protected:
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(SaveTest, SavingReloadsTheWrittenFileAsAFreshDocument) {
    ASSERT_TRUE(doc->OpenDocumentFile(WritePng("a.png", 64, 48, 0xFF336699)));
    Edit(0xFF808080);
    host.settings.jpegQuality = 40;
    host.savePath = Path("out.jpg");
    ASSERT_TRUE(doc->DoSave(doc->GetPathName()));
    EXPECT_EQ(doc->GetPathName(), Path("out.jpg"));
    EXPECT_EQ(doc->GetTitle(), "out.jpg");
    EXPECT_FALSE(doc->IsModified());
    EXPECT_FALSE(QueryCommand(*doc, ID_EDIT_UNDO).enabled) << "the reload empties the history";
    EXPECT_EQ(doc->History().Count(), 1);
    EXPECT_EQ(doc->bitmap->RawFormat(), ImageFormatJPEG);
    EXPECT_EQ(host.recentFiles.front(), Path("out.jpg"));
    EXPECT_EQ(doc->busy, 0);
}

TEST_F(SaveTest, SaveAsProposesAnExtensionByTheDocumentsState) {
    struct Case {
        const char* what;
        ImagePtr image;
        const char* ext;
    };
    ImagePtr transparent = Solid(4, 4, 0x80FF0000, PixelFormat32bppARGB);
    ImagePtr indexed8 = Image::CreateBitmap(4, 4, PixelFormat8bppIndexed);
    ImagePtr indexed1 = Image::CreateBitmap(4, 4, PixelFormat1bppIndexed);
    const Case cases[] = {
        {"opaque 32-bit", Solid(4, 4, 0xFF00FF00, PixelFormat32bppARGB), ".jpg"},
        {"transparent", transparent, ".png"},
        {"8-bit", indexed8, ".gif"},
        {"1-bit", indexed1, ".png"},
        {"24-bit", Solid(4, 4, 0xFF00FF00), ".jpg"},
    };
    const int before = int(host.saveDialogs.size());
    for (const auto& c : cases) {
        doc->SetImage(c.image, true);
        EXPECT_FALSE(doc->DoSave(Path("pic.bmp"))) << "the dialog is cancelled";
        ASSERT_FALSE(host.saveDialogs.empty());
        const auto& req = host.saveDialogs.back();
        EXPECT_EQ(req.defaultExtension, c.ext) << c.what;
        EXPECT_EQ(req.filterIndex, doc->saveAsTypes.FilterIndexFor(c.ext)) << c.what;
        EXPECT_EQ(req.proposedName, "pic")
            << c.what << ": a name that is not on disk loses folder and extension";
        EXPECT_EQ(doc->busy, 0);
    }
    EXPECT_EQ(int(host.saveDialogs.size()) - before, 5);

    // A 3-page image proposes HEIF.
    ASSERT_TRUE(doc->OpenDocumentFile(std::string(ZERIMO_TEST_DATA) + "/gif/animated_loop_interlaced.gif"));
    doc->DoSave(doc->GetPathName());
    EXPECT_EQ(host.saveDialogs.back().defaultExtension, ".heic");

    // A file on disk with that extension is proposed as it stands.
    WritePng("photo.jpg", 2, 2, 0xFF000000);
    doc->SetImage(Solid(4, 4, 0xFF000000), true);
    doc->DoSave(Path("photo.png"));
    EXPECT_EQ(host.saveDialogs.back().proposedName, Path("photo.jpg"));

    // A web address: the decoded name after the last "=".
    doc->DoSave("http://example.com/get?id=3&file=My%20Photo%2Ejpeg");
    EXPECT_EQ(host.saveDialogs.back().proposedName, "My Photo");
}

TEST_F(SaveTest, NameFromUrl) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"http://host/dir/pic.jpg", "pic"},
        {"a%2Fb.c", "b"},       // an escaped slash counts once decoded
        {"100%.png", "100%"},   // a lone "%" stays
        {"%4a%4A%zz", "JJ%zz"}, // both cases of hex digits, bad escapes kept
        {"noext", "noext"},
        {"dir/", ""},
        {"x.tar.gz", "x"},
        {"%", "%"},
        {"%4", "%4"},
    };
    for (const auto& c : cases) EXPECT_EQ(NameFromUrl(c.in), c.out) << c.in;
}

TEST_F(SaveTest, AFailedSaveKeepsTheOldFileAndTheDocument) {
    const std::string target = WritePng("keep.png", 5, 5, 0xFF0000FF);
    const auto original = testsupport::ReadFileBytes(target);
    ASSERT_TRUE(doc->OpenDocumentFile(target));
    Edit(0xFFFF0000);
    chmod(target.c_str(), 0444);
    EXPECT_FALSE(doc->OnSaveDocument(target));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "Failed to save image in '" + target + "' file");
    EXPECT_EQ(testsupport::ReadFileBytes(target), original);
    EXPECT_TRUE(doc->IsModified());
    EXPECT_EQ(doc->History().Count(), 2);
    EXPECT_EQ(doc->busy, 0);
    EXPECT_TRUE(QueryCommand(*doc, ID_FILE_SAVE).enabled);
    chmod(target.c_str(), 0644);

    // No encoder for the extension: the message, and neither target nor temporary file appears.
    EXPECT_FALSE(doc->SaveImageFile(Path("x.xyz"), nullptr, false));
    EXPECT_EQ(Files(), std::vector<std::string>{"keep.png"});
    // A folder that does not exist.
    EXPECT_FALSE(doc->SaveImageFile(Path("no/such/x.png"), nullptr, false));
    EXPECT_EQ(host.messages.size(), 3u);
}

TEST_F(SaveTest, AnImageDeeperThanEightBitsGoesThroughTheQuantizerForGif) {
    doc->SetImage(Solid(8, 8, 0xFF123456), true);
    EXPECT_TRUE(doc->SaveImageFile(Path("deep.gif"), nullptr, false));
    EXPECT_EQ(doc->bitsPerPixel, 8);

    ASSERT_TRUE(doc->OpenDocumentFile(std::string(ZERIMO_TEST_DATA) + "/gif/static_transparent.gif"));
    ASSERT_EQ(doc->bitsPerPixel, 8);
    ASSERT_TRUE(doc->SaveImageFile(Path("copy.gif"), nullptr, false));
    EXPECT_EQ(doc->bitsPerPixel, 8);
    // And an 8-bit image keeps its depth in TIFF.
    ASSERT_TRUE(doc->SaveImageFile(Path("copy.tiff"), nullptr, false));
    EXPECT_EQ(doc->bitmap->GetPixelFormat(), PixelFormat8bppIndexed);
    EXPECT_EQ(doc->GetPathName(), Path("copy.tiff"));
}

TEST_F(SaveTest, AMultiPageImageKeepsEveryPageInTiff) {
    ASSERT_TRUE(doc->OpenDocumentFile(std::string(ZERIMO_TEST_DATA) + "/gif/animated_loop_interlaced.gif"));
    const uint32_t frames = doc->frameCount;
    ASSERT_GT(frames, 1u);
    ASSERT_TRUE(doc->SaveImageFile(Path("pages.tif"), nullptr, false));
    EXPECT_EQ(doc->frameCount, frames);
}

TEST_F(SaveTest, BatchSavesWriteTheGivenImageWithoutReloading) {
    ASSERT_TRUE(doc->OpenDocumentFile(WritePng("shown.png", 4, 4, 0xFF000000)));
    ImagePtr other = Solid(7, 3, 0xFF00FF00);
    for (const char* ext : {".webp", ".png", ".bmp", ".ico"}) {
        const std::string out = Path(std::string("batch") + ext);
        ASSERT_TRUE(doc->SaveImageFile(out, other.get(), true)) << ext;
        auto back = Image::FromFile(out);
        if (std::string(ext) == ".webp") continue; // not a platform format; its own tests read it back
        ASSERT_TRUE(Image::Usable(back)) << ext;
        EXPECT_EQ(back->GetWidth(), 7u) << ext;
    }
    EXPECT_EQ(doc->GetPathName(), Path("shown.png"));
    EXPECT_EQ(doc->History().Count(), 1);
}

TEST_F(SaveTest, MetafileSavesRecordTheImageAndReloadIt) {
    ImagePtr img = Solid(40, 30, 0xFF204080);
    doc->SetImage(img, true);
    ASSERT_TRUE(doc->SaveImageFile(Path("pic.emf"), nullptr, false));
    EXPECT_EQ(doc->GetPathName(), Path("pic.emf"));
    EXPECT_FALSE(doc->IsModified());
    auto reread = Image::FromFile(Path("pic.emf"));
    ASSERT_TRUE(Image::Usable(reread));
    EXPECT_EQ(reread->GetType(), ImageTypeMetafile);
    // Opening measured the transparency of the raster, which replaced the metafile once.
    EXPECT_EQ(doc->bitmap->GetType(), ImageTypeBitmap);
    EXPECT_EQ(doc->GetBitmap(), doc->bitmap);
    EXPECT_EQ(doc->bitmap->GetWidth(), 40u);
    EXPECT_EQ(doc->bitmap->GetHeight(), 30u);
    EXPECT_EQ(testsupport::ReadARGB(*doc->bitmap)[40 * 15 + 20] & 0xFFFFFF, 0x204080u);
    EXPECT_EQ(doc->History().Count(), 1) << "no undo step for the rasterisation";
    EXPECT_FALSE(doc->hasTransparency);
}

} // namespace
} // namespace doctest
