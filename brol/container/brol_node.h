// Node operations: free functions over any element whose first two fields are the links `prev` and
// `next`. They know nothing of a list header; any element of a chain can be handed to them.
//
// Validity rule: the first node argument (the node that is walked or modified) counts as no node when
// it is null or its address is below 4096, since values below 4096 are codes and never addresses.
// The second node argument (the element inserted or searched for) is only tested against null.
#pragma once

#include <cstdint>

namespace brol::detail {

inline bool node_valid(const void* node) noexcept {
  return reinterpret_cast<std::uintptr_t>(node) >= 4096;
}

}  // namespace brol::detail

// Puts item just before node and returns node. Nothing happens when node is invalid or item null.
template <class Node>
Node* brol_node_insert_before(Node* node, Node* item) noexcept {
  if (!brol::detail::node_valid(node) || item == nullptr) {
    return node;
  }
  item->next = node;
  item->prev = node->prev;
  if (node->prev != nullptr) {
    node->prev->next = item;
  }
  node->prev = item;
  return node;
}

// Puts item just after node and returns node. Nothing happens when node is invalid or item null.
template <class Node>
Node* brol_node_insert_after(Node* node, Node* item) noexcept {
  if (!brol::detail::node_valid(node) || item == nullptr) {
    return node;
  }
  item->prev = node;
  item->next = node->next;
  if (node->next != nullptr) {
    node->next->prev = item;
  }
  node->next = item;
  return node;
}

// The last element of node's chain (walking `next`); node itself when it has no next; null for an
// invalid node.
template <class Node>
Node* brol_node_last(Node* node) noexcept {
  if (!brol::detail::node_valid(node)) {
    return nullptr;
  }
  while (node->next != nullptr) {
    node = node->next;
  }
  return node;
}

// The first element of node's chain (walking `prev`); node itself when it has no prev; null for an
// invalid node.
template <class Node>
Node* brol_node_first(Node* node) noexcept {
  if (!brol::detail::node_valid(node)) {
    return nullptr;
  }
  while (node->prev != nullptr) {
    node = node->prev;
  }
  return node;
}

// Appends item at the end of node's chain (item's own links are overwritten). Nothing happens when
// node is invalid or item null.
template <class Node>
void brol_node_append(Node* node, Node* item) noexcept {
  if (!brol::detail::node_valid(node) || item == nullptr) {
    return;
  }
  Node* last = brol_node_last(node);
  item->prev = last;
  item->next = nullptr;
  last->next = item;
}

// Takes node out of its chain, joining its neighbours; node's links become null. The result is the
// former next, else the former prev, else null (also null for an invalid node).
template <class Node>
Node* brol_node_unlink(Node* node) noexcept {
  if (!brol::detail::node_valid(node)) {
    return nullptr;
  }
  Node* prev = node->prev;
  Node* next = node->next;
  if (next != nullptr) {
    next->prev = prev;
  }
  if (prev != nullptr) {
    prev->next = next;
  }
  node->prev = nullptr;
  node->next = nullptr;
  return next != nullptr ? next : prev;
}

// The link, or null for an invalid node.
template <class Node>
Node* brol_node_next(Node* node) noexcept {
  return brol::detail::node_valid(node) ? node->next : nullptr;
}

// The link back, or null for an invalid node.
template <class Node>
Node* brol_node_prev(Node* node) noexcept {
  return brol::detail::node_valid(node) ? node->prev : nullptr;
}

// Elements from node to the last, inclusive; 0 for an invalid node.
template <class Node>
std::int64_t brol_node_remaining(Node* node) noexcept {
  if (!brol::detail::node_valid(node)) {
    return 0;
  }
  std::int64_t count = 0;
  for (; node != nullptr; node = node->next) {
    ++count;
  }
  return count;
}

// 1-based position of node in its chain; 0 for an invalid node.
template <class Node>
std::int64_t brol_node_position(Node* node) noexcept {
  if (!brol::detail::node_valid(node)) {
    return 0;
  }
  std::int64_t count = 0;
  for (; node != nullptr; node = node->prev) {
    ++count;
  }
  return count;
}

// Number of elements in the chain that holds node; 0 for an invalid node.
template <class Node>
std::int64_t brol_node_count(Node* node) noexcept {
  if (!brol::detail::node_valid(node)) {
    return 0;
  }
  return brol_node_position(node) + brol_node_remaining(node) - 1;
}

// True when item is an element of node's chain; false for an invalid node or a null item.
template <class Node>
bool brol_node_contains(Node* node, const Node* item) noexcept {
  for (Node* p = brol_node_first(node); p != nullptr; p = p->next) {
    if (p == item) {
      return true;
    }
  }
  return false;
}

// node.next = item and, for a non-null item, item.prev = node. The result is item, or node when item
// is null. The validity rule does not apply: node must be a real element.
template <class Node>
Node* brol_node_set_next(Node* node, Node* item) noexcept {
  node->next = item;
  if (item == nullptr) {
    return node;
  }
  item->prev = node;
  return item;
}

// node.prev = item and, for a non-null item, item.next = node. The result is item, or node when item
// is null. The validity rule does not apply: node must be a real element.
template <class Node>
Node* brol_node_set_prev(Node* node, Node* item) noexcept {
  node->prev = item;
  if (item == nullptr) {
    return node;
  }
  item->next = node;
  return item;
}

namespace brol::detail {

// b directly follows a: ... p a b n ... becomes ... p b a n ...
template <class Node>
void node_swap_adjacent(Node* a, Node* b) noexcept {
  if (b->next != nullptr) {
    b->next->prev = a;
  }
  if (a->prev != nullptr) {
    a->prev->next = b;
  }
  a->next = b->next;
  b->next = a;
  b->prev = a->prev;
  a->prev = b;
}

template <class Node>
void node_swap_apart(Node* a, Node* b) noexcept {
  if (a->next != nullptr) {
    a->next->prev = b;
  }
  if (a->prev != nullptr) {
    a->prev->next = b;
  }
  if (b->next != nullptr) {
    b->next->prev = a;
  }
  if (b->prev != nullptr) {
    b->prev->next = a;
  }
  Node* next = a->next;
  Node* prev = a->prev;
  a->next = b->next;
  a->prev = b->prev;
  b->next = next;
  b->prev = prev;
}

}  // namespace brol::detail

// Exchanges the places of a and b in their chain. False, with nothing changed, when a is invalid, b
// is null, a == b or b is not in a's chain. A list header that points at a or b is not updated.
template <class Node>
bool brol_node_swap(Node* a, Node* b) noexcept {
  if (!brol::detail::node_valid(a) || b == nullptr || a == b || !brol_node_contains(a, b)) {
    return false;
  }
  if (b == a->next) {
    brol::detail::node_swap_adjacent(a, b);
  } else if (b == a->prev) {
    brol::detail::node_swap_adjacent(b, a);
  } else {
    brol::detail::node_swap_apart(a, b);
  }
  return true;
}
