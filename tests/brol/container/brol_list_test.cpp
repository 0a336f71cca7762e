// brol_list: numbering and its limit, values with and without init/destroy, allocation failures, and
// a long random sequence against std::list.
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

template <class T>
using scoped_list = brol_scoped<brol_list<T>>;

TEST(BrolList, NumberingAcrossRemoveAndClear) {
  scoped_list<int> l;
  EXPECT_EQ(l.cleared, 1);
  EXPECT_EQ(l.max_id, 2147483647);
  std::int32_t id = 77;
  ASSERT_NE(l.add(&id), nullptr);
  EXPECT_EQ(id, 0);
  EXPECT_TRUE(l.first == l.last && l.last == l.anchor && l.first != nullptr && l.first->tag == 0);
  l.remove(0);
  EXPECT_TRUE(l.first == nullptr && l.last == nullptr && l.anchor == nullptr);
  l.add(&id);
  EXPECT_EQ(id, 1);  // not reused
  l.base_id = 40;
  l.clear();
  l.add(&id);
  EXPECT_EQ(id, 40);
  EXPECT_EQ(l.insert_before(7, &id), nullptr);
  EXPECT_EQ(id, 40);
  scoped_list<int> empty;
  EXPECT_EQ(empty.insert_before(0, nullptr), nullptr);
  // remove looks in the (never filled) cache first: a slot naming element 40 under id 7.
  l.add(nullptr);
  l.recent_node[2] = l.first;
  l.recent_id[2] = 7;
  l.remove(7);
  EXPECT_EQ(l.recent_node[2], nullptr);
  EXPECT_EQ(ids_of(l), ids{41});
}

TEST(BrolList, IdLimitRefusesEveryCreation) {
  scoped_list<brol_string*> l;
  l.add(nullptr);
  l.max_id = l.next_id;
  std::int32_t id = 99;
  EXPECT_EQ(l.add(&id), nullptr);
  EXPECT_EQ(l.add_value(nullptr), nullptr);
  EXPECT_EQ(l.insert_before(0, &id), nullptr);
  EXPECT_EQ(id, 99);
  EXPECT_EQ(ids_of(l), ids{0});
  l.max_id = 2147483647;  // the highest id handed out is 2147483646
  l.next_id = 2147483646;
  EXPECT_NE(l.add(&id), nullptr);
  EXPECT_EQ(id, 2147483646);
  EXPECT_EQ(l.add(&id), nullptr);
}

TEST(BrolList, MoveToFrontOfTheLastOrOfNoElement) {
  scoped_list<int> l;
  l.add(nullptr);
  l.add(nullptr);
  l.move_to_front(static_cast<brol_list_node<int>*>(nullptr));
  l.move_to_front(reinterpret_cast<brol_list_node<int>*>(std::uintptr_t{0x10}));
  EXPECT_EQ(ids_of(l), (ids{0, 1}));
  l.move_to_front(l.last);
  EXPECT_EQ(ids_of(l), (ids{1, 0}));
  EXPECT_EQ(l.last->id, 0);
  EXPECT_TRUE(chain_sound(l, false));
}

TEST(BrolList, IterationAndOwnedValues) {
  brol_string source;
  source.init_from("copied");
  scoped_list<brol_string> l;
  brol_list_iter<brol_string> it;
  EXPECT_TRUE(it.value() == nullptr && it.id() == -1);
  it.begin(l);
  EXPECT_TRUE(it.value() == nullptr && it.id() == -1);
  must(l.add(nullptr)).assign("a");
  auto* copy = l.add_value(source);
  source.destroy();  // the element holds its own copy
  must(l.insert_before(1, nullptr)).assign("x");
  std::string seen;
  for (it.begin(l); it.value() != nullptr; it.advance()) {
    seen += std::string(it.value()->c_str()) + std::to_string(it.id());
  }
  EXPECT_EQ(seen, "a0x2copied1");
  l.remove(must(copy).id);  // the leak checker sees a value that remove or clear forgets
}

TEST(BrolList, PointersAreNotOwnedAndListsNest) {
  brol_string kept;
  kept.init_from("kept");
  {
    scoped_list<brol_string*> pointers;
    EXPECT_EQ(must(pointers.add(nullptr)), nullptr);
    EXPECT_EQ(must(pointers.add_value(&kept)).value, &kept);
    scoped_list<string_list> outer;
    must(must(outer.add(nullptr)).add(nullptr)).assign("inner line");
    EXPECT_EQ(must(outer.add(nullptr)).max_id, 2147483647);
  }
  EXPECT_STREQ(kept.c_str(), "kept");
  kept.destroy();
}

// Every failing allocation leaves the list as it was: same ids, texts and counters.
TEST(BrolList, AllocationFailuresChangeNothing) {
  const std::vector<std::pair<std::int64_t, std::function<bool(string_list&, brol_string&)>>> operations = {
      {1, [](string_list& l, brol_string&) { return l.add(nullptr) != nullptr; }},
      {2, [](string_list& l, brol_string& s) { return l.add_value(s) != nullptr; }},
      {1, [](string_list& l, brol_string&) { return l.insert_before(1, nullptr) != nullptr; }},
  };
  for (const auto& [allocations, run] : operations) {
    scoped_list<brol_string> l;
    brol_string text;
    text.init_from("a value with a buffer of its own");
    bool created = false;
    const auto tried = brol_test::for_each_allocation_failure(
        [&] {
          l.clear();
          must(l.add(nullptr)).assign("zero");
          must(l.add(nullptr)).assign("one");
        },
        [&] { created = run(l, text); },
        [&](std::int64_t n) {
          EXPECT_FALSE(created) << n;
          EXPECT_EQ(ids_of(l), (ids{0, 1}));
          EXPECT_EQ(l.next_id, 2);
          EXPECT_STREQ(l.last->value.c_str(), "one");
          EXPECT_TRUE(chain_sound(l, true));
        });
    EXPECT_EQ(tried, allocations);
    text.destroy();
  }
}

// A long random sequence against std::list, with the structure checked after every step.
TEST(BrolList, RandomSequenceMatchesStdList) {
  std::mt19937 rng(20261207);
  auto draw = [&rng](std::uint32_t n) { return static_cast<std::uint32_t>(rng()) % n; };
  scoped_list<brol_string> l;
  std::list<std::pair<std::int32_t, std::string>> model;
  std::int32_t next = 0;
  for (int step = 0; step < 20000; ++step) {
    const std::string text = std::to_string(step);
    const std::int32_t id = static_cast<std::int32_t>(draw(static_cast<std::uint32_t>(next) + 2)) - 1;
    auto it = std::find_if(model.begin(), model.end(), [id](const auto& e) { return e.first == id; });
    const std::uint32_t op = draw(100);
    if (op < 35) {
      must(l.add(nullptr)).assign(text.c_str());
      model.emplace_back(next++, text);
    } else if (op < 55) {
      brol_string* value = l.insert_before(id, nullptr);
      ASSERT_EQ(value != nullptr, it != model.end());
      if (value != nullptr) {
        value->assign(text.c_str());
        model.emplace(it, next++, text);
      }
    } else if (op < 85) {
      l.remove(id);
      if (it != model.end()) {
        model.erase(it);
      }
    } else if (op < 99) {
      l.move_to_front(id);
      if (it != model.end()) {
        model.splice(model.begin(), model, it);
      }
    } else {
      l.clear();
      model.clear();
      next = 0;
    }
    ASSERT_TRUE(chain_sound(l, false)) << "step " << step;
    ASSERT_EQ(l.next_id, next);
    auto m = model.begin();
    for (auto* n = l.first; n != nullptr; n = n->next, ++m) {
      ASSERT_TRUE(m != model.end() && n->id == m->first && m->second == n->value.c_str()) << "step " << step;
    }
    ASSERT_TRUE(m == model.end());
  }
}

}  // namespace
