#pragma once
/// The decoder chain every image that enters the program goes through: readers tried in a fixed
/// order, four of them only when the path's extension names their format.

#include "imaging/Image.h"
#include "imaging/Stream.h"

#include <functional>
#include <memory>
#include <string>

namespace zerimo {

using ImagePtr = std::shared_ptr<imaging::Image>;

/// The chain's own readers, step by step. An empty slot yields nothing.
struct ChainReaders {
    std::function<ImagePtr(const std::string& path)> psd; // ".psd"
    std::function<ImagePtr(const std::string& path)> tga; // ".tga"
    std::function<ImagePtr(imaging::Stream&)> apng;       // ".png"
    std::function<ImagePtr(imaging::Stream&)> webp;       // any input
    std::function<ImagePtr(imaging::Stream&)> heif;       // any input
    std::function<ImagePtr(const uint8_t*, size_t)> pcx;  // ".pcx", the whole stream in memory
};

/// The readers the program ships with.
const ChainReaders& DefaultReaders();

/// The extension of the path's last component from its last "." (empty when there is none),
/// lower-cased.
std::string LowerExtension(const std::string& path);

/// The folder part of a path ("." when there is none, "/" for the root).
std::string FolderOf(const std::string& path);
/// The last component of a path.
std::string FileNameOf(const std::string& path);

/// Runs the chain on `path`, reading `stream` when one is given (it stays the caller's) or the file
/// otherwise. Returns the first image a step takes, possibly an unusable one, or null. `reader`, when
/// given, receives the name of the step that produced the result ("psd", "tga", "apng", "platform",
/// "webp", "heif", "pcx"; empty for none).
ImagePtr DecodeImageFile(const std::string& path, imaging::Stream* stream,
                         const ChainReaders& readers = DefaultReaders(), std::string* reader = nullptr);

} // namespace zerimo
