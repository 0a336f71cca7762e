// brol_config: loading, saving and the section-named operations of a configuration.
#include "brol/config/brol_config.h"

#include <cstring>
#include <utility>

#include "brol/fs/brol_replace_file.h"
#include "brol/stream/brol_stream.h"

namespace {

constexpr std::int64_t k_stream_buffer = 8192;

using section_entry = brol_dict<brol_config_section>::entry;

section_entry* entry_of(brol_dict_node* node) { return brol_dict<brol_config_section>::entry_of(node); }

constexpr char k_byte_order_mark[] = "\xEF\xBB\xBF";
constexpr std::int64_t k_byte_order_mark_length = 3;

// Files one trimmed line: "[name]..." makes the section name current (a '[' without ']' is dropped),
// any other line moves into the current section. *written says whether the line will be written back
// as the last one so far: a stored line or the header of a new section, not a dropped line or the
// header of a section seen before. The line is left empty for the next read. False when a section or
// a line cannot be created.
bool file_line(brol_config& cfg, brol_config_section** current, brol_string& line, bool* written) {
  *written = false;
  if (line.text == nullptr || line.text[0] != '[') {
    brol_string* stored = (*current)->add_line(0);
    if (stored == nullptr) return false;
    stored->move_from(line);
    *written = true;
    return true;
  }
  if (char* close = std::strchr(line.text, ']')) {
    *close = '\0';
    *written = cfg.sections.find(line.text + 1) == nullptr;
    *current = cfg.sections.find_or_add(line.text + 1);
  }
  line.text[0] = '\0';
  return *current != nullptr;
}

// Sets a UTF-8 byte order mark at the start of the first line aside, so that a header after it counts.
// True when there was one.
bool take_byte_order_mark(brol_config& cfg, brol_string& line) {
  if (line.text == nullptr || std::strncmp(line.text, k_byte_order_mark, k_byte_order_mark_length) != 0) return false;
  line.erase(0, k_byte_order_mark_length);
  cfg.byte_order_mark = 1;
  return true;
}

// Reads every line of stream into cfg (which is empty): false at a read error or when memory runs
// out. A NUL at the start of a line is skipped; one inside a line ends it.
bool read_lines(brol_config& cfg, brol_stream& stream) {
  brol_string line;
  line.init();
  brol_config_section* current = &cfg.global;
  bool ok = true;
  for (bool first = true; ok;) {
    const std::int64_t got = line.read_line(stream);
    if (line.error != 0 || stream.status != brol_stream_ok) {
      ok = false;
    } else if (got != 0) {
      // A line stopped by the end of the data, not by a line end (at_end is set only by a read).
      const bool unended = stream.at_end != 0;
      line.trim();
      // The mark is looked for where the first line written back begins, after the NUL bytes, blanks,
      // tabs and dropped lines that load leaves out anyway: a text that begins with its bytes is
      // saved beginning the file, and must read back the same. A file of the mark alone has no line.
      if (first && take_byte_order_mark(cfg, line)) {
        first = false;
        line.trim();
        if (unended && line.is_empty()) break;
      }
      bool written = false;
      ok = file_line(cfg, &current, line, &written);
      // Until a line is written, the next one may still begin the saved file.
      first = first && !written;
      // A dropped last line must not take the line end of the line written before it.
      if (unended && written) cfg.no_final_line_end = 1;
    } else if (stream.at_end != 0) {
      break;
    }
  }
  line.destroy();
  return ok;
}

bool holds_any(const char* s, const char* bytes) { return s != nullptr && std::strpbrk(s, bytes) != nullptr; }

}  // namespace

void brol_config::init() noexcept {
  sections.init();
  global.init();
  file_name.init();
  crlf = 0;
  no_final_line_end = 0;
  byte_order_mark = 0;
}

void brol_config::destroy() noexcept {
  sections.destroy();
  global.destroy();
  file_name.destroy();
  init();
}

void brol_config::clear() noexcept {
  sections.clear();
  global.clear();
  file_name.assign("");
  no_final_line_end = 0;
  byte_order_mark = 0;
}

void brol_config::swap_content(brol_config& other) noexcept {
  sections.swap(other.sections);
  global.swap(other.global);
  file_name.swap(other.file_name);
  std::swap(no_final_line_end, other.no_final_line_end);
  std::swap(byte_order_mark, other.byte_order_mark);
}

// --- Loading and saving ------------------------------------------------------------------------------

bool brol_config::load(const char* path) noexcept {
  if (path == nullptr) return false;
  brol_stream stream;
  stream.init(k_stream_buffer);
  brol_config fresh;
  fresh.init();
  // Everything is read into a fresh configuration first, so a failure leaves this one as it was.
  bool ok = stream.open_format("%s", brol_open_read, path);
  ok = ok && fresh.file_name.assign(path).error == 0 && read_lines(fresh, stream);
  stream.destroy();
  if (ok) swap_content(fresh);
  fresh.destroy();
  return ok;
}

// Lines go out with their line ends between them; the last one keeps its line end unless the file
// loaded last ended without one.
bool brol_config::write_all(brol_stream& stream) const noexcept {
  bool first = true;
  auto next_item = [&] {
    const bool ended = first || brol_config_section::write_line_end(stream, crlf);
    first = false;
    return ended;
  };
  auto put_lines = [&](const brol_config_section& section) {
    for (const brol_list_node<brol_string>* n = section.first; n != nullptr; n = n->next) {
      if (!next_item() || !stream.write_bytes(n->value.c_str(), n->value.length())) return false;
    }
    return true;
  };
  // A first line that begins with the mark's bytes would lose them to the mark on reload: the mark
  // goes before it, so that the line reads back whole.
  const bool mark = byte_order_mark != 0 ||
                    (global.first != nullptr && global.first->value.text != nullptr &&
                     std::strncmp(global.first->value.text, k_byte_order_mark, k_byte_order_mark_length) == 0);
  if (mark && !stream.write_bytes(k_byte_order_mark, k_byte_order_mark_length)) return false;
  if (!put_lines(global)) return false;
  for (brol_dict_node* e = sections.order.first; e != nullptr; e = e->next) {
    if (!next_item() || !stream.write_bytes("[", 1) || !stream.write_bytes(e->key.c_str(), e->key.length()) ||
        !stream.write_bytes("]", 1) || !put_lines(entry_of(e)->value)) {
      return false;
    }
  }
  return first || no_final_line_end != 0 || brol_config_section::write_line_end(stream, crlf);
}

bool brol_config::save(const char* path) noexcept {
  if (path != nullptr && *path != '\0' && path != file_name.text) {
    brol_string copy;
    if (copy.init_from(path).error != 0) {
      copy.destroy();
      return false;
    }
    file_name.move_from(copy);
  }
  if (file_name.is_empty()) return false;
  brol_replace_file target;
  target.init();
  bool ok = target.begin(file_name.text);
  if (ok) {
    // The stream writes through the temporary file's handle and leaves it open for the commit.
    brol_stream stream;
    stream.init(k_stream_buffer);
    ok = stream.attach_file(target.handle, file_name.text) && stream.enable_write_buffer() && write_all(stream);
    ok = stream.close(true) && ok;
    stream.destroy();
    ok = ok && target.commit();
  }
  target.destroy();
  return ok;
}

// --- Whole text and the section-named operations --------------------------------------------------

bool brol_config::to_text(brol_string& out) const noexcept {
  if (!global.to_text(out)) return false;
  for (brol_dict_node* e = sections.order.first; e != nullptr; e = e->next) {
    if (!out.append_bytes("[", 1) || !out.append_bytes(e->key.c_str(), e->key.length()) ||
        !out.append_bytes("]\n", 2) || !entry_of(e)->value.to_text(out)) {
      return false;
    }
  }
  return true;
}

void brol_config::section_names(brol_list<brol_string>& out) const noexcept {
  for (brol_dict_node* e = sections.order.first; e != nullptr; e = e->next) {
    std::int32_t id = 0;
    brol_string* name = out.add(&id);
    if (name != nullptr && name->assign(e->key.c_str()).error != 0) out.remove(id);
  }
}

void brol_config::keys(const char* section, brol_list<brol_string>& out) noexcept {
  if (brol_config_section* s = sections.find(section)) s->keys(out);
}

void brol_config::content_lines(const char* section, brol_list<brol_string*>& out) noexcept {
  if (brol_config_section* s = sections.find(section)) s->content_lines(out);
}

const char* brol_config::get(const char* section, const char* key, char sep) noexcept {
  const brol_config_section* s = sections.find(section);
  return s != nullptr ? s->get(key, sep) : "";
}

const char* brol_config::find(const char* section, const char* key, char sep) noexcept {
  const brol_config_section* s = sections.find(section);
  return s != nullptr ? s->find(key, sep) : nullptr;
}

bool brol_config::set(const char* section, const char* key, const char* value, char sep, unsigned flags) noexcept {
  // A name with a line end or ']' would not read back as the header it was written as.
  if (holds_any(section, "\r\n]")) return false;
  brol_config_section* s = sections.find(section);
  if (s == nullptr) {
    if (brol_config_section::refuses(key, value, sep, (flags & brol_cfg_unquoted) == 0, true)) return false;
    s = sections.find_or_add(section);
  }
  return s != nullptr && s->set(key, value, sep, flags);
}

bool brol_config::remove(const char* section, const char* key, char sep, bool comment_out) noexcept {
  brol_config_section* s = sections.find(section);
  return s == nullptr || s->remove(key, sep, comment_out);
}
