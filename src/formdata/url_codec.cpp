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

}  // namespace

std::size_t DecodeFormText(const char* text, std::size_t length, char* out,
                           bool split_at_ampersand) {
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  std::size_t read = 0;
  std::size_t write = 0;
#if defined(__SSE2__)
  // Sixteen bytes at a time: '+' becomes a space (and '&' a NUL) in the register, and the
  // bytes up to the first '%' go out at once; the escape is decoded and the next sixteen bytes
  // are loaded right behind it, so dense escapes cost one pass of this loop each.
  //
  // The register is stored whole whenever that cannot overwrite input not yet read: always
  // into a separate buffer, and in place once the output lags at least sixteen bytes behind
  // the escape (two bytes more with every escape). Before that only the bytes up to the '%'
  // are copied. Loads stay within the text: read + 16 <= length.
  const bool in_place = out == text;
  // A whole store in place also writes input bytes, shifted, past the output; once the output
  // stops short of them they would stay behind its end. So before such a store the bytes it
  // is the first to overwrite are kept here, sixteen at a time, at their position modulo 64 (from
  // index 64 on; each copy is made twice so that one of them never wraps), and at the end those
  // past the output are put back. Positions from `untouched` on still hold the input as it came.
  alignas(16) char kept[144];
  std::size_t untouched = 0;
  // Keeps the sixteen bytes from `untouched` (or from `write`, if the output has passed it) so
  // that a whole store at `write` may follow; false when they would run past the text.
  auto keep = [&](std::size_t store_at) {
    const std::size_t from = std::max(untouched, store_at);
    if (from + 16 > length) return false;
    const __m128i original = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + from));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(kept + 64 + (from & 63)), original);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(kept + (from & 63)), original);
    untouched = from + 16;
    return true;
  };
  const __m128i percent = _mm_set1_epi8('%');
  const __m128i plus = _mm_set1_epi8('+');
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i ampersand = _mm_set1_epi8('&');
  const __m128i split = _mm_set1_epi8(split_at_ampersand ? -1 : 0);
  while (read + 16 <= length) {
    __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + read));
    auto escapes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, percent)));
    __m128i pluses = _mm_cmpeq_epi8(chunk, plus);
    chunk = _mm_or_si128(_mm_andnot_si128(pluses, chunk), _mm_and_si128(pluses, space));
    chunk = _mm_andnot_si128(_mm_and_si128(_mm_cmpeq_epi8(chunk, ampersand), split), chunk);
    if (escapes == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + write), chunk);
      read += 16;
      write += 16;
      continue;
    }
    const std::size_t plain = static_cast<std::size_t>(__builtin_ctz(escapes));
    const std::size_t at = read + plain;
    if (!in_place) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + write), chunk);
    } else if (write + 16 <= at && (write + 16 <= untouched || keep(write))) {
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
#endif
  while (read < length) {
    unsigned char c = in[read];
    if (c == '%') {
      read = DecodeEscape(in, read, length, out, write);
      continue;
    }
    if (c == '+') {
      c = ' ';
    } else if (c == '&' && split_at_ampersand) {
      c = '\0';
    }
    out[write++] = static_cast<char>(c);
    ++read;
  }
#if defined(__SSE2__)
  // Everything kept past the output lies within 32 bytes of the last store's start, and was
  // kept once and not overwritten since.
  for (std::size_t p = write + 1; p < untouched; ++p) out[p] = kept[64 + (p & 63)];
#endif
  return write;
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
