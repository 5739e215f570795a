#pragma once
/// A small open-addressing hash map keyed by a 32-bit colour: the quantizers' caches, asked once
/// per pixel, so it avoids the node allocations of the standard maps.

#include <cstdint>
#include <vector>

namespace zerimo {

template <class V> class FlatMap {
  public:
    explicit FlatMap(size_t expected = 1024) { Rehash(Capacity(expected)); }

    /// The value stored for `key`, or null.
    const V* Find(uint32_t key) const {
        for (size_t i = Hash(key) & mask_;; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (!s.used) return nullptr;
            if (s.key == key) return &s.value;
        }
    }
    V* Find(uint32_t key) { return const_cast<V*>(static_cast<const FlatMap*>(this)->Find(key)); }
    /// The value under `key`, inserted as V{} when absent; valid until the next insertion.
    V& Get(uint32_t key) {
        if (V* v = Find(key)) return *v;
        Insert(key, V{});
        return *Find(key);
    }
    /// Stores `value` under `key` (replacing an earlier one).
    void Insert(uint32_t key, const V& value) {
        if ((size_ + 1) * 4 > slots_.size() * 3) Rehash(slots_.size() * 2);
        for (size_t i = Hash(key) & mask_;; i = (i + 1) & mask_) {
            Slot& s = slots_[i];
            if (!s.used) {
                s.used = true;
                s.key = key;
                s.value = value;
                ++size_;
                return;
            }
            if (s.key == key) {
                s.value = value;
                return;
            }
        }
    }
    size_t Size() const { return size_; }
    void Clear() {
        slots_.assign(slots_.size(), Slot{});
        size_ = 0;
    }
    /// Calls f(key, value) for every entry, in slot order.
    template <class F> void ForEach(F&& f) const {
        for (const Slot& s : slots_)
            if (s.used) f(s.key, s.value);
    }

  private:
    struct Slot {
        uint32_t key = 0;
        bool used = false;
        V value{};
    };
    static size_t Capacity(size_t expected) {
        size_t c = 16;
        while (c * 3 < expected * 4) c *= 2;
        return c;
    }
    static size_t Hash(uint32_t key) { return size_t((uint64_t(key) * 0x9E3779B97F4A7C15ull) >> 32); }
    void Rehash(size_t capacity) {
        std::vector<Slot> old;
        old.swap(slots_);
        slots_.assign(capacity, Slot{});
        mask_ = capacity - 1;
        size_ = 0;
        for (const Slot& s : old)
            if (s.used) Insert(s.key, s.value);
    }

    std::vector<Slot> slots_;
    size_t mask_ = 0;
    size_t size_ = 0;
};

} // namespace zerimo
