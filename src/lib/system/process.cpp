#include "lib/system/process.h"

#include "base/cp932.h"

namespace talven::lib::system {

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> split_command_line(std::string_view line) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < line.size() && blank(line[i])) ++i;
  if (i == line.size()) return out;

  // The program name.
  std::string program;
  if (line[i] == '"') {
    ++i;
    while (i < line.size() && line[i] != '"') {
      const std::size_t len = cp932::char_len(line, i);
      program.append(line.substr(i, len));
      i += len;
    }
    if (i < line.size()) ++i;
  } else {
    while (i < line.size() && !blank(line[i])) {
      const std::size_t len = cp932::char_len(line, i);
      program.append(line.substr(i, len));
      i += len;
    }
  }
  out.push_back(program);

  for (;;) {
    while (i < line.size() && blank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || !blank(line[i]))) {
      const std::size_t len = cp932::char_len(line, i);
      if (len == 2) {
        arg.append(line.substr(i, 2));
        i += 2;
        continue;
      }
      const char c = line[i];
      if (c == '\\') {
        std::size_t n = 0;
        while (i < line.size() && line[i] == '\\') ++n, ++i;
        if (i < line.size() && line[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2) {
            arg.push_back('"');
            ++i;
          }
        } else {
          arg.append(n, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          arg.push_back('"');
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg.push_back(c);
      ++i;
    }
    out.push_back(arg);
  }
  return out;
}

std::string join_command_line(const std::vector<std::string>& argv) {
  std::string line;
  for (std::size_t n = 0; n < argv.size(); ++n) {
    const std::string& arg = argv[n];
    if (n > 0) line.push_back(' ');
    const bool plain = !arg.empty() && arg.find_first_of(" \t\"") == std::string::npos;
    if (plain) {
      line += arg;
      continue;
    }
    line.push_back('"');
    if (n == 0) {
      // The program name has no escapes: it is quoted as it stands.
      line += arg;
      line.push_back('"');
      continue;
    }
    std::size_t backslashes = 0;
    for (char c : arg) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      // Backslashes before a quote are doubled and the quote escaped;
      // elsewhere they stand for themselves.
      if (c == '"') line.append(2 * backslashes + 1, '\\');
      else line.append(backslashes, '\\');
      backslashes = 0;
      line.push_back(c);
    }
    // Before the closing quote they are doubled too.
    line.append(2 * backslashes, '\\');
    line.push_back('"');
  }
  return line;
}

}  // namespace talven::lib::system
