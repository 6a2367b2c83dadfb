// SipHash, streaming: the 64-bit keyed hash behind the result-cache key.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zarvel {

// SipHash-c-d over the bytes written so far. Writing the same bytes in any split gives the same
// result. Instantiated for <1, 3> and <2, 4> only.
template <int kCompressionRounds, int kFinalizationRounds>
class SipHasher {
 public:
  SipHasher(std::uint64_t k0, std::uint64_t k1) noexcept;

  // `data` need only be readable for the call.
  void write(const void* data, std::size_t size) noexcept;
  void write_u8(std::uint8_t byte) noexcept { write(&byte, 1); }
  // The eight bytes of `value`, least significant first.
  void write_u64_le(std::uint64_t value) noexcept;

  // The hash of everything written; the hasher itself is unchanged and can take more bytes.
  std::uint64_t finish() const noexcept;

 private:
  void compress(std::uint64_t block) noexcept;

  std::uint64_t v0_, v1_, v2_, v3_;
  std::uint64_t tail_ = 0;  // pending bytes, little-endian, fewer than eight
  std::size_t tail_size_ = 0;
  std::uint64_t length_ = 0;
};

using SipHasher13 = SipHasher<1, 3>;
using SipHasher24 = SipHasher<2, 4>;

extern template class SipHasher<1, 3>;
extern template class SipHasher<2, 4>;

}  // namespace zarvel
