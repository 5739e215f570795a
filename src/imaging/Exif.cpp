#include "imaging/Exif.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>

namespace imaging {

namespace {

constexpr uint16_t kTagJpegOffset = 0x0201;
constexpr uint16_t kTagJpegLength = 0x0202;
constexpr uint16_t kTagInterop = 0xA005;
constexpr PROPID kThumbnailFormat = 0x5012;
constexpr PROPID kThumbnailData = 0x501B;
constexpr uint32_t kThumbnailFormatJpeg = 6;

enum class IfdKind { Primary, Exif, Gps, Thumbnail };

/// Bytes of one value of a TIFF field type; 0 for types this reader does not know.
size_t TypeSize(uint16_t type) {
    switch (type) {
    case 1:
    case 2:
    case 6:
    case 7:
        return 1;
    case 3:
    case 8:
        return 2;
    case 4:
    case 9:
    case 11:
        return 4;
    case 5:
    case 10:
    case 12:
        return 8;
    default:
        return 0;
    }
}

/// The unit whose byte order a value of `type` is stored in (rationals are two 4-byte numbers).
size_t SwapUnit(uint16_t type) {
    switch (type) {
    case 3:
    case 8:
        return 2;
    case 4:
    case 5:
    case 9:
    case 10:
    case 11:
        return 4;
    case 12:
        return 8;
    default:
        return 1;
    }
}

/// SBYTE, SSHORT, FLOAT and DOUBLE have no item type of their own; their bytes are kept as UNDEFINED.
uint16_t ItemType(uint16_t type) {
    switch (type) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
    case 9:
    case 10:
        return type;
    default:
        return PropertyTagTypeUndefined;
    }
}

class Block {
  public:
    Block(const uint8_t* data, size_t size, bool big) : data_(data), size_(size), big_(big) {}

    bool Has(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }
    uint16_t U16(size_t at) const {
        return big_ ? uint16_t((data_[at] << 8) | data_[at + 1]) : uint16_t(data_[at] | (data_[at + 1] << 8));
    }
    uint32_t U32(size_t at) const {
        const uint8_t* p = data_ + at;
        return big_ ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]
                    : (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    }
    /// Copies `length` bytes at `at` with every `unit`-byte number turned little-endian.
    std::vector<uint8_t> Values(size_t at, size_t length, size_t unit) const {
        std::vector<uint8_t> v(data_ + at, data_ + at + length);
        if (big_ && unit > 1)
            for (size_t i = 0; i + unit <= v.size(); i += unit)
                std::reverse(v.begin() + i, v.begin() + i + unit);
        return v;
    }
    const uint8_t* Data() const { return data_; }

  private:
    const uint8_t* data_;
    size_t size_;
    bool big_;
};

struct ParseState {
    const Block& block;
    std::vector<StoredProperty>& out;
    std::set<PROPID> ids; // of the items in `out`
    std::set<uint32_t> visited;
    // Values of a sound block lie apart inside it, so together they never exceed its size; entries
    // of a crafted one may all point at the same bytes and would multiply them.
    uint64_t budget;
    bool ok = true;
    uint32_t exifIfd = 0, gpsIfd = 0, nextIfd = 0;
    uint32_t thumbOffset = 0, thumbLength = 0;
    bool haveThumbOffset = false, haveThumbLength = false;
};

/// True when an item `id` of `length` bytes is still to be added (the first occurrence of a tag wins).
bool Admit(ParseState& st, PROPID id, uint64_t length) {
    if (st.ids.count(id)) return false;
    if (length > st.budget) {
        st.ok = false;
        return false;
    }
    st.budget -= length;
    st.ids.insert(id);
    return true;
}

void Add(ParseState& st, PROPID id, uint16_t type, std::vector<uint8_t> value) {
    if (type == PropertyTagTypeASCII && (value.empty() || value.back() != 0)) value.push_back(0);
    st.out.push_back({id, type, std::move(value)});
}

std::vector<uint8_t> LittleEndian32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

void ParseIfd(ParseState& st, uint32_t offset, IfdKind kind) {
    const Block& b = st.block;
    if (!st.visited.insert(offset).second || !b.Has(offset, 2)) {
        st.ok = false; // a loop back to an IFD already read, or an IFD outside the block
        return;
    }
    const uint32_t count = b.U16(offset);
    const uint64_t entries = uint64_t(offset) + 2;
    if (!b.Has(entries, uint64_t(count) * 12)) {
        st.ok = false;
        return;
    }
    const uint64_t next = entries + uint64_t(count) * 12;
    if (kind == IfdKind::Primary) st.nextIfd = b.Has(next, 4) ? b.U32(size_t(next)) : 0;

    for (uint32_t i = 0; i < count; ++i) {
        const size_t e = size_t(entries) + size_t(i) * 12;
        const uint16_t tag = b.U16(e), type = b.U16(e + 2);
        const uint32_t n = b.U32(e + 4);

        // IFD pointers: LONG, or the IFD type 13 some writers use.
        const bool pointerType = (type == 4 || type == 13) && n == 1;
        if (kind == IfdKind::Primary && (tag == PropertyTagExifIFD || tag == PropertyTagGpsIFD)) {
            if (!pointerType) {
                st.ok = false;
                continue;
            }
            const uint32_t target = b.U32(e + 8);
            (tag == PropertyTagExifIFD ? st.exifIfd : st.gpsIfd) = target;
            if (Admit(st, tag, 4)) Add(st, tag, PropertyTagTypeLong, LittleEndian32(target));
            continue;
        }
        if (kind == IfdKind::Exif && tag == kTagInterop) continue; // interoperability IFD is not kept
        if (kind == IfdKind::Thumbnail && (tag == kTagJpegOffset || tag == kTagJpegLength) && n == 1 &&
            (type == 3 || type == 4)) {
            const uint32_t v = type == 3 ? b.U16(e + 8) : b.U32(e + 8);
            if (tag == kTagJpegOffset) {
                st.thumbOffset = v;
                st.haveThumbOffset = true;
            } else {
                st.thumbLength = v;
                st.haveThumbLength = true;
            }
            continue;
        }

        const size_t unit = TypeSize(type);
        if (unit == 0) continue; // types unknown to TIFF readers are skipped, not errors
        const uint64_t length = uint64_t(n) * unit;
        const uint64_t at = length <= 4 ? e + 8 : b.U32(e + 8);
        if (!b.Has(at, length)) {
            st.ok = false;
            continue;
        }
        PROPID id = tag;
        if (kind == IfdKind::Thumbnail) {
            id = ThumbnailTagId(tag);
            if (id == 0 || id == kThumbnailData) continue;
        }
        if (Admit(st, id, length))
            Add(st, id, ItemType(type), b.Values(size_t(at), size_t(length), SwapUnit(type)));
    }
}

} // namespace

PROPID ThumbnailTagId(uint16_t tiffTag) {
    static constexpr std::array<std::pair<uint16_t, uint16_t>, 29> map = {{
        {0x0100, 0x5020}, {0x0101, 0x5021}, {0x0102, 0x5022}, {0x0103, 0x5023}, {0x0106, 0x5024},
        {0x010E, 0x5025}, {0x010F, 0x5026}, {0x0110, 0x5027}, {0x0111, 0x5028}, {0x0112, 0x5029},
        {0x0115, 0x502A}, {0x0116, 0x502B}, {0x0117, 0x502C}, {0x011A, 0x502D}, {0x011B, 0x502E},
        {0x011C, 0x502F}, {0x0128, 0x5030}, {0x012D, 0x5031}, {0x0131, 0x5032}, {0x0132, 0x5033},
        {0x013B, 0x5034}, {0x013E, 0x5035}, {0x013F, 0x5036}, {0x0201, 0x501B}, {0x0211, 0x5037},
        {0x0212, 0x5038}, {0x0213, 0x5039}, {0x0214, 0x503A}, {0x8298, 0x503B},
    }};
    for (const auto& [tag, id] : map)
        if (tag == tiffTag) return id;
    return 0;
}

bool ParseExif(const uint8_t* data, size_t size, std::vector<StoredProperty>& out) {
    if (!data || size < 8) return false;
    bool big;
    if (data[0] == 'I' && data[1] == 'I')
        big = false;
    else if (data[0] == 'M' && data[1] == 'M')
        big = true;
    else
        return false;
    const Block block(data, size, big);
    if (block.U16(2) != 42) return false;

    ParseState st{block, out, {}, {}, size};
    for (const auto& p : out) st.ids.insert(p.id);
    ParseIfd(st, block.U32(4), IfdKind::Primary);
    if (st.exifIfd) ParseIfd(st, st.exifIfd, IfdKind::Exif);
    if (st.gpsIfd) ParseIfd(st, st.gpsIfd, IfdKind::Gps);
    if (st.nextIfd) ParseIfd(st, st.nextIfd, IfdKind::Thumbnail);

    if (st.haveThumbOffset && st.haveThumbLength && st.thumbLength > 0) {
        if (block.Has(st.thumbOffset, st.thumbLength)) {
            if (Admit(st, kThumbnailFormat, 4))
                Add(st, kThumbnailFormat, PropertyTagTypeLong, LittleEndian32(kThumbnailFormatJpeg));
            const uint8_t* p = data + st.thumbOffset;
            if (Admit(st, kThumbnailData, st.thumbLength))
                Add(st, kThumbnailData, PropertyTagTypeByte, std::vector<uint8_t>(p, p + st.thumbLength));
        } else {
            st.ok = false;
        }
    }
    return st.ok;
}

// ---- writing -------------------------------------------------------------------------------------

namespace {

enum class Home { None, Primary, Exif, Gps };

/// Which IFD an item is written to; items that describe a file's own structure (strips, tables,
/// thumbnails, profiles carried elsewhere) are written nowhere.
Home HomeOf(PROPID id) {
    if (id <= 0x001F) return Home::Gps;
    switch (id) {
    case 0x010D:
    case 0x010E:
    case 0x010F:
    case 0x0110:
    case 0x0112:
    case 0x011A:
    case 0x011B:
    case 0x011D:
    case 0x011E:
    case 0x011F:
    case 0x0128:
    case 0x0129:
    case 0x012D:
    case 0x0131:
    case 0x0132:
    case 0x013B:
    case 0x013C:
    case 0x013E:
    case 0x013F:
    case 0x0211:
    case 0x0213:
    case 0x0214:
    case 0x8298:
    case 0x4746:
    case 0x4749:
        return Home::Primary;
    case 0x829A:
    case 0x829D:
    case 0x8822:
    case 0x8824:
    case 0x8827:
    case 0x8828:
        return Home::Exif;
    default:
        break;
    }
    if (id >= 0x9C9B && id <= 0x9C9F) return Home::Primary; // Windows XP title, comment, author...
    if (id >= 0x8830 && id <= 0x8835) return Home::Exif;
    if (id >= 0x9000 && id <= 0x9FFF) return Home::Exif;
    if (id >= 0xA000 && id <= 0xAFFF && id != kTagInterop) return Home::Exif;
    return Home::None;
}

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    const std::vector<uint8_t>* value; // null for an IFD pointer, whose value is `pointer`
    uint32_t pointer = 0;
};

size_t DataSize(const Entry& e) {
    const size_t n = e.value ? e.value->size() : 4;
    return n <= 4 ? 0 : n + (n & 1);
}

size_t IfdSize(const std::vector<Entry>& entries) {
    size_t s = 2 + entries.size() * 12 + 4;
    for (const auto& e : entries) s += DataSize(e);
    return s;
}

void Put16(std::vector<uint8_t>& o, size_t at, uint16_t v) {
    o[at] = uint8_t(v);
    o[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& o, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) o[at + size_t(i)] = uint8_t(v >> (8 * i));
}

void WriteIfd(std::vector<uint8_t>& o, size_t at, const std::vector<Entry>& entries) {
    Put16(o, at, uint16_t(entries.size()));
    size_t data = at + 2 + entries.size() * 12 + 4;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const size_t p = at + 2 + i * 12;
        Put16(o, p, e.tag);
        Put16(o, p + 2, e.type);
        Put32(o, p + 4, e.count);
        if (!e.value) {
            Put32(o, p + 8, e.pointer);
        } else if (e.value->size() <= 4) {
            std::copy(e.value->begin(), e.value->end(), o.begin() + std::ptrdiff_t(p + 8));
        } else {
            Put32(o, p + 8, uint32_t(data));
            std::copy(e.value->begin(), e.value->end(), o.begin() + std::ptrdiff_t(data));
            data += DataSize(e);
        }
    }
    Put32(o, at + 2 + entries.size() * 12, 0);
}

} // namespace

std::vector<uint8_t> BuildExif(const std::vector<StoredProperty>& items) {
    std::vector<Entry> primary, exif, gps;
    std::set<PROPID> seen;
    for (const auto& item : items) {
        const Home home = HomeOf(item.id);
        if (home == Home::None || item.value.empty() || !seen.insert(item.id).second) continue;
        uint16_t type = ItemType(item.type);
        const size_t unit = TypeSize(type);
        if (item.value.size() % unit != 0 || item.value.size() / unit > UINT32_MAX) continue;
        Entry e{uint16_t(item.id), type, uint32_t(item.value.size() / unit), &item.value};
        (home == Home::Primary ? primary : home == Home::Exif ? exif : gps).push_back(e);
    }
    if (primary.empty() && exif.empty() && gps.empty()) return {};

    if (!exif.empty()) primary.push_back({uint16_t(PropertyTagExifIFD), PropertyTagTypeLong, 1, nullptr});
    if (!gps.empty()) primary.push_back({uint16_t(PropertyTagGpsIFD), PropertyTagTypeLong, 1, nullptr});
    auto byTag = [](const Entry& a, const Entry& b) { return a.tag < b.tag; };
    for (auto* list : {&primary, &exif, &gps}) std::sort(list->begin(), list->end(), byTag);

    const size_t primaryAt = 8;
    const size_t exifAt = primaryAt + IfdSize(primary);
    const size_t gpsAt = exifAt + (exif.empty() ? 0 : IfdSize(exif));
    const size_t total = gpsAt + (gps.empty() ? 0 : IfdSize(gps));
    if (total > UINT32_MAX) return {};
    for (auto& e : primary) {
        if (e.tag == PropertyTagExifIFD) e.pointer = uint32_t(exifAt);
        if (e.tag == PropertyTagGpsIFD) e.pointer = uint32_t(gpsAt);
    }

    std::vector<uint8_t> out(total, 0);
    const uint8_t header[8] = {'I', 'I', 42, 0, 8, 0, 0, 0};
    std::memcpy(out.data(), header, sizeof header);
    WriteIfd(out, primaryAt, primary);
    if (!exif.empty()) WriteIfd(out, exifAt, exif);
    if (!gps.empty()) WriteIfd(out, gpsAt, gps);
    return out;
}

} // namespace imaging
