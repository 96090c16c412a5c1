// Private-profile (INI) files.
//
// A file is parsed into lines that remember their byte ranges, so a write
// splices new bytes into the original text and every other byte (comments,
// blank lines, spacing, line endings, a UTF-8 byte order mark) stays as it
// was. Each call reads the file afresh: configuration is read rarely, and a
// file edited by hand or by another process is always seen as it is.
//
// The rules:
// - "[name]" starts a section; blanks inside the brackets are trimmed and the
//   name ends at the first ']' (multibyte-aware: a ']' trail byte does not
//   end it). A '[' line without ']' starts a section that nothing matches.
// - "key = value" lines count inside a section only; a line starting with
//   ';' is a comment, and a line without '=' is not a key. Keys and values
//   are trimmed of blanks, and one pair of matching quotes around a value is
//   removed when it is read.
// - Names match case-insensitively by the CP932 rules. When a section or a
//   key appears twice, the first occurrence in the file wins; a key is looked
//   for through every section of that name.
// - A new key goes after the last non-blank line of its section; a new
//   section goes at the end of the file after a blank line. New lines use the
//   line ending of the file's first line, or CRLF when it has none (a new
//   file), so files stay readable by the Windows tools games are made with.
// - Values are written as given up to the first line break: the rest could
//   only be read back as stray lines, or as keys and sections of its own.
//   Names that could not be read back (empty, with a line break, a section
//   with ']' or ending in a lone lead byte, or a key with '=' or starting
//   with '[' or ';') are refused. A new line always starts after a line feed.
#include "base/profile.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "base/atomic_file.h"
#include "base/cp932.h"
#include "base/game_path.h"
#include "base/host_file.h"

namespace talven::profile {

namespace {

// Larger files are not configuration; refusing them bounds what a game can
// make the runtime read into memory.
constexpr std::uint64_t kMaxFileSize = 64 << 20;

// Serialises read-modify-write cycles within the process.
std::mutex g_write_mutex;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

bool names_match(std::string_view a, std::string_view b) {
  return cp932::compare_nocase(a, b) == 0;
}

enum class LineKind { kOther, kBlank, kSection, kBadSection, kKey };

struct Line {
  std::size_t begin = 0;        // first byte of the line
  std::size_t content_end = 0;  // end of its text, before the line ending
  std::size_t next = 0;         // first byte of the next line
  LineKind kind = LineKind::kOther;
  std::string_view name;        // section or key name, trimmed
  std::string_view value;       // key value, trimmed, quotes kept
  std::size_t value_begin = 0;  // where a new value is written
};

struct Document {
  std::string text;
  std::size_t body = 0;  // first byte after a byte order mark
  std::vector<Line> lines;
};

// Index of the first single-byte c in s at or after from, or npos.
std::size_t find_char(std::string_view s, char c, std::size_t from = 0) {
  for (std::size_t i = from; i < s.size(); i = cp932::next(s, i))
    if (s[i] == c && cp932::char_len(s, i) == 1) return i;
  return std::string_view::npos;
}

void classify(const std::string& text, Line& line, bool in_section) {
  std::string_view content(text.data() + line.begin, line.content_end - line.begin);
  std::string_view t = trim(content);
  if (t.empty()) {
    line.kind = LineKind::kBlank;
    return;
  }
  if (t.front() == ';') return;
  if (t.front() == '[') {
    std::size_t close = find_char(t, ']', 1);
    if (close == std::string_view::npos) {
      line.kind = LineKind::kBadSection;
      return;
    }
    line.kind = LineKind::kSection;
    line.name = trim(t.substr(1, close - 1));
    return;
  }
  std::size_t eq = content.find('=');  // '=' is never a trail byte
  if (!in_section || eq == std::string_view::npos) return;
  std::string_view key = trim(content.substr(0, eq));
  if (key.empty()) return;
  line.kind = LineKind::kKey;
  line.name = key;
  line.value = trim(content.substr(eq + 1));
  line.value_begin = line.begin + eq + 1;
  if (!line.value.empty())
    line.value_begin = static_cast<std::size_t>(line.value.data() - text.data());
}

void parse(Document& doc) {
  const std::string& text = doc.text;
  doc.body = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  bool in_section = false;
  for (std::size_t pos = doc.body; pos < text.size();) {
    Line line;
    line.begin = pos;
    std::size_t nl = text.find('\n', pos);
    std::size_t end = nl == std::string::npos ? text.size() : nl;
    line.next = nl == std::string::npos ? text.size() : nl + 1;
    line.content_end = (end > pos && text[end - 1] == '\r') ? end - 1 : end;
    classify(text, line, in_section);
    if (line.kind == LineKind::kSection || line.kind == LineKind::kBadSection) in_section = true;
    doc.lines.push_back(line);
    pos = line.next;
  }
}

enum class Load { kOk, kMissing, kError };

Load load(const std::string& file, Document& doc) {
  host_file::Info info;
  if (!host_file::info_of_path(file, info)) return errno == ENOENT ? Load::kMissing : Load::kError;
  if (!info.regular || info.size > kMaxFileSize) return Load::kError;
  if (!read_file(file, doc.text) || doc.text.size() > static_cast<std::size_t>(kMaxFileSize))
    return Load::kError;
  parse(doc);
  return Load::kOk;
}

// Calls fn(index) for each line of every section named section: the header
// first (with is_header true), then its lines.
template <typename Fn>
void for_each_in_section(const Document& doc, std::string_view section, Fn fn) {
  bool inside = false;
  for (std::size_t i = 0; i < doc.lines.size(); ++i) {
    const Line& line = doc.lines[i];
    if (line.kind == LineKind::kSection || line.kind == LineKind::kBadSection) {
      inside = line.kind == LineKind::kSection && names_match(line.name, section);
      if (inside) fn(i, true);
      continue;
    }
    if (inside) fn(i, false);
  }
}

const Line* find_key(const Document& doc, std::string_view section, std::string_view key) {
  const Line* found = nullptr;
  for_each_in_section(doc, section, [&](std::size_t i, bool is_header) {
    const Line& line = doc.lines[i];
    if (!found && !is_header && line.kind == LineKind::kKey && names_match(line.name, key))
      found = &line;
  });
  return found;
}

// The value of section/key as read back (unquoted); false when it is missing.
bool lookup(const std::string& file, std::string_view section, std::string_view key,
            std::string& value) {
  section = trim(section);
  key = trim(key);
  if (section.empty() || key.empty()) return false;
  Document doc;
  if (load(file, doc) != Load::kOk) return false;
  const Line* line = find_key(doc, section, key);
  if (!line) return false;
  value = unquote(line->value);
  return true;
}

std::string_view line_ending(const Document& doc) {
  std::size_t nl = doc.text.find('\n', doc.body);
  if (nl == std::string::npos) return "\r\n";
  return (nl > doc.body && doc.text[nl - 1] == '\r') ? "\r\n" : "\n";
}

bool has_break(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// The header "[name]" must read back as this name: no ']' inside it, and no
// lead byte at its end that would take the closing ']' as its trail byte.
bool writable_section(std::string_view s) {
  if (s.empty() || has_break(s)) return false;
  std::string header(s);
  header.push_back(']');
  return find_char(header, ']') == s.size();
}

bool writable_key(std::string_view k) {
  return !k.empty() && !has_break(k) && k.find('=') == std::string_view::npos && k.front() != '[' &&
         k.front() != ';';
}

// Replaces the file with text when it changed (or did not exist).
bool store(const std::string& file, const Document& old, bool existed, const std::string& text) {
  if (existed && text == old.text) return true;
  std::string target = file;
  host_file::Info entry;
  if (existed && host_file::info_of_entry(file, entry) && entry.link) {
    // Keep the link and replace the file it points to.
    if (auto real = host_file::real_path(file)) target = *real;
  }
  // A file that may not be written stays as it is (the replacement would
  // otherwise go through, since it only needs the folder to be writable).
  // The save keeps the permissions of the file it replaces.
  host_file::Info old_info;
  if (existed && host_file::info_of_path(target, old_info) && !host_file::writable(target))
    return false;
  if (!write_file_atomic(target, text)) return false;
  if (!existed) {
    std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) invalidate_path_cache(".");
    else invalidate_path_cache(slash == 0 ? "/" : file.substr(0, slash));
  }
  return true;
}

// Rewrites the file without the lines for which drop(index) is true.
bool remove_lines(const std::string& file, const Document& doc, const std::vector<bool>& drop) {
  std::string text = doc.text.substr(0, doc.body);
  for (std::size_t i = 0; i < doc.lines.size(); ++i) {
    const Line& line = doc.lines[i];
    if (!drop[i]) text.append(doc.text, line.begin, line.next - line.begin);
  }
  return store(file, doc, true, text);
}

}  // namespace

std::int32_t parse_int(std::string_view text, std::int32_t default_value) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i == text.size()) return default_value;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  std::uint32_t n = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    n = n * 10u + static_cast<std::uint32_t>(text[i] - '0');
  if (negative) n = 0u - n;
  return static_cast<std::int32_t>(n);
}

std::int32_t get_int(const std::string& file, std::string_view section, std::string_view key,
                     std::int32_t default_value) {
  std::string value;
  if (!lookup(file, section, key, value) || value.empty()) return default_value;
  return parse_int(value, default_value);
}

std::string get_string(const std::string& file, std::string_view section, std::string_view key,
                       std::string_view default_value) {
  std::string value;
  if (!lookup(file, section, key, value)) return std::string(default_value);
  return value;
}

bool write_string(const std::string& file, std::string_view section, std::string_view key,
                  std::string_view value) {
  section = trim(section);
  key = trim(key);
  if (!writable_section(section) || !writable_key(key)) return false;
  value = value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));

  std::lock_guard lock(g_write_mutex);
  Document doc;
  Load state = load(file, doc);
  if (state == Load::kError) return false;
  const std::string& old = doc.text;
  std::string_view eol = line_ending(doc);

  if (const Line* line = find_key(doc, section, key)) {
    std::string text = old.substr(0, line->value_begin);
    text.append(value);
    text.append(old, line->content_end);
    return store(file, doc, true, text);
  }

  std::string key_line = std::string(key) + "=" + std::string(value) + std::string(eol);

  // The section exists: after its last non-blank line.
  std::size_t last = doc.lines.size();
  int headers = 0;
  for_each_in_section(doc, section, [&](std::size_t i, bool is_header) {
    if (is_header) ++headers;
    if (headers > 1) return;  // a later duplicate: the first one takes the key
    if (is_header || doc.lines[i].kind != LineKind::kBlank) last = i;
  });
  if (last != doc.lines.size()) {
    const Line& after = doc.lines[last];
    // Only a line feed ends a line: after a bare CR the new line would be
    // read as part of this one.
    bool ended = after.next > after.begin && old[after.next - 1] == '\n';
    std::string text = old.substr(0, after.next);
    if (!ended) text.append(eol);
    text.append(key_line);
    text.append(old, after.next);
    return store(file, doc, true, text);
  }

  // A new section at the end.
  std::string text = old;
  if (!doc.lines.empty()) {
    if (text.back() != '\n') text.append(eol);
    if (doc.lines.back().kind != LineKind::kBlank) text.append(eol);
  }
  text.append("[").append(section).append("]").append(eol).append(key_line);
  return store(file, doc, state == Load::kOk, text);
}

bool delete_key(const std::string& file, std::string_view section, std::string_view key) {
  section = trim(section);
  key = trim(key);
  std::lock_guard lock(g_write_mutex);
  Document doc;
  Load state = load(file, doc);
  if (state == Load::kMissing) return true;
  if (state == Load::kError) return false;
  std::vector<bool> drop(doc.lines.size(), false);
  bool any = false;
  for_each_in_section(doc, section, [&](std::size_t i, bool is_header) {
    const Line& line = doc.lines[i];
    if (!is_header && line.kind == LineKind::kKey && names_match(line.name, key))
      drop[i] = any = true;
  });
  return !any || remove_lines(file, doc, drop);
}

bool delete_section(const std::string& file, std::string_view section) {
  section = trim(section);
  std::lock_guard lock(g_write_mutex);
  Document doc;
  Load state = load(file, doc);
  if (state == Load::kMissing) return true;
  if (state == Load::kError) return false;
  std::vector<bool> drop(doc.lines.size(), false);
  bool any = false;
  for_each_in_section(doc, section, [&](std::size_t i, bool) { drop[i] = any = true; });
  return !any || remove_lines(file, doc, drop);
}

}  // namespace talven::profile
