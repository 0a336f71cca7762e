// brol_config: sectioned configuration files (key, separator, value lines under [name] headers),
// held as their lines so that saving reproduces the file with only the edited lines changed.
//
// Plain records: `init` before use, `destroy` after. Lines are kept without their line ends; blank
// lines and comments ('#' first) are kept like any other line. A content line is any line that is
// neither blank nor a comment. Keys and values are found by scanning a section's lines each time:
// for a separator byte sep, a line's key is the text before its first sep with blanks, tabs, CR and
// LF trimmed from both ends, compared byte for byte (a null key is the empty key); its value starts
// after the first sep and its blanks and tabs, and is either the text between a '"' and the next '"'
// (or the end of the line) or the rest of the line. The first matching line of a section wins.
// Nothing throws; all memory comes from brol_alloc.
#pragma once

#include <cstdint>

#include "brol/container/brol_dict.h"
#include "brol/container/brol_list.h"
#include "brol/string/brol_string.h"

struct brol_stream;

// Flags of set and add_line. Placement of a new line by the whole value f: 0 at the end; top alone
// at the top; top and group after the first block of blank and comment lines; any other value after
// the first block of content lines (so uncomment or unquoted alone place it there too).
inline constexpr unsigned brol_cfg_top = 1;
inline constexpr unsigned brol_cfg_group = 2;
inline constexpr unsigned brol_cfg_uncomment = 4;  // set also matches and un-comments "#key" lines
inline constexpr unsigned brol_cfg_unquoted = 8;   // set writes a new line's value without quotes

// The buffer that get fills with a quoted value: one per thread, created by the first quoted get of
// the thread and released when the thread ends. Its text stays valid until the next quoted get on
// the same thread.
brol_string& brol_cfg_quoted_value() noexcept;

// A section: one brol_string per line, in file order.
struct brol_config_section : brol_list<brol_string> {
  using brol_list<brol_string>::remove;  // by id, beside the removal by key below

  // A new empty line placed by flags (see above); null, with nothing changed, when the list refuses
  // an element. out_id (may be null) receives its id.
  brol_string* add_line(unsigned flags, std::int32_t* out_id = nullptr) noexcept;
  // Writes every line followed by its line end (crlf non-zero: CR LF, else LF) to the open stream.
  // False at the first failed write.
  bool write(brol_stream& stream, std::int16_t crlf) const noexcept;
  // Writes CR LF (crlf non-zero) or LF in one write_bytes.
  static bool write_line_end(brol_stream& stream, std::int16_t crlf) noexcept;
  // Appends every line followed by LF to out; false (out then holds what fitted) when out cannot grow.
  bool to_text(brol_string& out) const noexcept;
  // Appends to out the text before the first '=' (the whole line without one), not trimmed, of
  // every content line. A line whose element out refuses is skipped.
  void keys(brol_list<brol_string>& out) const noexcept;
  // Appends to out a pointer to every content line, valid while that line exists.
  void content_lines(brol_list<brol_string*>& out) noexcept;
  // The value of key, "" when no line matches. An unquoted value points into its line (valid until
  // that line changes); a quoted value is copied into brol_cfg_quoted_value() (valid until the next
  // quoted get on this thread), and is "" when that copy cannot be had. Allocates only to grow the
  // quoted-value buffer.
  const char* get(const char* key, char sep) const noexcept;
  // As get, but null when no line matches, so a missing key can be told from an empty value ("").
  const char* find(const char* key, char sep) const noexcept;
  // Changes the value of the first line of key, or creates a line for it (placed by flags): key,
  // sep and the value between quotes (without them with brol_cfg_unquoted; a null value: the key
  // alone). On an existing line the value is replaced in place: the blanks after sep and the quoting
  // stay, and with a null value it becomes empty. With brol_cfg_uncomment a line "#key..." matches as
  // key and loses its '#' (and is trimmed) when changed, unless the line matches key as it stands
  // (as find reads it: a key that begins with '#'), in which case it keeps it; the first line that
  // matches either way is changed. Un-commenting is refused when the line would then begin with
  // '[' (it would read back as a section header), when sep is '#' (the '#' is the separator), and
  // when the key is empty and sep a blank or a tab (the line would begin with the separator, which
  // the trimming removes). An unquoted value is written as given: blanks at its ends do not survive a
  // reload (lines are trimmed, get passes the blanks after sep), and one that begins with '"' reads
  // back as a quoted value. Only an empty value (or a null one on an existing line) behind a blank
  // or tab separator is written as "" even where it would go unquoted, since the separator would
  // otherwise end the line and be trimmed away with the key's meaning. key and value may point
  // anywhere, also into this section's lines. False, with nothing changed, when the input could not
  // be read back as written (see refuses), when no line can be made, or when an allocation fails.
  bool set(const char* key, const char* value, char sep, unsigned flags) noexcept;
  // Deletes the first line whose whole text is key or whose key is key; with comment_out it is kept
  // with "# " inserted in front instead (false only when that insertion cannot be made). True when
  // no line matches.
  bool remove(const char* key, char sep, bool comment_out) noexcept;

  // True when set would refuse its input: sep is NUL, CR or LF; key or value holds CR or LF; a value
  // to be written between quotes holds '"'; a value to be written without quotes is blanks and tabs
  // alone behind a blank or tab sep (a reload would trim them and sep away); a new line's key holds
  // sep, begins with '[' or begins or ends with a blank or tab; a new line with an empty key and a
  // value would begin with a sep of '[', blank or tab. quoted says whether the value goes between
  // quotes, new_line whether a line is created.
  static bool refuses(const char* key, const char* value, char sep, bool quoted, bool new_line) noexcept;

 private:
  // The first line matching key as set matches it (uncomment: "#key" too); null for none.
  brol_list_node<brol_string>* find_for_set(const char* key, char sep, bool uncomment) noexcept;
  bool change_line(brol_string& line, const char* key, const char* value, char sep, unsigned flags) noexcept;
  bool create_line(const char* key, const char* value, char sep, unsigned flags) noexcept;
};

struct brol_config {
  brol_dict<brol_config_section> sections;  // by name, in order of first appearance
  brol_config_section global;               // the lines before the first header
  brol_string file_name;                    // the file last loaded or saved to
  std::int16_t crlf;                        // non-zero: save writes CR LF, else LF
  // 1 when the file loaded last ended without a line end: save then ends the same way. A last line
  // that load drops (a '[' without ']', a repeated header) does not count: the line before it had one.
  std::int16_t no_final_line_end;
  // 1 when the file loaded last began with a UTF-8 byte order mark (EF BB BF): load sets it aside
  // before the first line is looked at, save writes it back first. It is in no line and no text.
  // Save writes it also when the first line begins with its bytes, which a reload would otherwise
  // take for the mark.
  std::int16_t byte_order_mark;

  // Never copied by the language (two records would own the same lines); the default constructor
  // leaves the fields as they are: init before use.
  brol_config() = default;
  brol_config(const brol_config&) = delete;
  brol_config& operator=(const brol_config&) = delete;

  // Empty: no sections, no lines, file_name "", crlf 0 (LF), no_final_line_end and byte_order_mark 0.
  void init() noexcept;
  // Releases everything; the record is left as init leaves it.
  void destroy() noexcept;

  // Reads the file at path (which may be file_name itself). Lines are trimmed; CR LF and LF end lines
  // alike, and so does a NUL inside a line (a NUL at the start of a line is skipped); a line
  // "[name]..." starts or continues the section name (the text after ']' is dropped, the name is not
  // trimmed); a line that begins with '[' and holds no ']' is dropped; every other line is kept.
  // On success the content is replaced and file_name is path. False, with the content and file_name
  // unchanged, when the file cannot be opened or read to its end or memory runs out.
  bool load(const char* path) noexcept;
  // Writes the content to path (null or empty: file_name; a given path becomes file_name): global's
  // lines, then for each section "[name]" and its lines, every line followed by the line end crlf
  // chooses (the last one omitted when no_final_line_end). The file is replaced whole or not at all:
  // the text goes to a new file beside it, which takes its place only when complete. False, with the
  // file as it was, when there is no path or any step fails.
  bool save(const char* path) noexcept;
  // Appends the whole text, lines ended with LF, to out; false when out cannot grow.
  bool to_text(brol_string& out) const noexcept;
  // Empties sections and global, sets file_name to "" and no_final_line_end and byte_order_mark to 0.
  void clear() noexcept;
  // Appends every section name in order to out (a refused element skips that name).
  void section_names(brol_list<brol_string>& out) const noexcept;

  // The operations of the section called section (the lines before the first header are global's;
  // "[]" names the section ""). A missing section: keys and content_lines add nothing, get gives "",
  // remove does nothing (true).
  void keys(const char* section, brol_list<brol_string>& out) noexcept;
  void content_lines(const char* section, brol_list<brol_string*>& out) noexcept;
  const char* get(const char* section, const char* key, char sep) noexcept;
  // As get, but null when the section or the key is missing; an empty value is "".
  const char* find(const char* section, const char* key, char sep) noexcept;
  // Creates the section at the end of the order when missing (also when the line then cannot be
  // made or value is null). False, with nothing changed, when section holds CR, LF or ']', when the
  // section's set refuses the input, or when the section cannot be created.
  bool set(const char* section, const char* key, const char* value, char sep, unsigned flags) noexcept;
  bool remove(const char* section, const char* key, char sep, bool comment_out) noexcept;

 private:
  // Exchanges the whole content (sections, global, file_name, no_final_line_end, byte_order_mark).
  void swap_content(brol_config& other) noexcept;
  bool write_all(brol_stream& stream) const noexcept;
};
