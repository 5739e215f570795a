#pragma once
// A memory stream that fails one kind of call, for the readers' and writers' error paths.

#include "imaging/Stream.h"

#include <cstdint>
#include <vector>

namespace iotest {

class FaultyStream final : public imaging::Stream {
  public:
    enum class Fault { None, SeekToEnd, Read, Write, Flush, HugeSize };

    explicit FaultyStream(Fault fault, std::vector<uint8_t> bytes = {})
        : fault_(fault), inner_(std::move(bytes)) {}

    size_t Read(void* buffer, size_t size) override {
        if (fault_ == Fault::Read || fault_ == Fault::HugeSize) return 0;
        return inner_.Read(buffer, size);
    }
    bool Write(const void* buffer, size_t size) override {
        return fault_ != Fault::Write && inner_.Write(buffer, size);
    }
    bool Seek(int64_t offset, imaging::SeekOrigin origin) override {
        if (origin == imaging::SeekOrigin::End && fault_ == Fault::SeekToEnd) return false;
        if (origin == imaging::SeekOrigin::End && fault_ == Fault::HugeSize) {
            huge_ = true;
            return true;
        }
        huge_ = false;
        return inner_.Seek(offset, origin);
    }
    uint64_t Position() const override { return huge_ ? kHuge : inner_.Position(); }
    uint64_t Size() const override { return fault_ == Fault::HugeSize ? kHuge : inner_.Size(); }
    bool CanWrite() const override { return true; }
    bool Flush() override { return fault_ != Fault::Flush; }

    const std::vector<uint8_t>& Bytes() const { return inner_.Bytes(); }

  private:
    // Claims more than any image file could hold; reading it would exhaust memory.
    static constexpr uint64_t kHuge = uint64_t(1) << 40;
    Fault fault_;
    imaging::MemoryStream inner_;
    bool huge_ = false;
};

} // namespace iotest
