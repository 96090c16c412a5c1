#include "base/debug_output.h"

#include <cstdio>
#include <mutex>

#include "base/messages.h"

namespace talven {

namespace {

std::mutex mutex;
bool exists = false;
bool visible = false;
bool echo = false;
std::vector<std::string> lines;

}  // namespace

void debug_output_create() {
  std::lock_guard lock(mutex);
  exists = true;
  visible = false;
  lines.clear();
}

void debug_output_destroy() {
  std::lock_guard lock(mutex);
  exists = false;
  visible = false;
  lines.clear();
}

bool debug_output_exists() {
  std::lock_guard lock(mutex);
  return exists;
}

void debug_output_echo(bool on) {
  std::lock_guard lock(mutex);
  echo = on;
}

bool debug_output_echoing() {
  std::lock_guard lock(mutex);
  return echo;
}

void debug_output_append(std::string_view line) {
  std::lock_guard lock(mutex);
  if (echo) {
    // A line that ends in its own line break is not given a second one.
    std::string text = display_text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    text += '\n';
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
  }
  if (exists) lines.emplace_back(line);
}

void debug_output_clear() {
  std::lock_guard lock(mutex);
  lines.clear();
}

std::vector<std::string> debug_output_lines() {
  std::lock_guard lock(mutex);
  return lines;
}

std::size_t debug_output_count() {
  std::lock_guard lock(mutex);
  return lines.size();
}

bool debug_output_visible() {
  std::lock_guard lock(mutex);
  return visible;
}

void debug_output_toggle() {
  std::lock_guard lock(mutex);
  if (exists) visible = !visible;
}

void debug_output_hide() {
  std::lock_guard lock(mutex);
  visible = false;
}

}  // namespace talven
