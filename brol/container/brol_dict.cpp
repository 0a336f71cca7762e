// The dictionary's hash and its type-independent core: the trie walk, filing, splits and clearing.
#include "brol/container/brol_dict.h"

#include <cstring>
#include <utility>

// Each byte c does h = (h' + c*K) * K - C, where h' is h or h ^ M as three bits of h decide. That is
// h' * K + (c*K*K - C), whose second term does not wait for h.
std::uint32_t brol_hash(const char* text) noexcept {
  constexpr std::uint32_t k = 0x811C9DC5u;
  std::uint32_t h = 0xF00DFEEDu;
  if (text != nullptr) {
    for (const char* p = text; *p != '\0'; ++p) {
      const std::uint32_t term = static_cast<unsigned char>(*p) * (k * k) - 0x7CAA26AAu;
      if ((((h >> 13) ^ (h >> 3) ^ (h >> 7)) & 1u) != 0) {
        h ^= 0x1374F2EEu;
      }
      h = h * k + term;
    }
  }
  // Folds every nibble of h into the low ones: h ^ h>>4 ^ h>>8 ^ ... ^ h>>28, in three steps.
  std::uint32_t folded = h ^ (h >> 4);
  folded ^= folded >> 8;
  return folded ^ (folded >> 16);
}

namespace {

brol_dict_node* chain_of(const brol_dict_table* t, std::uint32_t s) noexcept {
  return static_cast<brol_dict_node*>(t->slot[s]);
}

// The table and slot whose chain a hash belongs to. The shift is counted along rather than read
// from each table's level (they agree), so the next slot index is known before the table arrives.
brol_dict_table* descend(brol_dict_table* t, std::uint32_t hash, std::uint32_t* slot) noexcept {
  std::uint32_t shift = 4 * static_cast<std::uint32_t>(t->level);
  std::uint32_t s = (hash >> shift) & 15u;
  while (t->is_split(s)) {
    t = static_cast<brol_dict_table*>(t->slot[s]);
    shift += 4;
    s = (hash >> shift) & 15u;
  }
  *slot = s;
  return t;
}

// The key equality of brol_string::equals: a missing text equals only the empty one.
bool key_equals(const brol_dict_node* e, const char* key) noexcept {
  const char* text = e->key.text;
  return text != nullptr ? std::strcmp(text, key) == 0 : *key == '\0';
}

// Pushes e at the head of the chain in slot s of t.
void push_chain(brol_dict_table* t, std::uint32_t s, brol_dict_node* e) noexcept {
  brol_dict_node* head = chain_of(t, s);
  e->table = t;
  e->chain_prev = nullptr;
  e->chain_next = head;
  if (head != nullptr) {
    head->chain_prev = e;
  }
  t->slot[s] = e;
}

void unlink_chain(brol_dict_node* e) noexcept {
  if (e->chain_next != nullptr) {
    e->chain_next->chain_prev = e->chain_prev;
  }
  if (e->chain_prev != nullptr) {
    e->chain_prev->chain_next = e->chain_next;
  } else {
    e->table->slot[e->table->slot_of(e->hash)] = e->chain_next;
  }
  e->chain_prev = e->chain_next = nullptr;
}

// Turns the chain in slot s of t into a sub-table one level deeper. When the sub-table cannot be
// allocated the chain stays whole and unsplit; the next insertion into it tries again.
void split(brol_dict_table* t, std::uint32_t s) noexcept {
  auto* u = static_cast<brol_dict_table*>(brol_alloc(static_cast<std::int64_t>(sizeof(brol_dict_table))));
  if (u == nullptr) {
    return;
  }
  u->level = static_cast<std::int16_t>(t->level + 1);
  u->split = 0;
  for (void*& slot : u->slot) {
    slot = nullptr;
  }
  brol_dict_node* x = chain_of(t, s);
  t->slot[s] = u;
  t->split = static_cast<std::uint16_t>(t->split | (1u << s));
  while (x != nullptr) {
    brol_dict_node* next = x->chain_next;
    push_chain(u, u->slot_of(x->hash), x);
    x = next;
  }
}

void clear_table(brol_dict_table* t) noexcept {
  for (std::uint32_t s = 0; s < brol_dict_table::slots; ++s) {
    if (t->is_split(s) && t->slot[s] != nullptr) {
      auto* sub = static_cast<brol_dict_table*>(t->slot[s]);
      clear_table(sub);
      brol_free(sub);
    }
    t->slot[s] = nullptr;
  }
  t->split = 0;
}

// A new entry holding a copy of key; null when the id limit or an allocation refuses it. The id is
// taken only once nothing can fail any more.
brol_dict_node* create_entry(brol_list_header<brol_dict_node>& order, const char* key,
                             const brol_dict_kind& kind) noexcept {
  if (!order.id_available()) {
    return nullptr;
  }
  brol_dict_node* e = kind.create();
  if (e == nullptr) {
    return nullptr;
  }
  e->key.assign(key);
  if (e->key.error != 0) {
    kind.release(e);
    return nullptr;
  }
  e->id = order.next_id++;
  return e;
}

// Gives moved the new key and takes it out of its chain; false, with moved untouched, when the key
// copy cannot be made.
bool rekey(brol_dict_node* moved, const char* key) noexcept {
  brol_string copy;
  copy.init();
  copy.assign(key);
  if (copy.error != 0) {
    copy.destroy();
    return false;
  }
  unlink_chain(moved);
  moved->key.move_from(copy);
  return true;
}

}  // namespace

void brol_dict_core::init() noexcept {
  order.init_header();
  last_id = -1;
  root.level = 0;
  root.split = 0;
  for (void*& slot : root.slot) {
    slot = nullptr;
  }
}

brol_dict_node* brol_dict_core::find_node(const char* key) noexcept {
  if (key == nullptr) {
    key = "";
  }
  return find_hashed(key, brol_hash(key));
}

brol_dict_node* brol_dict_core::find_hashed(const char* key, std::uint32_t hash) noexcept {
  if (key == nullptr) {
    key = "";
  }
  std::uint32_t s = 0;
  const brol_dict_table* t = descend(&root, hash, &s);
  // The stored hash always belongs to the stored key, so comparing it first changes no result; it
  // spares reading the key text of every entry that is not the one sought.
  for (brol_dict_node* e = chain_of(t, s); e != nullptr; e = e->chain_next) {
    if (e->hash == hash && key_equals(e, key)) {
      last_id = e->id;
      return e;
    }
  }
  return nullptr;
}

int brol_dict_core::insert_node(const char* key, brol_dict_node** out_entry, brol_dict_node* moved,
                                const brol_dict_kind& kind) noexcept {
  if (key == nullptr) {
    key = "";
  }
  const std::uint32_t hash = brol_hash(key);
  std::uint32_t s = 0;
  brol_dict_table* t = descend(&root, hash, &s);
  std::int64_t n = 1;
  for (brol_dict_node* e = chain_of(t, s); e != nullptr; e = e->chain_next, ++n) {
    if (e->hash == hash && key_equals(e, key)) {
      if (out_entry != nullptr) {
        *out_entry = e;
      }
      return 0;
    }
  }
  brol_dict_node* e = moved != nullptr ? (rekey(moved, key) ? moved : nullptr)
                                       : create_entry(order, key, kind);
  if (e == nullptr) {
    if (out_entry != nullptr) {
      *out_entry = nullptr;
    }
    return 0;
  }
  e->hash = hash;
  push_chain(t, s, e);
  if (moved == nullptr) {
    order.append(e);
  }
  if (n > 8 && t->level < brol_dict_table::max_level) {
    split(t, s);
  }
  if (out_entry != nullptr) {
    *out_entry = e;
  }
  return 1;
}

brol_dict_node* brol_dict_core::find_or_add_node(const char* key, const brol_dict_kind& kind) noexcept {
  brol_dict_node* e = nullptr;
  insert_node(key, &e, nullptr, kind);
  if (e != nullptr) {
    last_id = e->id;
  }
  return e;
}

void brol_dict_core::clear_with(const brol_dict_kind& kind) noexcept {
  clear_table(&root);
  order.release_all(kind.release);
}

void brol_dict_core::swap(brol_dict_core& other) noexcept {
  std::swap(order, other.order);
  std::swap(last_id, other.last_id);
  std::swap(root, other.root);
  // The root tables are embedded and changed places; the entries chained in a root name it.
  for (brol_dict_node* e = order.first; e != nullptr; e = e->next) {
    if (e->table == &other.root) e->table = &root;
  }
  for (brol_dict_node* e = other.order.first; e != nullptr; e = e->next) {
    if (e->table == &root) e->table = &other.root;
  }
}
