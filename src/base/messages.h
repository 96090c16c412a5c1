// Messages to the player and the game's author.
//
// report_message() formats a wsprintf-style message and shows it when its
// level passes the `Error` filter (level 1: errors, level 2: file notices).
// Every shown message is written as one UTF-8 line to standard error and
// handed to the message sink, which the main window turns into a message box
// (headless runs keep the default sink: print only, answer OK).
//
// Formats are our own UTF-8 texts; %s arguments may be CP932 text from games
// and are converted to UTF-8 for display when they are not already UTF-8.
// Long messages are kept whole.
//
// The terminal line of a message adds what the shown text does not say: the
// English gloss of the runtime's own (Japanese or Chinese) texts, and, when
// a builtin reports it, the builtin's script name and the script places of
// the call. A thread marks the builtin call it serves with a
// BuiltinCallScope; the places are worked out only when a message is shown.
#pragma once

#include <cstdarg>
#include <functional>
#include <string>
#include <string_view>

namespace talven {

constexpr int kMessageOk = 1;  // what an OK-only box answers

// Shows the text (UTF-8) and returns the box's answer.
using MessageSink = std::function<int(unsigned level, const std::string& text)>;

// Installs a sink (empty: back to the default). Returns the previous one.
MessageSink set_message_sink(MessageSink sink);

// Formats and shows a message; returns the sink's answer, or the `Error`
// configuration value when the message is filtered out.
int report_message(unsigned level, const char* format, ...) __attribute__((format(printf, 2, 3)));
int report_message_v(unsigned level, const char* format, va_list args);

// Shows a finished text like report_message, but writes `terminal` (UTF-8
// lines, each ending in a line feed) to standard error in place of the
// one-line form: the place for glosses, source lines and call chains that
// the message itself does not carry.
int report_message_detailed(unsigned level, const std::string& text, const std::string& terminal);

// The formatter on its own: %d %i %u %x %X %s %c %% with the flags - 0 + space #,
// a width and a precision (either may be *), and the l / h / hh / ll size
// prefixes. Integers are 32-bit unless ll is given; h keeps the low 16 bits
// and hh the low 8, as the C library does. An unknown conversion is copied
// as is.
std::string format_message(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string format_message_v(const char* format, va_list args);

// Turns text that may be CP932 into UTF-8 for display (UTF-8 stays as is).
std::string display_text(std::string_view text);

// ---- where a message comes from ---------------------------------------------

// A builtin call being served. The record belongs to whoever made the call
// and outlives every scope that names it.
struct BuiltinCallSite {
  const char* builtin = nullptr;  // the builtin's script name
  // "  at FILE(LINE) in FUNCTION\n" for each script place of the call,
  // innermost first ("" when unknown). Called only when a message is shown.
  std::string (*describe)(const BuiltinCallSite& site) = nullptr;
};

// The call the calling thread serves, or null (set by BuiltinCallScope,
// inline: every builtin call passes through one).
extern constinit thread_local const BuiltinCallSite* t_served_call;
inline const BuiltinCallSite* current_builtin_call() { return t_served_call; }

// Marks the calling thread as serving `site` (null: no call) until the
// scope ends, when the previous mark comes back.
class BuiltinCallScope {
 public:
  explicit BuiltinCallScope(const BuiltinCallSite* site) : previous_(t_served_call) {
    t_served_call = site;
  }
  ~BuiltinCallScope() { t_served_call = previous_; }
  BuiltinCallScope(const BuiltinCallScope&) = delete;
  BuiltinCallScope& operator=(const BuiltinCallScope&) = delete;

 private:
  const BuiltinCallSite* previous_;
};

// The English gloss of one of the runtime's own message texts, found by the
// part of the text that does not depend on arguments; "" for any other text.
std::string_view message_gloss(std::string_view text);

// The terminal form of a shown message: "talven: TEXT" on one line (line
// ends inside become " | "), then " [BUILTIN: GLOSS]", " [BUILTIN]" or
// " [GLOSS]" as far as they are known, a line feed, and the call's places.
std::string terminal_message(std::string_view text, const BuiltinCallSite* site);

}  // namespace talven
