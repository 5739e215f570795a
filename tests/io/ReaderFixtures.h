#pragma once
// What the reader tests share: fixture paths and comparisons against reference decodes.

#include "TestSupport.h"

#include "imaging/Image.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace readertest {

inline std::string Data(const std::string& rel) {
    return std::string(ZERIMO_TEST_DATA) + "/" + rel;
}
inline std::string Corpus(const std::string& rel) {
    return std::string(ZERIMO_CORPUS) + "/" + rel;
}

/// The largest difference of one channel between the active frames of two images of the same size
/// (alpha too when `alpha`); 256 when the sizes differ or a frame cannot be read.
inline int MaxDiff(imaging::Image& a, imaging::Image& b, bool alpha = true) {
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) return 256;
    const auto pa = testsupport::ReadARGB(a), pb = testsupport::ReadARGB(b);
    if (pa.empty() || pa.size() != pb.size()) return 256;
    int worst = 0;
    for (size_t i = 0; i < pa.size(); ++i)
        for (int shift = 0; shift < (alpha ? 32 : 24); shift += 8)
            worst = std::max(worst, std::abs(int((pa[i] >> shift) & 0xFF) - int((pb[i] >> shift) & 0xFF)));
    return worst;
}

/// MaxDiff against a PNG decoded by the platform decoder.
inline int MaxDiffToPng(imaging::Image& img, const std::string& png, bool alpha = true) {
    auto ref = imaging::Image::FromFile(png);
    if (!imaging::Image::Usable(ref)) return 256;
    return MaxDiff(img, *ref, alpha);
}

} // namespace readertest
