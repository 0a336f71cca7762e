// brol_list: numbering, creation and removal, move to front, clearing, values with and without
// init/destroy, allocation failures, and a long random sequence against std::list.
#include "brol/container/brol_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <list>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "brol_test_support.h"
#include "container_check.h"

namespace {

using container_check::chain_sound;
using container_check::ids_of;
using container_check::must;
using string_list = brol_list<brol_string>;
using ids = std::vector<std::int32_t>;

// An initialised list, destroyed with the test.
template <class T>
struct scoped_list {
  brol_list<T> list;
  scoped_list() { list.init(); }
  ~scoped_list() { list.destroy(); }
  brol_list<T>* operator->() { return &list; }
};

std::vector<std::string> texts_of(const string_list& list) {
  std::vector<std::string> texts;
  for (auto* n = list.first; n != nullptr; n = n->next) {
    texts.push_back(n->value.c_str());
  }
  return texts;
}

TEST(BrolList, ConstructionValues) {
  scoped_list<int> l;
  EXPECT_EQ(l->first, nullptr);
  EXPECT_EQ(l->last, nullptr);
  EXPECT_EQ(l->anchor, nullptr);
  EXPECT_EQ(l->cleared, 1);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(l->recent_node[i], nullptr);
    EXPECT_EQ(l->recent_id[i], 0);
  }
  EXPECT_EQ(l->next_id, 0);
  EXPECT_EQ(l->base_id, 0);
  EXPECT_EQ(l->max_id, 2147483647);
}

TEST(BrolList, FirstAddIsIdZeroAndFirstLastAnchor) {
  scoped_list<brol_string> l;
  std::int32_t id = 77;
  brol_string* value = l->add(&id);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(id, 0);
  EXPECT_TRUE(value->is_empty());
  EXPECT_EQ(value->text, nullptr);
  EXPECT_EQ(l->first, l->last);
  EXPECT_EQ(l->anchor, l->first);
  EXPECT_EQ(&l->first->value, value);
  EXPECT_EQ(l->first->tag, 0);
  EXPECT_EQ(l->next_id, 1);
}

TEST(BrolList, IdsAreNotReusedUntilClear) {
  scoped_list<int> l;
  l->add(nullptr);
  l->remove(0);
  EXPECT_EQ(l->first, nullptr);
  EXPECT_EQ(l->last, nullptr);
  EXPECT_EQ(l->anchor, nullptr);
  std::int32_t id = -5;
  ASSERT_NE(l->add(&id), nullptr);
  EXPECT_EQ(id, 1);
  l->add(&id);
  EXPECT_EQ(id, 2);
  l->clear();
  EXPECT_EQ(l->first, nullptr);
  l->base_id = 40;
  l->clear();
  l->add(&id);
  EXPECT_EQ(id, 40);
  EXPECT_TRUE(chain_sound(l.list, true));
}

TEST(BrolList, IdLimitRefusesEveryCreation) {
  scoped_list<brol_string*> l;
  l->add(nullptr);
  l->max_id = l->next_id;
  std::int32_t id = 99;
  EXPECT_EQ(l->add(&id), nullptr);
  EXPECT_EQ(l->add_value(nullptr), nullptr);
  EXPECT_EQ(l->insert_before(0, &id), nullptr);
  EXPECT_EQ(id, 99);
  EXPECT_EQ(l->next_id, 1);
  EXPECT_EQ(ids_of(l.list), ids{0});
  // The default limit: the highest id handed out is 2147483646.
  l->max_id = 2147483647;
  l->next_id = 2147483646;
  EXPECT_NE(l->add(&id), nullptr);
  EXPECT_EQ(id, 2147483646);
  EXPECT_EQ(l->add(&id), nullptr);
}

TEST(BrolList, InsertBefore) {
  struct step {
    std::int32_t before;
    ids expected;  // ids in order after the step; empty: refused
  };
  // Start: 0 1 2.
  const std::vector<step> steps = {
      {0, {3, 0, 1, 2}},     // before the first: new first
      {2, {3, 0, 1, 4, 2}},  // before the last: last stays
      {1, {3, 0, 5, 1, 4, 2}},
      {3, {6, 3, 0, 5, 1, 4, 2}},
      {42, {}},              // no such id
  };
  scoped_list<int> l;
  for (int i = 0; i < 3; ++i) {
    l->add(nullptr);
  }
  for (const step& s : steps) {
    std::int32_t id = -1;
    int* value = l->insert_before(s.before, &id);
    if (s.expected.empty()) {
      EXPECT_EQ(value, nullptr);
      EXPECT_EQ(id, -1);
      continue;
    }
    ASSERT_NE(value, nullptr) << s.before;
    EXPECT_EQ(*value, 0);
    EXPECT_EQ(ids_of(l.list), s.expected);
    EXPECT_EQ(l->first->id, s.expected.front());
    EXPECT_EQ(l->last->id, s.expected.back());
    EXPECT_TRUE(chain_sound(l.list, false));
  }
  scoped_list<int> empty;
  EXPECT_EQ(empty->insert_before(0, nullptr), nullptr);
  EXPECT_EQ(empty->next_id, 0);
}

TEST(BrolList, RemoveKeepsEndsRight) {
  struct removal {
    std::int32_t id;
    ids expected;
  };
  const std::vector<removal> removals = {
      {2, {0, 1, 3, 4}}, {0, {1, 3, 4}}, {4, {1, 3}}, {9, {1, 3}}, {3, {1}}, {1, {}},
  };
  scoped_list<brol_string> l;
  for (int i = 0; i < 5; ++i) {
    l->add(nullptr)->assign("line");
  }
  for (const removal& r : removals) {
    l->remove(r.id);
    EXPECT_EQ(ids_of(l.list), r.expected) << "after removing " << r.id;
    EXPECT_TRUE(chain_sound(l.list, true));
  }
  EXPECT_EQ(l->anchor, nullptr);
}

TEST(BrolList, RemoveConsultsTheCacheFirstAndEmptiesTheSlot) {
  scoped_list<int> l;
  l->add(nullptr);
  l->add(nullptr);
  // A slot naming element 0 under id 7: remove(7) takes element 0 although its id is 0.
  l->recent_node[2] = l->first;
  l->recent_id[2] = 7;
  l->remove(7);
  EXPECT_EQ(l->recent_node[2], nullptr);
  EXPECT_EQ(ids_of(l.list), ids{1});
  l->recent_id[1] = 1;  // an empty slot is skipped whatever its id
  l->remove(1);
  EXPECT_EQ(l->first, nullptr);
}

TEST(BrolList, MoveToFront) {
  struct move {
    std::int32_t id;
    ids expected;
  };
  const std::vector<move> moves = {
      {3, {3, 0, 1, 2}}, {3, {3, 0, 1, 2}}, {1, {1, 3, 0, 2}}, {2, {2, 1, 3, 0}}, {8, {2, 1, 3, 0}},
  };
  scoped_list<int> l;
  for (int i = 0; i < 4; ++i) {
    l->add(nullptr);
  }
  for (const move& m : moves) {
    l->move_to_front(m.id);
    EXPECT_EQ(ids_of(l.list), m.expected) << "after moving " << m.id;
    EXPECT_EQ(l->last->id, m.expected.back());
    EXPECT_TRUE(chain_sound(l.list, false));
  }
}

TEST(BrolList, MoveToFrontOfTheLastOfTwoSwapsThem) {
  scoped_list<int> l;
  l->add(nullptr);
  l->add(nullptr);
  auto* second = l->last;
  l->move_to_front(second);
  EXPECT_EQ(l->first, second);
  EXPECT_EQ(l->last->id, 0);
  EXPECT_EQ(ids_of(l.list), (ids{1, 0}));
  EXPECT_TRUE(chain_sound(l.list, false));
}

TEST(BrolList, MoveToFrontOfNoElementChangesNothing) {
  scoped_list<int> l;
  l->add(nullptr);
  l->add(nullptr);
  l->move_to_front(static_cast<brol_list_node<int>*>(nullptr));
  l->move_to_front(reinterpret_cast<brol_list_node<int>*>(std::uintptr_t{0x10}));
  EXPECT_EQ(ids_of(l.list), (ids{0, 1}));
  EXPECT_TRUE(chain_sound(l.list, true));
}

TEST(BrolList, IterationInOrder) {
  scoped_list<brol_string> l;
  brol_list_iter<brol_string> it;
  EXPECT_EQ(it.value(), nullptr);
  EXPECT_EQ(it.id(), -1);
  it.begin(l.list);
  EXPECT_EQ(it.value(), nullptr);
  EXPECT_EQ(it.id(), -1);
  for (const char* text : {"a", "b", "c"}) {
    l->add(nullptr)->assign(text);
  }
  l->insert_before(1, nullptr)->assign("x");
  std::string seen;
  for (it.begin(l.list); it.value() != nullptr; it.advance()) {
    seen += std::string(it.value()->c_str()) + std::to_string(it.id());
  }
  EXPECT_EQ(seen, "a0x3b1c2");
}

TEST(BrolList, PointerValuesAreNotOwned) {
  brol_string a;
  a.init_from("kept");
  {
    scoped_list<brol_string*> l;
    auto* element = l->add_value(&a);
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(element->value, &a);
    EXPECT_EQ(must(l->add(nullptr)), nullptr);
    l->remove(element->id);
  }
  EXPECT_STREQ(a.c_str(), "kept");
  a.destroy();
}

TEST(BrolList, StringValuesAreCopiedAndReleased) {
  brol_string source;
  source.init_from("original");
  scoped_list<brol_string> l;
  auto* element = l->add_value(source);
  ASSERT_NE(element, nullptr);
  source.assign("changed");
  EXPECT_STREQ(element->value.c_str(), "original");
  EXPECT_NE(element->value.text, source.text);
  source.destroy();
  l->add(nullptr)->assign("second");
  EXPECT_EQ(texts_of(l.list), (std::vector<std::string>{"original", "second"}));
  // The leak checker sees it when remove or clear forgets a value.
  l->remove(0);
  l->clear();
}

TEST(BrolList, ListsOfListsReleaseTheirInnerLists) {
  scoped_list<string_list> outer;
  for (int i = 0; i < 3; ++i) {
    string_list* inner = outer->add(nullptr);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->first, nullptr);
    EXPECT_EQ(inner->max_id, 2147483647);
    inner->add(nullptr)->assign("inner line");
  }
  outer->remove(1);
}

// Every failing allocation leaves the list as it was: same ids, texts and counters.
TEST(BrolList, AllocationFailuresChangeNothing) {
  struct operation {
    const char* name;
    std::function<bool(string_list&, brol_string&)> run;  // true when it created an element
    std::int64_t allocations;
  };
  const std::vector<operation> operations = {
      {"add", [](string_list& l, brol_string&) { return l.add(nullptr) != nullptr; }, 1},
      {"add_value", [](string_list& l, brol_string& s) { return l.add_value(s) != nullptr; }, 2},
      {"insert_before", [](string_list& l, brol_string&) { return l.insert_before(1, nullptr) != nullptr; }, 1},
  };
  for (const operation& op : operations) {
    string_list l;
    brol_string text;
    text.init_from("a value long enough to need its own buffer");
    l.init();
    bool created = false;
    const auto tried = brol_test::for_each_allocation_failure(
        [&] {
          l.destroy();
          l.init();
          l.add(nullptr)->assign("zero");
          l.add(nullptr)->assign("one");
        },
        [&] { created = op.run(l, text); },
        [&](std::int64_t n) {
          EXPECT_FALSE(created) << op.name << " failing allocation " << n;
          EXPECT_EQ(ids_of(l), (ids{0, 1})) << op.name;
          EXPECT_EQ(l.next_id, 2) << op.name;
          EXPECT_EQ(texts_of(l), (std::vector<std::string>{"zero", "one"})) << op.name;
          EXPECT_TRUE(chain_sound(l, true)) << op.name;
        });
    EXPECT_EQ(tried, op.allocations) << op.name;
    l.destroy();
    text.destroy();
  }
}

// A long random sequence of list operations against std::list, with the structure checked after
// every step.
TEST(BrolList, RandomSequenceMatchesStdList) {
  std::mt19937 rng(20261207);
  auto draw = [&rng] { return static_cast<std::uint32_t>(rng()); };
  scoped_list<brol_string> l;
  std::list<std::pair<std::int32_t, std::string>> model;
  std::int32_t model_next = 0;
  auto random_id = [&]() -> std::int32_t {
    return static_cast<std::int32_t>(draw() % static_cast<std::uint32_t>(model_next + 2)) - 1;
  };
  auto find = [&](std::int32_t id) {
    auto it = model.begin();
    while (it != model.end() && it->first != id) {
      ++it;
    }
    return it;
  };
  for (int step = 0; step < 20000; ++step) {
    std::string text = "v";
    text += std::to_string(step);
    const std::uint32_t op = draw() % 100;
    std::int32_t id = -1;
    if (op < 35) {
      l->add(&id)->assign(text.c_str());
      model.emplace_back(model_next++, text);
    } else if (op < 55) {
      const std::int32_t before = random_id();
      brol_string* value = l->insert_before(before, &id);
      auto it = find(before);
      ASSERT_EQ(value != nullptr, it != model.end());
      if (value != nullptr) {
        value->assign(text.c_str());
        model.emplace(it, model_next++, text);
      }
    } else if (op < 85) {
      const std::int32_t victim = random_id();
      l->remove(victim);
      if (auto it = find(victim); it != model.end()) {
        model.erase(it);
      }
    } else if (op < 99) {
      const std::int32_t front = random_id();
      l->move_to_front(front);
      if (auto it = find(front); it != model.end()) {
        model.splice(model.begin(), model, it);
      }
    } else {
      l->clear();
      model.clear();
      model_next = 0;
    }
    ASSERT_TRUE(chain_sound(l.list, false)) << "step " << step;
    ASSERT_EQ(l->next_id, model_next);
    auto it = model.begin();
    for (auto* n = l->first; n != nullptr; n = n->next, ++it) {
      ASSERT_NE(it, model.end());
      ASSERT_EQ(n->id, it->first) << "step " << step;
      ASSERT_STREQ(n->value.c_str(), it->second.c_str());
    }
    ASSERT_EQ(it, model.end());
  }
}

}  // namespace
