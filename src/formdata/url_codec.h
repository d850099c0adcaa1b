// The byte-level codec behind EncodeUrlText, DecodeUrlText, ParseFormData and
// BuildQueryString: table-driven, one pass over the text, no allocation.
#ifndef LOOMREG_FORMDATA_URL_CODEC_H
#define LOOMREG_FORMDATA_URL_CODEC_H

#include <cstddef>
#include <string_view>

namespace loomreg::formdata {

// Decodes the `length` bytes of `text` (which must be followed by its NUL) into `out` and
// returns the decoded length; nothing is terminated. `out` may be `text` itself, since the
// decoded text is never longer; then every byte after out[decoded length] is as it was (that
// one byte, where the caller puts its NUL, may have been written). With `split_at_ampersand`,
// each '&' becomes a NUL.
//
// An escape is '%' and two hexadecimal digits of either case. One digit alone gives that
// digit's value, no digit gives no byte; in every case the escape spans three bytes, cut short
// at the end of the text. An escape whose value is 13 (a carriage return) gives no byte.
std::size_t DecodeFormText(const char* text, std::size_t length, char* out,
                           bool split_at_ampersand);

// The decoder's paths, all giving the same result: a byte at a time; sixteen bytes a time up to
// each escape (SSE2, which every x86-64 has); sixteen bytes a time with every escape among
// them (SSSE3, chosen at run time). DecodeFormText takes the widest the processor runs; these
// are for holding each path to the others.
enum class DecodeWidth { kBytes, kSse2, kSsse3 };
bool DecodeWidthAvailable(DecodeWidth width);
std::size_t DecodeFormTextWith(DecodeWidth width, const char* text, std::size_t length, char* out,
                               bool split_at_ampersand);

// The length of `text` once encoded.
std::size_t EncodedLength(std::string_view text);

// Writes `text` encoded into `out`, which must have room for EncodedLength(text) bytes, and
// returns the position after the last byte written. Nothing is terminated.
char* EncodeInto(std::string_view text, char* out);

}  // namespace loomreg::formdata

#endif
