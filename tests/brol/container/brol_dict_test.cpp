// brol_dict: the hash values, lookup and insertion order, re-filing, splits down to level 7, clearing,
// allocation failures, and a long random sequence against std::unordered_map.
#include "brol/container/brol_dict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "brol_test_support.h"
#include "container_check.h"

namespace {

using container_check::dict_sound;
using container_check::must;
using container_check::table_count;
using string_dict = brol_dict<brol_string>;
using entry = string_dict::entry;
using keys = std::vector<std::string>;

template <class T>
using scoped_dict = brol_scoped<brol_dict<T>>;

// The hash state after one more byte, as the algorithm states it.
std::uint32_t hash_step(std::uint32_t h, unsigned char c) {
  if ((((h >> 13) ^ (h >> 3) ^ (h >> 7)) & 1u) != 0) {
    h ^= 0x1374F2EEu;
  }
  return (h + c * 0x811C9DC5u) * 0x811C9DC5u - 0x7CAA26AAu;
}

std::uint32_t reference_hash(const std::string& s) {
  std::uint32_t h = 0xF00DFEEDu;
  for (char c : s) {
    h = hash_step(h, static_cast<unsigned char>(c));
  }
  std::uint32_t folded = h;
  for (int shift = 4; shift < 32; shift += 4) {
    folded ^= h >> shift;
  }
  return folded;
}

// 2^stages different keys with one hash: per stage two five-letter blocks that take the hash state
// to the same value (found by the birthday paradox), so every choice of blocks collides.
keys colliding_keys(int stages) {
  keys found = {""};
  std::uint32_t state = 0xF00DFEEDu;
  for (std::uint32_t stage = 0; stage < static_cast<std::uint32_t>(stages); ++stage) {
    std::unordered_map<std::uint32_t, std::string> seen;
    for (std::uint32_t n = stage * 7919u;; ++n) {
      std::string block;
      std::uint32_t h = state;
      for (std::uint32_t m = n, i = 0; i < 5; ++i, m /= 26) {
        block += static_cast<char>('a' + m % 26);
        h = hash_step(h, static_cast<unsigned char>(block.back()));
      }
      if (auto [it, fresh] = seen.emplace(h, block); !fresh) {
        keys longer;
        for (const std::string& k : found) {
          longer.insert(longer.end(), {k + it->second, k + block});
        }
        found.swap(longer);
        state = h;
        break;
      }
    }
  }
  return found;
}

// count keys whose hashes have the low nibble given.
keys keys_in_root_slot(std::uint32_t slot, std::size_t count) {
  keys found;
  for (int n = 0; found.size() < count; ++n) {
    std::string key = "k";
    key += std::to_string(n);
    if ((brol_hash(key.c_str()) & 15u) == slot) {
      found.push_back(key);
    }
  }
  return found;
}

keys keys_in_order(string_dict& d) {
  keys found;
  brol_dict_iter<brol_string> it;
  for (it.begin(d); it.value() != nullptr; it.advance()) {
    found.push_back(it.key());
  }
  return found;
}

TEST(BrolHash, FixedValuesAndTheAlgorithm) {
  EXPECT_EQ(brol_hash(""), 0xFFF2D3D0u);
  EXPECT_EQ(brol_hash(nullptr), 0xFFF2D3D0u);
  EXPECT_EQ(brol_hash("abc"), 0xFFF96054u);  // root slot 4; "" is in slot 0
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    std::string s(rng() % 40, ' ');
    std::generate(s.begin(), s.end(), [&rng] { return static_cast<char>(1 + rng() % 255); });
    ASSERT_EQ(brol_hash(s.c_str()), reference_hash(s)) << i;
  }
}

TEST(BrolDict, FindOrAddFindAndOrder) {
  scoped_dict<brol_string> d;
  brol_dict_iter<brol_string> it;
  it.begin(d);
  EXPECT_TRUE(it.value() == nullptr && *it.key() == '\0');
  EXPECT_EQ(d.root.level, 0);
  EXPECT_EQ(d.find("x"), nullptr);
  const keys added = {"zeta", "Key", "", "key", "beta"};  // case matters; "" is a key like any
  for (const std::string& k : added) {
    must(d.find_or_add(k.c_str())).assign(std::string("v").append(k).c_str());
  }
  d.last_id = 99;
  brol_string* value = d.find_or_add("key");
  EXPECT_EQ(d.last_id, 3);
  d.last_id = 99;
  EXPECT_EQ(d.find("key"), value);
  EXPECT_EQ(d.last_id, 3);
  EXPECT_EQ(d.find("KEY"), nullptr);
  EXPECT_EQ(d.last_id, 3);
  EXPECT_STREQ(must(d.find(nullptr)).c_str(), "v");
  EXPECT_EQ(d.find_hashed("key", brol_hash("key") ^ 0x100u), nullptr);
  EXPECT_EQ(d.order.next_id, 5);
  EXPECT_EQ(keys_in_order(d), added);
  EXPECT_TRUE(dict_sound(d));
}

TEST(BrolDict, NinthKeyOfASlotSplitsItAndClearUndoesIt) {
  scoped_dict<brol_string> d;
  const keys nine = keys_in_root_slot(6, 9);
  for (const std::string& k : nine) {
    EXPECT_EQ(d.root.split, 0);
    must(d.find_or_add(k.c_str())).assign(k.c_str());
  }
  EXPECT_EQ(d.root.split, 1u << 6);
  const brol_dict_table& sub = *static_cast<const brol_dict_table*>(d.root.slot[6]);
  EXPECT_EQ(sub.level, 1);
  std::size_t in_sub = 0;
  for (void* slot : sub.slot) {
    for (auto* e = static_cast<brol_dict_node*>(slot); e != nullptr; e = e->chain_next, ++in_sub) {
    }
  }
  EXPECT_EQ(in_sub, 9u);
  for (const std::string& k : nine) {
    EXPECT_STREQ(must(d.find(k.c_str())).c_str(), k.c_str());
  }
  EXPECT_TRUE(dict_sound(d));
  d.order.base_id = 5;
  d.clear();
  EXPECT_EQ(d.root.split, 0);
  EXPECT_EQ(d.find(nine[0].c_str()), nullptr);
  d.find_or_add("again");
  EXPECT_EQ(d.last_id, 5);
  EXPECT_TRUE(dict_sound(d));
}

TEST(BrolDict, InsertCreatesReportsAndRefiles) {
  scoped_dict<brol_string> d;
  entry* a = nullptr;
  entry* b = nullptr;
  entry* out = nullptr;
  EXPECT_EQ(d.insert("a", &a, nullptr), 1);
  must(a).value.assign("value of a");
  EXPECT_EQ(d.find("a"), &a->value);  // a new entry is listed and owned like find_or_add's
  d.insert("b", &b, nullptr);
  EXPECT_EQ(d.insert("a", &out, b), 0);  // present: reported, b stays
  EXPECT_EQ(out, a);
  EXPECT_EQ(d.insert("renamed", &out, a), 1);  // same id, value and place
  EXPECT_EQ(out, a);
  EXPECT_EQ(d.find("a"), nullptr);
  EXPECT_EQ(d.find("renamed"), &a->value);
  EXPECT_EQ(d.last_id, 0);
  EXPECT_EQ(keys_in_order(d), (keys{"renamed", "b"}));
  d.order.max_id = d.order.next_id;  // the id limit refuses new entries only
  EXPECT_EQ(d.find_or_add("c"), nullptr);
  EXPECT_EQ(d.insert("c", &out, nullptr), 0);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(d.insert("c", &out, b), 1);
  EXPECT_TRUE(dict_sound(d));
}

TEST(BrolDict, SectionsOfLinesAreReleased) {
  scoped_dict<brol_list<brol_string>> d;
  for (const char* name : {"global", "net", "paths"}) {
    brol_list<brol_string>& section = must(d.find_or_add(name));
    EXPECT_EQ(section.max_id, 2147483647);
    must(section.add(nullptr)).assign("key=value");  // the leak checker sees a forgotten section
  }
}

// Thousands of keys of one 32-bit hash end in one level-7 chain below exactly seven sub-tables, and
// every one is still found.
TEST(BrolDict, ThousandsOfKeysWithOneHash) {
  const keys same = colliding_keys(12);
  scoped_dict<int> d;
  for (std::size_t i = 0; i < same.size(); ++i) {
    ASSERT_EQ(brol_hash(same[i].c_str()), brol_hash(same[0].c_str())) << same[i];
    must(d.find_or_add(same[i].c_str())) = static_cast<int>(i);
  }
  EXPECT_EQ(table_count(&d.root), 7);
  EXPECT_EQ(d.order.last->table->level, 7);
  for (std::size_t i = 0; i < same.size(); ++i) {
    ASSERT_EQ(must(d.find(same[i].c_str())), static_cast<int>(i));
  }
  EXPECT_TRUE(dict_sound(d));
}

// Every failing allocation of find_or_add, insert and re-filing leaves the dictionary as it was.
// A failing split (the third allocation of the ninth key in a slot) files the key into the unsplit
// chain, and the next key there splits it.
TEST(BrolDict, AllocationFailures) {
  const keys slot9 = keys_in_root_slot(9, 10);
  const std::vector<std::pair<std::int64_t, std::function<bool(string_dict&)>>> operations = {
      {2, [](string_dict& d) { return d.find_or_add("new") != nullptr; }},
      {2, [](string_dict& d) { return d.insert("new", nullptr, nullptr) == 1; }},
      {1, [](string_dict& d) { return d.insert("new", nullptr, string_dict::entry_of(d.order.first)) == 1; }},
      {3, [&slot9](string_dict& d) { return d.find_or_add(slot9[8].c_str()) != nullptr; }},
  };
  for (const auto& [allocations, run] : operations) {
    scoped_dict<brol_string> d;
    bool filed = false;
    const auto tried = brol_test::for_each_allocation_failure(
        [&] {
          d.clear();
          for (std::size_t i = 0; i < 8; ++i) {
            must(d.find_or_add(slot9[i].c_str())).assign("v");
          }
        },
        [&] { filed = run(d); },
        [&](std::int64_t n) {
          EXPECT_TRUE(dict_sound(d));
          EXPECT_EQ(d.root.split, 0);
          EXPECT_EQ(filed, n == 3) << n;
          EXPECT_EQ(d.order.next_id, filed ? 9 : 8);
          EXPECT_EQ(keys_in_order(d), keys(slot9.begin(), slot9.begin() + (filed ? 9 : 8)));
          if (filed) {
            d.find_or_add(slot9[9].c_str());
            EXPECT_EQ(d.root.split, 1u << 9);
          }
        });
    EXPECT_EQ(tried, allocations);
  }
}

// A long random sequence against std::unordered_map and an insertion-order vector, with the
// structure checked after every step. The pool mixes short keys (splits through sheer number) with
// keys of one hash (level-7 chains).
TEST(BrolDict, RandomSequenceMatchesUnorderedMap) {
  std::mt19937 rng(99);
  auto draw = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  keys pool = colliding_keys(5);
  for (int i = 0; i < 600; ++i) {
    pool.push_back(std::to_string(i * 7919 % 100000));
  }
  scoped_dict<brol_string> d;
  std::unordered_map<std::string, std::int32_t> id_of;
  std::unordered_map<std::int32_t, std::string> value_of;
  std::vector<std::int32_t> order;
  std::int64_t most_tables = 0;
  for (int step = 0; step < 5000; ++step) {
    const std::string& key = pool[draw(pool.size())];
    const auto known = id_of.find(key);
    const std::size_t op = draw(1000);
    if (op < 450) {
      brol_string& v = must(d.find_or_add(key.c_str()));
      if (known == id_of.end()) {
        v.assign(std::to_string(step).c_str());
        const auto id = static_cast<std::int32_t>(value_of.size());
        id_of[key] = id;
        value_of[id] = v.c_str();
        order.push_back(id);
      }
      ASSERT_EQ(d.last_id, id_of.at(key));
    } else if (op < 800) {
      ASSERT_EQ(d.find(key.c_str()) != nullptr, known != id_of.end()) << key;
    } else if (op < 999 && !order.empty()) {
      entry* moved = string_dict::entry_of(d.order.first);
      for (std::size_t skip = draw(order.size()); skip > 0; --skip) {
        moved = string_dict::entry_of(moved->node.next);
      }
      const std::string old_key = moved->node.key.c_str();
      entry* out = nullptr;
      ASSERT_EQ(d.insert(key.c_str(), &out, moved), known == id_of.end() ? 1 : 0);
      ASSERT_STREQ(must(out).node.key.c_str(), key.c_str());
      if (known == id_of.end()) {
        id_of[key] = id_of.at(old_key);
        id_of.erase(old_key);
      }
    } else {
      d.clear();
      id_of.clear();
      value_of.clear();
      order.clear();
    }
    ASSERT_TRUE(dict_sound(d)) << "step " << step;
    ASSERT_EQ(d.order.next_id, static_cast<std::int32_t>(value_of.size()));
    std::size_t i = 0;
    for (auto* e = d.order.first; e != nullptr; e = e->next, ++i) {
      ASSERT_TRUE(i < order.size() && e->id == order[i] && id_of.at(e->key.c_str()) == e->id);
      ASSERT_EQ(value_of.at(e->id), string_dict::entry_of(e)->value.c_str());
    }
    ASSERT_EQ(i, order.size());
    most_tables = std::max(most_tables, table_count(&d.root));
  }
  EXPECT_GE(most_tables, 20);  // the sequence did reach deep splits
}

}  // namespace

namespace {

// Swapping exchanges whole contents, split tables and root chains alike (dict_sound checks that
// every entry names the table that chains it), and both stay usable: a re-filed entry leaves the
// chain of its new root.
TEST(BrolDict, SwapExchangesContents) {
  scoped_dict<brol_string> a, b;
  const keys nine = keys_in_root_slot(6, 9);
  for (const std::string& k : nine) must(a.find_or_add(k.c_str())).assign(k.c_str());
  must(a.find_or_add("root chain")).assign("a");
  must(b.find_or_add("only b")).assign("b");
  a.swap(b);
  EXPECT_TRUE(dict_sound(a));
  EXPECT_TRUE(dict_sound(b));
  EXPECT_EQ(keys_in_order(a), keys{"only b"});
  EXPECT_EQ(b.root.split, 1u << 6);
  EXPECT_STREQ(must(b.find("root chain")).c_str(), "a");
  string_dict::entry* moved = string_dict::entry_of(b.find_node("root chain"));
  EXPECT_EQ(b.insert("renamed", nullptr, moved), 1);
  EXPECT_EQ(b.find("root chain"), nullptr);
  EXPECT_STREQ(must(b.find("renamed")).c_str(), "a");
  EXPECT_TRUE(dict_sound(b));
  a.swap(a);
  EXPECT_TRUE(dict_sound(a));
}

}  // namespace
