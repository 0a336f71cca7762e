// Structural checks of lists and dictionaries, run by the container tests after every step.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "brol/container/brol_dict.h"
#include "brol/container/brol_list.h"

namespace container_check {

using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;

// The pointee of a result the test knows to be there; a null one fails the test with an exception.
template <class T>
T& must(T* p) {
  if (p == nullptr) {
    throw std::runtime_error("unexpected null result");
  }
  return *p;
}

// Links symmetric, first/last/anchor right, ids unique, within the numbering and, when asked, rising.
template <class Node>
AssertionResult chain_sound(const brol_list_header<Node>& h, bool ids_rising) {
  if ((h.first == nullptr) != (h.last == nullptr) || (h.first == nullptr) != (h.anchor == nullptr)) {
    return AssertionFailure() << "first, last and anchor disagree about emptiness";
  }
  std::vector<std::int32_t> ids;
  bool anchor_seen = h.anchor == nullptr;
  const Node* before = nullptr;
  for (const Node* n = h.first; n != nullptr; before = n, n = n->next) {
    if (n->prev != before || n->id < h.base_id || n->id >= h.next_id) {
      return AssertionFailure() << "bad prev link or id at id " << n->id;
    }
    if (ids_rising && before != nullptr && before->id >= n->id) {
      return AssertionFailure() << "id " << n->id << " after id " << before->id;
    }
    ids.push_back(n->id);
    anchor_seen = anchor_seen || n == h.anchor;
  }
  std::sort(ids.begin(), ids.end());
  if (before != h.last || !anchor_seen || std::adjacent_find(ids.begin(), ids.end()) != ids.end()) {
    return AssertionFailure() << "last or anchor outside the chain, or an id twice";
  }
  return AssertionSuccess();
}

template <class T>
std::vector<std::int32_t> ids_of(const brol_list<T>& list) {
  std::vector<std::int32_t> ids;
  for (auto* n = list.first; n != nullptr; n = n->next) {
    ids.push_back(n->id);
  }
  return ids;
}

inline const brol_dict_table* sub_table(const brol_dict_table* t, std::uint32_t s) {
  return static_cast<const brol_dict_table*>(t->slot[s]);
}

// The tables below t, and every chain in them: filed in the right table and slot, links symmetric,
// stored hash current. Counts entries and sub-tables.
inline AssertionResult table_sound(const brol_dict_table* t, std::int64_t* entries, std::int64_t* tables) {
  for (std::uint32_t s = 0; s < 16; ++s) {
    if (t->is_split(s)) {
      const brol_dict_table* sub = sub_table(t, s);
      if (sub == nullptr || sub->level != t->level + 1 || sub->level > brol_dict_table::max_level) {
        return AssertionFailure() << "bad sub-table at level " << t->level << " slot " << s;
      }
      ++*tables;
      if (auto inner = table_sound(sub, entries, tables); !inner) {
        return inner;
      }
      continue;
    }
    const brol_dict_node* before = nullptr;
    for (auto* e = static_cast<const brol_dict_node*>(t->slot[s]); e != nullptr; before = e, e = e->chain_next) {
      ++*entries;
      if (e->chain_prev != before || e->table != t || t->slot_of(e->hash) != s ||
          e->hash != brol_hash(e->key.c_str())) {
        return AssertionFailure() << "entry " << e->key.c_str() << " misfiled";
      }
    }
  }
  return AssertionSuccess();
}

// Insertion order sound with rising ids, the trie sound, every listed entry in the trie and no other,
// no key twice.
inline AssertionResult dict_sound(const brol_dict_core& d) {
  std::int64_t entries = 0;
  std::int64_t tables = 0;
  if (auto order = chain_sound(d.order, true); !order) {
    return order;
  }
  if (auto trie = table_sound(&d.root, &entries, &tables); !trie) {
    return trie;
  }
  std::vector<std::string_view> keys;
  for (const brol_dict_node* e = d.order.first; e != nullptr; e = e->next) {
    keys.emplace_back(e->key.c_str());
    const brol_dict_table* t = &d.root;
    while (t->is_split(t->slot_of(e->hash))) {
      t = sub_table(t, t->slot_of(e->hash));
    }
    auto* c = static_cast<const brol_dict_node*>(t->slot[t->slot_of(e->hash)]);
    while (c != nullptr && c != e) {
      c = c->chain_next;
    }
    if (c == nullptr) {
      return AssertionFailure() << "entry " << e->key.c_str() << " unreachable";
    }
  }
  std::sort(keys.begin(), keys.end());
  if (static_cast<std::int64_t>(keys.size()) != entries || std::adjacent_find(keys.begin(), keys.end()) != keys.end()) {
    return AssertionFailure() << keys.size() << " entries listed, " << entries << " in the trie, or a key twice";
  }
  return AssertionSuccess();
}

inline std::int64_t table_count(const brol_dict_table* t) {
  std::int64_t entries = 0;
  std::int64_t tables = 0;
  table_sound(t, &entries, &tables);
  return tables;
}

}  // namespace container_check
