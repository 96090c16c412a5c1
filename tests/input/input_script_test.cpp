// Input files: what is accepted, what is refused (naming the line), the
// order and timing of the replay, and that a recorded line reads back as
// the same event.
#include <gtest/gtest.h>

#include <vector>

#include "input/input_script.h"
#include "input/keymap.h"

namespace {

using namespace talven::input;

TEST(InputScript, ReadsEveryKindOfEvent) {
  ParsedInput p = parse_input_text(
      "# a comment\n"
      "\n"
      "frame 1 key down A   # trailing comment\n"
      "time 250 key up return\r\n"
      "frame 2 move -5 700\n"
      "frame 3 button down left 2\n"
      "frame 3 button up x2\n"
      "frame 4 wheel -120\n"
      "frame 5 text \"\xE6\x97\xA5 \\\"q\\\\\"\n"
      "frame 6 joy 3 add\n"
      "frame 6 joy 3 axis 1 -32768\n"
      "frame 6 joy 3 button 31 down\n"
      "frame 6 joy 3 remove\n"
      "frame 7 focus off");
  ASSERT_EQ(p.error, "");
  ASSERT_EQ(p.events.size(), 12u);
  const auto& e = p.events;
  EXPECT_EQ(e[0].event.type, InputEvent::KeyDown);
  EXPECT_EQ(e[0].event.vk, 0x41);
  EXPECT_EQ(e[0].event.dik, 0x1E);
  EXPECT_EQ(e[0].line, 3);
  EXPECT_FALSE(e[1].by_frame);
  EXPECT_EQ(e[1].at, 250u);
  EXPECT_EQ(e[1].event.vk, 0x0D);
  EXPECT_EQ(e[2].event.x, -5);
  EXPECT_EQ(e[2].event.y, 700);
  EXPECT_EQ(e[3].event.button, 1);
  EXPECT_EQ(e[3].event.clicks, 2);
  EXPECT_EQ(e[4].event.button, 5);
  EXPECT_EQ(e[5].event.wheel, -120);
  EXPECT_EQ(e[6].event.text, "\xE6\x97\xA5 \"q\\");
  EXPECT_EQ(e[7].event.type, InputEvent::JoyAdded);
  EXPECT_EQ(e[8].event.joy, 3);
  EXPECT_EQ(e[8].event.button, 1);
  EXPECT_EQ(e[8].event.x, -32768);
  EXPECT_EQ(e[9].event.button, 31);
  EXPECT_EQ(e[10].event.type, InputEvent::JoyRemoved);
  EXPECT_FALSE(e[11].event.on);

  // Every event written by the recorder reads back the same.
  for (const TimedEvent& t : e) {
    if (!t.by_frame) continue;
    std::string line = format_input_event(t.at, t.event);
    ParsedInput back = parse_input_text(line);
    ASSERT_EQ(back.error, "") << line;
    ASSERT_EQ(back.events.size(), 1u) << line;
    EXPECT_EQ(format_input_event(back.events[0].at, back.events[0].event), line);
  }
}

TEST(InputScript, RefusesMalformedLinesNamingThem) {
  const char* bad[] = {
      "frame 1 key down NoSuchKey",
      "frame x key down A",
      "frames 1 key down A",
      "frame 1 key sideways A",
      "frame 1 move 1",
      "frame 1 move 1 2 3",
      "frame 1 button down thumb",
      "frame 1 button down left 0",
      "frame 1 text \"open",
      "frame 1 joy 4 add",
      "frame 1 joy 0 axis 2 0",
      "frame 1 joy 0 axis 0 40000",
      "frame 1 joy 0 button 32 down",
      "frame 1 joy 0 shake",
      "frame 1 focus maybe",
      "frame 1 teleport",
      "frame -1 wheel 1",
      "frame 1 wheel 99999999999999999999",
  };
  for (const char* line : bad) {
    ParsedInput p = parse_input_text(std::string("frame 0 key down A\n\n") + line + "\n");
    EXPECT_EQ(p.error.rfind("line 3: ", 0), 0u) << line << " -> " << p.error;
    EXPECT_TRUE(p.events.empty()) << line;
  }
  // Arbitrary bytes are refused, never crash.
  std::string junk;
  for (int i = 0; i < 2000; ++i) junk.push_back(static_cast<char>((i * 7919) & 0xFF));
  EXPECT_NE(parse_input_text(junk).error, "");
  EXPECT_EQ(parse_input_text("").error, "");
}

TEST(InputScript, AWhenWithoutAnEventIsRefusedAsSuch) {
  const struct {
    const char* line;
    const char* error;
  } cases[] = {
      {"frame 5", "line 2: expected an event after frame 5"},
      {"frame 5   ", "line 2: expected an event after frame 5"},
      {"time 1500 # the title screen", "line 2: expected an event after time 1500"},
  };
  for (const auto& c : cases) {
    ParsedInput p = parse_input_text(std::string("frame 0 key down A\n") + c.line + "\n");
    EXPECT_EQ(p.error, c.error) << c.line;
    EXPECT_TRUE(p.events.empty()) << c.line;
  }
}

TEST(InputScript, AReplayThatCannotGoOnSaysWhatItWaitsFor) {
  ParsedInput p = parse_input_text(
      "frame 0 key down A\n"
      "# the title screen presents once, then reads the keys\n"
      "frame 3 key up A\n"
      "time 9000 key down B\n");
  ASSERT_EQ(p.error, "");
  InputReplay r(std::move(p.events));
  auto apply = [](const InputEvent&) {};
  r.pump(1, 4000, apply);
  ASSERT_NE(r.waiting(), nullptr);
  EXPECT_EQ(r.waiting()->line, 3);
  std::string note = describe_wait(*r.waiting(), 1, 4000);
  EXPECT_NE(note.find("line 3 (frame 3)"), std::string::npos) << note;
  EXPECT_NE(note.find("only 1 frame was presented"), std::string::npos) << note;
  EXPECT_NE(note.find("'time MS'"), std::string::npos) << note;
  EXPECT_NE(note.find("4000 ms"), std::string::npos) << note;

  // Due but not yet read: the game stopped reading the input.
  note = describe_wait(*r.waiting(), 3, 4000);
  EXPECT_NE(note.find("which is due"), std::string::npos) << note;

  r.pump(3, 4000, apply);
  ASSERT_NE(r.waiting(), nullptr);
  note = describe_wait(*r.waiting(), 3, 4000);
  EXPECT_NE(note.find("line 4 (time 9000)"), std::string::npos) << note;
  EXPECT_EQ(note.find("'time MS'"), std::string::npos) << "already the time form: " << note;

  r.pump(3, 9000, apply);
  EXPECT_EQ(r.waiting(), nullptr);
}

TEST(InputScript, ReplayWaitsInOrderAndShowsEveryPress) {
  ParsedInput p = parse_input_text(
      "frame 0 key down A\n"
      "frame 0 key up A\n"
      "frame 0 key down B\n"
      "time 100 button down left\n"
      "frame 1 button up left\n"
      "frame 0 key up B\n");
  ASSERT_EQ(p.error, "");
  InputReplay r(std::move(p.events));
  std::vector<InputEvent::Type> seen;
  auto apply = [&](const InputEvent& e) { seen.push_back(e.type); };
  r.pump(0, 0, apply);
  ASSERT_EQ(seen.size(), 1u);  // the release of A waits for the next read
  r.pump(0, 0, apply);
  ASSERT_EQ(seen.size(), 3u);  // A up, B down; then the time-100 event waits
  r.pump(5, 99, apply);
  EXPECT_EQ(seen.size(), 3u);
  r.pump(0, 100, apply);
  EXPECT_EQ(seen.size(), 4u);  // the button; its release waits for frame 1
  r.pump(1, 100, apply);
  EXPECT_EQ(seen.size(), 6u);
  EXPECT_TRUE(r.finished());
  EXPECT_EQ(seen[4], InputEvent::ButtonUp);
  EXPECT_EQ(seen[5], InputEvent::KeyUp);
}

}  // namespace
