#include "document/FileTypes.h"

#include "imaging/Codec.h"

#include <algorithm>
#include <cctype>

namespace zerimo {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}

std::string Entry(const std::string& patterns, const std::string& description) {
    return TypeNameOf(patterns, description) + " (" + patterns + ")|" + patterns + "|";
}

} // namespace

std::string TypeNameOf(const std::string&, const std::string& fallbackDescription) {
    // There is no desktop-wide registry of type names to ask, so the fallback rule always applies.
    return fallbackDescription + " files";
}

void CGdiplusFileOpenType::BuildFilter() {
    // Formats read by our own readers, listed just before the last platform decoder.
    static const struct {
        const char* patterns;
        const char* description;
    } added[] = {
        {"*.AVIF", "AV1 Image Format (AVIF)"},
        {"*.HEIC;*.HEIF", "High Efficiency Image Format (HEIF)"},
        {"*.WEBP", "webp File"},
    };
    std::string combined = "All Supported Formats|";
    std::string singles;
    const auto& decoders = imaging::GetImageDecoders();
    for (size_t i = 0; i < decoders.size(); ++i) {
        const std::string p = Lower(decoders[i].FilenameExtension);
        singles += Entry(p, decoders[i].FormatDescription);
        combined += p;
        if (i + 1 < decoders.size()) combined += ";";
        if (decoders.size() >= 2 && i == decoders.size() - 2) {
            for (const auto& a : added) {
                const std::string ap = Lower(a.patterns);
                singles += Entry(ap, a.description);
                combined += ap + ";";
            }
        }
    }
    filter = combined + "|" + singles + "Any types (*.*)|*.*|";
}

void CGdiplusFileSaveAsType::BuildFilter() {
    static const char* const added[] = {"*.ico", "*.emf", "*.exif", "*.avif", "*.heic", "*.webp", "*.wmf"};
    std::string entries;
    const auto& encoders = imaging::GetImageEncoders();
    for (size_t i = 0; i < encoders.size(); ++i) {
        const std::string p = Lower(encoders[i].FilenameExtension);
        entries += Entry(p, encoders[i].FormatDescription);
        encoderByPatterns[p] = encoders[i].Clsid;
        indexByPatterns[p] = int(i) + 1;
    }
    int index = int(encoders.size()) + 1;
    for (const char* pattern : added) {
        entries += Entry(pattern, Upper(pattern) + " File");
        indexByPatterns[pattern] = index++;
    }
    filter = entries + "|";
}

imaging::Guid CGdiplusFileSaveAsType::EncoderFor(const std::string& extension) const {
    for (const auto& [patterns, clsid] : encoderByPatterns)
        if (patterns.find(extension) != std::string::npos) return clsid;
    return imaging::Guid{};
}

int CGdiplusFileSaveAsType::FilterIndexFor(const std::string& extension) const {
    for (const auto& [patterns, index] : indexByPatterns)
        if (patterns.find(extension) != std::string::npos) return index;
    return 2;
}

std::string CGdiplusFileSaveAsType::ExtensionForIndex(int index) const {
    for (const auto& [patterns, i] : indexByPatterns) {
        if (i != index) continue;
        std::string ext = patterns.substr(1);
        return ext.substr(0, ext.find(';'));
    }
    return ".png";
}

} // namespace zerimo
