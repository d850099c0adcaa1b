#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "formdata.h"
#include "pair_list.h"
#include "url_codec.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Where 64 bytes from p hold a NUL and where an '=': bit i for p[i].
struct Marks {
  std::uint64_t nul = 0;
  std::uint64_t equals = 0;
};

// The marks of p[0, count), count at most 64, reading only those bytes.
Marks MarksOf(const char* p, std::size_t count) {
  Marks marks;
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i equals = _mm_set1_epi8('=');
  for (; i + 16 <= count; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const auto nul_bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, zero)));
    const auto equals_bits =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, equals)));
    marks.nul |= static_cast<std::uint64_t>(nul_bits) << i;
    marks.equals |= static_cast<std::uint64_t>(equals_bits) << i;
  }
#endif
  for (; i < count; ++i) {
    marks.nul |= static_cast<std::uint64_t>(p[i] == '\0') << i;
    marks.equals |= static_cast<std::uint64_t>(p[i] == '=') << i;
  }
  return marks;
}

Marks MarksOf64(const char* p) { return MarksOf(p, 64); }

// Without a popcount instruction in the baseline, __builtin_popcountll is a library call.
std::size_t CountOnes(std::uint64_t bits) {
  bits -= bits >> 1 & 0x5555555555555555;
  bits = (bits & 0x3333333333333333) + (bits >> 2 & 0x3333333333333333);
  bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0F;
  return static_cast<std::size_t>((bits * 0x0101010101010101) >> 56);
}

enum class WalkEnd { kEmptySegment, kNoEquals, kStopped };

struct Count {
  std::size_t pairs;
  WalkEnd end;
};

// The marks of text[base, end], 64 bytes or what is left; text[end] is a NUL. Loads stay within
// the text.
Marks MarksAt(const char* text, std::size_t base, std::size_t end) {
  return end - base >= 64 ? MarksOf64(text + base) : MarksOf(text + base, end - base + 1);
}

// The number of segments WalkPairs passes to its callback, and why it stops, without a branch
// per segment. A segment is good when an '=' lies between the NUL before it and its own NUL.
// In E + ~Z (E the '=' marks, Z the NUL marks), a carry starts at each '=' and runs through
// every byte that is not a NUL, so exactly the NULs that end good segments come out as ones;
// the carry out of one block of 64 goes on into the next.
Count CountPairs(const char* text, std::size_t end) {
  std::size_t pairs = 0;
  unsigned long long carry = 0;
  std::uint64_t nul_before = 1;  // the text's start counts as a NUL
  for (std::size_t base = 0; base <= end; base += 64) {
    const Marks marks = MarksAt(text, base, end);
    unsigned long long sum = 0;
    const bool carried = __builtin_uaddll_overflow(marks.equals, ~marks.nul, &sum);
    const bool carried_again = __builtin_uaddll_overflow(sum, carry, &sum);
    carry = carried || carried_again ? 1 : 0;
    const std::uint64_t good = marks.nul & sum;
    const std::uint64_t bad = marks.nul & ~sum;
    const std::uint64_t empty = marks.nul & (marks.nul << 1 | nul_before);
    nul_before = marks.nul >> 63;
    if (bad != 0) {
      const auto first = static_cast<unsigned>(__builtin_ctzll(bad));
      pairs += CountOnes(good & ((1ull << first) - 1));
      return {pairs, (empty >> first & 1) != 0 ? WalkEnd::kEmptySegment : WalkEnd::kNoEquals};
    }
    pairs += CountOnes(good);
  }
  return {pairs, WalkEnd::kEmptySegment};  // the segment that ends at text[end] was the last
}

// Walks the NUL-separated segments of text[0, end], where text[end] is a NUL, from the first to
// the last, to an empty one, or to one without '=', and calls pair(start, equals, nul) for each
// segment before, with the positions of its first byte, its first '=' and its NUL; a pair that
// returns false stops the walk. The positions come from masks of 64 bytes at a time, so the
// walk costs a few instructions per NUL and '=' rather than a scan of each segment.
template <typename OnPair>
WalkEnd WalkPairs(const char* text, std::size_t end, OnPair pair) {
  constexpr std::size_t kNone = SIZE_MAX;
  std::size_t start = 0;
  std::size_t equals = kNone;
  for (std::size_t base = 0; base <= end; base += 64) {
    const Marks marks = MarksAt(text, base, end);
    for (std::uint64_t bits = marks.nul | marks.equals; bits != 0; bits &= bits - 1) {
      const auto bit = static_cast<unsigned>(__builtin_ctzll(bits));
      const std::size_t at = base + bit;
      if ((marks.equals >> bit & 1) != 0) {
        if (equals == kNone) equals = at;
        continue;
      }
      if (at == start) return WalkEnd::kEmptySegment;
      if (equals == kNone) return WalkEnd::kNoEquals;
      if (!pair(start, equals, at)) return WalkEnd::kStopped;
      // The segment after the last one is empty.
      if (at == end) return WalkEnd::kEmptySegment;
      start = at + 1;
      equals = kNone;
    }
  }
  return WalkEnd::kEmptySegment;  // not reached: text[end] is a NUL
}

// Where the copies of a parse go. Of a parse of many pairs, they are made before its entry
// array: a large array requested first would fold the copies the last list released (see
// kMappedFromPairs), and each copy of this parse would then be carved from the merged space.
// So the entries wait on pages of their own while the copies are made, and the array is
// requested after the last one. Without the pages, the array is requested first.
class PairSink {
 public:
  PairSink(PairList* list, std::size_t pairs) : list_(list), staged_(pairs) {}
  PairSink(const PairSink&) = delete;
  PairSink& operator=(const PairSink&) = delete;

  // Makes room for the pairs; false, with the list released, when memory runs out.
  bool Open() {
    return staged_.mapped() || loomreg::formdata::ReservePairs(staged_.capacity(), list_);
  }

  // Copies one pair; false, with the list released, when memory runs out.
  bool Add(std::string_view name, std::string_view value) {
    if (!staged_.mapped()) return loomreg::formdata::FillPairCopy(name, value, list_);
    loomreg::formdata::OwnedText name_copy = loomreg::formdata::CopyText(name);
    loomreg::formdata::OwnedText value_copy = loomreg::formdata::CopyText(value);
    if (!name_copy || !value_copy || !staged_.Push({name_copy.get(), value_copy.get()})) {
      Abandon();
      return false;
    }
    (void)name_copy.release();
    (void)value_copy.release();
    return true;
  }

  // Moves the staged pairs into the entry array; false, with the list released, when memory
  // runs out.
  bool Close() {
    if (!staged_.mapped() || staged_.size() == 0) return true;
    if (!loomreg::formdata::ReservePairs(staged_.size(), list_)) {
      Abandon();
      return false;
    }
    staged_.CopyTo(list_->pairs + list_->pairCount);
    list_->pairCount += static_cast<std::int32_t>(staged_.size());
    return true;
  }

 private:
  void Abandon() {
    for (std::size_t i = 0; i < staged_.size(); ++i) {
      const NameValuePair pair = staged_[i];
      std::free(pair.name);
      std::free(pair.value);
    }
    FreePairList(list_);
  }

  PairList* list_;
  loomreg::formdata::StagedEntries staged_;
};

}  // namespace

int ParseFormData(char* text, PairList* list) {
  std::size_t length = std::strlen(text);
  // Phase 1: decode in place, turning every '&' into a NUL, so the buffer becomes a run of
  // NUL-terminated segments. An escaped '&' is thus part of a value, an escaped '=' is not.
  std::size_t end = loomreg::formdata::DecodeFormText(text, length, text, true);
  text[end] = '\0';
  // The closing empty segment. When decoding shortened nothing it would fall past the
  // terminator, outside what the caller owes us; the walks below stop at `end` instead.
  if (end < length) text[end + 1] = '\0';

  // Phase 2: count the pairs, so that the entry array grows once, to its final size: before
  // the copies, or for many pairs after them.
  const Count count = CountPairs(text, end);
  const std::size_t pairs = count.pairs;
  const WalkEnd walk_end = count.end;
  PairSink sink(list, pairs);
  if (!sink.Open()) return -1;

  // Phase 3: split each segment at its first '=' and copy the name and the value. Long
  // segments (a textarea, say) are crossed faster by the C library's scans, one pair at a time;
  // many short ones by the walk over the marks.
  auto fill = [text, &sink](std::size_t start, std::size_t equals, std::size_t nul) {
    text[equals] = '\0';
    return sink.Add({text + start, equals - start}, {text + equals + 1, nul - equals - 1});
  };
  if (end / 256 >= pairs) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
      // Every segment counted holds an '=' before its NUL.
      const auto* equals = static_cast<const char*>(std::memchr(text + start, '=', end - start));
      const auto at = static_cast<std::size_t>(equals - text);
      const std::size_t nul = at + 1 + std::strlen(equals + 1);
      if (!fill(start, at, nul)) return -1;
      start = nul + 1;
    }
  } else if (WalkPairs(text, end, fill) == WalkEnd::kStopped) {
    return -1;
  }
  if (!sink.Close()) return -1;
  // After a segment without '=' the pairs before it stay.
  return walk_end == WalkEnd::kNoEquals ? 0 : list->pairCount;
}
