#include "imaging/Stream.h"

#include <cstring>
#include <limits>

namespace imaging {

bool Stream::ReadAll(std::vector<uint8_t>& out, uint64_t limit) {
    const uint64_t size = Size();
    if (size > limit || !Rewind()) return false;
    out.resize(size_t(size));
    size_t got = 0;
    while (got < out.size()) {
        size_t n = Read(out.data() + got, out.size() - got);
        if (n == 0) break;
        got += n;
    }
    out.resize(got);
    return got == size;
}

std::unique_ptr<FileStream> FileStream::OpenRead(const std::string& path) {
    std::FILE* fp = std::fopen(path.c_str(), "rb");
    return std::unique_ptr<FileStream>(new FileStream(fp, false));
}

std::unique_ptr<FileStream> FileStream::Create(const std::string& path) {
    std::FILE* fp = std::fopen(path.c_str(), "w+b");
    return std::unique_ptr<FileStream>(new FileStream(fp, true));
}

FileStream::~FileStream() {
    Close();
}

bool FileStream::Close() {
    if (!fp_) return !failed_;
    if (std::fclose(fp_) != 0) failed_ = true;
    fp_ = nullptr;
    return !failed_;
}

bool FileStream::Flush() {
    if (!fp_ || !writable_) return fp_ != nullptr;
    if (std::fflush(fp_) != 0) failed_ = true;
    return !failed_;
}

size_t FileStream::Read(void* buffer, size_t size) {
    return fp_ ? std::fread(buffer, 1, size, fp_) : 0;
}

bool FileStream::Write(const void* buffer, size_t size) {
    if (!fp_ || !writable_) return false;
    if (std::fwrite(buffer, 1, size, fp_) != size) {
        failed_ = true;
        return false;
    }
    return true;
}

bool FileStream::Seek(int64_t offset, SeekOrigin origin) {
    if (!fp_) return false;
    int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    int64_t base = origin == SeekOrigin::Begin     ? 0
                   : origin == SeekOrigin::Current ? int64_t(Position())
                                                   : int64_t(Size());
    if (base + offset < 0) return false;
    return fseeko(fp_, off_t(offset), whence) == 0;
}

uint64_t FileStream::Position() const {
    if (!fp_) return 0;
    off_t p = ftello(fp_);
    return p < 0 ? 0 : uint64_t(p);
}

uint64_t FileStream::Size() const {
    if (!fp_) return 0;
    off_t cur = ftello(fp_);
    if (fseeko(fp_, 0, SEEK_END) != 0) return 0;
    off_t end = ftello(fp_);
    fseeko(fp_, cur, SEEK_SET);
    return end < 0 ? 0 : uint64_t(end);
}

size_t MemoryStream::Read(void* buffer, size_t size) {
    const uint64_t total = Size();
    if (pos_ >= total) return 0;
    size_t n = size_t(std::min<uint64_t>(size, total - pos_));
    std::memcpy(buffer, Data() + pos_, n);
    pos_ += n;
    return n;
}

bool MemoryStream::Write(const void* buffer, size_t size) {
    if (borrowed_) return false;
    if (size == 0) return true;
    const uint64_t end = pos_ + size;
    if (end > std::numeric_limits<size_t>::max() / 2) return false;
    if (end > owned_.size()) owned_.resize(size_t(end));
    std::memcpy(owned_.data() + pos_, buffer, size);
    pos_ = end;
    return true;
}

bool MemoryStream::Seek(int64_t offset, SeekOrigin origin) {
    int64_t base = origin == SeekOrigin::Begin     ? 0
                   : origin == SeekOrigin::Current ? int64_t(pos_)
                                                   : int64_t(Size());
    if (base + offset < 0) return false;
    pos_ = uint64_t(base + offset);
    return true;
}

} // namespace imaging
