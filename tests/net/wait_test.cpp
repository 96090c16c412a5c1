// Waiting on the link's sockets: the wake pipe's signal ends a wait, a
// drained pipe lets the wait run out, and skipped entries report nothing.
#include <gtest/gtest.h>

#include <chrono>

#include "net/net_socket.h"

namespace {

using namespace talven::net;

TEST(SocketWait, WakePipeSignalsAndDrains) {
  WakePipe wake;
  int code = -1;
  ASSERT_TRUE(wake.open(&code));
  WaitEntry entries[2];
  entries[0] = {wake.read_end(), kWaitIn, kWaitOut};  // a stale result is cleared
  entries[1] = {-1, kWaitIn, kWaitIn};

  EXPECT_EQ(wait_sockets(entries, 2, 1), 0);
  EXPECT_EQ(entries[0].found, 0);
  EXPECT_EQ(entries[1].found, 0);

  wake.signal();
  wake.signal();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(wait_sockets(entries, 2, 5000), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(entries[0].found, kWaitIn);
  EXPECT_EQ(entries[1].found, 0);

  wake.drain();
  EXPECT_EQ(wait_sockets(entries, 2, 1), 0);
  EXPECT_EQ(entries[0].found, 0);
}

TEST(SocketWait, ListenerIsReadableWhenAClientConnects) {
  int code = 0;
  const int listener = open_listener(0, &code);
  ASSERT_GE(listener, 0) << code;
  WaitEntry e{listener, kWaitIn, 0};
  EXPECT_EQ(wait_sockets(&e, 1, 1), 0);
  close_socket(listener);
}

}  // namespace
