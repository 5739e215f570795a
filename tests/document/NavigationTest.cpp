// Get Next, Get Prev and Delete over the files of a folder and the frames of an image.

#include "DocTestSupport.h"

#include <fstream>

namespace doctest {
namespace {

class NavigationTest : public DocFixture {
  protected:
    void Junk(const std::string& name) { std::ofstream(Path(name)) << "not an image"; }
    std::string Name() const { return doc->GetPathName().substr(dir.size() + 1); }
};

TEST_F(NavigationTest, NeighboursInNaturalOrderWithWrapAround) {
    for (const char* n : {"file10.png", "file2.png", "File1.png", "b.txt", "shortcut.lnk", "c.jpg"})
        WritePng(n, 2, 2, 0xFF000000);
    std::filesystem::create_directory(Path("sub.png"));
    const std::string order[] = {"c.jpg", "File1.png", "file2.png", "file10.png"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(CZerimoDoc::FindNeighbourImage(dir, Path(order[i]), true), Path(order[(i + 1) % 4]))
            << order[i];
        EXPECT_EQ(CZerimoDoc::FindNeighbourImage(dir, Path(order[i]), false), Path(order[(i + 3) % 4]))
            << order[i];
    }
    // A current file that is gone: forward gives the first image, backward the last.
    EXPECT_EQ(CZerimoDoc::FindNeighbourImage(dir, Path("gone.png"), true), Path("c.jpg"));
    EXPECT_EQ(CZerimoDoc::FindNeighbourImage(dir, Path("gone.png"), false), Path("file10.png"));
    EXPECT_EQ(CZerimoDoc::FindNeighbourImage(Path("nope"), Path("x.png"), true), "");
}

TEST_F(NavigationTest, CandidatesAreWhatTheChainReadsOrImageMimeTypes) {
    for (const char* yes : {"a.JPG", "b.webp", "c.tga", "d.PCX", "e.heic", "f.psd", "g.xpm"})
        EXPECT_TRUE(CZerimoDoc::IsNavigationCandidate(yes)) << yes;
    for (const char* no : {"a.txt", "b.lnk", "c", "d.pdf", "e.mp4"})
        EXPECT_FALSE(CZerimoDoc::IsNavigationCandidate(no)) << no;
}

TEST_F(NavigationTest, GetNextAndPrevOpenTheNeighboursAndSkipOtherFiles) {
    WritePng("a.png", 2, 2, 0xFF000000);
    std::ofstream(Path("b.txt")) << "text";
    WritePng("c.png", 3, 3, 0xFF000000);
    ASSERT_TRUE(doc->OpenDocumentFile(Path("c.png")));
    doc->OnGetNext();
    EXPECT_EQ(Name(), "a.png");
    doc->OnGetPrev();
    EXPECT_EQ(Name(), "c.png");
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(NavigationTest, NavigationIsDisabledWhileModifiedUnlessThereAreFrames) {
    ASSERT_TRUE(doc->OpenDocumentFile(WritePng("a.png", 2, 2, 0xFF000000)));
    EXPECT_TRUE(QueryCommand(*doc, ID_GET_NEXT).enabled);
    Edit(0xFFFFFFFF);
    EXPECT_FALSE(QueryCommand(*doc, ID_GET_NEXT).enabled);
    EXPECT_FALSE(QueryCommand(*doc, ID_GET_PREV).enabled);
    doc->busy = 1;
    EXPECT_FALSE(QueryCommand(*doc, ID_FILE_SAVE).enabled);
    doc->busy = 0;
    ASSERT_TRUE(doc->NewDocument() || true);
    EXPECT_FALSE(QueryCommand(*doc, ID_GET_NEXT).enabled) << "an untitled image has no folder";
    EXPECT_FALSE(QueryCommand(*doc, ID_WALLPAPER).enabled);
}

TEST_F(NavigationTest, FramesComeFirstThenTheNextFile) {
    const std::string gif = std::string(ZERIMO_TEST_DATA) + "/gif/animated_loop_interlaced.gif";
    std::filesystem::copy_file(gif, Path("anim.gif"));
    WritePng("b.png", 2, 2, 0xFF000000);
    ASSERT_TRUE(doc->OpenDocumentFile(Path("anim.gif")));
    const int frames = int(doc->frameCount);
    ASSERT_GT(frames, 1);
    for (int f = 1; f < frames; ++f) {
        doc->OnGetNext();
        EXPECT_EQ(doc->currentFrame, f);
        EXPECT_EQ(doc->bitmap->ActiveFrame(), uint32_t(f));
        EXPECT_EQ(Name(), "anim.gif");
    }
    doc->OnGetNext();
    EXPECT_EQ(Name(), "b.png");
    doc->OnGetNext(); // back to the animation, at its first frame
    EXPECT_EQ(Name(), "anim.gif");
    EXPECT_EQ(doc->currentFrame, 0);
    doc->OnGetPrev(); // from frame 0: the previous file
    EXPECT_EQ(Name(), "b.png");
    doc->OnGetPrev(); // a file reached backwards opens at its first frame
    EXPECT_EQ(Name(), "anim.gif");
    EXPECT_EQ(doc->currentFrame, 0);
}

TEST_F(NavigationTest, FramesOfAnImageWithoutAFileCycle) {
    const std::string gif = std::string(ZERIMO_TEST_DATA) + "/gif/animated_loop_interlaced.gif";
    auto bytes = testsupport::ReadFileBytes(gif);
    imaging::MemoryStream stream(bytes.data(), bytes.size());
    doc->LoadImageFile(&stream, "pasted.gif", true); // as a paste or drop with no file behind it
    ASSERT_TRUE(doc->imageLoaded);
    const int n = int(doc->frameCount);
    ASSERT_GE(n, 3);
    std::vector<int> seen;
    for (int i = 0; i < n + 1; ++i) {
        doc->OnGetNext();
        seen.push_back(doc->currentFrame);
    }
    EXPECT_EQ(seen.front(), 1);
    EXPECT_EQ(seen[size_t(n - 1)], 0);
    EXPECT_EQ(seen[size_t(n)], 1);
    seen.clear();
    for (int i = 0; i < n + 1; ++i) {
        doc->OnGetPrev();
        seen.push_back(doc->currentFrame);
    }
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen[1], n - 1);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(NavigationTest, UndecodableNeighboursAreSkippedUntilTheTenthFailure) {
    WritePng("a.png", 2, 2, 0xFF000000);
    for (int i = 0; i < 5; ++i) Junk("b" + std::to_string(i) + ".png");
    WritePng("c.png", 2, 2, 0xFF000000);
    ASSERT_TRUE(doc->OpenDocumentFile(Path("a.png")));
    doc->OnGetNext();
    EXPECT_EQ(Name(), "c.png") << "five broken files are skipped silently";
    EXPECT_TRUE(host.messages.empty());

    for (int i = 5; i < 12; ++i) Junk("b" + std::to_string(i) + ".png");
    ASSERT_TRUE(doc->OpenDocumentFile(Path("a.png")));
    doc->slideShow = 1;
    doc->OnGetNext();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].rfind("Failed to open document.\n", 0), 0u);
    EXPECT_EQ(doc->GetTitle(), "Untitled") << "the tenth failure ends in a blank image";
    EXPECT_EQ(doc->slideShow, 0);
    EXPECT_FALSE(doc->navigating);
}

TEST_F(NavigationTest, DeleteStepsOnAndMovesTheFileToTheTrash) {
    // A private trash, so the test never touches the user's.
    const std::string home = Path("home");
    std::filesystem::create_directories(home + "/.local/share");
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    WritePng("only.png", 2, 2, 0xFF000000);
    ASSERT_TRUE(doc->OpenDocumentFile(Path("only.png")));
    doc->OnDelete();
    EXPECT_FALSE(std::filesystem::exists(Path("only.png")));
    EXPECT_EQ(Name(), "only.png") << "the only image stays on screen";
    EXPECT_TRUE(doc->imageLoaded);
    bool trashed = false;
    for (const auto& e : std::filesystem::recursive_directory_iterator(home))
        trashed |= e.path().filename() == "only.png";
    EXPECT_TRUE(trashed);
    EXPECT_FALSE(CZerimoDoc::DeleteToRecycleBin(Path("only.png"))) << "nothing to delete any more";
    unsetenv("XDG_DATA_HOME");
}

} // namespace
} // namespace doctest
