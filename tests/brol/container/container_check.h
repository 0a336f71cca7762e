// Structural checks of lists and dictionaries, run by the container tests after every step.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <algorithm>
#include <string_view>
#include <vector>

#include "brol/container/brol_dict.h"
#include "brol/container/brol_list.h"

namespace container_check {

// The pointee of a result the test knows to be there; a null one fails the test with an exception.
template <class T>
T& must(T* p) {
  if (p == nullptr) {
    throw std::runtime_error("unexpected null result");
  }
  return *p;
}

// Links symmetric, first/last/anchor right, ids unique (and increasing when asked).
template <class Node>
::testing::AssertionResult chain_sound(const brol_list_header<Node>& h, bool ids_increasing) {
  if ((h.first == nullptr) != (h.last == nullptr) || (h.first == nullptr) != (h.anchor == nullptr)) {
    return ::testing::AssertionFailure() << "first, last and anchor disagree about emptiness";
  }
  if (h.first != nullptr && h.first->prev != nullptr) {
    return ::testing::AssertionFailure() << "first has a prev";
  }
  std::vector<std::int32_t> ids;
  bool anchor_seen = h.anchor == nullptr;
  const Node* before = nullptr;
  for (const Node* n = h.first; n != nullptr; before = n, n = n->next) {
    if (n->prev != before) {
      return ::testing::AssertionFailure() << "prev of id " << n->id << " is not its predecessor";
    }
    if (!ids_increasing) {
      ids.push_back(n->id);
    }
    if (ids_increasing && before != nullptr && before->id >= n->id) {
      return ::testing::AssertionFailure() << "id " << n->id << " after id " << before->id;
    }
    if (n->id < h.base_id || n->id >= h.next_id) {
      return ::testing::AssertionFailure() << "id " << n->id << " outside the numbering";
    }
    anchor_seen = anchor_seen || n == h.anchor;
  }
  if (before != h.last) {
    return ::testing::AssertionFailure() << "last is not the end of the chain";
  }
  if (!anchor_seen) {
    return ::testing::AssertionFailure() << "anchor is not in the chain";
  }
  std::sort(ids.begin(), ids.end());
  if (std::adjacent_find(ids.begin(), ids.end()) != ids.end()) {
    return ::testing::AssertionFailure() << "an id twice";
  }
  return ::testing::AssertionSuccess();
}

template <class T>
std::vector<std::int32_t> ids_of(const brol_list<T>& list) {
  std::vector<std::int32_t> ids;
  for (const brol_list_node<T>* n = list.first; n != nullptr; n = n->next) {
    ids.push_back(n->id);
  }
  return ids;
}

// Every table and chain of the trie below t; counts the entries and tables it meets.
inline ::testing::AssertionResult table_sound(const brol_dict_table* t, std::int64_t* entries,
                                              std::int64_t* tables) {
  if (t->level < 0 || t->level > brol_dict_table::max_level) {
    return ::testing::AssertionFailure() << "table level " << t->level;
  }
  for (std::uint32_t s = 0; s < 16; ++s) {
    if (t->is_split(s)) {
      const auto* sub = static_cast<const brol_dict_table*>(t->slot[s]);
      if (sub == nullptr || sub->level != t->level + 1) {
        return ::testing::AssertionFailure() << "bad sub-table at level " << t->level << " slot " << s;
      }
      ++*tables;
      auto inner = table_sound(sub, entries, tables);
      if (!inner) {
        return inner;
      }
      continue;
    }
    const brol_dict_node* before = nullptr;
    for (auto* e = static_cast<const brol_dict_node*>(t->slot[s]); e != nullptr; before = e, e = e->chain_next) {
      ++*entries;
      if (e->chain_prev != before || e->table != t || t->slot_of(e->hash) != s) {
        return ::testing::AssertionFailure() << "entry " << e->key.c_str() << " misfiled";
      }
      if (e->hash != brol_hash(e->key.c_str())) {
        return ::testing::AssertionFailure() << "stale hash of " << e->key.c_str();
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// Insertion order sound, ids increasing, every entry reachable from its slot, split bits matching
// the slot contents, levels at most 7, no key twice.
inline ::testing::AssertionResult dict_sound(const brol_dict_core& d) {
  auto order = chain_sound(d.order, true);
  if (!order) {
    return order;
  }
  if (d.root.level != 0) {
    return ::testing::AssertionFailure() << "root level " << d.root.level;
  }
  std::int64_t entries = 0;
  std::int64_t tables = 0;
  auto trie = table_sound(&d.root, &entries, &tables);
  if (!trie) {
    return trie;
  }
  std::vector<std::string_view> keys;
  std::int64_t listed = 0;
  for (const brol_dict_node* e = d.order.first; e != nullptr; e = e->next, ++listed) {
    keys.emplace_back(e->key.c_str());
    const brol_dict_table* t = &d.root;
    while (t->is_split(t->slot_of(e->hash))) {
      t = static_cast<const brol_dict_table*>(t->slot[t->slot_of(e->hash)]);
    }
    auto* c = static_cast<const brol_dict_node*>(t->slot[t->slot_of(e->hash)]);
    while (c != nullptr && c != e) {
      c = c->chain_next;
    }
    if (c == nullptr) {
      return ::testing::AssertionFailure() << "entry " << e->key.c_str() << " unreachable";
    }
  }
  std::sort(keys.begin(), keys.end());
  if (auto twice = std::adjacent_find(keys.begin(), keys.end()); twice != keys.end()) {
    return ::testing::AssertionFailure() << "key " << *twice << " filed twice";
  }
  if (listed != entries) {
    return ::testing::AssertionFailure() << listed << " entries listed, " << entries << " in the trie";
  }
  return ::testing::AssertionSuccess();
}

// Sub-tables of the trie.
inline std::int64_t table_count(const brol_dict_table* t) {
  std::int64_t count = 0;
  for (std::uint32_t s = 0; s < 16; ++s) {
    if (t->is_split(s)) {
      count += 1 + table_count(static_cast<const brol_dict_table*>(t->slot[s]));
    }
  }
  return count;
}

}  // namespace container_check
