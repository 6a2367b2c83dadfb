#include "lib/siphash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace zarvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A one-shot SipHash-c-d written straight from the paper: pad the message to whole words with
// its length in the last byte, compress word by word, finalise.
std::uint64_t reference_siphash(int c, int d, std::uint64_t k0, std::uint64_t k1,
                                const Bytes& message) {
  std::uint64_t v0 = k0 ^ 0x736f6d6570736575ULL, v1 = k1 ^ 0x646f72616e646f6dULL;
  std::uint64_t v2 = k0 ^ 0x6c7967656e657261ULL, v3 = k1 ^ 0x7465646279746573ULL;
  auto rotl = [](std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); };
  auto sip_round = [&] {
    v0 += v1, v2 += v3, v1 = rotl(v1, 13), v3 = rotl(v3, 16);
    v1 ^= v0, v3 ^= v2, v0 = rotl(v0, 32);
    v2 += v1, v0 += v3, v1 = rotl(v1, 17), v3 = rotl(v3, 21);
    v1 ^= v2, v3 ^= v0, v2 = rotl(v2, 32);
  };
  Bytes padded = message;
  padded.resize(message.size() / 8 * 8 + 8, 0);
  padded.back() = static_cast<std::uint8_t>(message.size());
  for (std::size_t i = 0; i < padded.size(); i += 8) {
    std::uint64_t m = 0;
    for (int j = 0; j < 8; ++j) m |= static_cast<std::uint64_t>(padded[i + j]) << (8 * j);
    v3 ^= m;
    for (int r = 0; r < c; ++r) sip_round();
    v0 ^= m;
  }
  v2 ^= 0xff;
  for (int r = 0; r < d; ++r) sip_round();
  return v0 ^ v1 ^ v2 ^ v3;
}

Bytes counting(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i);
  return b;
}

constexpr std::uint64_t kPaperK0 = 0x0706050403020100ULL;  // key bytes 00..07
constexpr std::uint64_t kPaperK1 = 0x0f0e0d0c0b0a0908ULL;  // key bytes 08..0f

TEST(SipHashTest, SipHash24MatchesThePublishedVectors) {
  for (auto [length, expected] : {std::pair<std::size_t, std::uint64_t>{0, 0x726fdb47dd0e0e31ULL},
                                  {15, 0xa129ca6149be45e5ULL}}) {
    Bytes message = counting(length);
    SipHasher24 h(kPaperK0, kPaperK1);
    h.write(message.data(), message.size());
    EXPECT_EQ(h.finish(), expected) << "length " << length;
    EXPECT_EQ(reference_siphash(2, 4, kPaperK0, kPaperK1, message), expected)
        << "length " << length;
  }
}

TEST(SipHashTest, StreamingSipHash13AgreesWithTheReferenceWhateverTheSplit) {
  const std::vector<std::pair<std::uint64_t, std::uint64_t>> keys = {{0, 0}, {kPaperK0, kPaperK1}};
  const std::vector<std::size_t> chunks = {1, 3, 7, 8, 9, 1000};
  for (auto [k0, k1] : keys) {
    for (std::size_t length = 0; length <= 300; length += (length < 70 ? 1 : 23)) {
      Bytes message = counting(length);
      std::uint64_t expected = reference_siphash(1, 3, k0, k1, message);
      for (std::size_t chunk : chunks) {
        SipHasher13 h(k0, k1);
        for (std::size_t at = 0; at < length; at += chunk) {
          h.write(message.data() + at, std::min(chunk, length - at));
        }
        EXPECT_EQ(h.finish(), expected) << "length " << length << " chunk " << chunk;
      }
    }
  }
}

}  // namespace
}  // namespace zarvel
