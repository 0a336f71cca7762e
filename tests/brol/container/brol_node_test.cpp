// Node operations on bare chains: the validity rule, walking and counting, unlinking, swapping.
#include "brol/container/brol_node.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <stdexcept>
#include <vector>

#include "container_check.h"

namespace {

using container_check::must;

struct item {
  item* prev;
  item* next;
  char name;
};

// A chain of items named by the letters of names, linked in that order.
struct chain {
  std::vector<item> items;
  explicit chain(const std::string& names) : items(names.size()) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      items[i] = {i > 0 ? &items[i - 1] : nullptr, i + 1 < names.size() ? &items[i + 1] : nullptr, names[i]};
    }
  }
  item* at(char name) {
    for (item& it : items) {
      if (it.name == name) {
        return &it;
      }
    }
    throw std::invalid_argument("no such item");
  }
};

// The names from the first element of x's chain forwards, checking every prev link on the way.
std::string order(item* x) {
  std::string names;
  item* before = nullptr;
  for (item* it = brol_node_first(x); it != nullptr; before = it, it = it->next) {
    if (it->prev != before) {
      return "broken at " + std::string(1, it->name);
    }
    names += it->name;
  }
  return names;
}

item* const invalid = reinterpret_cast<item*>(std::uintptr_t{0x10});
item* const last_invalid = reinterpret_cast<item*>(std::uintptr_t{0xFFF});

TEST(BrolNode, InvalidNodesCountAsNone) {
  item lone{nullptr, nullptr, 'x'};
  for (item* bad : {static_cast<item*>(nullptr), invalid, last_invalid}) {
    EXPECT_EQ(brol_node_count(bad), 0);
    EXPECT_EQ(brol_node_position(bad), 0);
    EXPECT_EQ(brol_node_remaining(bad), 0);
    EXPECT_EQ(brol_node_first(bad), nullptr);
    EXPECT_EQ(brol_node_last(bad), nullptr);
    EXPECT_EQ(brol_node_next(bad), nullptr);
    EXPECT_EQ(brol_node_prev(bad), nullptr);
    EXPECT_EQ(brol_node_unlink(bad), nullptr);
    EXPECT_FALSE(brol_node_contains(bad, &lone));
    EXPECT_FALSE(brol_node_swap(bad, &lone));
    EXPECT_EQ(brol_node_insert_before(bad, &lone), bad);
    EXPECT_EQ(brol_node_insert_after(bad, &lone), bad);
    brol_node_append(bad, &lone);
  }
  EXPECT_EQ(lone.prev, nullptr);
  EXPECT_EQ(lone.next, nullptr);
  // A null item changes nothing either.
  chain c("ab");
  EXPECT_EQ(brol_node_insert_before(c.at('a'), static_cast<item*>(nullptr)), c.at('a'));
  brol_node_append(c.at('a'), static_cast<item*>(nullptr));
  EXPECT_EQ(order(c.at('a')), "ab");
}

TEST(BrolNode, CountsAndWalks) {
  struct row {
    char node;
    std::int64_t position, remaining;
    char first, last;
  };
  const std::vector<row> rows = {{'a', 1, 4, 'a', 'd'}, {'b', 2, 3, 'a', 'd'}, {'d', 4, 1, 'a', 'd'}};
  chain c("abcd");
  for (const row& r : rows) {
    item* x = c.at(r.node);
    EXPECT_EQ(brol_node_count(x), 4) << r.node;
    EXPECT_EQ(brol_node_position(x), r.position) << r.node;
    EXPECT_EQ(brol_node_remaining(x), r.remaining) << r.node;
    EXPECT_EQ(must(brol_node_first(x)).name, r.first);
    EXPECT_EQ(must(brol_node_last(x)).name, r.last);
  }
  item lone{nullptr, nullptr, 'x'};
  EXPECT_EQ(brol_node_count(&lone), 1);
  EXPECT_EQ(brol_node_first(&lone), &lone);
  EXPECT_EQ(brol_node_last(&lone), &lone);
  EXPECT_TRUE(brol_node_contains(c.at('c'), c.at('a')));
  EXPECT_FALSE(brol_node_contains(c.at('c'), &lone));
  EXPECT_FALSE(brol_node_contains(c.at('c'), static_cast<item*>(nullptr)));
}

TEST(BrolNode, UnlinkReturnsTheNeighbour) {
  item lone{nullptr, nullptr, 'x'};
  EXPECT_EQ(brol_node_unlink(&lone), nullptr);
  chain c("abc");
  EXPECT_EQ(brol_node_unlink(c.at('c')), c.at('b'));  // the last: its former prev
  EXPECT_EQ(order(c.at('a')), "ab");
  EXPECT_EQ(brol_node_unlink(c.at('a')), c.at('b'));  // otherwise the former next
  EXPECT_EQ(order(c.at('b')), "b");
  EXPECT_EQ(c.at('a')->next, nullptr);
  EXPECT_EQ(c.at('c')->prev, nullptr);
}

TEST(BrolNode, InsertAndAppend) {
  chain c("ab");
  item x{nullptr, nullptr, 'x'}, y{nullptr, nullptr, 'y'}, z{nullptr, nullptr, 'z'}, w{nullptr, nullptr, 'w'};
  EXPECT_EQ(brol_node_insert_before(c.at('a'), &x), c.at('a'));
  EXPECT_EQ(order(&x), "xab");
  EXPECT_EQ(brol_node_insert_after(c.at('a'), &y), c.at('a'));
  EXPECT_EQ(order(&x), "xayb");
  brol_node_insert_after(c.at('b'), &z);
  EXPECT_EQ(order(&x), "xaybz");
  brol_node_append(&x, &w);  // walks to the real end
  EXPECT_EQ(order(&x), "xaybzw");
}

TEST(BrolNode, SetNextAndSetPrev) {
  item a{nullptr, nullptr, 'a'}, b{nullptr, nullptr, 'b'}, c{nullptr, nullptr, 'c'};
  EXPECT_EQ(brol_node_set_next(&a, &b), &b);
  EXPECT_EQ(brol_node_set_prev(&a, &c), &c);
  EXPECT_EQ(order(&a), "cab");
  EXPECT_EQ(brol_node_set_next(&b, static_cast<item*>(nullptr)), &b);
  EXPECT_EQ(brol_node_set_prev(&c, static_cast<item*>(nullptr)), &c);
  EXPECT_EQ(order(&b), "cab");
}

TEST(BrolNode, Swap) {
  struct row {
    char a, b;
    const char* expected;
  };
  const std::vector<row> rows = {
      {'a', 'b', "bacde"}, {'b', 'a', "bacde"},  // adjacent at the head, both orders
      {'d', 'e', "abced"}, {'e', 'd', "abced"},  // adjacent at the tail
      {'b', 'c', "acbde"}, {'c', 'b', "acbde"},  // adjacent inside
      {'a', 'e', "ebcda"}, {'e', 'a', "ebcda"},  // the two ends
      {'b', 'd', "adcbe"}, {'a', 'c', "cbade"},
  };
  for (const row& r : rows) {
    chain c("abcde");
    EXPECT_TRUE(brol_node_swap(c.at(r.a), c.at(r.b)));
    EXPECT_EQ(order(c.at('a')), r.expected) << r.a << r.b;
    EXPECT_EQ(brol_node_count(c.at('c')), 5);
  }
  chain c("abc"), other("xy");
  EXPECT_FALSE(brol_node_swap(c.at('a'), other.at('x')));
  EXPECT_FALSE(brol_node_swap(c.at('b'), c.at('b')));
  EXPECT_FALSE(brol_node_swap(c.at('b'), static_cast<item*>(nullptr)));
  EXPECT_EQ(order(c.at('a')), "abc");
  EXPECT_EQ(order(other.at('x')), "xy");
}

}  // namespace
