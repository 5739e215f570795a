// The properties report: property lines, number formatting, the tag table, the image section and
// the file section.

#include "properties/QImageProperties.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace imaging;
using zerimo::QImageProperties;

namespace {

const std::string kTimes = " \xC3\x97 ";

std::shared_ptr<Image> NewBitmap(PixelFormat format = PixelFormat24bppRGB, int w = 3, int h = 2) {
    auto img = Image::CreateBitmap(w, h, format);
    EXPECT_TRUE(Image::Usable(img));
    return img;
}

std::vector<uint8_t> Le16(std::initializer_list<uint16_t> values) {
    std::vector<uint8_t> out;
    for (uint16_t v : values) out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)});
    return out;
}

std::vector<uint8_t> Le32(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> out;
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
    return out;
}

std::vector<uint8_t> Text(const std::string& s) {
    return {s.begin(), s.end()};
}

std::string Line(PROPID id, uint16_t type, std::vector<uint8_t> value) {
    auto img = NewBitmap();
    img->SetProperty(StoredProperty{id, type, std::move(value)});
    return QImageProperties(img.get()).DescribeProperty(id);
}

} // namespace

// ---- property lines ----------------------------------------------------------------------------

struct PropertyCase {
    const char* what;
    PROPID id;
    uint16_t type;
    std::vector<uint8_t> value;
    std::string expected;
};

class PropertyLineTest : public ::testing::TestWithParam<PropertyCase> {};

TEST_P(PropertyLineTest, FormatsTheValue) {
    const PropertyCase& c = GetParam();
    EXPECT_EQ(Line(c.id, c.type, c.value), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Values, PropertyLineTest,
    ::testing::Values(
        // Single values with the C meaning of the "#" and "0" flags.
        PropertyCase{"short max", 0x0100, PropertyTagTypeShort, Le16({65535}),
                     "Image Width: 65535 (= 0xffff)"},
        PropertyCase{"short zero has no 0x", 0x0100, PropertyTagTypeShort, Le16({0}),
                     "Image Width: 0 (= 0000)"},
        PropertyCase{"short one", 0x0100, PropertyTagTypeShort, Le16({1}), "Image Width: 1 (= 0x01)"},
        PropertyCase{"long one", 0x0100, PropertyTagTypeLong, Le32({1}), "Image Width: 1 (= 0x000001)"},
        PropertyCase{"long max", 0x0100, PropertyTagTypeLong, Le32({0xFFFFFFFF}),
                     "Image Width: 4294967295 (= 0xffffffff)"},
        PropertyCase{"slong negative", 0x9999, PropertyTagTypeSLONG, Le32({0xFFFFFFFF}),
                     "Unknown Property (0x9999): -1 (= 0xffffffff)"},
        PropertyCase{"rational", 0x011A, PropertyTagTypeRational, Le32({72, 1}), "XResolution: 72.0 (72/1)"},
        PropertyCase{"rational fraction", 0x829A, PropertyTagTypeRational, Le32({1, 100}),
                     "Exposure Time: 0.01 (1/100)"},
        PropertyCase{"rational over zero", 0x011A, PropertyTagTypeRational, Le32({72, 0}), "XResolution: "},
        PropertyCase{"srational negative", 0x9204, PropertyTagTypeSRational, Le32({uint32_t(-1), 3}),
                     "Exposure Bias: -0.333333 (-1/3)"},
        PropertyCase{"srational both negative", 0x9204, PropertyTagTypeSRational,
                     Le32({uint32_t(-5), uint32_t(-2)}), "Exposure Bias: 2.5 (-5/-2)"},
        PropertyCase{"srational over zero", 0x9204, PropertyTagTypeSRational, Le32({1, 0}),
                     "Exposure Bias: "},
        PropertyCase{"single byte", 0x0000, PropertyTagTypeByte, {0x41}, "Gps Ver: 65 (= 0x41)"},
        PropertyCase{"single small byte", 0x0000, PropertyTagTypeByte, {1}, "Gps Ver: 1 (= 0x1)"},
        PropertyCase{"single zero byte", 0x0000, PropertyTagTypeByte, {0}, "Gps Ver: 0 (= 00)"},
        PropertyCase{"type 0 as a byte", 0x0000, 0, {7}, "Gps Ver: 7 (= 0x7)"},
        // Short byte strings: text when printable, else hex with a trailing blank each.
        PropertyCase{"undefined text", 0x9000, PropertyTagTypeUndefined, Text("0220"), "Exif Ver: 0220"},
        PropertyCase{"undefined bytes", 0x9000, PropertyTagTypeUndefined, {1, 2}, "Exif Ver: 0x1 0x2 "},
        PropertyCase{"byte with zero", 0x0000, PropertyTagTypeByte, {2, 2, 0, 0}, "Gps Ver: 0x2 0x2 00 00 "},
        PropertyCase{"no bytes", 0x9000, PropertyTagTypeUndefined, {}, "Exif Ver: "},
        PropertyCase{"latin-1 bytes", 0x9000, PropertyTagTypeUndefined, {'a', 0xE9}, "Exif Ver: a\xC3\xA9"},
        PropertyCase{"five bytes are counted", 0x9000, PropertyTagTypeUndefined, Text("02200"),
                     "Exif Ver: (5 bytes)"},
        PropertyCase{"type above 10 as undefined", 0x9000, 11, {1, 2}, "Exif Ver: 0x1 0x2 "},
        PropertyCase{"type above 10 counted", 0x9000, 200, Text("abcdef"), "Exif Ver: (6 bytes)"},
        // Counts with their words.
        PropertyCase{"unknown id", 0x9C9B, PropertyTagTypeByte, Text("abcdef"),
                     "Unknown Property (0x9c9b): (6 bytes)"},
        PropertyCase{"three longs", 0x0111, PropertyTagTypeLong, Le32({1, 2, 3}), "Strip Offsets: (3 longs)"},
        PropertyCase{"two slongs", 0x0111, PropertyTagTypeSLONG, Le32({1, 2}),
                     "Strip Offsets: (2 signed longs)"},
        PropertyCase{"two shorts", 0x0102, PropertyTagTypeShort, Le16({8, 8}), "Bits per Sample: (2 shorts)"},
        PropertyCase{"three rationals", 0x0002, PropertyTagTypeRational, Le32({1, 1, 2, 1, 3, 1}),
                     "Gps Latitude: (3 rationals)"},
        PropertyCase{"two srationals", 0x0002, PropertyTagTypeSRational, Le32({1, 1, 2, 1}),
                     "Gps Latitude: (2 signed rationals)"},
        PropertyCase{"sbyte", 0x0002, 6, {1, 2, 3}, "Gps Latitude: (3 bytes)"},
        PropertyCase{"type 8 has no word", 0x0002, 8, {1, 2, 3, 4}, "Gps Latitude: (4 )"},
        // Values shorter than one value are counted, never read.
        PropertyCase{"short of one byte", 0x0100, PropertyTagTypeShort, {0xFF}, "Image Width: (0 shorts)"},
        PropertyCase{"long of three bytes", 0x0100, PropertyTagTypeLong, {1, 2, 3}, "Image Width: (0 longs)"},
        PropertyCase{"rational of four bytes", 0x011A, PropertyTagTypeRational, Le32({72}),
                     "XResolution: (0 rationals)"},
        PropertyCase{"srational of four bytes", 0x9204, PropertyTagTypeSRational, Le32({1}),
                     "Exposure Bias: (0 signed rationals)"},
        PropertyCase{"rational with a tail",
                     0x011A,
                     PropertyTagTypeRational,
                     {72, 0, 0, 0, 1, 0, 0, 0, 9},
                     "XResolution: 72.0 (72/1)"},
        // Text.
        PropertyCase{"ascii", 0x0131, PropertyTagTypeASCII, Text(std::string("Zerimo") + '\0'),
                     "Software Used: Zerimo"},
        PropertyCase{"ascii without NUL", 0x0131, PropertyTagTypeASCII, Text("abc"), "Software Used: abc"},
        PropertyCase{"ascii stops at NUL", 0x0131, PropertyTagTypeASCII, Text(std::string("ab\0cd", 5)),
                     "Software Used: ab"},
        PropertyCase{"ascii empty", 0x0131, PropertyTagTypeASCII, {}, "Software Used: "},
        PropertyCase{
            "ascii latin-1", 0x013B, PropertyTagTypeASCII, {'C', 'a', 'f', 0xE9, 0}, "Artist: Caf\xC3\xA9"},
        PropertyCase{"ascii utf-8 kept", 0x013B, PropertyTagTypeASCII, Text("Caf\xC3\xA9 \xE2\x82\xAC"),
                     "Artist: Caf\xC3\xA9 \xE2\x82\xAC"},
        PropertyCase{"ascii broken utf-8",
                     0x013B,
                     PropertyTagTypeASCII,
                     {0xE2, 0x82, 'x'},
                     "Artist: \xC3\xA2\xC2\x82x"},
        // Enumerated tags name the first byte; out of range names nothing.
        PropertyCase{"orientation 6", 0x0112, PropertyTagTypeShort, Le16({6}), "Orientation: Ccw 90"},
        PropertyCase{"orientation 8", 0x0112, PropertyTagTypeShort, Le16({8}), "Orientation: Cw     90"},
        PropertyCase{"orientation 1", 0x0112, PropertyTagTypeShort, Le16({1}), "Orientation: Normal"},
        PropertyCase{"orientation 9", 0x0112, PropertyTagTypeShort, Le16({9}), "Orientation: "},
        PropertyCase{"orientation 0", 0x0112, PropertyTagTypeShort, Le16({0}), "Orientation: "},
        PropertyCase{"orientation low byte", 0x0112, PropertyTagTypeShort, Le16({0x0103}),
                     "Orientation: 180"},
        PropertyCase{"orientation no value", 0x0112, PropertyTagTypeShort, {}, "Orientation: "},
        PropertyCase{"resolution unit", 0x0128, PropertyTagTypeShort, Le16({2}), "Resolution Unit: Inch"},
        PropertyCase{"resolution unit 4", 0x0128, PropertyTagTypeShort, Le16({4}), "Resolution Unit: "},
        PropertyCase{"thumbnail unit", 0x5030, PropertyTagTypeShort, Le16({1}),
                     "Thumbnail Resolution Unit: None specified"},
        PropertyCase{"focal unit", 0xA210, PropertyTagTypeShort, Le16({3}), "Focal Res Unit: Centimeter"},
        PropertyCase{"compression", 0x0103, PropertyTagTypeShort, Le16({6}), "Compression: Jpeg"},
        PropertyCase{"thumbnail compression", 0x5023, PropertyTagTypeShort, Le16({1}),
                     "Thumbnail Compression: TIFF"},
        PropertyCase{"compression 7", 0x0103, PropertyTagTypeShort, Le16({7}), "Compression: "},
        PropertyCase{"photometric", 0x0106, PropertyTagTypeShort, Le16({2}),
                     "Photometric Interpretation: RGB"},
        PropertyCase{"photometric ycbcr", 0x0106, PropertyTagTypeShort, Le16({6}),
                     "Photometric Interpretation: YCbCr"},
        PropertyCase{"exposure program", 0x8822, PropertyTagTypeShort, Le16({8}), "Exposure Prog: Landscape"},
        PropertyCase{"exposure program 3", 0x8822, PropertyTagTypeShort, Le16({3}),
                     "Exposure Prog: Aperture priority"},
        PropertyCase{"metering", 0x9207, PropertyTagTypeShort, Le16({6}), "Metering Mode: Partial"},
        PropertyCase{"metering other", 0x9207, PropertyTagTypeShort, Le16({255}), "Metering Mode: "},
        PropertyCase{"light source", 0x9208, PropertyTagTypeShort, Le16({24}),
                     "Light Source: ISO studio tungsten"},
        PropertyCase{"light source 12", 0x9208, PropertyTagTypeShort, Le16({12}),
                     "Light Source: Daylight fluorescent"},
        PropertyCase{"light source 25", 0x9208, PropertyTagTypeShort, Le16({25}), "Light Source: "}));

TEST(PropertyLine, MissingItemGivesTheNameOnly) {
    auto img = NewBitmap();
    EXPECT_EQ(QImageProperties(img.get()).DescribeProperty(PropertyTagGamma), "Gamma: ");
    EXPECT_EQ(QImageProperties(nullptr).DescribeProperty(PropertyTagGamma), "Gamma: ");
}

// ---- FormatDecimal -----------------------------------------------------------------------------

TEST(FormatDecimal, CutsTrailingZerosAndKeepsOneDigit) {
    const std::pair<double, const char*> cases[] = {{96, "96.0"},
                                                    {0.5, "0.5"},
                                                    {2.54, "2.54"},
                                                    {72.009995, "72.009995"},
                                                    {0, "0.0"},
                                                    {100, "100.0"},
                                                    {-1.5, "-1.5"},
                                                    {1e-7, "0.0"},
                                                    {0.000001, "0.000001"},
                                                    {1e20, "100000000000000000000.0"},
                                                    {-0.25, "-0.25"},
                                                    {10.1, "10.1"},
                                                    {4096.0, "4096.0"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(zerimo::FormatDecimal(value), text) << value;
}

// ---- tag names -----------------------------------------------------------------------------------

TEST(PropertyTagName, TableHas230RowsWithDistinctIds) {
    const auto rows = zerimo::PropertyTagRows();
    ASSERT_EQ(rows.size(), 230u);
    std::set<PROPID> ids;
    for (const auto& row : rows) {
        EXPECT_TRUE(ids.insert(row.id).second) << "duplicate id " << row.id;
        EXPECT_NE(std::string(row.name), "");
        EXPECT_EQ(zerimo::PropertyTagName(row.id), row.name);
    }
    EXPECT_EQ(rows.front().id, 0x8769u);
    EXPECT_STREQ(rows.front().name, "Exif IFD");
    EXPECT_EQ(rows.back().id, 0xA420u);
    EXPECT_STREQ(rows.back().name, "Image Unique ID");
}

TEST(PropertyTagName, NamesKeepTheirOddSpelling) {
    EXPECT_EQ(zerimo::PropertyTagName(0x5022), "Thumbnail Bits per     Sample");
    EXPECT_EQ(zerimo::PropertyTagName(0x502B), "Thumbnail Rows per     Strip");
    EXPECT_EQ(zerimo::PropertyTagName(0xA20B), "Flash  Energy");
    EXPECT_EQ(zerimo::PropertyTagName(0x0107), "Threshholding");
    EXPECT_EQ(zerimo::PropertyTagName(0x0000), "Gps Ver");
    EXPECT_EQ(zerimo::PropertyTagName(0x001A), "Gps Dest Dist");
    EXPECT_EQ(zerimo::PropertyTagName(0x8773), "ICC Profile");
}

TEST(PropertyTagName, UnknownIdsShowTheirNumber) {
    EXPECT_EQ(zerimo::PropertyTagName(0x9C9B), "Unknown Property (0x9c9b)");
    EXPECT_EQ(zerimo::PropertyTagName(0x001F), "Unknown Property (0x1f)");
    EXPECT_EQ(zerimo::PropertyTagName(0x5103), "Unknown Property (0x5103)");
    EXPECT_EQ(zerimo::PropertyTagName(0x12345), "Unknown Property (0x12345)");
}

// ---- the image section ---------------------------------------------------------------------------

TEST(DescribeImage, NewBitmap) {
    auto img = NewBitmap(PixelFormat24bppRGB, 3, 2);
    EXPECT_EQ(QImageProperties(img.get()).DescribeImage(),
              "Format: Memory\r\nPixelFormat: 24 bpp RGB\r\nPixels: 3" + kTimes +
                  "2\r\nPhysical Dimension: 3.0" + kTimes + "2.0\r\nResolution: 96.0" + kTimes +
                  "96.0\r\nFlags: None\r\n");
}

TEST(DescribeImage, FlagsAreListedInTableOrder) {
    auto img = NewBitmap(PixelFormat32bppARGB);
    EXPECT_NE(QImageProperties(img.get()).DescribeImage().find("\r\nFlags: \r\n\tHas Alpha\r\n"),
              std::string::npos);

    img->ActiveFrameData().flags = ImageFlagsCaching | ImageFlagsScalable | ImageFlagsColorSpaceGRAY |
                                   ImageFlagsHasRealDPI | ImageFlagsHasTranslucent;
    const std::string text = QImageProperties(img.get()).DescribeImage();
    EXPECT_NE(
        text.find("\r\nFlags: \r\n\tScalable\r\n\tHas Alpha\r\n\tHas Translucent\r\n\tColorSpace GRAY\r\n\t"
                  "Has Real DPI\r\n\tCaching\r\n"),
        std::string::npos)
        << text;
}

TEST(DescribeImage, PixelFormatNames) {
    const std::pair<PixelFormat, const char*> cases[] = {{PixelFormat1bppIndexed, "1 bpp Indexed"},
                                                         {PixelFormat4bppIndexed, "4 bpp Indexed"},
                                                         {PixelFormat8bppIndexed, "8 bpp Indexed"},
                                                         {PixelFormat16bppGrayScale, "16 bpp GrayScale"},
                                                         {PixelFormat16bppRGB555, "16 bpp RGB555"},
                                                         {PixelFormat16bppRGB565, "16 bpp RGB565"},
                                                         {PixelFormat16bppARGB1555, "16 bpp ARGB1555"},
                                                         {PixelFormat24bppRGB, "24 bpp RGB"},
                                                         {PixelFormat32bppRGB, "32 bpp RGB"},
                                                         {PixelFormat32bppARGB, "32 bpp ARGB"},
                                                         {PixelFormat32bppPARGB, "32 bpp PARGB"},
                                                         {PixelFormat48bppRGB, "48 bpp RGB"},
                                                         {PixelFormat64bppARGB, "64 bpp ARGB"},
                                                         {PixelFormat64bppPARGB, "64 bpp PARGB"},
                                                         {PixelFormat32bppCMYK, "Unknown"}};
    for (const auto& [format, name] : cases) {
        auto img = NewBitmap(format);
        const std::string text = QImageProperties(img.get()).DescribeImage();
        EXPECT_NE(text.find("\r\nPixelFormat: " + std::string(name) + "\r\n"), std::string::npos) << text;
    }
}

TEST(DescribeImage, RawFormatNames) {
    const std::pair<Guid, const char*> cases[] = {{ImageFormatUndefined, "Undefined"},
                                                  {ImageFormatMemoryBMP, "Memory"},
                                                  {ImageFormatBMP, "BMP"},
                                                  {ImageFormatEMF, "EMF"},
                                                  {ImageFormatWMF, "WMF"},
                                                  {ImageFormatJPEG, "JPEG"},
                                                  {ImageFormatPNG, "PNG"},
                                                  {ImageFormatGIF, "GIF"},
                                                  {ImageFormatTIFF, "TIFF"},
                                                  {ImageFormatEXIF, "EXIF"},
                                                  {ImageFormatIcon, "Icon"},
                                                  {RawFormatGuid(0xb96b3cb3), "Unknown"},
                                                  {ClsidPngCodec, "Unknown"}};
    for (const auto& [guid, name] : cases) {
        auto img = NewBitmap();
        img->SetRawFormat(guid);
        EXPECT_EQ(
            QImageProperties(img.get()).DescribeImage().rfind("Format: " + std::string(name) + "\r\n", 0), 0u)
            << name;
    }
}

TEST(DescribeImage, ResolutionAndPropertyLinesInListOrder) {
    auto img = NewBitmap(PixelFormat24bppRGB, 640, 480);
    ASSERT_EQ(img->SetResolution(300, 72.5f), Ok);
    img->SetProperty({PropertyTagOrientation, PropertyTagTypeShort, Le16({3})});
    img->SetProperty({PropertyTagSoftwareUsed, PropertyTagTypeASCII, Text(std::string("Zerimo") + '\0')});
    img->SetProperty({0x011A, PropertyTagTypeRational, Le32({300, 1})});
    const std::string head = "Format: Memory\r\nPixelFormat: 24 bpp RGB\r\nPixels: 640" + kTimes +
                             "480\r\nPhysical Dimension: 640.0" + kTimes + "480.0\r\nResolution: 300.0" +
                             kTimes + "72.5\r\nFlags: None\r\n";
    QImageProperties props(img.get());
    EXPECT_EQ(props.DescribeImage(),
              head + "Orientation: 180\r\nSoftware Used: Zerimo\r\nXResolution: 300.0 (300/1)\r\n");

    const PROPID exclude[] = {PropertyTagSoftwareUsed, 0x9999, 0};
    EXPECT_EQ(props.DescribeImage(exclude), head + "Orientation: 180\r\nXResolution: 300.0 (300/1)\r\n");
    const PROPID nothing[] = {0};
    EXPECT_EQ(props.DescribeImage(nothing), props.DescribeImage(nullptr));
}

TEST(DescribeImage, NoImageShowsZeros) {
    const std::string zeros = "PixelFormat: Unknown\r\nPixels: 0" + kTimes + "0\r\nPhysical Dimension: 0.0" +
                              kTimes + "0.0\r\nResolution: 0.0" + kTimes + "0.0\r\nFlags: None\r\n";
    EXPECT_EQ(QImageProperties(nullptr).DescribeImage(), "Format: \r\n" + zeros);
    auto failed = Image::Failed(OutOfMemory);
    EXPECT_NE(QImageProperties(failed.get())
                  .DescribeImage()
                  .find("\r\nPixelFormat: Unknown\r\nPixels: 0" + kTimes + "0\r\n"),
              std::string::npos);
}

TEST(DescribeImage, JpegWithExif) {
    // Orientation 7, resolution tags and the quantisation tables the decoder adds.
    auto img = Image::FromFile(std::string(ZERIMO_TEST_DATA) + "/jpeg/Portrait_7.jpg");
    ASSERT_TRUE(Image::Usable(img));
    QImageProperties props(img.get());
    const std::string head =
        "Format: JPEG\r\nPixelFormat: 24 bpp RGB\r\nPixels: 1800" + kTimes +
        "1200\r\nPhysical Dimension: 1800.0" + kTimes + "1200.0\r\nResolution: 72.0" + kTimes +
        "72.0\r\nFlags: \r\n\tColorSpace YCBCR\r\n\tHas Real DPI\r\n\tHas Real Pixel "
        "Size\r\n\tReadOnly\r\n"
        "Orientation: Unknown (7)\r\nXResolution: 72.0 (72/1)\r\nYResolution: 72.0 (72/1)\r\n"
        "Resolution Unit: Inch\r\nYCbCr Positioning: 1 (= 0x01)\r\n";
    EXPECT_EQ(props.DescribeImage(),
              head + "Luminance Table: (64 shorts)\r\nChrominance Table: (64 shorts)\r\n");
    const PROPID tables[] = {PropertyTagLuminanceTable, PropertyTagChrominanceTable, 0};
    EXPECT_EQ(props.DescribeImage(tables), head);
}

TEST(DescribeImage, JpegWithExifGpsAndMakerNote) {
    auto img = Image::FromFile(std::string(ZERIMO_TEST_DATA) + "/jpeg/seed-exif-icc.jpg");
    ASSERT_TRUE(Image::Usable(img));
    const std::string text = QImageProperties(img.get()).DescribeImage();
    for (const char* line : {"\r\nOrientation: Ccw 90\r\n", "\r\nExif IFD: 132 (= 0x000084)\r\n",
                             "\r\nUnknown Property (0x9c9b): (6 bytes)\r\n",
                             "\r\nExposure Bias: -0.333333 (-1/3)\r\n", "\r\nGps Ver: 0x2 0x2 00 00 \r\n",
                             "\r\nGps Latitude: (3 rationals)\r\n", "\r\nICC Profile: (584 bytes)\r\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

// ---- the file section ----------------------------------------------------------------------------

namespace {

std::string LocalStamp(time_t t) {
    struct tm local;
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &local);
    return text;
}

/// "Created: yyyy:mm:dd hh:mm:ss\r\n" with any digits: the birth time cannot be set.
bool IsCreatedLine(const std::string& line) {
    const std::string shape = "Created: 0000:00:00 00:00:00\r\n";
    if (line.size() != shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != shape[i])
            return false;
    return true;
}

} // namespace

TEST(DescribeFile, TimesAndSize) {
    char path[] = "/tmp/zerimo-props-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "12345", 5), 5);
    close(fd);
    const time_t accessed = 946684800 + 3600 * 5 + 7;    // 2000-01-01 05:00:07 UTC
    const time_t written = 1262304000 + 86400 * 40 + 59; // 2010-02-10 00:00:59 UTC
    const struct timespec times[2] = {{accessed, 0}, {written, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path, times, 0), 0);

    const std::string text = zerimo::DescribeFile(path);
    unlink(path);
    const std::string expectedTail = "Accessed: " + LocalStamp(accessed) +
                                     "\r\nLast Written: " + LocalStamp(written) +
                                     "\r\nFile Size: 5 bytes\r\n";
    const std::string head = std::string("File: ") + path + "\r\n";
    ASSERT_EQ(text.rfind(head, 0), 0u) << text;
    ASSERT_GT(text.size(), head.size() + expectedTail.size());
    EXPECT_TRUE(IsCreatedLine(text.substr(head.size(), text.size() - head.size() - expectedTail.size())))
        << text;
    EXPECT_EQ(text.substr(text.size() - expectedTail.size()), expectedTail);
}

TEST(DescribeFile, MissingFileGivesThePathOnly) {
    EXPECT_EQ(zerimo::DescribeFile("/nonexistent/zerimo/picture.jpg"),
              "File: /nonexistent/zerimo/picture.jpg\r\n");
    EXPECT_EQ(zerimo::DescribeFile(""), "");
}

TEST(DescribeFile, ReportBeginsWithTheFileSection) {
    const std::string path = std::string(ZERIMO_TEST_DATA) + "/jpeg/Portrait_7.jpg";
    const size_t size = testsupport::ReadFileBytes(path).size();
    const std::string text = zerimo::DescribeFile(path);
    EXPECT_EQ(text.rfind("File: " + path + "\r\nCreated: ", 0), 0u) << text;
    EXPECT_NE(text.find("\r\nFile Size: " + std::to_string(size) + " bytes\r\n"), std::string::npos) << text;
}
