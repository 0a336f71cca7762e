// Configuration files edited by sequences of set, get and remove (on named sections and on the
// lines before the first header), with saves and loads in between, against a model of lines written
// from the contracts. The start is a file made of typical and awkward lines (with or without a byte
// order mark, LF or CR LF, with or without a final line end). After every step the whole text, the
// results and the values got agree with the model; every save writes the bytes the model predicts,
// and a load reads them back as the model reads them.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "brol/config/brol_config.h"
#include "brol/platform/brol_platform.h"
#include "config_text.h"
#include "fuzz_check.h"

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && is_space(s[b])) ++b;
  while (e > b && is_space(s[e - 1])) --e;
  return s.substr(b, e - b);
}

using lines = std::vector<std::string>;

struct model_section {
  std::string name;
  lines text;
};

// The position of sep in line when the line's key text (before its first sep, trimmed) is key, as
// the line stands or, with uncomment, once a leading '#' is dropped (*commented then set).
std::optional<std::size_t> match(const std::string& line, const std::string& key, char sep, bool uncomment,
                                 bool* commented = nullptr) {
  for (const std::size_t from : {std::size_t{0}, std::size_t{1}}) {
    if (from == 1 && !(uncomment && !line.empty() && line[0] == '#' && sep != '#')) break;
    const std::size_t at = line.find(sep, from);
    if (at == std::string::npos || trim(line.substr(from, at - from)) != key) continue;
    if (commented != nullptr) *commented = from == 1;
    return at;
  }
  return std::nullopt;
}

std::size_t value_start(const std::string& line, std::size_t sep_at) {
  std::size_t p = sep_at + 1;
  while (p < line.size() && is_blank(line[p])) ++p;
  return p;
}

bool has_any(const std::optional<std::string>& s, const char* bytes) {
  return s && s->find_first_of(bytes) != std::string::npos;
}

bool refuses(const std::string& key, const std::optional<std::string>& value, char sep, bool quoted, bool new_line) {
  if (sep == '\r' || sep == '\n' || key.find_first_of("\r\n") != std::string::npos || has_any(value, "\r\n"))
    return true;
  if (quoted && has_any(value, "\"")) return true;
  if (!quoted && is_blank(sep) && value && !value->empty() && value->find_first_not_of(" \t") == std::string::npos)
    return true;
  if (!new_line) return false;
  if (key.find(sep) != std::string::npos || (!key.empty() && key[0] == '[')) return true;
  if (!key.empty() && (is_blank(key[0]) || is_blank(key.back()))) return true;
  return key.empty() && value && (sep == '[' || is_blank(sep));
}

bool is_content(const std::string& line) { return !line.empty() && line[0] != '#'; }

void place(lines& text, std::string line, unsigned flags) {
  if ((flags & 3u) == 1u) {
    text.insert(text.begin(), line);
    return;
  }
  if (flags != 0) {
    const bool want_content = (flags & 1u) == 0;
    bool seen = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (is_content(text[i]) == want_content) {
        seen = true;
      } else if (seen) {
        text.insert(text.begin() + static_cast<std::ptrdiff_t>(i), line);
        return;
      }
    }
  }
  text.push_back(line);
}

// How set wrote its value: raw (unquoted, the caller's text as given) or not at all (the key alone).
struct written_as {
  bool raw = false;
  bool alone = false;
};

bool model_set(lines& text, const std::string& key, const std::optional<std::string>& value, char sep, unsigned flags,
               written_as* how) {
  const bool uncomment = (flags & 4u) != 0;
  for (std::string& line : text) {
    bool commented = false;
    const auto sep_at = match(line, key, sep, uncomment, &commented);
    if (!sep_at) continue;
    if (uncomment && sep == '#' && line[0] == '#') return false;
    const std::size_t p = value_start(line, *sep_at);
    const bool quoted = p < line.size() && line[p] == '"';
    if (refuses(key, value, sep, quoted, false)) return false;
    const std::size_t at = p + (quoted ? 1 : 0);
    const std::size_t close = quoted ? line.find('"', at) : std::string::npos;
    const std::size_t end = close == std::string::npos ? line.size() : close;
    if (commented && key.empty() && is_blank(sep)) return false;
    // An unquoted empty value behind a blank separator goes between quotes.
    const bool empty_quoted = !quoted && is_blank(sep) && value.value_or("").empty();
    const std::string v = value.value_or("");
    const bool close_quote = quoted && close == std::string::npos && !v.empty() && is_blank(v.back());
    std::string changed =
        line.substr(0, at) + (empty_quoted ? "\"\"" : v) + (close_quote ? "\"" : "") + line.substr(end);
    if (commented) {
      changed = trim(changed.substr(1));
      if (!changed.empty() && changed[0] == '[') return false;
    }
    line = changed;
    how->raw = !quoted && !empty_quoted;
    return true;
  }
  const bool quoted = (flags & 8u) == 0 || (value && value->empty() && is_blank(sep));
  if (refuses(key, value, sep, (flags & 8u) == 0, true)) return false;
  std::string line = key;
  if (value) line += std::string(1, sep) + (quoted ? "\"" + *value + "\"" : *value);
  how->raw = !quoted;
  how->alone = !value;
  place(text, line, flags);
  return true;
}

std::string model_get(const lines& text, const std::string& key, char sep) {
  for (const std::string& line : text) {
    const auto sep_at = match(line, key, sep, false);
    if (!sep_at) continue;
    const std::size_t p = value_start(line, *sep_at);
    if (p < line.size() && line[p] == '"') {
      const std::size_t close = line.find('"', p + 1);
      return line.substr(p + 1, close == std::string::npos ? std::string::npos : close - p - 1);
    }
    return line.substr(p);
  }
  return "";
}

void model_remove(lines& text, const std::string& key, char sep, bool comment_out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != key && !match(text[i], key, sep, false)) continue;
    if (comment_out) {
      text[i].insert(0, "# ");
    } else {
      text.erase(text.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return;
  }
}

struct model {
  lines global;
  std::vector<model_section> sections;
  bool no_final_line_end = false;
  bool byte_order_mark = false;

  model_section* find(const std::string& name) {
    for (auto& s : sections) {
      if (s.name == name) return &s;
    }
    return nullptr;
  }

  std::string text() const {
    std::string out;
    for (const auto& l : global) out += l + "\n";
    for (const auto& s : sections) {
      out += "[" + s.name + "]\n";
      for (const auto& l : s.text) out += l + "\n";
    }
    return out;
  }

  std::string file(bool crlf) const {
    const std::string end = crlf ? "\r\n" : "\n";
    const bool mark = byte_order_mark || (!global.empty() && global[0].starts_with("\xEF\xBB\xBF"));
    std::string out = mark ? "\xEF\xBB\xBF" : "";
    bool first = true;
    auto item = [&](const std::string& l) {
      if (!first) out += end;
      first = false;
      out += l;
    };
    for (const auto& l : global) item(l);
    for (const auto& s : sections) {
      item("[" + s.name + "]");
      for (const auto& l : s.text) item(l);
    }
    if (!first && !no_final_line_end) out += end;
    return out;
  }

  // Reads bytes as load does (the inputs hold no NUL and no CR but before LF).
  static model parse(std::string bytes) {
    model m;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
      m.byte_order_mark = true;
      bytes.erase(0, 3);
    }
    lines* current = &m.global;
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t lf = bytes.find('\n', at);
      const bool unended = lf == std::string::npos;
      const std::string line = trim(bytes.substr(at, unended ? std::string::npos : lf - at));
      at = unended ? bytes.size() : lf + 1;
      bool written = false;
      if (line.empty() || line[0] != '[') {
        current->push_back(line);
        written = true;
      } else if (const std::size_t close = line.find(']'); close != std::string::npos) {
        const std::string name = line.substr(1, close - 1);
        model_section* s = m.find(name);
        written = s == nullptr;
        if (s == nullptr) {
          m.sections.push_back({name, {}});
          s = &m.sections.back();
        }
        current = &s->text;
      }
      if (unended && written) m.no_final_line_end = true;
    }
    return m;
  }
};

std::string path() {
  static const std::string p = [] {
    std::string name = "/tmp/brol_fuzz_configops_" + std::to_string(getpid()) + ".ini";
    static std::string keep = name;
    std::atexit([] { unlink(keep.c_str()); });
    return name;
  }();
  return p;
}

template <std::size_t N>
const char* pick(fuzz::input& in, const char* const (&table)[N]) {
  return table[in.below(N)];
}

constexpr const char* k_start_lines[] = {"",       "[a]",    "[b]", "[a]x",  "[c",          "a=1",       "a = \"q\"",
                                         "#a=2",   "# b: 3", "b=",  "x y",   "  c\t=\t4  ", "=5",        "[]",
                                         "#[x]=1", "k: v w", "#",   "[s t]", "b = \"r",     "#  [y] = 2"};
constexpr const char* k_sections[] = {"", "a", "b", "s t", "c", "a]", "new", "x\ny"};
constexpr const char* k_keys[] = {"", "a", "b", "c", "k", "x", "[x]", "[y]", " a", "a ", "#a", "a b", "a=b", "x y"};
constexpr const char* k_pieces[] = {"1", "x y", " ", "\"", "[v]", "#", "=", ":", "\t", "2", "[", "\r"};
constexpr char k_seps[] = {'=', '=', '=', ':', ' ', '#', '[', '\t'};

std::optional<std::string> value(fuzz::input& in) {
  const std::size_t n = in.below(5);
  if (n == 4) return std::nullopt;
  std::string v;
  for (std::size_t i = 0; i < n; ++i) v += pick(in, k_pieces);
  return v;
}

// Whatever set accepted reads back after a save and a load: its key, and its value unless the value
// went into the line raw (unquoted, where the caller's text stands as given). A key set alone (a new
// line without a value) reads back as a line of its own.
void check_read_back(brol_config& config, const char* section, const std::string& key,
                     const std::optional<std::string>& value, char sep, bool raw, bool alone) {
  const std::string other = path() + ".back";
  FUZZ_CHECK(config.save(other.c_str()));
  brol_config back;
  back.init();
  FUZZ_CHECK(back.load(other.c_str()));
  const brol_config_section* s = section == nullptr ? &back.global : back.sections.find(section);
  FUZZ_CHECK(s != nullptr);
  if (alone) {
    bool found = key.empty();  // the empty key alone is a blank line, which a file's end may drop
    for (const auto* n = s->first; n != nullptr && !found; n = n->next) found = key == n->value.c_str();
    FUZZ_CHECK(found);
  } else {
    const char* got = s->find(key.c_str(), sep);
    FUZZ_CHECK(got != nullptr);
    FUZZ_CHECK(raw || value.value_or("") == got);
  }
  back.destroy();
  unlink(other.c_str());
}

}  // namespace

// Saves write through to the disk (fsync of the file and its folder), which on a busy disk takes
// seconds over a long input; what is checked here is the text, so the table skips the syncs.
bool no_flush(brol_file_handle) { return true; }
bool plain_rename(brol_file_handle file, const char* from, const char* to) {
  return brol_platform_defaults().file_close(file) && std::rename(from, to) == 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  brol_os.file_flush = no_flush;
  brol_os.file_replace = plain_rename;
  fuzz::input in(data, size);
  // The starting file.
  std::string start = in.byte() & 1 ? "\xEF\xBB\xBF" : "";
  const std::string end = in.byte() & 1 ? "\r\n" : "\n";
  for (std::size_t n = in.below(12); n > 0; --n) start += std::string(pick(in, k_start_lines)) + end;
  if (in.byte() & 1) start += pick(in, k_start_lines);
  std::ofstream(path(), std::ios::binary | std::ios::trunc) << start;
  brol_config config;
  config.init();
  FUZZ_CHECK(config.load(path().c_str()));
  model m = model::parse(start);
  FUZZ_CHECK(fuzz::config_text(config) == m.text());
  FUZZ_CHECK(config.no_final_line_end == m.no_final_line_end && config.byte_order_mark == m.byte_order_mark);

  while (!in.empty()) {
    const int op = in.byte() % 8;
    // Section -1 is the lines before the first header (the global section's own operations).
    const bool global = in.byte() % 5 == 0;
    const std::string section = pick(in, k_sections);
    const std::string key = pick(in, k_keys);
    const char sep = k_seps[in.below(sizeof k_seps)];
    model_section* ms = global ? nullptr : m.find(section);
    lines* mt = global ? &m.global : ms != nullptr ? &ms->text : nullptr;
    if (op <= 2) {
      const std::optional<std::string> v = value(in);
      const unsigned flags = in.byte() & 15u;
      const char* vp = v ? v->c_str() : nullptr;
      bool expected = false;
      written_as how;
      if (global) {
        expected = model_set(m.global, key, v, sep, flags, &how);
        FUZZ_CHECK(config.global.set(key.c_str(), vp, sep, flags) == expected);
      } else {
        const bool bad_name = section.find_first_of("\r\n]") != std::string::npos;
        if (!bad_name && mt == nullptr && !refuses(key, v, sep, (flags & 8u) == 0, true)) {
          m.sections.push_back({section, {}});
          mt = &m.sections.back().text;
        }
        expected = !bad_name && mt != nullptr && model_set(*mt, key, v, sep, flags, &how);
        FUZZ_CHECK(config.set(section.c_str(), key.c_str(), vp, sep, flags) == expected);
      }
      if (expected) check_read_back(config, global ? nullptr : section.c_str(), key, v, sep, how.raw, how.alone);
    } else if (op <= 4) {
      const std::string expected = mt != nullptr ? model_get(*mt, key, sep) : "";
      const char* got = global ? config.global.get(key.c_str(), sep) : config.get(section.c_str(), key.c_str(), sep);
      FUZZ_CHECK(got != nullptr && expected == got);
    } else if (op <= 6) {
      const bool comment_out = in.byte() & 1;
      if (mt != nullptr) model_remove(*mt, key, sep, comment_out);
      FUZZ_CHECK(global ? config.global.remove(key.c_str(), sep, comment_out)
                        : config.remove(section.c_str(), key.c_str(), sep, comment_out));
    } else {
      config.crlf = in.byte() & 1;
      FUZZ_CHECK(config.save(path().c_str()));
      const std::string saved = fuzz::read_file(path());
      FUZZ_CHECK(saved == m.file(config.crlf != 0));
      FUZZ_CHECK(config.load(path().c_str()));
      m = model::parse(saved);
      FUZZ_CHECK(config.no_final_line_end == m.no_final_line_end && config.byte_order_mark == m.byte_order_mark);
    }
    FUZZ_CHECK(fuzz::config_text(config) == m.text());
  }
  config.destroy();
  return 0;
}
