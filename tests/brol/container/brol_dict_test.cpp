// brol_dict: the hash values, lookup and creation, insertion order, re-filing, splits down to level
// 7, clearing, allocation failures, and a long random sequence against std::unordered_map.
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

template <class T>
struct scoped_dict {
  brol_dict<T> dict;
  scoped_dict() { dict.init(); }
  ~scoped_dict() { dict.destroy(); }
  brol_dict<T>* operator->() { return &dict; }
};

// The hash state after one more byte, and the final folding, written out as eight terms.
std::uint32_t hash_step(std::uint32_t h, unsigned char c) {
  if ((((h >> 13) ^ (h >> 3) ^ (h >> 7)) & 1u) != 0) {
    h ^= 0x1374F2EEu;
  }
  return (h + c * 0x811C9DC5u) * 0x811C9DC5u - 0x7CAA26AAu;
}
std::uint32_t hash_fold(std::uint32_t h) {
  std::uint32_t r = h;
  for (int shift = 4; shift < 32; shift += 4) {
    r ^= h >> shift;
  }
  return r;
}
std::uint32_t hash_of(const std::string& s) {
  std::uint32_t h = 0xF00DFEEDu;
  for (char c : s) {
    h = hash_step(h, static_cast<unsigned char>(c));
  }
  return hash_fold(h);
}

// 2^stages different keys with one hash: per stage two four-letter blocks that lead the hash state
// to the same value (found by the birthday paradox), so every choice of blocks collides.
std::vector<std::string> colliding_keys(int stages) {
  std::vector<std::string> keys = {""};
  std::uint32_t state = 0xF00DFEEDu;
  for (int stage = 0; stage < stages; ++stage) {
    std::unordered_map<std::uint32_t, std::string> seen;
    for (std::uint32_t n = 0;; ++n) {
      std::string block;
      std::uint32_t h = state;
      for (std::uint32_t m = n + 7919u * static_cast<std::uint32_t>(stage), i = 0; i < 4; ++i, m /= 52) {
        const char c = static_cast<char>(m % 52 < 26 ? 'a' + m % 52 : 'A' + m % 52 - 26);
        block += c;
        h = hash_step(h, static_cast<unsigned char>(c));
      }
      auto [it, fresh] = seen.emplace(h, block);
      if (!fresh && it->second != block) {
        std::vector<std::string> longer;
        for (const std::string& k : keys) {
          longer.push_back(k + it->second);
          longer.push_back(k + block);
        }
        keys.swap(longer);
        state = h;
        break;
      }
    }
  }
  return keys;
}

// Keys whose hashes agree in the bits of mask, as many as asked.
std::vector<std::string> keys_sharing(std::uint32_t mask, std::uint32_t bits, std::size_t count) {
  std::vector<std::string> keys;
  for (int n = 0; keys.size() < count; ++n) {
    std::string key = "k";
    key += std::to_string(n);
    if ((brol_hash(key.c_str()) & mask) == bits) {
      keys.push_back(key);
    }
  }
  return keys;
}

std::vector<std::string> keys_in_order(string_dict& d) {
  std::vector<std::string> keys;
  brol_dict_iter<brol_string> it;
  for (it.begin(d); it.value() != nullptr; it.advance()) {
    keys.push_back(it.key());
  }
  return keys;
}

TEST(BrolHash, FixedValues) {
  struct row {
    const char* text;
    std::uint32_t hash;
    std::uint32_t root_slot;
  };
  const std::vector<row> rows = {{"", 0xFFF2D3D0u, 0}, {"abc", 0xFFF96054u, 4}, {nullptr, 0xFFF2D3D0u, 0}};
  for (const row& r : rows) {
    EXPECT_EQ(brol_hash(r.text), r.hash) << (r.text ? r.text : "null");
    EXPECT_EQ(brol_hash(r.text) & 15u, r.root_slot);
  }
  EXPECT_EQ(hash_fold(0xF00DFEEDu), 0xFFF2D3D0u);
  EXPECT_EQ(hash_fold(0xF006F651u), 0xFFF96054u);
}

TEST(BrolHash, MatchesTheAlgorithmForEveryByte) {
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    std::string s;
    for (std::size_t n = static_cast<std::size_t>(rng() % 40); n > 0; --n) {
      s += static_cast<char>(1 + rng() % 255);
    }
    ASSERT_EQ(brol_hash(s.c_str()), hash_of(s)) << i;
  }
}

TEST(BrolDict, ConstructionValues) {
  scoped_dict<int> d;
  EXPECT_EQ(d->order.first, nullptr);
  EXPECT_EQ(d->order.anchor, nullptr);
  EXPECT_EQ(d->order.cleared, 1);
  EXPECT_EQ(d->order.next_id, 0);
  EXPECT_EQ(d->order.max_id, 2147483647);
  EXPECT_EQ(d->root.level, 0);
  EXPECT_EQ(d->root.split, 0);
  for (void* slot : d->root.slot) {
    EXPECT_EQ(slot, nullptr);
  }
  EXPECT_EQ(d->find("anything"), nullptr);
}

TEST(BrolDict, FindOrAddTwiceIsOneEntry) {
  scoped_dict<brol_string> d;
  d->find_or_add("other");
  brol_string* value = d->find_or_add("key");
  ASSERT_NE(value, nullptr);
  EXPECT_TRUE(value->is_empty());
  value->assign("v");
  EXPECT_EQ(d->last_id, 1);
  d->last_id = 99;
  EXPECT_EQ(d->find_or_add("key"), value);
  EXPECT_EQ(d->last_id, 1);
  d->last_id = 99;
  EXPECT_EQ(d->find("key"), value);
  EXPECT_EQ(d->last_id, 1);
  EXPECT_EQ(d->find("missing"), nullptr);
  EXPECT_EQ(d->last_id, 1);
  EXPECT_EQ(d->order.next_id, 2);
  EXPECT_STREQ(d->find("key")->c_str(), "v");
  EXPECT_EQ(d->find_hashed("key", brol_hash("key")), &string_dict::entry_of(d->order.last)->node);
  EXPECT_EQ(d->find_hashed("key", brol_hash("key") ^ 0x100u), nullptr);
  EXPECT_TRUE(dict_sound(d.dict));
}

TEST(BrolDict, KeysAreCaseSensitiveAndNullIsEmpty) {
  scoped_dict<int> d;
  must(d->find_or_add("Port")) = 1;
  must(d->find_or_add("port")) = 2;
  must(d->find_or_add("")) = 3;
  EXPECT_EQ(must(d->find("Port")), 1);
  EXPECT_EQ(must(d->find("port")), 2);
  EXPECT_EQ(d->find("PORT"), nullptr);
  EXPECT_EQ(must(d->find(nullptr)), 3);
  EXPECT_EQ(d->find_or_add(nullptr), d->find(""));
  EXPECT_EQ(d->order.next_id, 3);
}

TEST(BrolDict, IterationFollowsFirstAddition) {
  scoped_dict<brol_string> d;
  string_dict empty;
  empty.init();
  brol_dict_iter<brol_string> it;
  EXPECT_EQ(it.value(), nullptr);
  EXPECT_STREQ(it.key(), "");
  it.begin(empty);
  EXPECT_EQ(it.value(), nullptr);
  EXPECT_STREQ(it.key(), "");
  empty.destroy();
  const std::vector<std::string> keys = {"zeta", "alpha", "", "mid", "beta"};
  for (const std::string& k : keys) {
    d->find_or_add(k.c_str());
  }
  d->find_or_add("alpha");
  d->find("zeta");
  EXPECT_EQ(keys_in_order(d.dict), keys);
}

TEST(BrolDict, NinthKeyOnOneSlotSplitsIt) {
  scoped_dict<int> d;
  const auto keys = keys_sharing(15u, 6u, 9);
  for (std::size_t i = 0; i < 8; ++i) {
    must(d->find_or_add(keys[i].c_str())) = static_cast<int>(i);
  }
  EXPECT_EQ(d->root.split, 0);
  must(d->find_or_add(keys[8].c_str())) = 8;
  EXPECT_EQ(d->root.split, 1u << 6);
  const auto* sub = static_cast<const brol_dict_table*>(d->root.slot[6]);
  EXPECT_EQ(sub->level, 1);
  EXPECT_EQ(sub->split, 0);
  std::int64_t in_sub = 0;
  for (void* slot : sub->slot) {
    for (auto* e = static_cast<brol_dict_node*>(slot); e != nullptr; e = e->chain_next) {
      EXPECT_EQ(e->table, sub);
      ++in_sub;
    }
  }
  EXPECT_EQ(in_sub, 9);
  for (std::size_t i = 0; i < 9; ++i) {
    ASSERT_NE(d->find(keys[i].c_str()), nullptr);
    EXPECT_EQ(must(d->find(keys[i].c_str())), static_cast<int>(i));
  }
  EXPECT_TRUE(dict_sound(d.dict));
}

TEST(BrolDict, ClearEmptiesTheTrieAndRestartsTheIds) {
  scoped_dict<brol_string> d;
  const auto keys = keys_sharing(0xFFu, 0x21u, 30);
  for (const auto& k : keys) {
    d->find_or_add(k.c_str())->assign(k.c_str());
  }
  EXPECT_GE(table_count(&d->root), 2);
  d->order.base_id = 5;
  d->clear();
  EXPECT_EQ(d->root.split, 0);
  EXPECT_EQ(table_count(&d->root), 0);
  EXPECT_EQ(d->order.first, nullptr);
  for (const auto& k : keys) {
    EXPECT_EQ(d->find(k.c_str()), nullptr);
  }
  d->find_or_add("again");
  EXPECT_EQ(d->last_id, 5);
  EXPECT_TRUE(dict_sound(d.dict));
}

TEST(BrolDict, InsertCreatesReportsAndRefiles) {
  scoped_dict<brol_string> d;
  entry* a = nullptr;
  EXPECT_EQ(d->insert("a", &a, nullptr), 1);
  ASSERT_NE(a, nullptr);
  a->value.assign("value of a");
  EXPECT_EQ(d->find("a"), &a->value);  // a new entry is owned and listed like find_or_add's
  entry* b = nullptr;
  d->insert("b", &b, nullptr);
  entry* found = nullptr;
  EXPECT_EQ(d->insert("a", &found, b), 0);  // present: reported, b stays
  EXPECT_EQ(found, a);
  EXPECT_STREQ(b->node.key.c_str(), "b");
  EXPECT_EQ(d->insert("renamed", &found, a), 1);  // a re-filed: same id, value and place
  EXPECT_EQ(found, a);
  EXPECT_EQ(a->node.id, 0);
  EXPECT_EQ(d->find("a"), nullptr);
  EXPECT_EQ(d->find("renamed"), &a->value);
  EXPECT_STREQ(a->value.c_str(), "value of a");
  EXPECT_EQ(keys_in_order(d.dict), (std::vector<std::string>{"renamed", "b"}));
  EXPECT_EQ(d->insert("renamed", nullptr, nullptr), 0);
  EXPECT_EQ(d->order.next_id, 2);
  EXPECT_TRUE(dict_sound(d.dict));
}

TEST(BrolDict, IdLimitRefusesNewEntries) {
  scoped_dict<int> d;
  d->find_or_add("one");
  d->order.max_id = d->order.next_id;
  d->last_id = 42;
  EXPECT_EQ(d->find_or_add("two"), nullptr);
  EXPECT_EQ(d->last_id, 42);
  brol_dict_entry<int>* out = reinterpret_cast<brol_dict_entry<int>*>(std::uintptr_t{0x5000});
  EXPECT_EQ(d->insert("two", &out, nullptr), 0);
  EXPECT_EQ(out, nullptr);
  EXPECT_NE(d->find_or_add("one"), nullptr);  // present keys are still found
  EXPECT_TRUE(dict_sound(d.dict));
}

TEST(BrolDict, SectionsOfLinesAreReleased) {
  scoped_dict<brol_list<brol_string>> d;
  for (const char* name : {"global", "net", "paths"}) {
    brol_list<brol_string>* section = d->find_or_add(name);
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(section->first, nullptr);
    EXPECT_EQ(section->max_id, 2147483647);
    section->add(nullptr)->assign("key=value");
  }
  // The leak checker sees it when clear forgets a section's lines.
}

// Keys with one and the same 32-bit hash end in one level-7 chain below exactly seven sub-tables, and
// every one is still found.
TEST(BrolDict, ThousandsOfKeysWithOneHash) {
  const auto keys = colliding_keys(12);
  ASSERT_EQ(keys.size(), 4096u);
  const std::uint32_t hash = brol_hash(keys[0].c_str());
  for (const auto& k : keys) {
    ASSERT_EQ(brol_hash(k.c_str()), hash) << k;
  }
  scoped_dict<int> d;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    must(d->find_or_add(keys[i].c_str())) = static_cast<int>(i);
  }
  EXPECT_EQ(table_count(&d->root), 7);
  const brol_dict_table* t = &d->root;
  while (t->is_split(t->slot_of(hash))) {
    t = static_cast<const brol_dict_table*>(t->slot[t->slot_of(hash)]);
  }
  EXPECT_EQ(t->level, 7);
  std::size_t chain = 0;
  for (auto* e = static_cast<brol_dict_node*>(t->slot[t->slot_of(hash)]); e != nullptr; e = e->chain_next) {
    ++chain;
  }
  EXPECT_EQ(chain, keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    ASSERT_NE(d->find(keys[i].c_str()), nullptr) << keys[i];
    ASSERT_EQ(must(d->find(keys[i].c_str())), static_cast<int>(i));
  }
  EXPECT_TRUE(dict_sound(d.dict));
}

struct snapshot {
  std::vector<std::string> keys;
  std::vector<std::string> values;
  std::int32_t next_id;
  std::int64_t tables;
  bool operator==(const snapshot&) const = default;
};

snapshot take(string_dict& d) {
  snapshot s{keys_in_order(d), {}, d.order.next_id, table_count(&d.root)};
  for (auto* e = d.order.first; e != nullptr; e = e->next) {
    s.values.push_back(string_dict::entry_of(e)->value.c_str());
  }
  return s;
}

// Every failing allocation of find_or_add, insert of a new entry and re-filing leaves the
// dictionary unchanged and sound.
TEST(BrolDict, AllocationFailuresChangeNothing) {
  struct operation {
    const char* name;
    std::function<bool(string_dict&)> run;  // true when an entry was filed
  };
  const std::vector<operation> operations = {
      {"find_or_add", [](string_dict& d) { return d.find_or_add("new key") != nullptr; }},
      {"insert", [](string_dict& d) { return d.insert("new key", nullptr, nullptr) == 1; }},
      {"insert moved",
       [](string_dict& d) { return d.insert("new key", nullptr, string_dict::entry_of(d.order.first)) == 1; }},
  };
  for (const operation& op : operations) {
    string_dict d;
    d.init();
    snapshot before;
    bool filed = false;
    const auto tried = brol_test::for_each_allocation_failure(
        [&] {
          d.destroy();
          d.init();
          for (const char* k : {"one", "two", "three"}) {
            d.find_or_add(k)->assign(k);
          }
          before = take(d);
        },
        [&] { filed = op.run(d); },
        [&](std::int64_t n) {
          EXPECT_FALSE(filed) << op.name << " failing allocation " << n;
          EXPECT_TRUE(take(d) == before) << op.name << " failing allocation " << n;
          EXPECT_TRUE(dict_sound(d)) << op.name;
          EXPECT_EQ(d.find("new key"), nullptr);
          EXPECT_STREQ(d.find("one")->c_str(), "one");
        });
    EXPECT_GE(tried, 1) << op.name;
    d.destroy();
  }
}

// When the sub-table of a split cannot be allocated the entry is filed into the unsplit chain; the
// next insertion into that chain splits it.
TEST(BrolDict, FailedSplitKeepsTheChainWhole) {
  const auto keys = keys_sharing(15u, 9u, 10);
  string_dict d;
  d.init();
  const auto tried = brol_test::for_each_allocation_failure(
      [&] {
        d.destroy();
        d.init();
        for (std::size_t i = 0; i < 8; ++i) {
          d.find_or_add(keys[i].c_str());
        }
      },
      [&] { d.find_or_add(keys[8].c_str()); },
      [&](std::int64_t n) {
        EXPECT_TRUE(dict_sound(d));
        EXPECT_EQ(d.root.split, 0) << n;
        if (n < 3) {  // the entry or its key
          EXPECT_EQ(d.find(keys[8].c_str()), nullptr);
          return;
        }
        EXPECT_NE(d.find(keys[8].c_str()), nullptr);
        d.find_or_add(keys[9].c_str());
        EXPECT_EQ(d.root.split, 1u << 9);
        EXPECT_TRUE(dict_sound(d));
      });
  EXPECT_EQ(tried, 3);
  d.destroy();
}

// A long random sequence of dictionary operations against std::unordered_map and an insertion-order
// vector, with the structure checked after every step. The key pool mixes short keys (deep splits
// through sheer number) with a family of keys of one hash (level-7 chains).
TEST(BrolDict, RandomSequenceMatchesUnorderedMap) {
  std::mt19937 rng(99);
  auto draw = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  std::vector<std::string> pool = colliding_keys(5);
  for (int i = 0; i < 600; ++i) {
    pool.push_back(std::to_string(i * 7919 % 100000));
  }
  pool.push_back("");
  scoped_dict<brol_string> d;
  std::unordered_map<std::string, std::int32_t> ids;    // key -> id
  ids.reserve(pool.size());
  std::unordered_map<std::int32_t, std::string> value;  // id -> value text
  std::vector<std::int32_t> order;
  std::int32_t next_id = 0;
  std::int64_t most_tables = 0;
  for (int step = 0; step < 5000; ++step) {
    const std::string& key = pool[draw(pool.size())];
    const std::size_t op = draw(1000);
    const auto known = ids.find(key);
    if (op < 450) {
      brol_string* v = d->find_or_add(key.c_str());
      ASSERT_NE(v, nullptr);
      if (known == ids.end()) {
        v->assign(("value " + std::to_string(step)).c_str());
        ids[key] = next_id;
        value[next_id] = v->c_str();
        order.push_back(next_id++);
      }
      ASSERT_EQ(d->last_id, ids.at(key));
      ASSERT_EQ(value.at(ids.at(key)), v->c_str());
    } else if (op < 800) {
      brol_string* v = d->find(key.c_str());
      ASSERT_EQ(v != nullptr, known != ids.end()) << key;
      if (v != nullptr) {
        ASSERT_EQ(d->last_id, known->second);
      }
    } else if (op < 999 && !order.empty()) {
      // Re-file a random entry under key.
      entry* moved = string_dict::entry_of(d->order.first);
      for (std::size_t skip = draw(order.size()); skip > 0; --skip) {
        moved = string_dict::entry_of(moved->node.next);
      }
      const std::string old_key = moved->node.key.c_str();
      entry* out = nullptr;
      const int filed = d->insert(key.c_str(), &out, moved);
      ASSERT_EQ(filed, known == ids.end() ? 1 : 0);
      ASSERT_NE(out, nullptr);
      ASSERT_STREQ(out->node.key.c_str(), key.c_str());
      if (filed) {
        ASSERT_EQ(out, moved);
        ids[key] = ids[old_key];
        ids.erase(old_key);
      }
    } else {
      d->clear();
      ids.clear();
      value.clear();
      order.clear();
      next_id = 0;
    }
    ASSERT_TRUE(dict_sound(d.dict)) << "step " << step;
    ASSERT_EQ(d->order.next_id, next_id);
    std::size_t i = 0;
    for (auto* e = d->order.first; e != nullptr; e = e->next, ++i) {
      ASSERT_LT(i, order.size());
      ASSERT_EQ(e->id, order[i]);
      ASSERT_EQ(ids.at(e->key.c_str()), e->id);
      ASSERT_EQ(value.at(e->id), string_dict::entry_of(e)->value.c_str());
    }
    ASSERT_EQ(i, order.size());
    most_tables = std::max(most_tables, table_count(&d->root));
  }
  EXPECT_GE(most_tables, 20);  // the sequence did reach deep splits
}

}  // namespace
