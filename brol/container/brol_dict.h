// brol_dict<T>: the string-keyed, insertion-ordered dictionary.
//
// Entries live in two structures at once: a numbered chain in insertion order (the brol_list header
// and node operations), which owns them and gives iteration and ids, and a hash trie of 16-way
// tables for lookup. The trie starts as the root table embedded in the header; a slot whose chain
// grows past eight entries becomes a sub-table one level deeper (at most level 7, whose chains grow
// without bound). Keys are copied into the entry and compared byte for byte, case-sensitively; a null
// key counts as "". Each operation hashes its key once.
//
// Plain records: `init` before use, `destroy` after (destroy clears). Entries leave only through
// clear. Value and entry pointers stay valid until clear. All allocation goes through brol_alloc.
#pragma once

#include <cstdint>
#include <new>
#include <type_traits>

#include "brol/container/brol_list.h"
#include "brol/string/brol_string.h"

// The 32-bit hash of a NUL-terminated byte text; a null text hashes as "". The values are fixed:
// "" gives 0xFFF2D3D0 and "abc" 0xFFF96054.
std::uint32_t brol_hash(const char* text) noexcept;

// A node of the trie. At level L the slot of hash h is (h >> 4L) & 15.
struct brol_dict_table {
  static constexpr int slots = 16;
  static constexpr int max_level = 7;

  std::int16_t level;    // 0 for the root, the parent's level + 1 below it
  std::uint16_t split;   // bit i set: slot[i] is a sub-table; clear: the head of a chain, or null
  void* slot[slots];     // brol_dict_table* or brol_dict_node*, as split says

  std::uint32_t slot_of(std::uint32_t hash) const noexcept {
    return (hash >> (4 * level)) & 15u;
  }
  bool is_split(std::uint32_t s) const noexcept { return ((split >> s) & 1u) != 0; }
};

// The part of an entry that does not depend on the value type; the start of every brol_dict_entry.
struct brol_dict_node {
  brol_dict_node* prev;  // insertion order
  brol_dict_node* next;
  brol_string key;       // the entry's own copy of its key
  std::uint32_t hash;    // brol_hash(key)
  brol_dict_table* table;          // the table whose slot holds the entry's chain
  brol_dict_node* chain_prev;      // null at the head of the chain
  brol_dict_node* chain_next;
  std::int32_t id;
};

// One entry of a brol_dict<T>: its key (node.key, a brol_string), its id (node.id) and its value.
template <class T>
struct brol_dict_entry {
  brol_dict_node node;  // the links, the key and the id
  T value;              // the entry's value
  std::uint16_t tag;  // 0 at creation; not read
};

// How the untyped core makes and releases the entries of one value type.
struct brol_dict_kind {
  // A new entry: links, table and id null/0, key and value empty, tag 0; null when the allocation
  // fails.
  brol_dict_node* (*create)() noexcept;
  // Destroys the value, then the key, and frees the entry.
  void (*release)(brol_dict_node*) noexcept;
};

// Everything of a dictionary that does not depend on the value type.
struct brol_dict_core {
  brol_list_header<brol_dict_node> order;  // insertion order; owns the entries
  std::int32_t last_id;  // id of the entry last returned by find or find_or_add; -1 at first
  brol_dict_table root;

  // Never copied by the language (two records would own the same entries, and entries name the
  // embedded root); the default constructor leaves the fields as they are: init before use.
  brol_dict_core() = default;
  brol_dict_core(const brol_dict_core&) = delete;
  brol_dict_core& operator=(const brol_dict_core&) = delete;

  // An empty dictionary: the header values of a new list, an empty root of level 0.
  void init() noexcept;

  // The entry with this key, or null. Sets last_id when found.
  brol_dict_node* find_node(const char* key) noexcept;
  // find_node for a caller that holds brol_hash(key) already; another hash finds nothing.
  brol_dict_node* find_hashed(const char* key, std::uint32_t hash) noexcept;
  // See brol_dict::insert.
  int insert_node(const char* key, brol_dict_node** out_entry, brol_dict_node* moved,
                  const brol_dict_kind& kind) noexcept;
  // The entry with this key, created at the end of the insertion order when missing; null when it
  // cannot be created. Sets last_id.
  brol_dict_node* find_or_add_node(const char* key, const brol_dict_kind& kind) noexcept;
  // Frees every sub-table and every entry; ids restart at base_id.
  void clear_with(const brol_dict_kind& kind) noexcept;
  // Exchanges the whole content (entries, order, numbering, tables) with other; no entry moves.
  void swap(brol_dict_core& other) noexcept;
};

// The dictionary of values T under string keys. last_id holds the id of the entry the last find or
// find_or_add returned (-1 at first); the entries in insertion order are reached through
// brol_dict_iter.
template <class T>
struct brol_dict : brol_dict_core {
  using entry = brol_dict_entry<T>;  // one entry
  static_assert(std::is_standard_layout_v<entry>, "an entry starts with its brol_dict_node");

  // An empty dictionary: no entries, ids from 0, limit 2147483647, last_id -1.
  void init() noexcept { brol_dict_core::init(); }
  // Clears the dictionary.
  void destroy() noexcept { clear(); }
  // Exchanges the whole content (entries, order, numbering) with other; no entry moves, so entry and
  // value pointers stay valid and now belong to the other dictionary.
  void swap(brol_dict& other) noexcept { brol_dict_core::swap(other); }

  // The value of the entry with this key, or null. Sets last_id when found.
  T* find(const char* key) noexcept { return value_of(find_node(key)); }

  // The value of the entry with this key; a missing key gets a new entry with an empty value at the
  // end of the insertion order. Null, with nothing changed, when the id limit or a failed allocation
  // refuses the new entry. Sets last_id when the result is not null.
  T* find_or_add(const char* key) noexcept { return value_of(find_or_add_node(key, kind)); }

  // Files an entry under key. With moved null a new entry (empty value, next id) is created and
  // appended to the insertion order; otherwise moved, an entry of this dictionary, is re-filed under
  // key keeping its id, value and place in the order. The result is 1 when an entry was filed and 0
  // otherwise: when key is present already (out_entry receives that entry and moved stays as it
  // was), or when the id limit or a failed allocation refuses (out_entry receives null; nothing
  // changed). out_entry may be null.
  int insert(const char* key, entry** out_entry, entry* moved) noexcept {
    brol_dict_node* filed = nullptr;
    const int result = insert_node(key, &filed, moved != nullptr ? &moved->node : nullptr, kind);
    if (out_entry != nullptr) {
      *out_entry = entry_of(filed);
    }
    return result;
  }

  // Releases every entry, key and value; the next entry gets id base_id and the root is empty.
  void clear() noexcept { clear_with(kind); }

  // The entry that begins with node (null for null).
  static entry* entry_of(brol_dict_node* node) noexcept { return reinterpret_cast<entry*>(node); }

 private:
  static T* value_of(brol_dict_node* node) noexcept {
    return node != nullptr ? &entry_of(node)->value : nullptr;
  }
  static brol_dict_node* create() noexcept {
    void* memory = brol_alloc(static_cast<std::int64_t>(sizeof(entry)));
    if (memory == nullptr) {
      return nullptr;
    }
    entry* e = ::new (memory) entry;
    e->node.prev = e->node.next = nullptr;
    e->node.key.init();
    e->node.hash = 0;
    e->node.table = nullptr;
    e->node.chain_prev = e->node.chain_next = nullptr;
    e->node.id = -1;
    brol_element<T>::init(e->value);
    e->tag = 0;
    return &e->node;
  }
  static void release(brol_dict_node* node) noexcept {
    entry* e = entry_of(node);
    brol_element<T>::destroy(e->value);
    e->node.key.destroy();
    e->~entry();
    brol_free(e);
  }
  static constexpr brol_dict_kind kind{&create, &release};
};

// Walks a dictionary in insertion order. A default iterator holds two nulls and is past the end.
template <class T>
struct brol_dict_iter {
  brol_dict_entry<T>* current = nullptr;  // the entry at hand, null past the end
  brol_dict<T>* dict = nullptr;           // the dictionary walked

  // Starts at the first entry of of (past the end when it is empty).
  void begin(brol_dict<T>& of) noexcept {
    dict = &of;
    current = brol_dict<T>::entry_of(of.order.first);
  }
  // The current value, or null past the end: the test for more entries.
  T* value() const noexcept { return current != nullptr ? &current->value : nullptr; }
  // The current key text, or "" past the end.
  const char* key() const noexcept { return current != nullptr ? current->node.key.c_str() : ""; }
  // On to the next entry in insertion order; nothing past the end.
  void advance() noexcept {
    if (current != nullptr) {
      current = brol_dict<T>::entry_of(current->node.next);
    }
  }
};
