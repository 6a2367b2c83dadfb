#include "lib/siphash.h"

#include <bit>

namespace zarvel {
namespace {

struct State {
  std::uint64_t v0, v1, v2, v3;

  void round() noexcept {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }
};

std::uint64_t load_le64(const unsigned char* p) noexcept {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

template <int C, int D>
SipHasher<C, D>::SipHasher(std::uint64_t k0, std::uint64_t k1) noexcept
    : v0_(k0 ^ 0x736f6d6570736575ULL),
      v1_(k1 ^ 0x646f72616e646f6dULL),
      v2_(k0 ^ 0x6c7967656e657261ULL),
      v3_(k1 ^ 0x7465646279746573ULL) {}

template <int C, int D>
void SipHasher<C, D>::compress(std::uint64_t block) noexcept {
  State s{v0_, v1_, v2_, v3_ ^ block};
  for (int i = 0; i < C; ++i) s.round();
  v0_ = s.v0 ^ block;
  v1_ = s.v1;
  v2_ = s.v2;
  v3_ = s.v3;
}

template <int C, int D>
void SipHasher<C, D>::write(const void* data, std::size_t size) noexcept {
  const auto* p = static_cast<const unsigned char*>(data);
  length_ += size;
  if (tail_size_ != 0) {
    while (tail_size_ < 8 && size > 0) {
      tail_ |= static_cast<std::uint64_t>(*p++) << (8 * tail_size_++);
      --size;
    }
    if (tail_size_ < 8) return;
    compress(tail_);
    tail_ = 0;
    tail_size_ = 0;
  }
  for (; size >= 8; p += 8, size -= 8) compress(load_le64(p));
  while (size > 0) {
    tail_ |= static_cast<std::uint64_t>(*p++) << (8 * tail_size_++);
    --size;
  }
}

template <int C, int D>
void SipHasher<C, D>::write_u64_le(std::uint64_t value) noexcept {
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  write(bytes, sizeof bytes);
}

template <int C, int D>
std::uint64_t SipHasher<C, D>::finish() const noexcept {
  // The last block carries the message length modulo 256 in its top byte.
  std::uint64_t last = tail_ | (length_ << 56);
  State s{v0_, v1_, v2_, v3_ ^ last};
  for (int i = 0; i < C; ++i) s.round();
  s.v0 ^= last;
  s.v2 ^= 0xff;
  for (int i = 0; i < D; ++i) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

template class SipHasher<1, 3>;
template class SipHasher<2, 4>;

}  // namespace zarvel
