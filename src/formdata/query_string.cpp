#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "formdata.h"
#include "url_codec.h"

using loomreg::formdata::EncodedLength;
using loomreg::formdata::EncodeInto;

// Measures the whole query first and fills one allocation of exactly its size, so no pair is
// encoded into a scratch text and nothing is reallocated.
char* BuildQueryString(const PairList* list) {
  if (list->pairCount <= 0) return nullptr;
  std::size_t length = 0;
  for (std::int32_t i = 0; i < list->pairCount; ++i) {
    // "?" or "&" before the pair, and the "=" inside it.
    length += 2 + EncodedLength(list->pairs[i].name) + EncodedLength(list->pairs[i].value);
  }
  auto* query = static_cast<char*>(std::malloc(length + 1));
  if (query == nullptr) return nullptr;
  char* out = query;
  for (std::int32_t i = 0; i < list->pairCount; ++i) {
    *out++ = i == 0 ? '?' : '&';
    out = EncodeInto(list->pairs[i].name, out);
    *out++ = '=';
    out = EncodeInto(list->pairs[i].value, out);
  }
  *out = '\0';
  return query;
}
