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

}  // namespace talven
