// The fuzzer's bytes, taken from the front in order: each harness reads its
// input as a little program (what the driver answers, which value the
// registry holds, which call comes next), so that seeds can be written by
// hand and a mutation changes one decision. Once the bytes run out every
// read answers zero, and the harness winds down.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

class ByteSource {
  public:
    ByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }

    std::uint8_t byte() { return empty() ? 0 : data_[at_++]; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    std::uint32_t u32() { return u16() | (static_cast<std::uint32_t>(u16()) << 16); }
    bool flag() { return (byte() & 1) != 0; }

    // One of `count` choices, from one byte.
    std::size_t choice(std::size_t count) { return count ? byte() % count : 0; }
    // 0..limit, from two bytes (four for a limit beyond them): the width
    // does not change with the limit, so neither does what follows.
    std::size_t upTo(std::size_t limit) {
        const std::uint32_t raw = limit <= 0xFFFF ? u16() : u32();
        return raw % (limit + 1);
    }
    template <class T, std::size_t N> const T& pick(const T (&values)[N]) { return values[choice(N)]; }

    // Up to `n` bytes: fewer when the input runs out.
    std::vector<std::uint8_t> bytes(std::size_t n) {
        n = std::min(n, size_ - std::min(at_, size_));
        std::vector<std::uint8_t> out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }
    // A length of up to `limit`, then that many bytes, any of them zero.
    std::string text(std::size_t limit) {
        const std::vector<std::uint8_t> b = bytes(upTo(limit));
        return std::string(b.begin(), b.end());
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

} // namespace fuzz
