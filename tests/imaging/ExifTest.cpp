#include "imaging/Exif.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace imaging;

namespace {

/// One TIFF field as a writer puts it in the file: numbers in the block's byte order.
struct Field {
    uint16_t tag;
    uint16_t type;
    std::vector<uint32_t> numbers; // rationals as numerator, denominator pairs
    std::string text = {};         // ASCII (the NUL is added) and UNDEFINED bytes
};

/// A TIFF-structured EXIF block: IFD0 -> EXIF IFD, GPS IFD; IFD0's next IFD is IFD1 with a JPEG
/// thumbnail. Positions of the parts are kept so that tests can damage them.
struct Block {
    std::vector<uint8_t> bytes;
    size_t ifd0 = 0, ifd1 = 0, ifd0Next = 0;
    std::map<uint16_t, size_t> entryAt; // the last entry written with that tag
    bool big;

    void Put16(size_t at, uint32_t v) {
        bytes[at] = uint8_t(big ? v >> 8 : v);
        bytes[at + 1] = uint8_t(big ? v : v >> 8);
    }
    void Put32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = uint8_t(v >> (big ? 24 - 8 * i : 8 * i));
    }
};

size_t TypeBytes(uint16_t type) {
    return type == 3 || type == 8                 ? 2
           : type == 4 || type == 9 || type == 11 ? 4
           : type == 5 || type == 10              ? 8
                                                  : 1;
}

class Builder {
  public:
    explicit Builder(bool big) { b_.big = big; }
    std::vector<Field> ifd0, exif, gps, ifd1;
    std::string thumbnail;

    Block Build() {
        b_.bytes.assign(8, 0);
        b_.bytes[0] = b_.bytes[1] = b_.big ? 'M' : 'I';
        b_.Put16(2, 42);
        b_.Put32(4, 8);
        std::vector<Field> primary = ifd0;
        if (!exif.empty()) primary.push_back({0x8769, 4, {0}});
        if (!gps.empty()) primary.push_back({0x8825, 4, {0}});
        std::vector<Field> thumb = ifd1;
        if (!thumbnail.empty()) {
            thumb.push_back({0x0201, 4, {0}});
            thumb.push_back({0x0202, 4, {uint32_t(thumbnail.size())}});
        }
        b_.ifd0 = 8;
        const size_t next = Write(primary);
        if (!exif.empty()) b_.Put32(b_.entryAt[0x8769] + 8, uint32_t(Write(exif, true)));
        if (!gps.empty()) b_.Put32(b_.entryAt[0x8825] + 8, uint32_t(Write(gps, true)));
        b_.ifd0Next = next;
        if (!thumb.empty()) {
            b_.ifd1 = Write(thumb, true);
            b_.Put32(next, uint32_t(b_.ifd1));
            if (!thumbnail.empty()) {
                b_.Put32(b_.entryAt[0x0201] + 8, uint32_t(b_.bytes.size()));
                b_.bytes.insert(b_.bytes.end(), thumbnail.begin(), thumbnail.end());
            }
        }
        return b_;
    }

  private:
    /// Appends an IFD and its values; returns the position of its next-IFD field, or, with
    /// `start`, of the IFD itself.
    size_t Write(const std::vector<Field>& fields, bool start = false) {
        const size_t at = b_.bytes.size();
        b_.bytes.resize(at + 2 + fields.size() * 12 + 4, 0);
        b_.Put16(at, uint32_t(fields.size()));
        for (size_t i = 0; i < fields.size(); ++i) {
            const Field& f = fields[i];
            std::vector<uint8_t> value;
            if (f.type == 2 || f.type == 7) {
                value.assign(f.text.begin(), f.text.end());
                if (f.type == 2) value.push_back(0);
            } else {
                const size_t unit = f.type == 5 || f.type == 10 ? 4 : TypeBytes(f.type);
                Block tmp{std::vector<uint8_t>(4), 0, 0, 0, {}, b_.big};
                for (uint32_t n : f.numbers) {
                    if (unit == 1)
                        tmp.bytes[0] = uint8_t(n);
                    else if (unit == 2)
                        tmp.Put16(0, n);
                    else
                        tmp.Put32(0, n);
                    value.insert(value.end(), tmp.bytes.begin(), tmp.bytes.begin() + std::ptrdiff_t(unit));
                }
            }
            const size_t e = at + 2 + i * 12;
            b_.entryAt[f.tag] = e;
            b_.Put16(e, f.tag);
            b_.Put16(e + 2, f.type);
            b_.Put32(e + 4, uint32_t(value.size() / TypeBytes(f.type)));
            if (value.size() <= 4) {
                std::copy(value.begin(), value.end(), b_.bytes.begin() + std::ptrdiff_t(e + 8));
            } else {
                b_.Put32(e + 8, uint32_t(b_.bytes.size()));
                b_.bytes.insert(b_.bytes.end(), value.begin(), value.end());
            }
        }
        return start ? at : at + 2 + fields.size() * 12;
    }
    Block b_;
};

Builder CameraBlock(bool big) {
    Builder b(big);
    b.ifd0 = {{0x010F, 2, {}, "Canon"},
              {0x0112, 3, {6}},
              {0x011A, 5, {72, 1}},
              {0x0131, 2, {}, "Zerimo"},
              {0x9C9B, 1, {65, 0, 66, 0}}, // a BYTE item of four values stays inline
              {0x1234, 8, {0xFFFE}},       // SSHORT, kept as UNDEFINED bytes
              {0x1235, 99, {1}}};          // a type no reader knows
    b.exif = {{0x829A, 5, {1, 250}},
              {0x9204, 10, {uint32_t(-1), 3}},
              {0x9286, 7, {}, std::string("ASCII\0\0\0hi", 10)},
              {0xA005, 4, {0}},
              {0x9999, 9, {uint32_t(-7), 5}}};
    b.gps = {{0x0000, 1, {2, 3, 0, 0}}, {0x0002, 5, {51, 1, 30, 1, 0, 1}}};
    b.ifd1 = {{0x0103, 3, {6}}, {0x011A, 5, {180, 1}}, {0x0112, 3, {1}}, {0x0140, 3, {1}}};
    b.thumbnail = std::string("\xFF\xD8\xFF\xD9", 4);
    return b;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int x : v) out.push_back(uint8_t(x));
    return out;
}
std::vector<uint8_t> Text(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

const StoredProperty* Find(const std::vector<StoredProperty>& items, PROPID id) {
    for (const auto& p : items)
        if (p.id == id) return &p;
    return nullptr;
}

} // namespace

TEST(Exif, ParsesEveryIfdToLittleEndianItemsInEitherByteOrder) {
    const std::vector<StoredProperty> expected = {
        {0x010F, 2, Text(std::string("Canon\0", 6))},
        {0x0112, 3, Bytes({6, 0})},
        {0x011A, 5, Bytes({72, 0, 0, 0, 1, 0, 0, 0})},
        {0x0131, 2, Text(std::string("Zerimo\0", 7))},
        {0x9C9B, 1, Bytes({65, 0, 66, 0})},
        {0x1234, 7, Bytes({0xFE, 0xFF})},
        {0x8769, 4, {}}, // offsets differ between the two blocks; checked apart
        {0x8825, 4, {}},
        {0x829A, 5, Bytes({1, 0, 0, 0, 250, 0, 0, 0})},
        {0x9204, 10, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0})},
        {0x9286, 7, Text(std::string("ASCII\0\0\0hi", 10))},
        {0x9999, 9, Bytes({0xF9, 0xFF, 0xFF, 0xFF, 5, 0, 0, 0})},
        {0x0000, 1, Bytes({2, 3, 0, 0})},
        {0x0002, 5, Bytes({51, 0, 0, 0, 1, 0, 0, 0, 30, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0})},
        {0x5023, 3, Bytes({6, 0})},
        {0x502D, 5, Bytes({180, 0, 0, 0, 1, 0, 0, 0})},
        {0x5029, 3, Bytes({1, 0})},
        {0x5012, 4, Bytes({6, 0, 0, 0})},
        {0x501B, 1, Bytes({0xFF, 0xD8, 0xFF, 0xD9})},
    };
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        const Block block = CameraBlock(big).Build();
        std::vector<StoredProperty> items;
        ASSERT_TRUE(ParseExif(block.bytes.data(), block.bytes.size(), items));
        ASSERT_EQ(items.size(), expected.size());
        for (size_t i = 0; i < items.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(items[i].id, expected[i].id);
            EXPECT_EQ(items[i].type, expected[i].type);
            if (!expected[i].value.empty()) {
                EXPECT_EQ(items[i].value, expected[i].value);
            }
        }
        const StoredProperty* exifIfd = Find(items, 0x8769);
        ASSERT_EQ(exifIfd->value.size(), 4u);
        const uint32_t at = exifIfd->value[0] | (exifIfd->value[1] << 8) | (exifIfd->value[2] << 16);
        EXPECT_GT(at, 8u);
        EXPECT_LT(at, block.bytes.size());
    }
}

TEST(Exif, DamagedBlocksFailWithoutReadingOutside) {
    struct Case {
        const char* name;
        void (*damage)(Block&);
        bool keepsIfd0; // the items of IFD0 are still delivered
    };
    const Case cases[] = {
        {"IFD1 loops back to IFD0", [](Block& b) { b.Put32(b.ifd0Next, uint32_t(b.ifd0)); }, true},
        {"EXIF IFD is IFD0", [](Block& b) { b.Put32(b.entryAt[0x8769] + 8, uint32_t(b.ifd0)); }, true},
        {"GPS IFD beyond the end", [](Block& b) { b.Put32(b.entryAt[0x8825] + 8, 0xFFFFFFF0u); }, true},
        {"value offset beyond the end",
         [](Block& b) { b.Put32(b.entryAt[0x011A] + 8, uint32_t(b.bytes.size() - 4)); }, true},
        {"count overflows", [](Block& b) { b.Put32(b.entryAt[0x0002] + 4, 0x40000000u); }, true},
        {"thumbnail longer than the block", [](Block& b) { b.Put32(b.entryAt[0x0202] + 8, 0x7FFFFFFFu); },
         true},
        {"entry count beyond the end", [](Block& b) { b.Put16(b.ifd0, 0xFFFF); }, false},
        {"IFD0 beyond the end", [](Block& b) { b.Put32(4, 0x80000000u); }, false},
        {"bad magic", [](Block& b) { b.Put16(2, 43); }, false},
        {"cut in the header", [](Block& b) { b.bytes.resize(6); }, false},
        {"cut inside IFD0", [](Block& b) { b.bytes.resize(b.ifd0 + 20); }, false},
    };
    for (bool big : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (big ? " MM" : " II"));
            Block block = CameraBlock(big).Build();
            c.damage(block);
            // A copy of exactly the block's size, so that the address sanitizer sees any overread.
            std::vector<uint8_t> data(block.bytes);
            std::vector<StoredProperty> items;
            EXPECT_FALSE(ParseExif(data.data(), data.size(), items));
            EXPECT_EQ(Find(items, 0x0112) != nullptr, c.keepsIfd0);
            std::map<PROPID, int> seen;
            for (const auto& p : items) EXPECT_EQ(++seen[p.id], 1) << std::hex << p.id;
        }
}

TEST(Exif, EntriesSharingOneValueCannotMultiplyTheBlock) {
    Builder b(false);
    for (uint16_t i = 0; i < 64; ++i)
        b.ifd0.push_back({uint16_t(0xC000 + i), 7, {}, std::string(1000, char(i))});
    Block block = b.Build();
    // Every entry points at the first value, and the others are cut off.
    const size_t first = block.entryAt[0xC000] + 8;
    const uint32_t shared = block.bytes[first] | (block.bytes[first + 1] << 8);
    for (uint16_t i = 1; i < 64; ++i) block.Put32(block.entryAt[uint16_t(0xC000 + i)] + 8, shared);
    block.bytes.resize(shared + 1000);

    std::vector<StoredProperty> items;
    EXPECT_FALSE(ParseExif(block.bytes.data(), block.bytes.size(), items));
    size_t total = 0;
    for (const auto& p : items) total += p.value.size();
    EXPECT_LE(total, block.bytes.size());
}

TEST(Exif, BuildWritesExifAndGpsItemsOnlyAndReadsBack) {
    const std::vector<StoredProperty> items = {
        {0x5029, 3, Bytes({1, 0})},       // thumbnail orientation: never written
        {0x501B, 1, Bytes({0xFF, 0xD8})}, // thumbnail data
        {0x5090, 3, std::vector<uint8_t>(128, 1)},
        {0x8773, 7, Text("profile")},
        {0x0100, 4, Bytes({64, 0, 0, 0})},   // image structure, not EXIF
        {0x8769, 4, Bytes({0x40, 0, 0, 0})}, // stale pointer: rebuilt
        {0x0132, 2, Text(std::string("2024:01:02 03:04:05\0", 20))},
        {0x0112, 3, Bytes({8, 0})},
        {0x0131, 2, Text(std::string("Zerimo\0", 7))},
        {0x9003, 2, Text(std::string("2023:12:31 23:59:59\0", 20))},
        {0x829D, 5, Bytes({28, 0, 0, 0, 10, 0, 0, 0})},
        {0x927C, 7, std::vector<uint8_t>(301, 0xAB)}, // odd length: padding keeps later values aligned
        {0x0004, 5, Bytes({7, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0})},
        {0x0003, 2, Text(std::string("E\0", 2))},
        {0x9C9F, 1, Text("key")},
        {0x0112, 3, Bytes({3, 0})}, // a second item of one id: the first wins
        {0xA002, 3, Bytes({1})},    // length not a whole number of values
    };
    const std::vector<uint8_t> block = BuildExif(items);
    ASSERT_FALSE(block.empty());
    EXPECT_EQ(block[0], 'I');
    std::vector<StoredProperty> back;
    ASSERT_TRUE(ParseExif(block.data(), block.size(), back));

    std::vector<PROPID> ids;
    for (const auto& p : back) ids.push_back(p.id);
    // IFD0 in tag order with the two pointers, then the EXIF IFD, then the GPS IFD.
    EXPECT_EQ(ids, (std::vector<PROPID>{0x0112, 0x0131, 0x0132, 0x8769, 0x8825, 0x9C9F, 0x829D, 0x9003,
                                        0x927C, 0x0003, 0x0004}));
    for (const auto& p : back) {
        if (p.id == PropertyTagExifIFD || p.id == PropertyTagGpsIFD) continue;
        const StoredProperty* original = Find(items, p.id);
        ASSERT_NE(original, nullptr);
        EXPECT_EQ(p, *original) << std::hex << p.id;
    }

    EXPECT_TRUE(BuildExif({}).empty());
    EXPECT_TRUE(BuildExif({items[0], items[1], items[2], items[3]}).empty());
}

TEST(Exif, ThumbnailTagIds) {
    const std::pair<uint16_t, PROPID> cases[] = {
        {0x0100, 0x5020}, {0x0103, 0x5023}, {0x0112, 0x5029}, {0x0128, 0x5030},
        {0x0201, 0x501B}, {0x8298, 0x503B}, {0x0140, 0},      {0x9003, 0},
    };
    for (const auto& [tag, id] : cases) EXPECT_EQ(ThumbnailTagId(tag), id) << std::hex << tag;
}
