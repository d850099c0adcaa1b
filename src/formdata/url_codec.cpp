#include "url_codec.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "formdata.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// Used only in functions compiled for SSSE3 and called when the processor has it.
#include <tmmintrin.h>
#endif

namespace loomreg::formdata {
namespace {

constexpr std::uint8_t kNotHex = 0xFF;
constexpr unsigned char kDroppedByte = 13;  // an escaped CR vanishes, so %0D%0A reads as LF

constexpr std::array<std::uint8_t, 256> kHexValue = [] {
  std::array<std::uint8_t, 256> table{};
  table.fill(kNotHex);
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<std::uint8_t>(i);
  for (int i = 0; i < 6; ++i) {
    table['a' + i] = static_cast<std::uint8_t>(10 + i);
    table['A' + i] = static_cast<std::uint8_t>(10 + i);
  }
  return table;
}();

// Control bytes, bytes from 0x80, and the eight characters that would change the meaning of a
// form field or of the markup a value may be written into.
constexpr std::array<bool, 256> kEscaped = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = c < 0x20 || c >= 0x80;
  for (unsigned char c : std::string_view("=&% <>+,")) table[c] = true;
  return table;
}();

constexpr char kLowerHexDigits[] = "0123456789abcdef";

}  // namespace

namespace {

// Decodes one escape at in[read], whose text is `length` bytes long and NUL-terminated.
// Returns the read position after it; appends its byte, if it has one, at out[write].
inline std::size_t DecodeEscape(const unsigned char* in, std::size_t read, std::size_t length,
                                char* out, std::size_t& write) {
  // in[length] is the NUL, which is no digit: neither look ahead passes it.
  unsigned high = kHexValue[in[read + 1]];
  if (high != kNotHex) {
    unsigned low = kHexValue[in[read + 2]];
    unsigned value = low == kNotHex ? high : high * 16 + low;
    if (value != kDroppedByte) out[write++] = static_cast<char>(value);
  }
  return std::min(read + 3, length);
}

// Decodes the byte or escape at in[read] and returns the read position after it.
inline std::size_t DecodeOne(const unsigned char* in, std::size_t read, std::size_t length,
                             char* out, std::size_t& write, bool split_at_ampersand) {
  unsigned char c = in[read];
  if (c == '%') return DecodeEscape(in, read, length, out, write);
  if (c == '+') {
    c = ' ';
  } else if (c == '&' && split_at_ampersand) {
    c = '\0';
  }
  out[write++] = static_cast<char>(c);
  return read + 1;
}

// Where the decoder stands: the next byte to read and the next to write.
struct Cursor {
  std::size_t read = 0;
  std::size_t write = 0;
};

#if defined(__SSE2__)

// In place, a store of a whole register also writes input bytes, shifted, past the output;
// once the output stops short of them they would stay behind its end. So before such a store
// the bytes it is the first to overwrite are kept in `ring`, sixteen at a time, at their
// position modulo 64 (from index 64 on; each copy is made twice so that one of them never
// wraps), and at the end those past the output are put back. Positions from `untouched` on
// still hold the input as it came; everything kept past the output lies within 32 bytes of the
// last store's start, and was kept once and not overwritten since.
struct KeptBytes {
  alignas(16) char ring[144];
  std::size_t untouched = 0;

  // Puts back the bytes kept past out[write], the decoded text's end.
  void Restore(char* out, std::size_t write) const {
    for (std::size_t p = write + 1; p < untouched; ++p) out[p] = ring[64 + (p & 63)];
  }
};

// Makes a store of sixteen bytes at out[store_at] safe: keeps the sixteen bytes from
// `untouched` (or from `store_at`, if the output has passed it). False when they would run
// past the text. They are copied whether or not the store reaches them, without a branch that
// would follow the escapes: bytes from `untouched` on still hold the input, so a copy the store
// does not need only writes their own bytes again, and nothing kept that is still needed shares
// their places modulo 64. The callers hold `untouched` in a local variable, which no store
// through `out` can alias.
inline bool Cover(char* ring, std::size_t& untouched, char* out, std::size_t store_at,
                  std::size_t length) {
  const std::size_t from = std::max(untouched, store_at);
  if (from + 16 > length) return false;
  const __m128i original = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + from));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(ring + 64 + (from & 63)), original);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(ring + (from & 63)), original);
  untouched = store_at + 16 > untouched ? from + 16 : untouched;
  return true;
}

// The sixteen bytes at p with '+' as a space and, with `split`, '&' as a NUL.
inline __m128i PlainBytes(__m128i chunk, __m128i split) {
  const __m128i pluses = _mm_cmpeq_epi8(chunk, _mm_set1_epi8('+'));
  chunk = _mm_or_si128(_mm_andnot_si128(pluses, chunk), _mm_and_si128(pluses, _mm_set1_epi8(' ')));
  return _mm_andnot_si128(_mm_and_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('&')), split), chunk);
}

// Sixteen bytes at a time: '+' becomes a space (and '&' a NUL) in the register, and the bytes
// up to the first '%' go out at once; the escape is decoded and the next sixteen bytes are
// loaded right behind it, so dense escapes cost one pass of this loop each.
//
// The register is stored whole whenever that cannot overwrite input not yet read: always into
// a separate buffer, and in place once the output lags at least sixteen bytes behind the
// escape (two bytes more with every escape). Before that only the bytes up to the '%' are
// copied. Loads stay within the text: read + 16 <= length.
void DecodeSse2(const unsigned char* in, std::size_t length, char* out, bool split_at_ampersand,
                Cursor& at_end, KeptBytes& kept) {
  const bool in_place = out == reinterpret_cast<const char*>(in);
  const __m128i percent = _mm_set1_epi8('%');
  const __m128i split = _mm_set1_epi8(split_at_ampersand ? -1 : 0);
  std::size_t read = at_end.read;
  std::size_t write = at_end.write;
  std::size_t untouched = kept.untouched;
  while (read + 16 <= length) {
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + read));
    const auto escapes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(raw, percent)));
    const __m128i chunk = PlainBytes(raw, split);
    if (escapes == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + write), chunk);
      read += 16;
      write += 16;
      continue;
    }
    const std::size_t plain = static_cast<std::size_t>(__builtin_ctz(escapes));
    const std::size_t at = read + plain;
    if (!in_place || (write + 16 <= at && Cover(kept.ring, untouched, out, write, length))) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + write), chunk);
    } else {
      alignas(16) char decoded[16];
      _mm_store_si128(reinterpret_cast<__m128i*>(decoded), chunk);
      for (std::size_t i = 0; i < plain; ++i) out[write + i] = decoded[i];
    }
    write += plain;
    if (plain <= 13) {
      // Both digits lie inside the sixteen bytes just loaded: decode without branches. The
      // byte is written in any case (at or before the '%', after its digits were read) and
      // counted only when the escape gives one.
      const unsigned high = kHexValue[in[at + 1]];
      const unsigned low = kHexValue[in[at + 2]];
      const unsigned value = low == kNotHex ? high : high * 16 + low;
      out[write] = static_cast<char>(value);
      write += static_cast<std::size_t>((high != kNotHex) & (value != kDroppedByte));
      read = at + 3;
      // Escapes often come in runs (UTF-8, CR LF): the next one is decoded here, the same way,
      // before a new load. Its digits lie within the text, which ends in a NUL.
      while (read + 3 <= length && in[read] == '%') {
        const unsigned next_high = kHexValue[in[read + 1]];
        const unsigned next_low = kHexValue[in[read + 2]];
        const unsigned next = next_low == kNotHex ? next_high : next_high * 16 + next_low;
        out[write] = static_cast<char>(next);
        write += static_cast<std::size_t>((next_high != kNotHex) & (next != kDroppedByte));
        read += 3;
      }
    } else {
      read = DecodeEscape(in, at, length, out, write);
    }
  }
  kept.untouched = untouched;
  at_end = {read, write};
}

#endif

#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define LOOMREG_DECODE_SSSE3 1

// For each mask of eight bytes: the positions of its set bits, lowest first, and their number.
struct CompactTable {
  std::uint8_t index[256][8];
  std::uint8_t count[256];
};

constexpr CompactTable kCompact = [] {
  CompactTable table{};
  for (int mask = 0; mask < 256; ++mask) {
    int count = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if ((mask >> bit & 1) != 0) table.index[mask][count++] = static_cast<std::uint8_t>(bit);
    }
    table.count[mask] = static_cast<std::uint8_t>(count);
  }
  return table;
}();

// The values of the hexadecimal digits among sixteen bytes, and which bytes are digits.
inline __m128i HexDigits(__m128i bytes, __m128i& digits) {
  const __m128i decimal = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  const __m128i is_decimal = _mm_cmpeq_epi8(_mm_min_epu8(decimal, _mm_set1_epi8(9)), decimal);
  const __m128i letter = _mm_sub_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i is_letter = _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(5)), letter);
  digits = _mm_or_si128(is_decimal, is_letter);
  return _mm_or_si128(_mm_and_si128(is_decimal, decimal),
                      _mm_and_si128(is_letter, _mm_add_epi8(letter, _mm_set1_epi8(10))));
}

// The number of '%' among in[0, length).
inline std::size_t CountPercents(const unsigned char* in, std::size_t length) {
  const __m128i percent = _mm_set1_epi8('%');
  std::size_t count = 0;
  std::size_t i = 0;
  while (i + 16 <= length) {
    // Sixteen counters of a byte each, summed up before any of them could overflow.
    __m128i counters = _mm_setzero_si128();
    for (int blocks = 0; blocks < 255 && i + 16 <= length; ++blocks, i += 16) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(chunk, percent));
    }
    const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
    count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
  for (; i < length; ++i) count += in[i] == '%' ? 1 : 0;
  return count;
}

// Sixteen bytes at a time, every escape among them at once: the bytes after each '%' give its
// value in the '%''s place, the two bytes it spans beyond the '%' drop out (and the '%' itself
// when the escape gives no byte), and one shuffle packs what stays. The blocks lie sixteen
// bytes apart whatever they hold, so that the next load never waits for this block's escapes;
// an escape at the end of a block spans the first one or two bytes of the next, which then
// drop out there. A block where a '%' lies within the span of another goes byte by byte. All
// sixteen bytes and the two after them are loaded before anything is stored, and the output
// never passes the block's start, so no store reaches input not yet loaded. Loads stay within
// the text and its NUL: read + 17 <= length.
//
// In place, a store needs its bytes kept (see KeptBytes) only near the end of the output. An
// escape takes at most three bytes from the output, so the output still to come is at least
// the bytes left less three for every '%' left; while that reaches past the block's store, the
// store is made without keeping anything. The '%' are counted once before the first block.
template <bool kInPlace>
__attribute__((target("ssse3,popcnt"))) void DecodeSsse3(const unsigned char* in,
                                                         std::size_t length, char* out,
                                                         bool split_at_ampersand, Cursor& at_end,
                                                         KeptBytes& kept) {
  const __m128i percent = _mm_set1_epi8('%');
  const __m128i split = _mm_set1_epi8(split_at_ampersand ? -1 : 0);
  std::size_t read = at_end.read;
  std::size_t write = at_end.write;
  std::size_t untouched = kept.untouched;
  // Counted only where three times it cannot overflow; otherwise every store is kept.
  std::size_t percents_left = SIZE_MAX / 4;
  if (kInPlace && length < SIZE_MAX / 4) percents_left = CountPercents(in + read, length - read);
  unsigned spanned_in = 0;  // bits 0 and 1: bytes of this block an escape before it spans
  while (read + 17 <= length) {
    if (kInPlace) {
      if (read + 3 * percents_left + 17 <= length) {
        // Every byte this store writes lies within the output to come.
        untouched = std::max(untouched, write + 16);
      } else if (!Cover(kept.ring, untouched, out, write, length)) {
        break;
      }
    }
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + read));
    const auto percents = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(raw, percent)));
    // The '%' of this block are no longer ahead, nor are those among the two bytes after it
    // that an escape spans; counting only the former keeps the bound on the safe side.
    if (kInPlace) percents_left -= static_cast<std::size_t>(__builtin_popcount(percents));
    const unsigned escapes = percents & ~spanned_in;
    const unsigned spanned = escapes << 1 | escapes << 2 | spanned_in;
    if ((escapes & spanned) != 0) {
      std::size_t at = read + spanned_in % 4 / 2 + spanned_in % 2;
      while (at < read + 16) at = DecodeOne(in, at, length, out, write, split_at_ampersand);
      spanned_in = (1u << (at - read - 16)) - 1;
      read += 16;
      continue;
    }
    __m128i has_high;
    __m128i has_low;
    const __m128i high =
        HexDigits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + read + 1)), has_high);
    const __m128i low =
        HexDigits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + read + 2)), has_low);
    // Digits are below 16, so a shift of the 16-bit lanes moves no bit into the next byte.
    const __m128i both = _mm_or_si128(_mm_slli_epi16(high, 4), low);
    const __m128i value =
        _mm_or_si128(_mm_and_si128(has_low, both), _mm_andnot_si128(has_low, high));
    const __m128i gives =
        _mm_andnot_si128(_mm_cmpeq_epi8(value, _mm_set1_epi8(kDroppedByte)), has_high);
    const auto giving = static_cast<unsigned>(_mm_movemask_epi8(gives));
    const unsigned stays = ~(spanned | (escapes & ~giving)) & 0xFFFF;
    // In the place of a '%' its value; where a spanned '%' stands, what it holds does not stay.
    const __m128i is_percent = _mm_cmpeq_epi8(raw, percent);
    const __m128i bytes = _mm_or_si128(_mm_and_si128(is_percent, value),
                                       _mm_andnot_si128(is_percent, PlainBytes(raw, split)));
    const unsigned low_stays = stays & 0xFF;
    const unsigned high_stays = stays >> 8;
    const __m128i order = _mm_add_epi8(
        _mm_unpacklo_epi64(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompact.index[low_stays])),
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompact.index[high_stays]))),
        _mm_set_epi64x(0x0808080808080808, 0));
    const __m128i packed = _mm_shuffle_epi8(bytes, order);
    const std::size_t low_count = kCompact.count[low_stays];
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + write), packed);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + write + low_count),
                     _mm_unpackhi_epi64(packed, packed));
    write += low_count + kCompact.count[high_stays];
    // An escape at byte 14 or 15 spans one or two bytes of the next block.
    spanned_in = spanned >> 16;
    read += 16;
  }
  kept.untouched = untouched;
  // The bytes an escape spans stop at the text's end.
  at_end = {std::min(read + spanned_in % 4 / 2 + spanned_in % 2, length), write};
}

bool HasSsse3() {
#if defined(__SSSE3__) && defined(__POPCNT__)
  return true;
#else
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") != 0 && __builtin_cpu_supports("popcnt") != 0;
#endif
}

#endif

}  // namespace

bool DecodeWidthAvailable(DecodeWidth width) {
  switch (width) {
    case DecodeWidth::kBytes:
      return true;
    case DecodeWidth::kSse2:
#if defined(__SSE2__)
      return true;
#else
      return false;
#endif
    case DecodeWidth::kSsse3:
#if defined(LOOMREG_DECODE_SSSE3)
      return HasSsse3();
#else
      return false;
#endif
  }
  return false;
}

std::size_t DecodeFormTextWith(DecodeWidth width, const char* text, std::size_t length, char* out,
                               bool split_at_ampersand) {
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  Cursor cursor;
#if defined(__SSE2__)
  KeptBytes kept;
  switch (width) {
    case DecodeWidth::kBytes:
      break;
    case DecodeWidth::kSse2:
      DecodeSse2(in, length, out, split_at_ampersand, cursor, kept);
      break;
    case DecodeWidth::kSsse3:
#if defined(LOOMREG_DECODE_SSSE3)
      if (out == text) {
        DecodeSsse3<true>(in, length, out, split_at_ampersand, cursor, kept);
      } else {
        DecodeSsse3<false>(in, length, out, split_at_ampersand, cursor, kept);
      }
#else
      DecodeSse2(in, length, out, split_at_ampersand, cursor, kept);
#endif
      break;
  }
#else
  (void)width;
#endif
  std::size_t read = cursor.read;
  std::size_t write = cursor.write;
  while (read < length) read = DecodeOne(in, read, length, out, write, split_at_ampersand);
#if defined(__SSE2__)
  if (out == text) kept.Restore(out, write);
#endif
  return write;
}

std::size_t DecodeFormText(const char* text, std::size_t length, char* out,
                           bool split_at_ampersand) {
#if defined(LOOMREG_DECODE_SSSE3)
  const DecodeWidth width = HasSsse3() ? DecodeWidth::kSsse3 : DecodeWidth::kSse2;
#elif defined(__SSE2__)
  const DecodeWidth width = DecodeWidth::kSse2;
#else
  const DecodeWidth width = DecodeWidth::kBytes;
#endif
  return DecodeFormTextWith(width, text, length, out, split_at_ampersand);
}

std::size_t EncodedLength(std::string_view text) {
  std::size_t length = text.size();
  for (unsigned char c : text) length += kEscaped[c] ? 2 : 0;
  return length;
}

char* EncodeInto(std::string_view text, char* out) {
  for (unsigned char c : text) {
    if (kEscaped[c]) {
      *out++ = '%';
      *out++ = kLowerHexDigits[c >> 4];
      *out++ = kLowerHexDigits[c & 0xF];
    } else {
      *out++ = static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace loomreg::formdata

using loomreg::formdata::DecodeFormText;
using loomreg::formdata::EncodeInto;

char* EncodeUrlText(const char* text) {
  std::size_t length = std::strlen(text);
  if (length > (SIZE_MAX - 1) / 3) return nullptr;
  // Room for the worst case, every byte escaped, as callers may expect of the buffer.
  auto* encoded = static_cast<char*>(std::malloc(3 * length + 1));
  if (encoded == nullptr) return nullptr;
  *EncodeInto({text, length}, encoded) = '\0';
  return encoded;
}

char* DecodeUrlText(const char* text) {
  std::size_t length = std::strlen(text);
  auto* decoded = static_cast<char*>(std::malloc(length + 1));
  if (decoded == nullptr) return nullptr;
  decoded[DecodeFormText(text, length, decoded, false)] = '\0';
  return decoded;
}
