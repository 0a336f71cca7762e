// brol_config_section: the lines of one section, their keys and values, and new lines' placement.
#include <cstring>
#include <functional>

#include "brol/config/brol_config.h"
#include "brol/stream/brol_stream.h"

namespace {

using line_node = brol_list_node<brol_string>;

// What trim removes from a key text.
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool is_content(const brol_string& line) { return !line.is_empty() && line.text[0] != '#'; }

bool holds_line_break(const char* s) { return s != nullptr && std::strpbrk(s, "\r\n") != nullptr; }

bool only_blanks(const char* s) { return s[std::strspn(s, " \t")] == '\0'; }

// Whether an unquoted empty value would end its line with the separator, which a reload trims away
// when it is a blank or a tab: such a value is written as "" instead, which reads back empty.
bool empty_needs_quotes(const char* value, char sep, bool quoted) {
  return !quoted && is_blank(sep) && (value == nullptr || value[0] == '\0');
}

bool points_into(const brol_string& s, const char* p) {
  return s.text != nullptr && p != nullptr && !std::less<const char*>()(p, s.text) &&
         std::less<const char*>()(p, s.text + s.capacity);
}

// A key as the lines are searched for it. A key that no trimmed key text can equal (one that holds
// sep, or begins or ends with what trim removes) matches nothing, which lets a line be compared in
// place: its key text equals the key exactly when the key stands at its first non-blank byte and
// only blanks come between the key and sep.
struct key_probe {
  const char* key;
  std::size_t length;
  char sep;
  bool possible;

  key_probe(const char* k, char separator) : key(k ? k : ""), length(std::strlen(key)), sep(separator) {
    possible = sep != '\0' && std::strchr(key, sep) == nullptr &&
               (length == 0 || (!is_space(key[0]) && !is_space(key[length - 1])));
  }

  // The position of the line's first sep when the line's key text (the part before it, trimmed)
  // equals the key, as find reads the line or, with uncomment, once a leading '#' is dropped; null
  // otherwise. *commented (may be null) tells whether the '#' had to go.
  const char* match(const char* line, bool uncomment, bool* commented = nullptr) const {
    const char* at = match_as_is(line);
    const bool dropped = at == nullptr && uncomment && line[0] == '#' && sep != '#';
    if (dropped) at = match_as_is(line + 1);
    if (commented != nullptr) *commented = dropped && at != nullptr;
    return at;
  }

  const char* match_as_is(const char* line) const {
    if (!possible) return nullptr;
    // A blank or tab may itself be the separator: the key text then ends at the first one.
    while (is_space(*line) && *line != sep) ++line;
    if (std::strncmp(line, key, length) != 0) return nullptr;
    const char* p = line + length;
    while (is_space(*p) && *p != sep) ++p;
    return *p == sep ? p : nullptr;
  }
};

// Where the value begins: after sep and the blanks and tabs that follow it.
const char* value_start(const char* sep_at) {
  const char* p = sep_at + 1;
  while (is_blank(*p)) ++p;
  return p;
}

// The length of the value at p: up to the next '"' when quoted, else to the end.
std::size_t value_length(const char* p, bool quoted) {
  const char* close = quoted ? std::strchr(p, '"') : nullptr;
  return close != nullptr ? static_cast<std::size_t>(close - p) : std::strlen(p);
}

// The first byte that is not trimmed away, of a text whose first `length` bytes are given (or the
// NUL); 0 when there is none.
char first_kept(const char* s, std::size_t length) {
  for (std::size_t i = 0; i < length && s[i] != '\0'; ++i) {
    if (!is_space(s[i])) return s[i];
  }
  return '\0';
}

// Whether "#..." un-commented, with the value at [at, at + old_length) replaced by value, would begin
// with '[' once trimmed, and so read back as a section header (or be dropped).
bool uncommented_is_header(const char* line, std::int64_t at, std::int64_t old_length, const char* value) {
  char c = first_kept(line + 1, static_cast<std::size_t>(at - 1));
  if (c == '\0' && value != nullptr) c = first_kept(value, std::strlen(value));
  if (c == '\0') c = first_kept(line + at + old_length, std::strlen(line + at + old_length));
  return c == '[';
}

}  // namespace

brol_string& brol_cfg_quoted_value() noexcept {
  // Released when its thread ends; until then it only grows, so quoted gets stop allocating.
  struct holder {
    brol_string text;
    holder() noexcept { text.init(); }
    ~holder() { text.destroy(); }
  };
  thread_local holder quoted;
  return quoted.text;
}

// --- Lines ---------------------------------------------------------------------------------------

brol_string* brol_config_section::add_line(unsigned flags, std::int32_t* out_id) noexcept {
  if ((flags & 3u) == brol_cfg_top) {
    brol_string* line = add(out_id);
    if (line != nullptr) move_to_front(this->last);
    return line;
  }
  if (flags == 0) return add(out_id);
  // The first block of the kind sought ends at the first line of another kind after it.
  const bool want_content = (flags & brol_cfg_top) == 0;
  bool seen = false;
  for (line_node* n = this->first; n != nullptr; n = n->next) {
    if (is_content(n->value) == want_content) {
      seen = true;
    } else if (seen) {
      return insert_before(n->id, out_id);
    }
  }
  return add(out_id);
}

bool brol_config_section::write_line_end(brol_stream& stream, std::int16_t crlf) noexcept {
  return crlf != 0 ? stream.write_bytes("\r\n", 2) : stream.write_bytes("\n", 1);
}

bool brol_config_section::write(brol_stream& stream, std::int16_t crlf) const noexcept {
  for (const line_node* n = this->first; n != nullptr; n = n->next) {
    if (!stream.write_bytes(n->value.c_str(), n->value.length()) || !write_line_end(stream, crlf)) return false;
  }
  return true;
}

bool brol_config_section::to_text(brol_string& out) const noexcept {
  for (const line_node* n = this->first; n != nullptr; n = n->next) {
    if (!out.append_bytes(n->value.c_str(), n->value.length()) || !out.append_bytes("\n", 1)) return false;
  }
  return true;
}

void brol_config_section::keys(brol_list<brol_string>& out) const noexcept {
  for (const line_node* n = this->first; n != nullptr; n = n->next) {
    if (!is_content(n->value)) continue;
    std::int32_t id = 0;
    brol_string* key = out.add(&id);
    if (key != nullptr && !key->field(n->value.text, 0, '=')) out.remove(id);
  }
}

void brol_config_section::content_lines(brol_list<brol_string*>& out) noexcept {
  for (line_node* n = this->first; n != nullptr; n = n->next) {
    if (is_content(n->value)) out.add_value(&n->value);
  }
}

// --- Keys and values -------------------------------------------------------------------------------

const char* brol_config_section::get(const char* key, char sep) const noexcept {
  const char* value = find(key, sep);
  return value != nullptr ? value : "";
}

const char* brol_config_section::find(const char* key, char sep) const noexcept {
  const key_probe probe(key, sep);
  for (const line_node* n = this->first; n != nullptr; n = n->next) {
    const char* sep_at = probe.match(n->value.c_str(), false);
    if (sep_at == nullptr) continue;
    const char* p = value_start(sep_at);
    if (*p != '"') return p;
    brol_string& quoted = brol_cfg_quoted_value();
    const auto length = static_cast<std::int64_t>(value_length(p + 1, true));
    return quoted.assign_sub(p + 1, 0, length) ? quoted.c_str() : "";
  }
  return nullptr;
}

bool brol_config_section::refuses(const char* key, const char* value, char sep, bool quoted, bool new_line) noexcept {
  if (sep == '\0' || sep == '\r' || sep == '\n' || holds_line_break(key) || holds_line_break(value)) return true;
  // An unquoted value is written as given, whatever it begins or ends with: the caller may quote it
  // itself. Only a quote inside quotes could not be read back.
  if (quoted && value != nullptr && std::strchr(value, '"') != nullptr) return true;
  // Blanks alone behind a blank separator end the line, and a reload trims them with the separator.
  if (!quoted && is_blank(sep) && value != nullptr && value[0] != '\0' && only_blanks(value)) return true;
  if (!new_line) return false;
  const char* k = key != nullptr ? key : "";
  const std::size_t n = std::strlen(k);
  if (std::strchr(k, sep) != nullptr || k[0] == '[' || (n > 0 && (is_blank(k[0]) || is_blank(k[n - 1])))) return true;
  // With an empty key the line begins with sep: a '[' would read back as a header (or be dropped),
  // a blank would be trimmed away with the key it stands for.
  return n == 0 && value != nullptr && (sep == '[' || is_blank(sep));
}

line_node* brol_config_section::find_for_set(const char* key, char sep, bool uncomment) noexcept {
  const key_probe probe(key, sep);
  for (line_node* n = this->first; n != nullptr; n = n->next) {
    if (probe.match(n->value.c_str(), uncomment) != nullptr) return n;
  }
  return nullptr;
}

bool brol_config_section::change_line(brol_string& line, const char* key, const char* value, char sep,
                                      unsigned flags) noexcept {
  const bool uncomment = (flags & brol_cfg_uncomment) != 0;
  // With '#' as the separator, the '#' that un-commenting would drop is the separator itself.
  if (uncomment && sep == '#' && line.text[0] == '#') return false;
  // A line that matches as it stands (as find reads it) keeps its '#'; only one that matched once
  // its '#' was dropped is un-commented.
  bool commented = false;
  const char* p = value_start(key_probe(key, sep).match(line.text, uncomment, &commented));
  const bool quoted = *p == '"';
  if (refuses(key, value, sep, quoted, false)) return false;
  const std::int64_t at = (p - line.text) + (quoted ? 1 : 0);
  const auto old_length = static_cast<std::int64_t>(value_length(line.text + at, quoted));
  // With a blank or a tab as the separator and no key the line would begin with the separator, which
  // the trimming after un-commenting removes.
  const bool no_key = key == nullptr || key[0] == '\0';
  if (commented && ((no_key && is_blank(sep)) || uncommented_is_header(line.text, at, old_length, value))) {
    return false;
  }
  if (empty_needs_quotes(value, sep, quoted)) value = "\"\"";
  // A value taken from this very line is copied before the line changes.
  brol_string copy;
  copy.init();
  if (points_into(line, value)) {
    copy.assign(value);
    if (copy.error != 0) return false;
    value = copy.text;
  }
  const std::int64_t new_length = value != nullptr ? static_cast<std::int64_t>(std::strlen(value)) : 0;
  // A quoted value left open runs to the line's end, where a reload trims blanks: one that ends with
  // a blank or a tab gets its closing quote.
  const bool close = quoted && line.text[at + old_length] == '\0' && new_length > 0 && is_blank(value[new_length - 1]);
  // Room first, so that a failed allocation leaves the old value in place.
  const bool room = line.reserve(line.length() - old_length + new_length + (close ? 1 : 0));
  if (room) {
    line.erase(at, old_length);
    line.insert(at, value);
    if (close) line.append("\"");
    if (commented) {
      line.erase(0, 1);
      line.trim();
    }
  }
  copy.destroy();
  return room;
}

bool brol_config_section::create_line(const char* key, const char* value, char sep, unsigned flags) noexcept {
  const char* k = key != nullptr ? key : "";
  const bool quoted = (flags & brol_cfg_unquoted) == 0 || (value != nullptr && empty_needs_quotes(value, sep, false));
  const auto key_length = static_cast<std::int64_t>(std::strlen(k));
  const auto value_len = value != nullptr ? static_cast<std::int64_t>(std::strlen(value)) : 0;
  std::int32_t id = 0;
  brol_string* line = add_line(flags, &id);
  if (line == nullptr) return false;
  // The whole text is reserved at once; without room the new line goes again.
  if (!line->reserve(key_length + (value != nullptr ? 1 + value_len + (quoted ? 2 : 0) : 0))) {
    brol_list<brol_string>::remove(id);
    return false;
  }
  line->append_bytes(k, key_length);
  if (value != nullptr) {
    const char quote[2] = {'"', '\0'};
    const char separator[2] = {sep, '\0'};
    line->append(separator);
    if (quoted) line->append(quote);
    line->append_bytes(value, value_len);
    if (quoted) line->append(quote);
  }
  return true;
}

bool brol_config_section::set(const char* key, const char* value, char sep, unsigned flags) noexcept {
  line_node* found = find_for_set(key, sep, (flags & brol_cfg_uncomment) != 0);
  if (found != nullptr) return change_line(found->value, key, value, sep, flags);
  if (refuses(key, value, sep, (flags & brol_cfg_unquoted) == 0, true)) return false;
  return create_line(key, value, sep, flags);
}

bool brol_config_section::remove(const char* key, char sep, bool comment_out) noexcept {
  const key_probe probe(key, sep);
  for (line_node* n = this->first; n != nullptr; n = n->next) {
    if (!n->value.equals(key) && probe.match(n->value.c_str(), false) == nullptr) continue;
    if (comment_out) return n->value.insert(0, "# ");
    brol_list<brol_string>::remove(n->id);
    return true;
  }
  return true;
}
