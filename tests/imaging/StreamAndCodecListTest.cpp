#include "imaging/Codec.h"
#include "imaging/Stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

using namespace imaging;

TEST(Stream, MemoryStreamReadWriteSeek) {
    MemoryStream m;
    ASSERT_TRUE(m.Write("abcdef", 6));
    EXPECT_EQ(m.Size(), 6u);
    ASSERT_TRUE(m.Seek(-2, SeekOrigin::End));
    char buf[8] = {};
    EXPECT_EQ(m.Read(buf, 8), 2u);
    EXPECT_STREQ(buf, "ef");
    EXPECT_FALSE(m.Seek(-1, SeekOrigin::Begin));
    ASSERT_TRUE(m.Seek(8, SeekOrigin::Begin)); // past the end: a later write fills the gap with zeros
    ASSERT_TRUE(m.Write("z", 1));
    EXPECT_EQ(m.Size(), 9u);
    EXPECT_EQ(m.Bytes()[6], 0);

    const char fixed[] = "xyz";
    MemoryStream borrowed(fixed, 3);
    EXPECT_FALSE(borrowed.Write("q", 1));
    std::vector<uint8_t> all;
    ASSERT_TRUE(borrowed.ReadAll(all));
    EXPECT_EQ(std::string(all.begin(), all.end()), "xyz");
    EXPECT_FALSE(borrowed.ReadAll(all, 2)); // larger than the limit
}

TEST(Stream, FileStreamRoundTrip) {
    std::string path = testing::TempDir() + "zerimo_stream_" + std::to_string(getpid());
    {
        auto out = FileStream::Create(path);
        ASSERT_TRUE(out->IsOpen());
        ASSERT_TRUE(out->Write("hello", 5));
        EXPECT_EQ(out->Size(), 5u);
        ASSERT_TRUE(out->Close());
    }
    auto in = FileStream::OpenRead(path);
    ASSERT_TRUE(in->IsOpen());
    EXPECT_FALSE(in->Write("x", 1));
    ASSERT_TRUE(in->Seek(1, SeekOrigin::Begin));
    char buf[4] = {};
    EXPECT_EQ(in->Read(buf, 3), 3u);
    EXPECT_STREQ(buf, "ell");
    EXPECT_EQ(in->Position(), 4u);
    std::remove(path.c_str());
    EXPECT_FALSE(FileStream::OpenRead(path)->IsOpen());
}

TEST(CodecList, PlatformOrderAndRecords) {
    const auto& dec = GetImageDecoders();
    const char* const decoders[] = {"BMP", "JPEG", "GIF", "EMF", "WMF", "TIFF", "PNG", "ICO"};
    ASSERT_EQ(dec.size(), 8u);
    for (size_t i = 0; i < dec.size(); ++i) EXPECT_EQ(dec[i].FormatDescription, decoders[i]);
    const auto& enc = GetImageEncoders();
    const char* const encoders[] = {"BMP", "JPEG", "GIF", "TIFF", "PNG"};
    ASSERT_EQ(enc.size(), 5u);
    for (size_t i = 0; i < enc.size(); ++i) {
        EXPECT_EQ(enc[i].FormatDescription, encoders[i]);
        EXPECT_EQ(FindEncoder(enc[i].Clsid)->Info().Clsid, enc[i].Clsid);
    }
    EXPECT_EQ(enc[1].FilenameExtension, "*.JPG;*.JPEG;*.JPE;*.JFIF");
    EXPECT_EQ(enc[1].MimeType, "image/jpeg");
    EXPECT_EQ(enc[3].Clsid.ToString(), "{557cf405-1a04-11d3-9a73-0000f81ef32e}");
    EXPECT_EQ(enc[4].FormatID, ImageFormatPNG);
    EXPECT_EQ(FindEncoder(Guid{}), nullptr);
}

TEST(CodecList, GuidTextRoundTrip) {
    Guid g;
    ASSERT_TRUE(Guid::Parse("{B96B3CAE-0728-11D3-9D7B-0000F81EF32E}", g));
    EXPECT_EQ(g, ImageFormatJPEG);
    EXPECT_STREQ(RawFormatName(g), "JPEG");
    EXPECT_FALSE(Guid::Parse("{B96B3CAE-0728-11D3-9D7B-0000F81EF32}", g));
    EXPECT_FALSE(Guid::Parse("b96b3cae_0728_11d3_9d7b_0000f81ef32e", g));
    EXPECT_STREQ(RawFormatName(Guid{}), "Unknown");
}

TEST(CodecList, SaveWithUnknownEncoderFails) {
    auto img = Image::CreateBitmap(2, 2, PixelFormat24bppRGB);
    MemoryStream m;
    EXPECT_NE(img->Save(m, Guid{}, nullptr), Ok);
    EXPECT_NE(img->GetLastStatus(), Ok);
    EXPECT_EQ(img->SaveAdd(nullptr), InvalidParameter); // no Flush flag
    EncoderParameters flush;
    flush.AddLong(EncoderSaveFlag, EncoderValueFlush);
    EXPECT_EQ(img->SaveAdd(&flush), WrongState); // nothing open
}
