// Every public operation that allocates, failed at its 1st, 2nd, ... allocation (once, and from then
// on) until it completes: the documented failure each time, an object that stays usable, no leak; and
// the report of the allocation sites reached and failed, which must name every site of the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "../stream/stream_test_fakes.h"
#include "brol/config/brol_config.h"
#include "brol/container/brol_dict.h"
#include "brol/container/brol_list.h"
#include "brol/fs/brol_mkdir.h"
#include "brol/fs/brol_replace_file.h"
#include "brol/string/brol_string.h"
#include "brol/string/brol_string_array.h"
#include "brol/text/brol_gentext.h"
#include "brol_test_support.h"

namespace {

using stream_test::read_file;
using stream_test::write_file;

const std::string k_long(150, 'L');  // longer than two 64-byte blocks
const std::string k_huge(600, 'H');  // past the 512-byte areas of the stream's formatting
const std::string k_sixty(60, 'o');  // a pointer's digits no longer fit behind it
const std::string k_lower = std::string("x").append(80, 'y');

// --- Strings: every operation keeps its documented text after a failure ---------------------------

struct string_case {
  const char* name;
  std::string initial;
  std::function<bool(brol_string&)> operation;  // false: the operation reported the failure
  std::string expected;                         // the text after success
  const char* after_failure;                    // the documented text after a failure (null: any)
  bool reports;                                 // the result itself says false on failure
};

bool appended(brol_string& s, brol_string& (brol_string::*op)(const char*), const char* text) {
  (s.*op)(text);
  return s.error == 0;
}

std::vector<string_case> string_cases() {
  const char* l = k_long.c_str();
  return {
      {"assign", "old", [l](brol_string& s) { return appended(s, &brol_string::assign, l); }, k_long, "",
       false},  // as reserve_discard
      {"append", "old", [l](brol_string& s) { return appended(s, &brol_string::append, l); }, "old" + k_long, "old",
       false},
      {"append_upper", "a", [](brol_string& s) { return appended(s, &brol_string::append_upper, k_lower.c_str()); },
       std::string("aX").append(80, 'Y'), "a", false},
      {"insert", "old", [l](brol_string& s) { return s.insert(1, l); }, "o" + k_long + "ld", "old", true},
      {"reserve", "old", [](brol_string& s) { return s.reserve(300); }, "old", "old", true},
      {"init_copy", "",
       [](brol_string& s) {
         static brol_string source;  // a record over a literal, never released
         source.error = 0;
         source.capacity = 8;
         source.text = const_cast<char*>("copied");
         s.destroy();
         s.init_copy(source);
         return s.error == 0;
       },
       "copied", "", false},
      {"replace_all own text", "a-b-c",
       [](brol_string& s) {
         s.replace_all(s.text + 1, s.text + 1);  // "-b-c" -> itself: copies of both arguments
         return s.error == 0;
       },
       "a-b-c", "a-b-c", false},
      {"replace_all grows", "a-b-c",
       [l](brol_string& s) {
         s.replace_all("-", l);
         return s.error == 0;
       },
       "a" + k_long + "b" + k_long + "c", "a-b-c", false},
      {"insert_before_each", "a.b",
       [](brol_string& s) {
         s.insert_before_each(".", k_long.c_str());
         return s.error == 0;
       },
       "a" + k_long + ".b", nullptr, false},
      {"take_fields", "old",
       [l](brol_string& s) { return s.take_fields(("x," + k_long + ",z").c_str(), 1, 2, ',', 0); }, k_long, "", true},
      {"append_printf", "old", [l](brol_string& s) { return s.append_printf("%s%d", l, 7); }, "old" + k_long + "7",
       "old", true},
      {"append_format", "old", [l](brol_string& s) { return s.append_format(l, brol_fmt_int, 4, 42); },
       "old" + k_long + "42", "old", true},
      {"append_random", "old", [](brol_string& s) { return s.append_random(100) && s.length() == 103; }, "", "old",
       true},
      {"from_utf8", "", [](brol_string& s) { return s.from_utf8("gr\xC3\xBC\xC3\x9F"); }, "gr\xFC\xDF", nullptr, true},
      {"to_utf8", "", [](brol_string& s) { return s.to_utf8("gr\xFC\xDF"); }, "gr\xC3\xBC\xC3\x9F", nullptr, true},
      {"to_utf8 own text", "gr\xFC\xDF", [](brol_string& s) { return s.to_utf8(s.text); }, "gr\xC3\xBC\xC3\x9F",
       "gr\xFC\xDF", true},
      {"assign_char", "",
       [](brol_string& s) { return appended(s, &brol_string::append, "") && s.assign_char('c').error == 0; }, "c", "",
       false},
      {"assign_copy", "old",
       [](brol_string& s) {
         static brol_string source;  // a record over a literal, never released
         source.error = 0;
         source.capacity = 200;
         source.text = const_cast<char*>("copied");
         return s.assign_copy(source).error == 0;
       },
       "copied", "", false},
      {"assign_sub", "old", [l](brol_string& s) { return s.assign_sub(l, 10, 100); }, k_long.substr(10, 100), "", true},
      {"assign_trimmed", "old",
       [](brol_string& s) {
         s.assign_trimmed(("  " + k_long + "\t").c_str());
         return s.error == 0;
       },
       k_long, "", false},
      {"append_bytes", "old", [l](brol_string& s) { return s.append_bytes(l, 100); },
       std::string("old").append(k_long, 0, 100), "old", true},
      {"insert_bytes", "old", [l](brol_string& s) { return s.insert_bytes(0, l, 100); }, k_long.substr(0, 100) + "old",
       "old", true},
      {"append_lower", "A", [](brol_string& s) { return appended(s, &brol_string::append_lower, k_long.c_str()); },
       std::string("A").append(150, 'l'), "A", false},
      {"field", "old", [l](brol_string& s) { return s.field(("a;" + k_long).c_str(), 1, ';'); }, k_long, "", true},
      {"take_token", "old", [l](brol_string& s) { return s.take_token(("a " + k_long).c_str(), 1, " "); }, k_long, "",
       true},
      {"take_quoted", "old",
       [l](brol_string& s) {
         const std::string src = "'" + k_long + "'";
         return s.take_quoted(src.c_str(), 0, '\'') == 151 && s.error == 0;
       },
       k_long, "", false},
      {"take_between", "old",
       [l](brol_string& s) {
         const std::string src = "<" + k_long + ">";
         return s.take_between(src.c_str(), 0, '<', '>') == 152;
       },
       k_long, "", true},
      {"base_name", "dir/", [l](brol_string& s) { return s.base_name(("x/" + k_long).c_str()).error == 0; },
       "dir/" + k_long, "dir/", false},
      {"append_path", "C:", [l](brol_string& s) { return s.append_path(l).error == 0; }, "C:" + std::string(1, brol_path_separator) + k_long, "C:", false},
      {"assign_pointer", "", [](brol_string& s) { return s.assign_pointer(&s).error == 0; }, "", "", false},
      {"append_pointer", k_sixty, [](brol_string& s) { return s.append_pointer(&s).error == 0 && s.length() > 60; }, "",
       k_sixty.c_str(), false},
      {"buffer_at", "old", [](brol_string& s) { return s.buffer_at(300) != nullptr; }, "old", "old", true},
      {"allocate", "old", [](brol_string& s) { return s.allocate(300); }, "", "", true},
      {"append_date", "", [](brol_string& s) { return s.append_date(1) && s.length() == 19; }, "", "", true},
  };
}

void check_string_case(const string_case& c, brol_test::alloc_trial& t) {
  brol_string s;
  s.init_from(c.initial.c_str());
  const bool ok = t.run([&] { return c.operation(s); });
  if (t.hit && !ok) {
    EXPECT_EQ(s.error, 1);
    if (c.after_failure != nullptr) {
      EXPECT_STREQ(s.c_str(), c.after_failure);
    }
  } else if (!c.expected.empty() || c.initial.empty()) {
    EXPECT_TRUE(ok);
    if (!c.expected.empty()) {
      EXPECT_STREQ(s.c_str(), c.expected.c_str());
    }
  }
  if (t.hit && c.reports) {
    EXPECT_FALSE(ok) << "a failed allocation reported as success";
  }
  // Still usable: the string takes a new text.
  s.error = 0;
  EXPECT_TRUE(s.assign_sub(k_long.c_str(), 0, 100));
  EXPECT_EQ(s.length(), 100);
  s.destroy();
}

// --- Every other subsystem: one body per operation --------------------------------------------------

struct sweep_case {
  const char* name;
  std::function<void(brol_test::alloc_trial&)> body;
};

void split_case(brol_test::alloc_trial& t) {
  brol_string_array a;
  const bool made = t.run([&] { return a.init(2) && brol_split("a,b,c,d,e", a, ','); });
  if (made) {
    EXPECT_EQ(a.size(), 5);
  } else {
    EXPECT_TRUE(t.hit);
    EXPECT_LE(a.size(), 5);
  }
  // Usable: another element can be added once memory is back.
  const std::int32_t before = a.size();
  EXPECT_NE(a.add(1), nullptr);
  EXPECT_EQ(a.size(), before + 1);
  a.destroy();
}

void list_case(brol_test::alloc_trial& t) {
  brol_list<brol_string> list;
  list.init();
  brol_string value;
  value.init_from(k_long.c_str());
  int added = 0;
  t.run([&] {
    for (; added < 4; ++added) {
      if (list.add_value(value) == nullptr) {
        return false;
      }
    }
    return true;
  });
  EXPECT_EQ(list.next_id, added) << "a refused element took an id";
  int seen = 0;
  brol_list_iter<brol_string> it;
  for (it.begin(list); it.value() != nullptr; it.advance(), ++seen) {
    EXPECT_STREQ(it.value()->c_str(), k_long.c_str());
  }
  EXPECT_EQ(seen, added);
  EXPECT_NE(list.add(nullptr), nullptr);
  value.destroy();
  list.destroy();
}

// Enough keys that chains pass eight entries and tables split.
void dict_case(brol_test::alloc_trial& t) {
  brol_dict<int> dict;
  dict.init();
  const auto key = [](int i) { return "key" + std::to_string(i); };
  int added = 0;
  t.run([&] {
    for (; added < 300; ++added) {
      int* v = dict.find_or_add(key(added).c_str());
      if (v == nullptr) {
        return false;
      }
      *v = added;
    }
    return true;
  });
  for (int i = 0; i < 300; ++i) {
    int* v = dict.find(key(i).c_str());
    if (i < added) {
      ASSERT_NE(v, nullptr) << i;
      EXPECT_EQ(*v, i);
    } else {
      EXPECT_EQ(v, nullptr) << "a refused key was filed: " << i;
      ASSERT_NE(dict.find_or_add(key(i).c_str()), nullptr);
    }
  }
  dict.destroy();
}

void printf_alloc_case(brol_test::alloc_trial& t) {
  char* buffer = nullptr;
  std::int64_t size = 0;
  ASSERT_EQ(brol_printf_alloc(&buffer, &size, "%s", "short"), 1);
  const bool ok = t.run([&] { return brol_printf_alloc(&buffer, &size, "%s!", k_long.c_str()) == 1; });
  if (ok) {
    EXPECT_EQ(std::string(buffer), k_long + "!");
  } else {
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(size, 0);
  }
  EXPECT_EQ(brol_printf_alloc(&buffer, &size, "%d", 5), 1);
  EXPECT_STREQ(buffer, "5");
  brol_free(buffer);
}

const char* const k_config_file = "# top\nkey = 1\n[one]\na = \"quoted value\"\nb = 2\n[two]\nc = 3\n";

struct config_fixture {
  brol_test::temp_dir dir;
  std::string path = dir.file("settings.ini");
  brol_config c;
  config_fixture() {
    write_file(path, k_config_file);
    c.init();
  }
  ~config_fixture() { c.destroy(); }
  std::string text() {
    brol_string out;
    out.init();
    EXPECT_TRUE(c.to_text(out));
    std::string s = out.c_str();
    out.destroy();
    return s;
  }
};

void config_load_case(brol_test::alloc_trial& t) {
  config_fixture f;
  const bool ok = t.run([&] { return f.c.load(f.path.c_str()); });
  EXPECT_EQ(f.text(), ok ? k_config_file : "");
  EXPECT_TRUE(f.c.load(f.path.c_str()));
  EXPECT_EQ(f.text(), k_config_file);
}

void config_edit_case(brol_test::alloc_trial& t) {
  config_fixture f;
  ASSERT_TRUE(f.c.load(f.path.c_str()));
  const bool ok = t.run([&] {
    return f.c.set("one", "b", k_long.c_str(), '=', 0) && f.c.set("three", "d", "4", '=', 0) &&
           std::string(f.c.get("one", "a", '=')) == "quoted value" && f.c.remove("two", "c", '=', true);
  });
  const std::string b = f.c.get("one", "b", '=');
  EXPECT_TRUE(b == "2" || b == k_long) << b;
  if (ok) {
    EXPECT_EQ(b, k_long);
    EXPECT_STREQ(f.c.get("three", "d", '='), "4");
  }
  EXPECT_TRUE(f.c.set("two", "e", "5", '=', 0));
  EXPECT_STREQ(f.c.get("two", "e", '='), "5");
}

void config_lists_case(brol_test::alloc_trial& t) {
  config_fixture f;
  ASSERT_TRUE(f.c.load(f.path.c_str()));
  brol_list<brol_string> names;
  names.init();
  brol_string text;
  text.init();
  t.run([&] {
    f.c.section_names(names);
    f.c.keys("one", names);
    return f.c.to_text(text);
  });
  EXPECT_LE(names.next_id, 4);  // "one", "two", then the keys a and b: a refused name is skipped
  EXPECT_EQ(std::string(k_config_file).rfind(text.c_str(), 0), 0u) << "to_text keeps what fitted";
  names.destroy();
  text.destroy();
}

void config_save_case(brol_test::alloc_trial& t) {
  config_fixture f;
  ASSERT_TRUE(f.c.load(f.path.c_str()));
  ASSERT_TRUE(f.c.set("one", "b", k_long.c_str(), '=', 0));
  const std::string other = f.dir.file("other.ini");
  write_file(other, "old\n");
  const bool ok = t.run([&] { return f.c.save(other.c_str()); });
  const std::string expected = f.text();
  EXPECT_EQ(read_file(other), ok ? expected : "old\n") << "an atomic save leaves the old file";
  if (f.c.file_name.c_str() == f.path) {
    EXPECT_FALSE(ok);  // the given path becomes file_name first; only a failed copy of it keeps the old one
  }
  EXPECT_TRUE(f.c.save(other.c_str()));
  EXPECT_EQ(read_file(other), expected);
}

void mkdir_case(brol_test::alloc_trial& t) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("a") + brol_path_separator + "b";
  const bool ok = t.run([&] { return brol_mkdir(path.c_str()); });
  brol_file_status status{};
  EXPECT_EQ(brol_os.file_stat(path.c_str(), &status), ok);
  EXPECT_TRUE(brol_mkdir(path.c_str()));
}

void replace_file_case(brol_test::alloc_trial& t) {
  brol_test::temp_dir dir;
  const std::string target = dir.file("target");
  write_file(target, "old");
  brol_replace_file r;
  r.init();
  const bool ok = t.run([&] { return r.begin(target.c_str()); });
  if (!ok) {
    EXPECT_EQ(r.error_number, ENOMEM);
    EXPECT_EQ(r.target, nullptr);
  }
  r.abort();
  ASSERT_TRUE(r.begin(target.c_str()));
  ASSERT_EQ(brol_os.file_write(r.handle, "new", 3), 3);
  EXPECT_TRUE(r.commit());
  EXPECT_EQ(read_file(target), "new");
  r.destroy();
}

// A stream over a file of 200 bytes, with a buffer of 32.
struct stream_fixture {
  brol_test::temp_dir dir;
  std::string path = dir.file("data");
  stream_test::stream s{32};
  stream_fixture() { write_file(path, stream_test::sample_text(200, 1)); }
};

void stream_open_read_case(brol_test::alloc_trial& t) {
  stream_fixture f;
  const bool ok = t.run([&] { return f.s->open(f.path.c_str(), brol_open_read) && f.s->get_byte() < 256; });
  if (!ok) {
    EXPECT_EQ(f.s->status, brol_stream_no_memory);
  }
  EXPECT_TRUE(f.s->open(f.path.c_str(), brol_open_read));
  brol_string line;
  line.init();
  EXPECT_GE(line.read_until(f.s.s, nullptr), 0);
  EXPECT_EQ(std::string(line.c_str()), stream_test::sample_text(200, 1));
  line.destroy();
}

void stream_write_case(brol_test::alloc_trial& t) {
  stream_fixture f;
  const std::string out = f.dir.file("out");
  ASSERT_TRUE(f.s->open(out.c_str(), brol_open_write | brol_open_create));
  std::string expected;
  const bool ok = t.run([&] {
    return f.s->enable_write_buffer() && f.s->write_printf("%s-", k_huge.c_str()) &&
           f.s->write_format(k_huge.c_str(), brol_fmt_int, 4, 1) && f.s->set_buffer_size(64) && f.s->write_text("end");
  });
  if (!ok && f.s->status != brol_stream_ok) {
    EXPECT_EQ(f.s->status, brol_stream_no_memory);
  }
  EXPECT_TRUE(f.s->write_text("!"));
  EXPECT_TRUE(f.s->close(false));
  const std::string content = read_file(out);
  if (ok) {
    EXPECT_EQ(content, k_huge + "-" + k_huge + "1end!");
  } else {
    EXPECT_EQ(content.back(), '!');
  }
}

void stream_copy_case(brol_test::alloc_trial& t) {
  stream_fixture f;
  stream_test::stream source{0};
  ASSERT_TRUE(source->open(f.path.c_str(), brol_open_read));
  stream_test::stream dest{0};
  const std::string out = f.dir.file("copy");
  ASSERT_TRUE(dest->open(out.c_str(), brol_open_write | brol_open_create));
  source->buffer_size = 0;  // no buffer on either side: the copy needs an area of its own
  const bool ok = t.run([&] { return dest->copy_all(source.s); });
  if (!ok) {
    EXPECT_EQ(dest->status, brol_stream_no_memory);
    EXPECT_TRUE(dest->copy_all(source.s));
  }
  EXPECT_TRUE(dest->close(false));
  EXPECT_EQ(read_file(out), stream_test::sample_text(200, 1));
}

void stream_name_case(brol_test::alloc_trial& t) {
  stream_fixture f;
  ASSERT_TRUE(f.s->set_name("first"));
  const bool ok = t.run([&] { return f.s->set_name(k_long.c_str()); });
  EXPECT_STREQ(f.s->name, ok ? k_long.c_str() : "first");
  EXPECT_TRUE(f.s->set_name("again"));
}

void socket_case(brol_test::alloc_trial& t) {
  ASSERT_TRUE(stream_test::sockets_started);
  stream_test::stream listener;
  stream_test::stream client;
  stream_test::stream server;
  const bool ok = t.run([&] {
    if (!listener->resolve("127.0.0.1") || !listener->listen(0)) {
      return false;
    }
    const std::uint16_t port = stream_test::port_of(listener->address);
    return client->connect("127.0.0.1", port) && server->accept(&listener.s);
  });
  if (!ok) {
    EXPECT_FALSE(client->is_open() && server->is_open());
  } else {
    EXPECT_TRUE(client->write_text("hi"));
    EXPECT_TRUE(client->close(false));
    EXPECT_EQ(server->get_byte(), 'h');
  }
}

void maildir_case(brol_test::alloc_trial& t) {
  brol_test::temp_dir dir;
  for (const char* sub : {"new", "cur", "tmp"}) {
    ASSERT_TRUE(brol_mkdir(dir.file(sub).c_str()));
  }
  stream_test::stream s;
  const bool ok =
      t.run([&] { return s->open_maildir_file(1, brol_open_write | brol_open_create, dir.path().c_str(), "tmp"); });
  if (!ok) {
    EXPECT_FALSE(s->is_open());
  }
  EXPECT_TRUE(s->open_maildir_file(2, brol_open_write | brol_open_create, dir.path().c_str(), "tmp"));
}

void split_any_case(brol_test::alloc_trial& t) {
  brol_string_array a;
  ASSERT_TRUE(a.init(1));
  const bool ok = t.run([&] { return brol_split_any((k_long + " b;c").c_str(), a, " ;"); });
  if (ok) {
    ASSERT_EQ(a.size(), 3);
    EXPECT_STREQ(a.begin[0].c_str(), k_long.c_str());
  }
  EXPECT_NE(a.add(2), nullptr);
  a.destroy();
}

void list_insert_case(brol_test::alloc_trial& t) {
  brol_list<int> list;
  list.init();
  std::int32_t first = -1;
  ASSERT_NE(list.add(&first), nullptr);
  std::int32_t id = -1;
  int* value = nullptr;
  t.run([&] { return (value = list.insert_before(first, &id)) != nullptr; });
  EXPECT_EQ(id, value != nullptr ? 1 : -1) << "a refused element leaves out_id alone";
  EXPECT_EQ(list.next_id, value != nullptr ? 2 : 1);
  EXPECT_NE(list.insert_before(first, nullptr), nullptr);
  list.destroy();
}

// Re-filing an entry under another key allocates nothing but the key's text.
void dict_insert_case(brol_test::alloc_trial& t) {
  brol_dict<int> dict;
  dict.init();
  brol_dict<int>::entry* e = nullptr;
  ASSERT_EQ(dict.insert("short", &e, nullptr), 1);
  const int result = t.run([&] { return dict.insert(k_long.c_str(), &e, nullptr) == 1; });
  EXPECT_EQ(dict.find(k_long.c_str()) != nullptr, result != 0);
  EXPECT_NE(dict.find("short"), nullptr);
  EXPECT_NE(dict.find_or_add(k_long.c_str()), nullptr);
  dict.destroy();
}

void config_section_case(brol_test::alloc_trial& t) {
  brol_config_section section;
  section.init();
  brol_string* line = nullptr;
  t.run([&] { return (line = section.add_line(0)) != nullptr && line->append(k_long.c_str()).error == 0; });
  EXPECT_LE(section.next_id, 1);
  brol_string text;
  text.init();
  EXPECT_TRUE(section.to_text(text));
  text.destroy();
  section.destroy();
}

void stream_attach_case(brol_test::alloc_trial& t) {
  stream_fixture f;
  const bool ok = t.run([&] {
    return f.s->open_format("%s", 0, f.path.c_str()) && f.s->set_any_ipv6() && f.s->attach_socket(-1, k_long.c_str());
  });
  if (!ok) {
    EXPECT_EQ(f.s->status, brol_stream_no_memory);
  }
  EXPECT_TRUE(f.s->open_format("%s", 0, f.path.c_str()));
  EXPECT_TRUE(f.s->set_any_ipv6());
}

void string_read_case(brol_test::alloc_trial& t) {
  stream_fixture f;
  const std::string data = stream_test::sample_text(200, 1);
  ASSERT_TRUE(f.s->open(f.path.c_str(), brol_open_read));
  brol_string line;
  line.init();
  std::int64_t first = 0;
  const bool ok = t.run([&] {
    first = line.read_line(f.s.s);
    return line.error == 0 && line.read_bytes(f.s.s, 150);
  });
  if (!ok) {
    EXPECT_EQ(line.error, 1);
  } else if (first > 0) {
    EXPECT_EQ(std::string(line.c_str()), data.substr(data.find('\n') + 1, 150));
  } else {
    // The stream found no memory for its buffer: the line ended at once, nothing consumed.
    EXPECT_EQ(std::string(line.c_str()), data.substr(0, 150));
  }
  line.destroy();
}

std::vector<sweep_case> sweep_cases() {
  return {{"split", split_case},
          {"list add_value", list_case},
          {"dict find_or_add", dict_case},
          {"printf_alloc", printf_alloc_case},
          {"config load", config_load_case},
          {"config set/get/remove", config_edit_case},
          {"config names, keys, text", config_lists_case},
          {"config save", config_save_case},
          {"mkdir", mkdir_case},
          {"replace_file begin", replace_file_case},
          {"stream open, read", stream_open_read_case},
          {"stream buffered writes", stream_write_case},
          {"stream copy", stream_copy_case},
          {"stream set_name", stream_name_case},
          {"sockets", socket_case},
          {"maildir", maildir_case},
          {"split_any", split_any_case},
          {"list insert_before", list_insert_case},
          {"dict insert", dict_insert_case},
          {"config add_line", config_section_case},
          {"stream open_format, set_any_ipv6, attach", stream_attach_case},
          {"string read_line, read_bytes", string_read_case}};
}

bool swept = false;

void sweep_everything() {
  for (bool persistent : {false, true}) {
    for (const string_case& c : string_cases()) {
      SCOPED_TRACE(std::string(c.name) + (persistent ? ", from then on" : ", once"));
      const std::int64_t points =
          brol_test::sweep_allocations(persistent, [&](brol_test::alloc_trial& t) { check_string_case(c, t); });
      EXPECT_GE(points, 1);
    }
    for (const sweep_case& c : sweep_cases()) {
      SCOPED_TRACE(std::string(c.name) + (persistent ? ", from then on" : ", once"));
      const std::int64_t points = brol_test::sweep_allocations(persistent, c.body);
      EXPECT_GE(points, 1);
    }
  }
  swept = true;
}

TEST(AllocationSweep, EveryOperationFailsAsDocumentedAndStaysUsable) { sweep_everything(); }

// Every call of brol_alloc in the library was reached and failed at least once by the sweeps above.
// With BROL_ALLOC_SITES_REPORT set, the table is also written to that file for the reliability notes.
TEST(AllocationSweep, EverySiteOfTheLibraryWasFailed) {
  if (!swept) {
    sweep_everything();
  }
  const std::vector<brol_test::alloc_site> recorded = brol_test::recorded_alloc_sites();
  if (recorded.empty()) {
    GTEST_SKIP() << "this build does not record allocation sites";
  }
  std::string report = "| site | reached | failed |\n|---|---|---|\n";
  for (const brol_test::alloc_site& site : brol_test::library_alloc_sites()) {
    const auto found = std::find_if(recorded.begin(), recorded.end(), [&](const brol_test::alloc_site& r) {
      return r.file == site.file && r.line == site.line;
    });
    const std::int64_t reached = found != recorded.end() ? found->reached : 0;
    const std::int64_t failed = found != recorded.end() ? found->failed : 0;
    EXPECT_GT(failed, 0) << site.file << ":" << site.line << " never failed";
    report += "| " + site.file + ":" + std::to_string(site.line) + " | " + std::to_string(reached) + " | " +
              std::to_string(failed) + " |\n";
  }
  if (const char* path = std::getenv("BROL_ALLOC_SITES_REPORT")) {
    write_file(path, report);
  }
}

}  // namespace
