// brol_list<T>: the owning, numbered, doubly linked list, and the header it shares with brol_dict.
//
// Plain records: `init` before use, `destroy` after (destroy clears). The list owns its elements;
// each is its own allocation through brol_alloc, and a value leaves with its element (see
// brol_element for how values are constructed and released). Every created element receives the id
// `next_id`, which then grows by one; ids are not reused until `clear` sets the numbering back to
// `base_id`. Creation is refused (null result, nothing changed) while next_id >= max_id and when an
// allocation fails. Element and value pointers stay valid until that element is removed or cleared.
#pragma once

#include <cstdint>
#include <new>

#include "brol/container/brol_element.h"
#include "brol/container/brol_node.h"
#include "brol/platform/brol_alloc.h"

// The header of a numbered chain of Node (which has prev, next and id): shared by brol_list and the
// insertion order of brol_dict.
template <class Node>
struct brol_list_header {
  static constexpr int cache_slots = 4;

  Node* first;   // first element in list order, null when empty
  Node* last;    // last element in list order, null when empty
  Node* anchor;  // some element of the chain, null exactly when the list is empty
  std::uint8_t cleared;  // 1 after construction and clear; not read
  // A cache of (element, id) pairs that `remove` consults first; nothing fills it at present.
  Node* recent_node[cache_slots];
  std::int32_t recent_id[cache_slots];
  std::uint16_t reserved16;
  std::int32_t next_id;  // the id of the next created element
  std::int32_t base_id;  // where clear restarts the numbering
  std::int32_t max_id;   // creation is refused while next_id >= max_id
  std::int64_t reserved64;

  void init_header() noexcept {
    first = last = anchor = nullptr;
    cleared = 1;
    for (int i = 0; i < cache_slots; ++i) {
      recent_node[i] = nullptr;
      recent_id[i] = 0;
    }
    reserved16 = 0;
    next_id = base_id = 0;
    max_id = 2147483647;
    reserved64 = 0;
  }

  bool id_available() const noexcept { return next_id < max_id; }

  // Puts a created, unlinked node at the end and numbers it.
  void append(Node* node) noexcept {
    if (anchor == nullptr) {
      anchor = first = node;
    } else {
      brol_node_append(last, node);
    }
    last = node;
  }

  // The first element in list order with this id, or null.
  Node* find_id(std::int32_t id) const noexcept {
    for (Node* node = first; node != nullptr; node = node->next) {
      if (node->id == id) {
        return node;
      }
    }
    return nullptr;
  }

  // Takes an element out of the chain, keeping first, last and anchor right.
  void take_out(Node* node) noexcept {
    if (node == first) {
      first = brol_node_next(first);
    }
    if (node == last) {
      last = brol_node_prev(last);
    }
    anchor = brol_node_unlink(node);
  }

  // Looks for id in the cache (a hit empties its slot), then along the chain.
  Node* find_for_removal(std::int32_t id) noexcept {
    for (int i = 0; i < cache_slots; ++i) {
      if (recent_node[i] != nullptr && recent_id[i] == id) {
        Node* node = recent_node[i];
        recent_node[i] = nullptr;
        return node;
      }
    }
    return find_id(id);
  }

  // Unlinks every element, handing each to release, and restarts the numbering.
  template <class Release>
  void release_all(Release release) noexcept {
    while (anchor != nullptr) {
      Node* node = anchor;
      anchor = brol_node_unlink(node);
      release(node);
    }
    first = last = nullptr;
    for (Node*& slot : recent_node) {
      slot = nullptr;
    }
    cleared = 1;
    next_id = base_id;
  }
};

// One element of a brol_list<T>.
template <class T>
struct brol_list_node {
  brol_list_node* prev;  // the element before, null for the first
  brol_list_node* next;  // the element after, null for the last
  std::int32_t id;     // given at creation
  T value;             // the element's value
  std::uint16_t tag;   // 0 at creation; not read
};

// The list of values T. The fields a caller reads come from the header it shares with the
// dictionary: first and last (the ends in list order, null when empty), next_id (the id the next
// element receives), base_id (where clear restarts the numbering) and max_id (creation is refused
// while next_id >= max_id; a caller may lower it). Elements are walked with brol_list_iter or along
// first and each element's next.
template <class T>
struct brol_list : brol_list_header<brol_list_node<T>> {
  using node = brol_list_node<T>;  // one element

  // Never copied by the language (two lists would own the same elements); the default constructor
  // leaves the fields as they are: init before use. swap exchanges two lists' contents.
  brol_list() = default;
  brol_list(const brol_list&) = delete;
  brol_list& operator=(const brol_list&) = delete;

  // An empty list: no elements, ids from 0, limit 2147483647.
  void init() noexcept { this->init_header(); }
  // Clears the list.
  void destroy() noexcept { clear(); }

  // Appends an element with an empty value. The result points at that value, or is null when the id
  // limit or a failed allocation refuses it (then nothing changes, out_id included). out_id (may be
  // null) receives the new id.
  T* add(std::int32_t* out_id) noexcept {
    node* element = create();
    if (element == nullptr) {
      return nullptr;
    }
    brol_element<T>::init(element->value);
    number(element, out_id);
    this->append(element);
    return &element->value;
  }

  // Appends an element holding a copy of value. The result is the element, or null (nothing
  // changed) when the id limit, a failed allocation or a failed copy refuses it.
  node* add_value(const T& value) noexcept
    requires requires(T& v, const T& s) { brol_element<T>::init_copy(v, s); }
  {
    node* element = create();
    if (element == nullptr) {
      return nullptr;
    }
    if (!brol_element<T>::init_copy(element->value, value)) {
      discard(element);
      return nullptr;
    }
    number(element, nullptr);
    this->append(element);
    return element;
  }

  // Creates an element with an empty value just before the first element whose id is id. The result
  // points at the new value; null, with nothing changed, when no element has that id (an empty list
  // included), or the id limit or a failed allocation refuses it. out_id (may be null) receives the
  // new id.
  T* insert_before(std::int32_t id, std::int32_t* out_id) noexcept {
    node* found = this->find_id(id);
    if (found == nullptr) {
      return nullptr;
    }
    node* element = create();
    if (element == nullptr) {
      return nullptr;
    }
    brol_element<T>::init(element->value);
    number(element, out_id);
    brol_node_insert_before(found, element);
    if (element->prev == nullptr) {
      this->first = element;
    }
    if (found->next == nullptr) {
      this->last = found;
    }
    return &element->value;
  }

  // Removes the element with this id, releasing its value; nothing when there is none.
  void remove(std::int32_t id) noexcept {
    node* element = this->find_for_removal(id);
    if (element != nullptr) {
      this->take_out(element);
      release(element);
    }
  }

  // Makes element (which must belong to this list) the first. Nothing happens for a null element, an
  // address below 4096, an empty list, or an element that is first already.
  void move_to_front(node* element) noexcept {
    node* old_first = this->first;
    if (!brol::detail::node_valid(element) || old_first == nullptr || element == old_first) {
      return;
    }
    if (element == this->last) {
      this->last = element->prev;
    }
    brol_node_unlink(element);
    brol_node_insert_before(old_first, element);
    if (old_first->next == nullptr) {
      this->last = old_first;
    }
    this->first = element;
  }

  // Moves the element with this id to the front; nothing when there is none.
  void move_to_front(std::int32_t id) noexcept {
    node* element = this->find_id(id);
    if (element != nullptr) {
      move_to_front(element);
    }
  }

  // Releases every element and value; the next created element has id base_id.
  void clear() noexcept {
    this->release_all([](node* element) { release(element); });
  }

  // Exchanges the whole content (elements, numbering, limits) with other; no element moves, so
  // element and value pointers stay valid and now belong to the other list.
  void swap(brol_list& other) noexcept {
    // Elements point to one another, never to their list, so the headers can change places.
    brol_list_header<node> held = *this;
    static_cast<brol_list_header<node>&>(*this) = other;
    static_cast<brol_list_header<node>&>(other) = held;
  }

 private:
  // An unlinked element whose value is not yet constructed; null when refused.
  node* create() noexcept {
    if (!this->id_available()) {
      return nullptr;
    }
    void* memory = brol_alloc(static_cast<std::int64_t>(sizeof(node)));
    if (memory == nullptr) {
      return nullptr;
    }
    node* element = ::new (memory) node;
    element->prev = element->next = nullptr;
    element->id = -1;
    element->tag = 0;
    return element;
  }

  // Numbered only once nothing can fail any more, so a refused creation leaves next_id alone.
  void number(node* element, std::int32_t* out_id) noexcept {
    element->id = this->next_id++;
    if (out_id != nullptr) {
      *out_id = element->id;
    }
  }

  // Frees an element whose value was never constructed.
  static void discard(node* element) noexcept {
    element->~node();
    brol_free(element);
  }

  static void release(node* element) noexcept {
    brol_element<T>::destroy(element->value);
    discard(element);
  }
};

// Walks a list in order. A default iterator holds two nulls and is past the end.
template <class T>
struct brol_list_iter {
  brol_list_node<T>* current = nullptr;  // the element at hand, null past the end
  brol_list<T>* list = nullptr;          // the list walked

  // Starts at the first element of of (past the end when it is empty).
  void begin(brol_list<T>& of) noexcept {
    list = &of;
    current = of.first;
  }
  // The current value, or null past the end: the test for more elements.
  T* value() const noexcept { return current != nullptr ? &current->value : nullptr; }
  // The current element's id, or -1 past the end.
  std::int32_t id() const noexcept { return current != nullptr ? current->id : -1; }
  // On to the next element; nothing past the end.
  void advance() noexcept { current = brol_node_next(current); }
};
