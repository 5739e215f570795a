// The undo history as the document drives it: states, positions, the modified flag and the title.

#include "DocTestSupport.h"

namespace doctest {
namespace {

class HistoryTest : public DocFixture {};

TEST_F(HistoryTest, UndoAndRedoWalkTheStatesAndDriveTheModifiedFlag) {
    ASSERT_TRUE(doc->OpenDocumentFile(WritePng("a.png", 30, 20, 0xFF102030)));
    EXPECT_EQ(doc->GetTitle(), "a.png");
    EXPECT_FALSE(doc->IsModified());
    Edit(0xFFFF0000);
    EXPECT_EQ(doc->GetTitle(), "a.png*");
    Edit(0xFF00FF00);
    Edit(0xFF0000FF);
    ASSERT_EQ(doc->History().Count(), 4);
    ASSERT_EQ(doc->History().Position(), 4);
    const ImagePtr last = doc->bitmap;

    for (int i = 0; i < 3; ++i) doc->OnEditUndo();
    EXPECT_EQ(doc->History().Position(), 1);
    EXPECT_FALSE(doc->IsModified());
    EXPECT_EQ(doc->GetTitle(), "a.png");
    EXPECT_FALSE(QueryCommand(*doc, ID_EDIT_UNDO).enabled);
    EXPECT_TRUE(QueryCommand(*doc, ID_EDIT_REDO).enabled);
    const ImagePtr first = doc->bitmap;
    doc->OnEditUndo(); // nothing before the first state
    EXPECT_EQ(doc->History().Position(), 1);
    EXPECT_EQ(doc->bitmap, first);

    for (int i = 0; i < 3; ++i) doc->OnEditRedo();
    EXPECT_EQ(doc->bitmap, last) << "redo brings back the very bitmap, not a copy";
    EXPECT_EQ(doc->GetTitle(), "a.png*");
    const int redraws = host.redrawCount;
    doc->OnEditRedo(); // at the end: nothing changes but the window is redrawn
    EXPECT_EQ(doc->History().Position(), 4);
    EXPECT_GT(host.redrawCount, redraws);
}

TEST_F(HistoryTest, AnEditAfterUndoDropsTheRedoStates) {
    ASSERT_TRUE(doc->OpenDocumentFile(WritePng("a.png", 8, 8, 0xFF000000)));
    Edit(0xFF111111);
    Edit(0xFF222222);
    Edit(0xFF333333);
    doc->OnEditUndo();
    doc->OnEditUndo();
    ASSERT_EQ(doc->History().Position(), 2);
    Edit(0xFF444444);
    EXPECT_EQ(doc->History().Count(), 3);
    EXPECT_EQ(doc->History().Position(), 3);
    EXPECT_EQ(doc->canRedo, 0);
    EXPECT_FALSE(QueryCommand(*doc, ID_EDIT_REDO).enabled);
}

TEST_F(HistoryTest, UndoRestoresSizeWithoutRefittingAndKeepsFrameFacts) {
    ASSERT_TRUE(doc->OpenDocumentFile(WritePng("a.png", 300, 200, 0xFF000000)));
    doc->SetImage(Solid(200, 300, 0xFFFFFFFF), true);
    const int fits = host.fitCount;
    doc->OnEditUndo();
    uint32_t w = 0, h = 0;
    doc->GetImageSize(w, h);
    EXPECT_EQ(w, 300u);
    EXPECT_EQ(h, 200u);
    EXPECT_EQ(host.fitCount, fits) << "undo keeps the zoom";
    doc->OnEditRedo();
    EXPECT_EQ(host.fitCount, fits);
}

TEST_F(HistoryTest, EveryEditCarriesTheSoftwareItemAndLeavesThumbnailsBehind) {
    ASSERT_TRUE(doc->OpenDocumentFile(WritePng("a.png", 8, 8, 0xFF000000)));
    const uint8_t thumb[] = {1, 2, 3};
    const uint8_t artist[] = "me";
    doc->bitmap->SetProperty({0x501B, 1, {thumb, thumb + 3}});
    doc->bitmap->SetProperty({0x5013, 3, {0, 1}});
    doc->bitmap->SetProperty({0x5090, 3, {0, 1}});
    doc->bitmap->SetProperty({0x013B, 2, {artist, artist + 3}});
    Edit(0xFFFFFFFF);
    const auto* software = doc->bitmap->FindProperty(0x0131);
    ASSERT_NE(software, nullptr);
    EXPECT_EQ(software->type, 2);
    EXPECT_EQ(std::string(software->value.begin(), software->value.end()), std::string("Zerimo\0", 7));
    EXPECT_NE(doc->bitmap->FindProperty(0x013B), nullptr);
    for (PROPID gone : {0x501Bu, 0x5013u, 0x5090u})
        EXPECT_EQ(doc->bitmap->FindProperty(gone), nullptr) << gone;
    EXPECT_NE(doc->BuildPropertiesReport().find("Software Used: Zerimo\r\n"), std::string::npos);
}

TEST_F(HistoryTest, NewGivesAWhiteImageOfTheWindowSize) {
    auto rgb = testsupport::ReadARGB(*doc->bitmap);
    uint32_t w = 0, h = 0;
    doc->GetImageSize(w, h);
    EXPECT_EQ(w, 640u);
    EXPECT_EQ(h, 480u);
    EXPECT_EQ(doc->bitmap->GetPixelFormat(), PixelFormat24bppRGB);
    EXPECT_EQ(rgb[0], 0xFFFFFFFFu);
    EXPECT_EQ(doc->GetTitle(), "Untitled");
    EXPECT_EQ(doc->History().Count(), 1);

    // A later New takes the size of the window and the resolution of the image it replaces.
    host.windowWidth = 320;
    host.windowHeight = 200;
    ASSERT_TRUE(doc->OpenDocumentFile(WritePng("a.png", 8, 8, 0xFF000000)));
    doc->bitmap->SetResolution(300, 150);
    ASSERT_TRUE(doc->NewDocument());
    doc->GetImageSize(w, h);
    EXPECT_EQ(w, 320u);
    EXPECT_EQ(h, 200u);
    EXPECT_FLOAT_EQ(doc->bitmap->GetHorizontalResolution(), 300);
    EXPECT_FLOAT_EQ(doc->bitmap->GetVerticalResolution(), 150);
    EXPECT_EQ(doc->GetPathName(), "");
}

TEST_F(HistoryTest, AFirstNewBeforeAnyImageHasTheDefaultResolution) {
    CHeadlessHost other;
    CZerimoDoc fresh(other);
    ASSERT_TRUE(fresh.OnNewDocument());
    EXPECT_FLOAT_EQ(fresh.bitmap->GetHorizontalResolution(), 96);
}

TEST_F(HistoryTest, TheSaveQuestionGuardsAModifiedDocument) {
    ASSERT_TRUE(doc->OpenDocumentFile(WritePng("a.png", 8, 8, 0xFF000000)));
    const std::string b = WritePng("b.png", 4, 4, 0xFF000000);
    Edit(0xFFFFFFFF);

    host.saveChangesAnswer = SaveChangesAnswer::Cancel;
    EXPECT_FALSE(doc->OpenDocumentFile(b));
    ASSERT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(host.questions[0], "Save changes to a.png?");
    EXPECT_TRUE(doc->IsModified());
    EXPECT_EQ(doc->GetTitle(), "a.png*");

    host.saveChangesAnswer = SaveChangesAnswer::No;
    EXPECT_TRUE(doc->OpenDocumentFile(b));
    EXPECT_EQ(doc->GetTitle(), "b.png");
    EXPECT_FALSE(doc->IsModified());

    Edit(0xFFFF0000);
    host.saveChangesAnswer = SaveChangesAnswer::Yes; // saves b.png, then goes on
    EXPECT_TRUE(doc->NewDocument());
    EXPECT_EQ(doc->GetTitle(), "Untitled");
    auto saved = Image::FromFile(b);
    ASSERT_TRUE(Image::Usable(saved));
    EXPECT_EQ(testsupport::ReadARGB(*saved)[0], 0xFFFF0000u);
}

TEST_F(HistoryTest, AFailedOpenReportsThePathAndLeavesABlankImage) {
    host.windowWidth = 300;
    host.windowHeight = 100;
    const std::string missing = Path("gone.jpg");
    EXPECT_FALSE(doc->OpenDocumentFile(missing));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "Failed to open document.\n" + missing);
    uint32_t w = 0, h = 0;
    doc->GetImageSize(w, h);
    EXPECT_EQ(w, 300u);
    EXPECT_EQ(h, 100u);
    EXPECT_EQ(doc->GetTitle(), "Untitled");
    EXPECT_FALSE(doc->IsModified());

    std::FILE* f = std::fopen(Path("junk.png").c_str(), "wb");
    std::fputs("not an image", f);
    std::fclose(f);
    EXPECT_FALSE(doc->OpenDocumentFile(Path("junk.png")));
    EXPECT_EQ(host.messages.size(), 2u);
    EXPECT_TRUE(host.recentFiles.empty());
}

TEST_F(HistoryTest, TheRecentFileListKeepsTheLastFourMostRecentFirst) {
    for (const char* n : {"1.png", "2.png", "3.png", "4.png", "5.png"})
        ASSERT_TRUE(doc->OpenDocumentFile(WritePng(n, 2, 2, 0xFF000000)));
    ASSERT_EQ(host.recentFiles.size(), 4u);
    EXPECT_EQ(host.recentFiles[0], Path("5.png"));
    EXPECT_EQ(host.recentFiles[3], Path("2.png"));
}

TEST_F(HistoryTest, OpeningRefreshesTheFacts) {
    ASSERT_TRUE(doc->OpenDocumentFile(std::string(ZERIMO_TEST_DATA) + "/gif/animated_loop_interlaced.gif"));
    EXPECT_GT(doc->frameCount, 1u);
    EXPECT_EQ(doc->currentFrame, 0);
    EXPECT_EQ(doc->bitsPerPixel, int((doc->bitmap->GetPixelFormat() >> 8) & 0xFF));
    ASSERT_TRUE(doc->OpenDocumentFile(std::string(ZERIMO_TEST_DATA) + "/gif/static_transparent.gif"));
    EXPECT_EQ(doc->bitsPerPixel, 8);
    EXPECT_TRUE(doc->hasTransparency);
    ASSERT_TRUE(doc->OpenDocumentFile(WritePng("a.png", 2, 2, 0xFF000000)));
    EXPECT_FALSE(doc->hasTransparency);
    EXPECT_EQ(doc->frameCount, 1u);
    EXPECT_GE(host.fitCount, 3);
}

TEST_F(HistoryTest, CopyRegionRoundsOutwardAndClipsToTheImage) {
    ASSERT_TRUE(doc->OpenDocumentFile(WritePng("a.png", 10, 8, 0xFF00FF00)));
    RectF r{2.6f, 1.2f, 3.1f, 20.0f};
    ImagePtr area = doc->CopyRegion(r);
    ASSERT_TRUE(Image::Usable(area));
    EXPECT_EQ(r.X, 2);
    EXPECT_EQ(r.Y, 1);
    EXPECT_EQ(r.Width, 4);
    EXPECT_EQ(r.Height, 7);
    EXPECT_EQ(area->GetWidth(), 4u);
    EXPECT_EQ(area->GetHeight(), 7u);
    EXPECT_EQ(area->GetPixelFormat(), doc->bitmap->GetPixelFormat());
}

/// A packed DIB: header of `headerSize` bytes, then `extra` (masks or colour table), then bits.
std::vector<uint8_t> Dib(uint32_t headerSize, int w, int h, uint16_t bpp, uint32_t compression,
                         uint32_t clrUsed, const std::vector<uint8_t>& extra,
                         const std::vector<uint8_t>& bits) {
    std::vector<uint8_t> d(headerSize, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) d[at + i] = uint8_t(v >> (8 * i));
    };
    put32(0, headerSize);
    put32(4, uint32_t(w));
    put32(8, uint32_t(h));
    d[12] = 1;
    d[14] = uint8_t(bpp);
    put32(16, compression);
    put32(32, clrUsed);
    if (headerSize >= 108 && compression == 3) { // masks inside the longer headers
        put32(40, 0x00FF0000);
        put32(44, 0x0000FF00);
        put32(48, 0x000000FF);
    }
    d.insert(d.end(), extra.begin(), extra.end());
    d.insert(d.end(), bits.begin(), bits.end());
    return d;
}

TEST_F(HistoryTest, PastedDibsFindTheirPixelsBehindTableOrMasks) {
    // 8 bits, colours-used 0: a 256-entry table; entry 5 is red.
    std::vector<uint8_t> table(256 * 4, 0);
    table[5 * 4 + 2] = 0xFF;
    auto pal = Dib(40, 1, 1, 8, 0, 0, table, {5, 0, 0, 0});
    ASSERT_TRUE(doc->PasteDib(pal.data(), pal.size()));
    EXPECT_EQ(testsupport::ReadARGB(*doc->bitmap)[0], 0xFFFF0000u);
    EXPECT_EQ(doc->History().Count(), 2);

    // 32-bit bit fields after the short header: exactly three masks, then the pixel.
    const std::vector<uint8_t> masks = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
    auto bf = Dib(40, 1, 1, 32, 3, 0, masks, {0x30, 0x20, 0x10, 0});
    ASSERT_TRUE(doc->PasteDib(bf.data(), bf.size()));
    EXPECT_EQ(testsupport::ReadARGB(*doc->bitmap)[0] & 0xFFFFFF, 0x102030u);

    // The version-5 header holds its masks itself: the pixel follows it directly.
    auto v5 = Dib(124, 1, 1, 32, 3, 0, {}, {0x30, 0x20, 0x10, 0});
    ASSERT_TRUE(doc->PasteDib(v5.data(), v5.size()));
    EXPECT_EQ(testsupport::ReadARGB(*doc->bitmap)[0] & 0xFFFFFF, 0x102030u);

    // Short or lying memory changes nothing.
    const ImagePtr before = doc->bitmap;
    auto cut = pal;
    cut.resize(300);
    EXPECT_FALSE(doc->PasteDib(cut.data(), cut.size()));
    EXPECT_FALSE(doc->PasteDib(pal.data(), 20));
    EXPECT_EQ(doc->bitmap, before);
}

} // namespace
} // namespace doctest
