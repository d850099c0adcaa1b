#include <cstring>

#include "formdata.h"
#include "pair_list.h"
#include "url_codec.h"

int ParseFormData(char* text, PairList* list) {
  std::size_t length = std::strlen(text);
  // Phase 1: decode in place, turning every '&' into a NUL, so the buffer becomes a run of
  // NUL-terminated segments. An escaped '&' is thus part of a value, an escaped '=' is not.
  std::size_t end = loomreg::formdata::DecodeFormText(text, length, text, true);
  text[end] = '\0';
  // The closing empty segment. When decoding shortened nothing it would fall past the
  // terminator, outside what the caller owes us; the walk below stops at `end` instead.
  if (end < length) text[end + 1] = '\0';

  // Phase 2: split each segment at its first '='. An empty segment ends the walk.
  std::size_t start = 0;
  while (start < end && text[start] != '\0') {
    char* segment = text + start;
    std::size_t segment_length = std::strlen(segment);
    auto* equals = static_cast<char*>(std::memchr(segment, '=', segment_length));
    if (equals == nullptr) return 0;
    *equals = '\0';
    std::size_t name_length = static_cast<std::size_t>(equals - segment);
    if (!loomreg::formdata::AppendPairCopy({segment, name_length},
                                           {equals + 1, segment_length - name_length - 1}, list)) {
      return -1;
    }
    start += segment_length + 1;
  }
  return list->pairCount;
}
