// The decoder chain: which reader runs for which path, and what it hands back.

#include "TestSupport.h"

#include "imaging/Codec.h"
#include "io/DecodeChain.h"
#include "io/SafeFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

using namespace imaging;
using namespace zerimo;

std::vector<uint8_t> Bytes(const std::string& rel) {
    return testsupport::ReadFileBytes(std::string(ZERIMO_TEST_DATA) + "/" + rel);
}

TEST(DecodeChain, LowerExtensionLooksAtTheLastComponentOnly) {
    EXPECT_EQ(LowerExtension("/a/b/PIC.JpG"), ".jpg");
    EXPECT_EQ(LowerExtension("/a.d/pic"), "");
    EXPECT_EQ(LowerExtension("pic.tar.GZ"), ".gz");
    EXPECT_EQ(LowerExtension("file."), ".");
    EXPECT_EQ(LowerExtension(""), "");
}

TEST(DecodeChain, StepsRunByExtensionAndInOrder) {
    std::vector<std::string> calls;
    ChainReaders r;
    r.psd = [&](const std::string&) {
        calls.push_back("psd");
        return ImagePtr();
    };
    r.tga = [&](const std::string&) {
        calls.push_back("tga");
        return ImagePtr();
    };
    r.apng = [&](Stream&) {
        calls.push_back("apng");
        return ImagePtr();
    };
    r.webp = [&](Stream&) {
        calls.push_back("webp");
        return ImagePtr();
    };
    r.heif = [&](Stream&) {
        calls.push_back("heif");
        return ImagePtr();
    };
    r.pcx = [&](const uint8_t*, size_t) {
        calls.push_back("pcx");
        return ImagePtr();
    };
    const std::vector<uint8_t> junk = {'j', 'u', 'n', 'k'};
    const struct {
        const char* path;
        std::vector<std::string> calls;
    } cases[] = {
        {"x.PSD", {"psd", "webp", "heif"}},  {"x.tga", {"tga", "webp", "heif"}},
        {"x.Png", {"apng", "webp", "heif"}}, {"x.pcx", {"webp", "heif", "pcx"}},
        {"x.bin", {"webp", "heif"}},
    };
    for (const auto& c : cases) {
        calls.clear();
        MemoryStream s(junk.data(), junk.size());
        std::string reader = "?";
        EXPECT_FALSE(Image::Usable(DecodeImageFile(c.path, &s, r, &reader))) << c.path;
        EXPECT_EQ(calls, c.calls) << c.path;
        EXPECT_EQ(reader, "") << c.path;
    }

    // A reader that answers stops the chain; a PCX file under another name is never read as PCX.
    calls.clear();
    r.psd = [&](const std::string&) {
        calls.push_back("psd");
        return Image::CreateBitmap(2, 2, PixelFormat24bppRGB);
    };
    MemoryStream s(junk.data(), junk.size());
    std::string reader;
    EXPECT_TRUE(Image::Usable(DecodeImageFile("a.psd", &s, r, &reader)));
    EXPECT_EQ(calls, std::vector<std::string>{"psd"});
    EXPECT_EQ(reader, "psd");
}

TEST(DecodeChain, ThePlatformDecoderTakesTheCommonFormatsWhateverTheirName) {
    auto png = Bytes("png/basn0g01.png");
    ASSERT_FALSE(png.empty());
    for (const char* name : {"a.png", "a.PNG", "a.jpg", "noext"}) {
        MemoryStream s(png.data(), png.size());
        std::string reader;
        ImagePtr img = DecodeImageFile(name, &s, DefaultReaders(), &reader);
        ASSERT_TRUE(Image::Usable(img)) << name;
        EXPECT_EQ(reader, "platform") << name;
        EXPECT_EQ(img->GetWidth(), 32u);
    }
}

TEST(DecodeChain, AWebpNamedPngFallsThroughToTheWebpReader) {
    const std::string dir = std::string(ZERIMO_TEST_DATA) + "/webp";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no WebP fixtures";
    std::string file;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".webp") file = e.path();
    ASSERT_FALSE(file.empty());
    auto bytes = testsupport::ReadFileBytes(file);
    MemoryStream s(bytes.data(), bytes.size());
    std::string reader;
    ImagePtr img = DecodeImageFile("looks-like.png", &s, DefaultReaders(), &reader);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(reader, "webp");
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat32bppARGB);
}

TEST(DecodeChain, AMissingFileGivesNothingAndAGarbageFileAnUnusableImage) {
    EXPECT_EQ(DecodeImageFile("/nonexistent/x.png", nullptr), nullptr);
    const std::string junk = std::filesystem::temp_directory_path() / "zerimo-chain-junk.jpg";
    std::ofstream(junk) << "garbage";
    ImagePtr img = DecodeImageFile(junk, nullptr);
    EXPECT_FALSE(Image::Usable(img));
    std::filesystem::remove(junk);
}

TEST(SafeFile, ReplacesTheTargetOnlyOnCommit) {
    char pattern[] = "/tmp/zerimo-safe-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const std::string target = dir + "/t.bin";
    std::ofstream(target) << "old";
    chmod(target.c_str(), 0640);
    {
        auto f = SafeFile::Create(target);
        ASSERT_TRUE(f);
        f->Stream().Write("new!", 4);
        // Dropped without commit: the old file stays and the temporary one goes.
    }
    EXPECT_EQ(testsupport::ReadFileBytes(target), (std::vector<uint8_t>{'o', 'l', 'd'}));
    {
        auto f = SafeFile::Create(target);
        ASSERT_TRUE(f);
        f->Stream().Write("new!", 4);
        ASSERT_TRUE(f->Commit());
    }
    EXPECT_EQ(testsupport::ReadFileBytes(target), (std::vector<uint8_t>{'n', 'e', 'w', '!'}));
    struct stat st {};
    stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replaced file keeps its permissions";
    chmod(target.c_str(), 0440);
    EXPECT_FALSE(SafeFile::Create(target)) << "a read-only file is not replaced";
    EXPECT_FALSE(SafeFile::Create(dir + "/missing/x.bin"));
    // A link is followed: the file it names is replaced and the link stays a link.
    chmod(target.c_str(), 0640);
    std::filesystem::create_symlink(target, dir + "/link.bin");
    {
        auto f = SafeFile::Create(dir + "/link.bin");
        ASSERT_TRUE(f);
        f->Stream().Write("via", 3);
        ASSERT_TRUE(f->Commit());
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir + "/link.bin"));
    EXPECT_EQ(testsupport::ReadFileBytes(target), (std::vector<uint8_t>{'v', 'i', 'a'}));
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) (void)e, ++entries;
    EXPECT_EQ(entries, 2u) << "no temporary file is left behind";
    std::filesystem::remove_all(dir);
}

} // namespace
