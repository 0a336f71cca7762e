// Records that own memory or a handle: the language cannot copy or move them, they stay plain records,
// swap hands contents over without moving an element, and brol_scoped releases what it holds.
#include "brol/container/brol_scoped.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "brol/config/brol_config.h"
#include "brol/container/brol_dict.h"
#include "brol/container/brol_list.h"
#include "brol/fs/brol_replace_file.h"
#include "brol/stream/brol_stream.h"
#include "brol/string/brol_string.h"
#include "brol/string/brol_string_array.h"
#include "brol_platform_faults.h"
#include "brol_test_support.h"

namespace {

template <class T>
constexpr bool owning_record = !std::is_copy_constructible_v<T> && !std::is_copy_assignable_v<T> &&
                               !std::is_move_constructible_v<T> && !std::is_move_assignable_v<T> &&
                               std::is_standard_layout_v<T> && std::is_trivially_default_constructible_v<T> &&
                               std::is_trivially_destructible_v<T>;

static_assert(owning_record<brol_string>);
static_assert(owning_record<brol_string_array>);
static_assert(owning_record<brol_stream>);
static_assert(owning_record<brol_list<brol_string>>);
static_assert(owning_record<brol_list<int>>);
static_assert(owning_record<brol_dict<brol_string>>);
static_assert(owning_record<brol_dict<brol_config_section>>);
static_assert(owning_record<brol_config_section>);
static_assert(owning_record<brol_config>);
static_assert(owning_record<brol_replace_file>);
static_assert(!std::is_copy_constructible_v<brol_scoped<brol_string>> &&
              !std::is_move_constructible_v<brol_scoped<brol_string>>);
// A scoped stream needs its buffer size, as init does; a string also takes its first text.
static_assert(!std::is_default_constructible_v<brol_scoped<brol_stream>>);
static_assert(std::is_constructible_v<brol_scoped<brol_stream>, std::int64_t>);
static_assert(std::is_constructible_v<brol_scoped<brol_string>, const char*>);
static_assert(!std::is_convertible_v<const char*, brol_scoped<brol_string>>);

TEST(BrolScoped, ReleasesAtTheEndOfItsScope) {
  // Every record below allocates; the leak checker of the test run sees any that is not released.
  brol_test::temp_dir dir;
  const std::string path = dir.file("scoped.txt");
  brol_test::write_file(path, "line\n");
  const brol_test::platform_watch watch;
  {
    brol_scoped<brol_string> s("text");
    EXPECT_STREQ(s.c_str(), "text");
    brol_scoped<brol_string_array> a(2);
    EXPECT_TRUE(brol_split("a,b,c", a, ','));
    EXPECT_EQ(a.size(), 3);
    brol_scoped<brol_list<brol_string>> l;
    ASSERT_NE(l.add(nullptr), nullptr);
    brol_scoped<brol_dict<brol_string>> d;
    ASSERT_NE(d.find_or_add("key"), nullptr);
    brol_scoped<brol_config> c;
    EXPECT_TRUE(c.set("s", "k", "v", '=', 0));
    brol_scoped<brol_stream> f(64);
    ASSERT_TRUE(f.open(path.c_str(), brol_open_read));
    EXPECT_EQ(f.get_byte(), 'l');
    EXPECT_EQ(brol_test::open_handles(), 1);
  }
  EXPECT_EQ(brol_test::open_handles(), 0);
}

TEST(BrolScoped, SwapHandsContentsOver) {
  brol_scoped<brol_string> a("first"), b;
  const char* text = a.text;
  a.swap(b);
  EXPECT_EQ(a.text, nullptr);
  EXPECT_EQ(b.text, text);
  EXPECT_STREQ(b.c_str(), "first");

  brol_scoped<brol_list<brol_string>> one, two;
  std::int32_t id = -1;
  brol_string* value = one.add(&id);
  ASSERT_NE(value, nullptr);
  value->assign("kept");
  ASSERT_NE(two.add(nullptr), nullptr);
  ASSERT_NE(two.add(nullptr), nullptr);
  one.swap(two);
  EXPECT_EQ(one.next_id, 2);
  EXPECT_EQ(two.next_id, 1);
  ASSERT_NE(two.first, nullptr);
  EXPECT_EQ(&two.first->value, value);  // the element stayed where it was
  EXPECT_EQ(two.first, two.last);
  EXPECT_STREQ(value->c_str(), "kept");
  two.remove(id);
  EXPECT_EQ(two.first, nullptr);
  EXPECT_NE(one.first, nullptr);
}

}  // namespace
