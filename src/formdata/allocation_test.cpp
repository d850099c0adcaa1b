// Allocation behaviour, seen through malloc, realloc and free wrapped at link time
// (-Wl,--wrap): the number and size of the entry array's reallocations, and what the module
// does when memory runs out. Each test arms the hooks only around the calls it examines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "formdata.h"
#include "test_helpers.h"

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_realloc(void* block, std::size_t size);
void __real_free(void* block);
void* __wrap_malloc(std::size_t size);
void* __wrap_realloc(void* block, std::size_t size);
void __wrap_free(void* block);
}

namespace {

// Fixed arrays: the hooks must not allocate themselves.
struct Hooks {
  bool armed = false;
  int calls = 0;       // malloc and realloc calls while armed
  int fail_call = -1;  // the call (counted from 0) that fails, or -1
  int realloc_calls = 0;
  std::size_t realloc_sizes[64] = {};
  void* live[16384] = {};  // blocks obtained while armed and not yet freed
  int live_count = 0;

  bool ShouldFail() { return armed && calls++ == fail_call; }
  void Forget(void* block) {
    for (int i = live_count; i-- > 0;) {
      if (live[i] == block) {
        live[i] = live[--live_count];
        return;
      }
    }
  }
  void Remember(void* block) {
    if (armed && block != nullptr && live_count < 16384) live[live_count++] = block;
  }
} hooks;

}  // namespace

void* __wrap_malloc(std::size_t size) {
  if (hooks.ShouldFail()) return nullptr;
  void* block = __real_malloc(size);
  hooks.Remember(block);
  return block;
}

void* __wrap_realloc(void* block, std::size_t size) {
  if (hooks.armed && hooks.realloc_calls < 64) hooks.realloc_sizes[hooks.realloc_calls++] = size;
  if (hooks.ShouldFail()) return nullptr;
  void* moved = __real_realloc(block, size);
  if (moved != nullptr) {
    hooks.Forget(block);
    hooks.Remember(moved);
  }
  return moved;
}

void __wrap_free(void* block) {
  hooks.Forget(block);
  __real_free(block);
}

namespace loomreg::formdata {
namespace {

using testing::Pairs;
using testing::PairsOf;
using testing::ScopedList;

// Arms the hooks for the life of the object; call `fail_call` fails.
class Armed {
 public:
  explicit Armed(int fail_call = -1) {
    hooks = Hooks{};
    hooks.fail_call = fail_call;
    hooks.armed = true;
  }
  ~Armed() { hooks.armed = false; }
  Armed(const Armed&) = delete;
  Armed& operator=(const Armed&) = delete;
};

TEST(AllocationTest, EveryAppendReallocatesToExactlyTheNewCount) {
  ScopedList list;
  {
    Armed armed;
    AppendPair("a", "1", list.get());
    AppendPair("b", "2", list.get());
    AppendPair("a", "3", list.get());
  }
  ASSERT_EQ(hooks.realloc_calls, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(hooks.realloc_sizes[i], (i + 1) * sizeof(NameValuePair));
}

// The array grows once, to its final size; then each pair costs the copies of its name and
// value. After a segment without '=' the array holds exactly the pairs before it, and a parse
// that finds no pair does not touch the array.
TEST(AllocationTest, ParsingGrowsTheArrayOnceToItsFinalSize) {
  struct Case {
    const char* text;
    int result;
    int pairs;
  };
  for (const Case& c : {Case{"a=1&b=2&c=3", 4, 4}, Case{"a=1&b=2&c&d=4", 0, 3},
                        Case{"a=1&&b=2", 2, 2}, Case{"&a=1", 1, 1}, Case{"c&d=4", 0, 1}}) {
    ScopedList list(Pairs{{"x", "0"}});
    std::string text = c.text;
    {
      Armed armed;
      EXPECT_EQ(ParseFormData(text.data(), list.get()), c.result) << c.text;
    }
    const int parsed = c.pairs - 1;
    ASSERT_EQ(hooks.realloc_calls, parsed > 0 ? 1 : 0) << c.text;
    if (parsed > 0) {
      EXPECT_EQ(hooks.realloc_sizes[0], c.pairs * sizeof(NameValuePair)) << c.text;
    }
    EXPECT_EQ(hooks.calls, hooks.realloc_calls + 2 * parsed) << c.text;
    EXPECT_EQ(list.list.pairCount, c.pairs) << c.text;
  }
}

// Each append makes three allocations: the entry array, the name's copy, the value's copy.
TEST(AllocationTest, FailedAppendReleasesTheWholeList) {
  for (int fail_call = 0; fail_call < 3; ++fail_call) {
    ScopedList list;
    {
      Armed armed(3 + fail_call);
      AppendPair("a", "1", list.get());
      AppendPair("b", "2", list.get());
    }
    EXPECT_EQ(list.list.pairCount, 0) << fail_call;
    EXPECT_EQ(list.list.pairs, nullptr) << fail_call;
    EXPECT_EQ(hooks.live_count, 0) << "leaked blocks, failing call " << fail_call;
    AppendPair("c", "3", list.get());
    EXPECT_EQ(PairsOf(list.list), (Pairs{{"c", "3"}}));
  }
}

// A parse of three pairs makes seven allocations: the array's growth, then two copies a pair.
TEST(AllocationTest, FailedParseReturnsMinusOneAndReleasesTheList) {
  for (int fail_call = 0; fail_call < 7; ++fail_call) {
    ScopedList list(Pairs{{"held", "before"}});
    char text[] = "a=1&b=2&c=3";
    int result;
    {
      Armed armed(fail_call);
      result = ParseFormData(text, list.get());
    }
    EXPECT_EQ(result, -1) << fail_call;
    EXPECT_EQ(list.list.pairCount, 0) << fail_call;
    EXPECT_EQ(list.list.pairs, nullptr) << fail_call;
    // Everything the parse allocated is gone, and so are the entries held before it.
    EXPECT_EQ(hooks.live_count, 0) << fail_call;
  }
}

// The growth comes before any copy, so when it fails nothing of the parse is left to release.
TEST(AllocationTest, FailedGrowthOfAParseLeavesTheEmptyList) {
  ScopedList list(Pairs{{"p", "1"}, {"q", "2"}});
  char text[] = "a=1&b=2&c=3";
  int result;
  {
    Armed armed(0);
    result = ParseFormData(text, list.get());
  }
  EXPECT_EQ(result, -1);
  ASSERT_EQ(hooks.realloc_calls, 1);
  EXPECT_EQ(hooks.realloc_sizes[0], 5 * sizeof(NameValuePair));
  EXPECT_EQ(hooks.calls, 1);
  EXPECT_EQ(list.list.pairCount, 0);
  EXPECT_EQ(list.list.pairs, nullptr);
  EXPECT_EQ(hooks.live_count, 0);
}

// A parse of many pairs may make its copies before it grows the array (it does with glibc, whose
// allocator gains from that order). Either way a failed copy or growth leaves the empty list
// and nothing of the parse allocated, and once every copy is made the buffer is as after a
// parse that succeeds.
TEST(AllocationTest, FailedLargeParseReleasesEverything) {
  constexpr int kPairs = 4200;
  std::string text;
  for (int i = 0; i < kPairs; ++i) {
    text += (i > 0 ? "&n" : "n") + std::to_string(i) + "=v%41" + std::to_string(i);
  }
  std::string parsed = text;
  {
    ScopedList list(Pairs{{"held", "before"}});
    {
      Armed armed;
      ASSERT_EQ(ParseFormData(parsed.data(), list.get()), kPairs + 1);
    }
    ASSERT_EQ(hooks.realloc_calls, 1);
    EXPECT_EQ(hooks.realloc_sizes[0], (kPairs + 1) * sizeof(NameValuePair));
    EXPECT_EQ(hooks.calls, 1 + 2 * kPairs);
    EXPECT_EQ(list.list.pairs[kPairs].name, std::string("n") + std::to_string(kPairs - 1));
  }
  for (int fail_call : {0, 1, 2001, 2 * kPairs - 1, 2 * kPairs}) {
    ScopedList list(Pairs{{"held", "before"}});
    std::string buffer = text;
    int result;
    {
      Armed armed(fail_call);
      result = ParseFormData(buffer.data(), list.get());
    }
    EXPECT_EQ(result, -1) << fail_call;
    EXPECT_EQ(list.list.pairCount, 0) << fail_call;
    EXPECT_EQ(list.list.pairs, nullptr) << fail_call;
    EXPECT_EQ(hooks.live_count, 0) << fail_call;
    if (hooks.calls == 1 + 2 * kPairs) {
      EXPECT_EQ(buffer, parsed) << fail_call;
    }
  }
}

TEST(AllocationTest, TextResultsAreNullWhenMemoryRunsOut) {
  ScopedList list(Pairs{{"a", "1"}});
  Armed armed(0);
  EXPECT_EQ(EncodeUrlText("a b"), nullptr);
  hooks.calls = 0;
  EXPECT_EQ(DecodeUrlText("a+b"), nullptr);
  hooks.calls = 0;
  EXPECT_EQ(BuildQueryString(list.get()), nullptr);
}

}  // namespace
}  // namespace loomreg::formdata
