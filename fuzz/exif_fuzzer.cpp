// Parses arbitrary bytes as an EXIF block; whatever the writer makes of the items must read back
// and rebuild to the same bytes.
#include "imaging/Exif.h"

#include <cstdint>
#include <vector>

using namespace imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<StoredProperty> items;
    ParseExif(data, size, items);
    const std::vector<uint8_t> block = BuildExif(items);
    if (block.empty()) return 0;
    std::vector<StoredProperty> again;
    if (!ParseExif(block.data(), block.size(), again)) __builtin_trap();
    if (BuildExif(again) != block) __builtin_trap();
    return 0;
}
