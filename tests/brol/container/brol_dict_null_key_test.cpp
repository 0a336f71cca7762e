// A null key is the empty key in every dictionary operation.
#include <gtest/gtest.h>

#include "brol/container/brol_dict.h"
#include "brol/container/brol_scoped.h"
#include "brol/string/brol_string.h"
#include "container_check.h"

namespace {

using entry = brol_dict<brol_string>::entry;

using scoped_dict = brol_scoped<brol_dict<brol_string>>;

TEST(BrolDictNullKey, IsTheEmptyKeyEverywhere) {
  scoped_dict d;
  EXPECT_EQ(d.find(nullptr), nullptr);
  brol_string* value = d.find_or_add(nullptr);
  ASSERT_NE(value, nullptr);
  value->assign("empty");
  EXPECT_EQ(d.find(""), value);
  EXPECT_EQ(d.find(nullptr), value);
  EXPECT_EQ(d.find_hashed(nullptr, brol_hash("")), d.find_node(""));
  // Filing under null finds the entry of "" present; a re-filed entry under null becomes "".
  EXPECT_EQ(d.insert(nullptr, nullptr, nullptr), 0);
  entry* other = nullptr;
  ASSERT_EQ(d.insert("other", &other, nullptr), 1);
  entry* out = nullptr;
  EXPECT_EQ(d.insert(nullptr, &out, other), 0);
  EXPECT_EQ(out, d.entry_of(d.find_node("")));
  EXPECT_EQ(d.find("other"), &other->value);
  EXPECT_EQ(d.order.next_id, 2);
  EXPECT_TRUE(container_check::dict_sound(d));
}

}  // namespace
