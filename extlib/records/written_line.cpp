#include "extlib/records/written_line.h"

#include <algorithm>
#include <cstring>

#include "platform/cpu_features.h"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dovrane::extlib {

namespace L = layout;

WrittenLineCheck::WrittenLineCheck(int user_words, int containers_now, bool network, Blocks blocks) {
  if (!network || user_words <= 0 || user_words > kMaxUserContainers) return;
  usable_ = true;
#if defined(__x86_64__)
  if (blocks == Blocks::kWidest && dovrane_avx2_usable()) block_ = 32;
#endif
#if defined(__SSE2__)
  if (block_ == 1 && blocks != Blocks::k1) block_ = 16;
#endif
  length_ = static_cast<size_t>(L::V3LineLength(user_words));
  // Any byte where nothing is said; the padding past the line is never read.
  std::fill(std::begin(span_), std::end(span_), uint8_t{0xFF});
  auto set = [this](int from, int count, uint8_t fold, uint8_t lo, uint8_t span) {
    for (int i = from; i < from + count; ++i) {
      fold_[i] = fold;
      lo_[i] = lo;
      span_[i] = span;
    }
  };
  auto exact = [&set](int at, char c) { set(at, 1, 0, static_cast<uint8_t>(c), 0); };
  auto digits = [&set](int from, int count) { set(from, count, 0, '0', 9); };
  // 'a'..'f' after folding case; the decimal digits are let through apart.
  auto hex = [this, &set](int from, int count) {
    set(from, count, 0x20, 'a', 5);
    std::fill(hex_ + from, hex_ + from + count, uint8_t{0xFF});
  };
  // No control character (0x20..0xFF) and, apart, neither '@' nor DEL: a
  // name or host with a control character goes the general way, which
  // shows it instead of copying it into a line.
  auto plain = [this, &set](int from, int count) {
    set(from, count, 0, 0x20, 0xDF);
    std::fill(plain_ + from, plain_ + from + count, uint8_t{0xFF});
  };
  plain(L::kV3Name, L::kNameWidth);
  exact(L::kV3NameEnd, '@');
  exact(L::kV3Number, 'n');
  digits(L::kV3Number + 1, L::kNumberWidth - 1);
  exact(L::kV3Version - 1, L::kSeparator);
  digits(L::kV3Version, L::kV3VersionWidth);
  exact(L::kV3Status - 1, L::kSeparator);
  // Any status but NUL, which the parser reads as the blank.
  set(L::kV3Status, 1, 0, 1, 254);
  exact(L::kV3Key - 1, L::kSeparator);
  digits(L::kV3Key, L::kKeyWidth);
  exact(L::kV3Begin - 1, L::kSeparator);
  hex(L::kV3Begin, L::kBeginWidth);
  exact(L::kV3Host - 1, L::kSeparator);
  plain(L::kV3Host, L::kHostWidth);
  exact(L::kV3HostEnd, '@');
  digits(L::kV3Owner, L::kOwnerWidth);
  exact(L::kV3Members - 1, L::kSeparator);
  // Only the words of the containers in use are read; the rest may hold anything.
  hex(L::kV3Members, 2 * 4 * std::clamp(containers_now, 0, user_words));
}

namespace {

// The key must fit 32 bits.
bool KeyFits(const char* digits) { return digits[0] < '4' || std::memcmp(digits, "4294967295", L::kKeyWidth) <= 0; }

// Length of the first `width` positions without trailing blanks, from a
// mask of the blank positions.
size_t Unpadded(uint64_t blanks, size_t width) {
  const uint64_t used = ~blanks & ((uint64_t{1} << width) - 1);
  return used == 0 ? 0 : 64 - static_cast<size_t>(__builtin_clzll(used));
}

// The fields of a line found in the written form, from the masks of its
// blanks and its bytes beyond ASCII: the name's at bits 0..49, the host's
// at bits 0..15.
[[gnu::always_inline]] inline bool TakeFields(const char* line, uint64_t name_blank, uint64_t name_high,
                                              uint64_t host_blank, uint64_t host_high, WrittenFields* f) {
  if (!KeyFits(line + L::kV3Key)) return false;
  f->name = line + L::kV3Name;
  f->name_length = Unpadded(name_blank, L::kNameWidth);
  f->name_ascii = (name_high & ((uint64_t{1} << f->name_length) - 1)) == 0;
  f->number = line + L::kV3Number;
  f->host = line + L::kV3Host;
  f->host_length = Unpadded(host_blank, L::kHostWidth);
  f->host_ascii = (host_high & ((uint64_t{1} << f->host_length) - 1)) == 0;
  f->status = static_cast<unsigned char>(line[L::kV3Status]);
  f->version = line + L::kV3Version;
  f->key = line + L::kV3Key;
  return true;
}

#if defined(__x86_64__)

__attribute__((target("avx2"))) inline __m256i Load32(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

// One block of 32 bytes at line + from checked against the tables; bad
// collects the bytes out of place. Returns the block.
__attribute__((target("avx2"))) inline __m256i Check32(const char* line, size_t from, const uint8_t* fold,
                                                       const uint8_t* lo, const uint8_t* span, const uint8_t* hex,
                                                       const uint8_t* plain, __m256i* bad) {
  const __m256i b = Load32(line + from);
  const __m256i over = _mm256_subs_epu8(_mm256_sub_epi8(_mm256_or_si256(b, Load32(fold + from)), Load32(lo + from)),
                                        Load32(span + from));
  const __m256i digit = _mm256_cmpeq_epi8(
      _mm256_subs_epu8(_mm256_sub_epi8(b, _mm256_set1_epi8('0')), _mm256_set1_epi8(9)), _mm256_setzero_si256());
  const __m256i hex_digit = _mm256_and_si256(digit, Load32(hex + from));
  const __m256i at_sign = _mm256_and_si256(
      _mm256_or_si256(_mm256_cmpeq_epi8(b, _mm256_set1_epi8('@')), _mm256_cmpeq_epi8(b, _mm256_set1_epi8(0x7F))),
      Load32(plain + from));
  *bad = _mm256_or_si256(*bad, _mm256_or_si256(_mm256_andnot_si256(hex_digit, over), at_sign));
  return b;
}

__attribute__((target("avx2"))) inline uint64_t Mask32(__m256i m) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(m));
}

#endif

}  // namespace

#if defined(__x86_64__)

__attribute__((target("avx2"))) bool WrittenLineCheck::Read32(const char* line, WrittenFields* f) const {
  constexpr size_t kWide = 32;
  // The shortest line is 114 bytes: blocks at 0, 32, 64 and 82 (the last
  // ending with it) hold the name (0..49) and the host (85..100) for every
  // length; the rest follow, the last one ending with the line.
  static_assert(L::V3LineLength(1) == 82 + kWide && L::kV3Host + L::kHostWidth <= 82 + kWide);
  __m256i bad = _mm256_setzero_si256();
  const __m256i blank = _mm256_set1_epi8(' ');
  const __m256i b0 = Check32(line, 0, fold_, lo_, span_, hex_, plain_, &bad);
  const __m256i b1 = Check32(line, kWide, fold_, lo_, span_, hex_, plain_, &bad);
  Check32(line, 2 * kWide, fold_, lo_, span_, hex_, plain_, &bad);
  const __m256i b3 = Check32(line, 82, fold_, lo_, span_, hex_, plain_, &bad);
  for (size_t from = 82 + kWide; from < length_; from += kWide)
    Check32(line, std::min(from, length_ - kWide), fold_, lo_, span_, hex_, plain_, &bad);
  if (Mask32(_mm256_cmpeq_epi8(bad, _mm256_setzero_si256())) != 0xFFFFFFFFu) return false;
  constexpr int kHostShift = L::kV3Host - 82;
  return TakeFields(line, Mask32(_mm256_cmpeq_epi8(b0, blank)) | Mask32(_mm256_cmpeq_epi8(b1, blank)) << kWide,
                    Mask32(b0) | Mask32(b1) << kWide, Mask32(_mm256_cmpeq_epi8(b3, blank)) >> kHostShift,
                    Mask32(b3) >> kHostShift, f);
}

#else

bool WrittenLineCheck::Read32(const char*, WrittenFields*) const { return false; }

#endif

#if defined(__SSE2__)

bool WrittenLineCheck::Read16(const char* line, WrittenFields* f) const {
  // Bits of the name's positions (0..63) and the host's (80..111): blanks,
  // and bytes beyond ASCII.
  uint64_t name_blank = 0, name_high = 0, host_blank = 0, host_high = 0;
  const __m128i zero = _mm_setzero_si128(), at = _mm_set1_epi8('@'), del = _mm_set1_epi8(0x7F),
                blank = _mm_set1_epi8(' '), c0 = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
  __m128i bad = zero;
  auto check = [&](size_t from) {
    auto table = [from](const uint8_t* t) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + from)); };
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + from));
    const __m128i over = _mm_subs_epu8(_mm_sub_epi8(_mm_or_si128(b, table(fold_)), table(lo_)), table(span_));
    const __m128i digit = _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(b, c0), nine), zero);
    const __m128i hex_digit = _mm_and_si128(digit, table(hex_));
    const __m128i at_sign = _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(b, at), _mm_cmpeq_epi8(b, del)), table(plain_));
    bad = _mm_or_si128(bad, _mm_or_si128(_mm_andnot_si128(hex_digit, over), at_sign));
    return b;
  };
  auto mask = [](__m128i m) { return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m))); };
  // Every line is at least 7 blocks long; the name and host lie in the first.
  for (size_t k = 0; k < 7; ++k) {
    const __m128i b = check(k * kBlock);
    if (k < 4) {
      name_blank |= mask(_mm_cmpeq_epi8(b, blank)) << (k * kBlock);
      name_high |= mask(b) << (k * kBlock);
    } else if (k > 4) {
      host_blank |= mask(_mm_cmpeq_epi8(b, blank)) << ((k - 5) * kBlock);
      host_high |= mask(b) << ((k - 5) * kBlock);
    }
  }
  // The rest; the last block ends with the line (it may overlap the one
  // before), so nothing past the line is read.
  for (size_t from = 7 * kBlock; from < length_; from += kBlock) check(std::min(from, length_ - kBlock));
  // A byte is out of place where bad is not zero (not only where its top bit is set).
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(bad, zero)) != 0xFFFF) return false;
  constexpr int kHostShift = L::kV3Host - 5 * static_cast<int>(kBlock);
  return TakeFields(line, name_blank, name_high, host_blank >> kHostShift, host_high >> kHostShift, f);
}

#else

bool WrittenLineCheck::Read16(const char* line, WrittenFields* f) const { return Read1(line, f); }

#endif

bool WrittenLineCheck::Read1(const char* line, WrittenFields* f) const {
  // The same tables and the same bits as the blocks, one byte at a time.
  uint64_t name_blank = 0, name_high = 0, host_blank = 0, host_high = 0;
  for (size_t i = 0; i < length_; ++i) {
    const uint8_t c = static_cast<uint8_t>(line[i]);
    const bool digit = c >= '0' && c <= '9';
    if (static_cast<uint8_t>((c | fold_[i]) - lo_[i]) > span_[i] && !(hex_[i] && digit)) return false;
    if (plain_[i] && (c == '@' || c == 0x7F)) return false;
    const uint64_t is_blank = c == ' ', is_high = c >= 0x80;
    if (i < 64) {
      name_blank |= is_blank << i;
      name_high |= is_high << i;
    } else if (i >= 80 && i < 112) {
      host_blank |= is_blank << (i - 80);
      host_high |= is_high << (i - 80);
    }
  }
  constexpr int kHostShift = L::kV3Host - 5 * static_cast<int>(kBlock);
  return TakeFields(line, name_blank, name_high, host_blank >> kHostShift, host_high >> kHostShift, f);
}

}  // namespace dovrane::extlib
