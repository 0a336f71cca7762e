// Sequences of list and dictionary operations from the fuzzer's bytes against a model (a vector in
// list order, a vector in insertion order with a map); some operations run with an allocation failed
// or under a lowered id limit and must then change nothing. After every step the whole content, the
// order and the ids agree with the model.
#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "brol/container/brol_dict.h"
#include "brol/container/brol_list.h"
#include "brol/platform/brol_alloc.h"
#include "fuzz_check.h"

namespace {

struct list_model {
  std::vector<std::pair<std::int32_t, std::string>> items;
  std::int32_t next_id = 0;
};

void compare(brol_list<brol_string>& list, const list_model& model) {
  std::size_t i = 0;
  for (brol_list_node<brol_string>* n = list.first; n != nullptr; n = n->next, ++i) {
    FUZZ_CHECK(i < model.items.size() && n->id == model.items[i].first && model.items[i].second == n->value.c_str());
    FUZZ_CHECK(n->next != nullptr || list.last == n);
  }
  FUZZ_CHECK(i == model.items.size() && list.next_id == model.next_id && (list.anchor == nullptr) == (i == 0));
}

std::size_t find_id(const list_model& model, std::int32_t id) {
  std::size_t i = 0;
  while (i < model.items.size() && model.items[i].first != id) ++i;
  return i;
}

void list_step(fuzz::input& in, brol_list<brol_string>& list, list_model& model) {
  const std::uint8_t op = in.byte();
  const bool refused = (op & 0x80) != 0;  // this creation runs with its allocation failed
  const std::int32_t id = static_cast<std::int32_t>(in.below(static_cast<std::size_t>(model.next_id) + 2)) - 1;
  const std::string value = in.text(6).c_str();
  if (op % 6 == 0 || op % 6 == 1) {
    brol_alloc_fail_at(refused ? 1 : 0);
    std::int32_t new_id = -5;
    brol_string* v = op % 6 == 0 ? list.add(&new_id) : list.insert_before(id, &new_id);
    brol_alloc_fail_at(0);
    const std::size_t at = op % 6 == 0 ? model.items.size() : find_id(model, id);
    const bool expected = !refused && at <= model.items.size() && (op % 6 == 0 || at < model.items.size());
    FUZZ_CHECK((v != nullptr) == expected && (expected ? new_id == model.next_id : new_id == -5));
    if (v == nullptr) return;
    v->assign(value.c_str());
    model.items.insert(model.items.begin() + static_cast<std::ptrdiff_t>(at), {model.next_id++, value});
  } else if (op % 6 == 2) {
    list.remove(id);
    const std::size_t at = find_id(model, id);
    if (at < model.items.size()) model.items.erase(model.items.begin() + static_cast<std::ptrdiff_t>(at));
  } else if (op % 6 == 3) {
    list.move_to_front(id);
    const std::size_t at = find_id(model, id);
    if (at < model.items.size())
      std::rotate(model.items.begin(), model.items.begin() + static_cast<std::ptrdiff_t>(at),
                  model.items.begin() + static_cast<std::ptrdiff_t>(at) + 1);
  } else if (op % 6 == 4 && op < 8) {
    list.clear();
    model.items.clear();
    model.next_id = list.base_id;
  }
}

struct dict_model {
  std::vector<std::pair<std::string, std::string>> order;
  std::map<std::string, std::size_t> where;
};

void compare(brol_dict<brol_string>& dict, const dict_model& model) {
  brol_dict_iter<brol_string> it;
  std::size_t i = 0;
  for (it.begin(dict); it.value() != nullptr; it.advance(), ++i) {
    FUZZ_CHECK(i < model.order.size() && model.order[i].first == it.key() &&
               model.order[i].second == it.value()->c_str());
  }
  FUZZ_CHECK(i == model.order.size());
}

void dict_step(fuzz::input& in, brol_dict<brol_string>& dict, dict_model& model) {
  const std::uint8_t op = in.byte();
  // Keys from a small alphabet collide often; their count makes chains split into sub-tables.
  std::string key = in.text(3);
  for (char& c : key) c = static_cast<char>('a' + (static_cast<unsigned char>(c) % 4));
  const std::string value = in.text(4).c_str();
  const auto found = model.where.find(key);
  const bool present = found != model.where.end();
  if (op % 4 == 0) {
    brol_string* v = dict.find(key.c_str());
    FUZZ_CHECK((v != nullptr) == present && (!present || model.order[found->second].second == v->c_str()));
  } else if (op % 4 == 1 || op % 4 == 2) {
    const bool refused = (op & 0x80) != 0 && !present;
    brol_alloc_fail_at((op & 0x80) != 0 ? 1 + (op >> 2) % 2 : 0);
    brol_dict_entry<brol_string>* entry = nullptr;
    brol_string* v = op % 4 == 1 ? dict.find_or_add(key.c_str())
                                 : (dict.insert(key.c_str(), &entry, nullptr), entry ? &entry->value : nullptr);
    brol_alloc_fail_at(0);
    FUZZ_CHECK(refused || v != nullptr);
    if (v == nullptr) return;
    if (!present) {
      model.where[key] = model.order.size();
      model.order.emplace_back(key, "");
    }
    v->assign(value.c_str());
    model.order[model.where[key]].second = value;
  } else if (op < 4) {
    dict.clear();
    model = dict_model{};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input in(data, size);
  brol_list<brol_string> list;
  list.init();
  list_model lm;
  brol_dict<brol_string> dict;
  dict.init();
  dict_model dm;
  for (int steps = 0; steps < 400 && !in.empty(); ++steps) {
    if (in.byte() & 1) {
      list_step(in, list, lm);
      compare(list, lm);
    } else {
      dict_step(in, dict, dm);
      compare(dict, dm);
    }
  }
  list.destroy();
  dict.destroy();
  return 0;
}
