// Node operations on bare chains: the validity rule, walking and counting, unlinking, swapping.
#include "brol/container/brol_node.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "container_check.h"

namespace {

using container_check::must;

struct item {
  item* prev;
  item* next;
  char name;
};

// Items named by the letters of names, linked in that order.
struct chain {
  std::vector<item> items;
  explicit chain(const std::string& names) : items(names.size()) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      items[i] = {i > 0 ? &items[i - 1] : nullptr, i + 1 < names.size() ? &items[i + 1] : nullptr, names[i]};
    }
  }
  item* operator[](char name) {
    for (item& it : items) {
      if (it.name == name) {
        return &it;
      }
    }
    throw std::invalid_argument("no such item");
  }
};

// The names from the first element of x's chain on; "broken" when a prev link disagrees.
std::string order(item* x) {
  std::string names;
  item* before = nullptr;
  for (item* it = brol_node_first(x); it != nullptr; before = it, it = it->next) {
    names += it->prev == before ? it->name : '!';
  }
  return names;
}

TEST(BrolNode, AddressesBelow4096CountAsNoNode) {
  item lone{nullptr, nullptr, 'x'};
  for (std::uintptr_t address : {0x0u, 0x10u, 0xFFFu}) {
    item* bad = reinterpret_cast<item*>(address);
    EXPECT_EQ(brol_node_count(bad) + brol_node_position(bad) + brol_node_remaining(bad), 0);
    EXPECT_EQ(brol_node_first(bad), nullptr);
    EXPECT_EQ(brol_node_last(bad), nullptr);
    EXPECT_EQ(brol_node_next(bad), nullptr);
    EXPECT_EQ(brol_node_unlink(bad), nullptr);
    EXPECT_FALSE(brol_node_contains(bad, &lone));
    EXPECT_FALSE(brol_node_swap(bad, &lone));
    EXPECT_EQ(brol_node_insert_before(bad, &lone), bad);
    brol_node_append(bad, &lone);
  }
  EXPECT_EQ(lone.prev, nullptr);
  EXPECT_EQ(lone.next, nullptr);
  EXPECT_EQ(brol_node_count(&lone), 1);
}

TEST(BrolNode, CountsAndWalks) {
  chain c("abcd");
  const std::vector<std::pair<char, std::int64_t>> positions = {{'a', 1}, {'b', 2}, {'d', 4}};
  for (auto [name, position] : positions) {
    EXPECT_EQ(brol_node_count(c[name]), 4);
    EXPECT_EQ(brol_node_position(c[name]), position);
    EXPECT_EQ(brol_node_remaining(c[name]), 5 - position);
    EXPECT_EQ(must(brol_node_first(c[name])).name, 'a');
    EXPECT_EQ(must(brol_node_last(c[name])).name, 'd');
  }
  EXPECT_TRUE(brol_node_contains(c['c'], c['a']));
  EXPECT_FALSE(brol_node_contains(c['c'], static_cast<item*>(nullptr)));
}

TEST(BrolNode, LinkingAndUnlinking) {
  chain c("abc");
  item x{nullptr, nullptr, 'x'}, y{nullptr, nullptr, 'y'}, z{nullptr, nullptr, 'z'};
  item lone{nullptr, nullptr, 'l'};
  EXPECT_EQ(brol_node_unlink(&lone), nullptr);
  EXPECT_EQ(brol_node_unlink(c['c']), c['b']);  // the last: its former prev
  EXPECT_EQ(brol_node_unlink(c['a']), c['b']);  // otherwise the former next
  EXPECT_EQ(order(c['b']), "b");
  EXPECT_EQ(c['a']->next, nullptr);
  EXPECT_EQ(brol_node_insert_before(c['b'], &x), c['b']);
  EXPECT_EQ(brol_node_insert_after(&x, &y), &x);
  brol_node_append(&y, &z);
  EXPECT_EQ(order(&x), "xybz");
  EXPECT_EQ(brol_node_set_next(&z, c['a']), c['a']);
  EXPECT_EQ(brol_node_set_prev(&x, c['c']), c['c']);
  EXPECT_EQ(brol_node_set_next(c['a'], static_cast<item*>(nullptr)), c['a']);
  EXPECT_EQ(order(&x), "cxybza");
}

TEST(BrolNode, Swap) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"ab", "bacde"}, {"ba", "bacde"}, {"de", "abced"}, {"ed", "abced"}, {"bc", "acbde"},
      {"cb", "acbde"}, {"ae", "ebcda"}, {"ea", "ebcda"}, {"bd", "adcbe"}, {"ca", "cbade"},
  };
  for (const auto& [pair, expected] : rows) {
    chain c("abcde");
    EXPECT_TRUE(brol_node_swap(c[pair[0]], c[pair[1]]));
    EXPECT_EQ(order(c['a']), expected) << pair;
  }
  chain c("abc"), other("xy");
  EXPECT_FALSE(brol_node_swap(c['a'], other['x']));
  EXPECT_FALSE(brol_node_swap(c['b'], c['b']));
  EXPECT_FALSE(brol_node_swap(c['b'], static_cast<item*>(nullptr)));
  EXPECT_EQ(order(c['a']) + order(other['x']), "abcxy");
}

}  // namespace
