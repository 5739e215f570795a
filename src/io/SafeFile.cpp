#include "io/SafeFile.h"

#include "io/DecodeChain.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zerimo {

std::unique_ptr<SafeFile> SafeFile::Create(const std::string& target) {
    if (target.empty()) return nullptr;
    std::unique_ptr<SafeFile> f(new SafeFile);
    // A link is followed, so that the file it names is replaced and the link stays.
    f->target_ = target;
    if (char* real = ::realpath(target.c_str(), nullptr)) {
        f->target_ = real;
        std::free(real);
    }
    struct stat st {};
    if (::stat(f->target_.c_str(), &st) == 0) {
        // A file without write permission stays as it is, even for a user whom the system would let
        // write it anyway.
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 || ::access(f->target_.c_str(), W_OK) != 0)
            return nullptr;
        f->mode_ = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        f->mode_ = 0666 & ~mask;
    }
    std::string pattern = FolderOf(f->target_) + "/." + FileNameOf(f->target_) + ".XXXXXX";
    if (pattern.size() >= PATH_MAX) return nullptr;
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return nullptr;
    ::fchmod(fd, f->mode_);
    ::close(fd);
    f->temp_ = pattern;
    f->stream_ = imaging::FileStream::Create(f->temp_);
    if (!f->stream_ || !f->stream_->IsOpen()) return nullptr; // the destructor removes the temp file
    return f;
}

SafeFile::~SafeFile() {
    stream_.reset();
    if (!committed_ && !temp_.empty()) std::remove(temp_.c_str());
}

void SafeFile::CloseStream() {
    if (stream_) stream_->Close();
}

bool SafeFile::Commit() {
    if (committed_) return true;
    if (stream_ && !stream_->Close()) return false;
    int fd = ::open(temp_.c_str(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) return false;
    committed_ = true;
    return true;
}

} // namespace zerimo
