#include "tools/support/sha256.h"

#include <array>
#include <cstdint>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace quillon::tool {

namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

constexpr std::size_t kBlockSize = 64;

std::uint32_t RotateRight(std::uint32_t value, int bits) {
  return (value >> bits) | (value << (32 - bits));
}

void ProcessBlock(const unsigned char* block, std::array<std::uint32_t, 8>& state) {
  std::array<std::uint32_t, 64> w{};
  for (int i = 0; i < 16; ++i) {
    w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
           std::uint32_t{block[4 * i + 2]} << 8 | std::uint32_t{block[4 * i + 3]};
  }
  for (int i = 16; i < 64; ++i) {
    std::uint32_t s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
    std::uint32_t s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  auto [a, b, c, d, e, f, g, h] = state;
  for (int i = 0; i < 64; ++i) {
    std::uint32_t s1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
    std::uint32_t choice = (e & f) ^ (~e & g);
    std::uint32_t temp1 = h + s1 + choice + kRoundConstants[i] + w[i];
    std::uint32_t s0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
    std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    std::uint32_t temp2 = s0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + temp1;
    d = c;
    c = b;
    b = a;
    a = temp1 + temp2;
  }
  const std::array<std::uint32_t, 8> added = {a, b, c, d, e, f, g, h};
  for (int i = 0; i < 8; ++i) state[i] += added[i];
}

#if defined(__x86_64__)

bool CpuHasShaInstructions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  constexpr unsigned kShaBit = 1u << 29;  // CPUID.(EAX=7,ECX=0):EBX.SHA
  return (ebx & kShaBit) != 0;
}

// The same compression with the SHA extensions: four rounds per pair of
// sha256rnds2, the message schedule by sha256msg1/sha256msg2.
__attribute__((target("sha,sse4.1,ssse3"))) void ProcessBlocksWithShaInstructions(
    const unsigned char* data, std::size_t blocks, std::array<std::uint32_t, 8>& state) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
  __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
  for (std::size_t block = 0; block < blocks; ++block, data += kBlockSize) {
    const __m128i abef_saved = abef;
    const __m128i cdgh_saved = cdgh;
    __m128i w[4];
    for (int i = 0; i < 4; ++i) {
      w[i] = _mm_shuffle_epi8(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byte_swap);
    }
    for (int group = 0; group < 16; ++group) {
      __m128i& current = w[group % 4];
      __m128i message = _mm_add_epi32(
          current, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRoundConstants[4 * group])));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
      if (group >= 3 && group <= 14) {
        __m128i& next = w[(group + 1) % 4];
        next = _mm_add_epi32(next, _mm_alignr_epi8(current, w[(group + 3) % 4], 4));
        next = _mm_sha256msg2_epu32(next, current);
      }
      message = _mm_shuffle_epi32(message, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
      if (group >= 1 && group <= 12) {
        __m128i& previous = w[(group + 3) % 4];
        previous = _mm_sha256msg1_epu32(previous, current);
      }
    }
    abef = _mm_add_epi32(abef, abef_saved);
    cdgh = _mm_add_epi32(cdgh, cdgh_saved);
  }
  __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  dcba = _mm_blend_epi16(feba, dchg, 0xF0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), hgfe);
}

#endif

void ProcessBlocks(const unsigned char* data, std::size_t blocks,
                   std::array<std::uint32_t, 8>& state) {
#if defined(__x86_64__)
  static const bool has_sha = CpuHasShaInstructions();
  if (has_sha) {
    ProcessBlocksWithShaInstructions(data, blocks, state);
    return;
  }
#endif
  for (std::size_t block = 0; block < blocks; ++block) ProcessBlock(data + block * kBlockSize, state);
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
  std::array<std::uint32_t, 8> state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::size_t full = bytes.size() / kBlockSize * kBlockSize;
  ProcessBlocks(reinterpret_cast<const unsigned char*>(bytes.data()), full / kBlockSize, state);
  // The tail, a 1 bit, zeros and the length in bits fill one or two blocks.
  std::string tail(bytes.substr(full));
  tail.push_back(static_cast<char>(0x80));
  while (tail.size() % kBlockSize != kBlockSize - 8) tail.push_back('\0');
  std::uint64_t bit_length = static_cast<std::uint64_t>(bytes.size()) * 8;
  for (int i = 7; i >= 0; --i) tail.push_back(static_cast<char>(bit_length >> (8 * i)));
  ProcessBlocks(reinterpret_cast<const unsigned char*>(tail.data()), tail.size() / kBlockSize,
                state);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (std::uint32_t word : state) {
    for (int shift = 28; shift >= 0; shift -= 4) hex.push_back(kHex[(word >> shift) & 15]);
  }
  return hex;
}

}  // namespace quillon::tool
