#include "io/ReaderMemory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zerimo {
namespace {

constexpr size_t kHugePage = size_t(2) << 20;

uint8_t* Allocate(size_t size) {
    if (size < 4 * kHugePage) return static_cast<uint8_t*>(std::malloc(size ? size : 1));
    void* p = std::aligned_alloc(kHugePage, (size + kHugePage - 1) / kHugePage * kHugePage);
    if (p) ::madvise(p, size, MADV_HUGEPAGE);
    return static_cast<uint8_t*>(p);
}

} // namespace

bool AllocateBytes(ByteBuffer& out, size_t size) {
    out.data.reset(Allocate(size));
    out.size = out.data ? size : 0;
    return out.data != nullptr;
}

bool ReadStreamBytes(imaging::Stream& stream, std::vector<uint8_t>& bytes, uint64_t limit) {
    if (!stream.Seek(0, imaging::SeekOrigin::End)) return false;
    const uint64_t size = stream.Position();
    if (size == 0 || size > limit || !stream.Rewind()) return false;
    bytes.resize(size_t(size));
    size_t got = 0;
    while (got < bytes.size()) {
        const size_t n = stream.Read(bytes.data() + got, bytes.size() - got);
        if (n == 0) return false;
        got += n;
    }
    return true;
}

bool ReadFileBytes(const std::string& path, ByteBuffer& out, uint64_t limit) {
    out.data.reset();
    out.size = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) <= limit &&
              AllocateBytes(out, size_t(st.st_size));
    size_t got = 0;
    while (ok && got < out.size) {
        const ssize_t n = ::read(fd, out.data.get() + got, out.size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    ::close(fd);
    if (!ok || got != out.size) {
        out.data.reset();
        out.size = 0;
        return false;
    }
    return true;
}

imaging::Status AllocatePixels(imaging::Surface& out, uint32_t width, uint32_t height,
                               imaging::PixelFormat format, bool zero) {
    using namespace imaging;
    out.data.reset();
    out.width = out.height = 0;
    out.stride = 0;
    out.format = format;
    if (width == 0 || height == 0 || !IsValidPixelFormat(format)) return InvalidParameter;
    if (uint64_t(width) * height > MaxFramePixels) return OutOfMemory;
    const int32_t stride = DefaultStride(width, format);
    const size_t bytes = size_t(stride) * height;
    uint8_t* p = Allocate(bytes);
    if (!p) return OutOfMemory;
    if (zero) std::memset(p, 0, bytes);
    out.data.reset(p);
    out.width = width;
    out.height = height;
    out.stride = stride;
    return Ok;
}

void ClearRowPadding(imaging::Surface& s, size_t used) {
    if (size_t(s.stride) <= used) return;
    for (uint32_t y = 0; y < s.height; ++y) std::memset(s.Row(y) + used, 0, size_t(s.stride) - used);
}

} // namespace zerimo
