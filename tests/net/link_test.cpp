// The network link in-process: a server or client link of this process
// against plain sockets of the test on the loopback address.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/address_space.h"
#include "base/config.h"
#include "base/messages.h"
#include "net/net_builtins.h"
#include "runtime/bind.h"
#include "net/net_link.h"
#include "support/plain_socket.h"

namespace {

using namespace talven;
using namespace std::chrono_literals;

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(2ms);
  }
  return done();
}

namespace plain = talven::test::plain;

int free_port() { return plain::free_port(); }
int connect_raw(int port) { return plain::connect_loopback(port); }
int listen_raw(int port) { return plain::listen_loopback(port); }

// Reads exactly n bytes from a plain socket within the time limit.
std::string read_raw(int s, std::size_t n, int limit_ms = 5000) {
  std::string out;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (out.size() < n && std::chrono::steady_clock::now() < end) {
    if (!plain::readable(s, 20)) continue;
    char buf[4096];
    long got = plain::recv_bytes(s, buf, std::min(sizeof buf, n - out.size()));
    if (got <= 0) break;
    out.append(buf, static_cast<std::size_t>(got));
  }
  return out;
}

// True when the peer closed or reset the plain socket within the limit.
bool raw_closed(int s, int limit_ms = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (std::chrono::steady_clock::now() < end) {
    if (!plain::readable(s, 20)) continue;
    char c;
    long got = plain::recv_bytes(s, &c, 1);
    if (got <= 0) return true;
  }
  return false;
}

// Takes bytes from the link until n arrived or the time is up.
std::string recv_link(int client, std::size_t n, int limit_ms = 5000) {
  std::string out;
  wait_until(
      [&] {
        std::uint8_t buf[16384];
        int got = net::net_recv(client, buf,
                                static_cast<std::uint32_t>(std::min(sizeof buf, n - out.size())));
        if (got > 0) out.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(got));
        return out.size() >= n || got < 0;
      },
      std::chrono::milliseconds(limit_ms));
  return out;
}

int send_text(int client, const std::string& s) {
  return net::net_send(client, reinterpret_cast<const std::uint8_t*>(s.data()),
                       static_cast<std::uint32_t>(s.size()));
}

class NetLink : public ::testing::Test {
 protected:
  void SetUp() override {
    net::net_set_started(true);
    {
      std::lock_guard<std::mutex> g(mutex_);
      messages_.clear();
    }
    set_message_sink([](unsigned, const std::string& text) {
      std::lock_guard<std::mutex> g(mutex_);
      messages_.push_back(text);
      return kMessageOk;
    });
  }
  void TearDown() override {
    net::net_close();
    net::net_set_started(false);
    set_message_sink({});
    for (int s : sockets_) plain::close(s);
  }
  int keep(int s) {
    if (s >= 0) sockets_.push_back(s);
    return s;
  }
  bool saw(const std::string& text) {
    return wait_until([&] {
      std::lock_guard<std::mutex> g(mutex_);
      for (const std::string& m : messages_)
        if (m.find(text) != std::string::npos) return true;
      return false;
    });
  }
  std::size_t message_count() {
    std::lock_guard<std::mutex> g(mutex_);
    return messages_.size();
  }

  // Shared by all tests: the link's reporter thread may show a message
  // after the test that caused it has ended.
  static inline std::mutex mutex_;
  static inline std::vector<std::string> messages_;
  std::vector<int> sockets_;
};

TEST_F(NetLink, NoLinkAndRefusedOpens) {
  std::uint8_t buf[4] = {};
  EXPECT_EQ(net::net_state(), 0);
  EXPECT_EQ(net::net_send(0, buf, 4), -1);
  EXPECT_EQ(net::net_recv(0, buf, 4), -1);
  EXPECT_EQ(net::net_close(), 1);

  // The `Net` key turns the network on at start.
  config().Net = 0;
  net::net_start();
  EXPECT_FALSE(net::net_started());
  config().Net = 1;
  net::net_start();
  EXPECT_TRUE(net::net_started());
  net::net_shutdown();
  EXPECT_FALSE(net::net_started());
  config().Net = 0;

  int port = free_port();
  net::net_set_started(false);
  EXPECT_EQ(net::net_open(nullptr, port), 0);  // a server needs the network on
  EXPECT_EQ(message_count(), 0u);
  net::net_set_started(true);
  EXPECT_EQ(net::net_open(nullptr, 0), 0);
  EXPECT_EQ(net::net_open(nullptr, 65536), 0);
  std::string host = "127.0.0.1";
  EXPECT_EQ(net::net_open(&host, -5), 0);
  EXPECT_TRUE(saw("WSAEINVAL"));
  EXPECT_EQ(net::net_role(), net::kRoleNone);

  // A port another socket holds without address reuse cannot be taken.
  int holder = keep(listen_raw(port));
  ASSERT_GE(holder, 0);
  plain::set_reuse(holder, false);
  EXPECT_EQ(net::net_open(nullptr, port), 0);
  EXPECT_TRUE(saw("WSAEADDRINUSE アドレスがすでに使用中です"));
}

TEST_F(NetLink, ServerServesFiveClientsAndRefusesTheSixth) {
  int port = free_port();
  ASSERT_EQ(net::net_open(nullptr, port), 1);
  EXPECT_EQ(net::net_role(), net::kRoleServer);
  EXPECT_TRUE(wait_until([] { return net::net_state() == 1; }));

  int clients[5];
  for (int i = 0; i < 5; ++i) {
    clients[i] = keep(connect_raw(port));
    ASSERT_GE(clients[i], 0);
    ASSERT_TRUE(wait_until([&] { return net::net_client_count() == i + 1; })) << i;
  }
  std::uint8_t none[1];
  EXPECT_EQ(net::net_recv(0, none, 1), 0);  // nothing received is 0, not -1
  std::string peer = net::net_peer_name(0);
  EXPECT_TRUE(peer == "localhost" || peer == "127.0.0.1" || !peer.empty()) << peer;

  int sixth = keep(connect_raw(port));
  ASSERT_GE(sixth, 0);
  EXPECT_TRUE(raw_closed(sixth));
  EXPECT_TRUE(saw("クライアントの接続数が最大数を超えました"));
  EXPECT_EQ(net::net_client_count(), 5);

  // Records are filled lowest first, in the order the clients came.
  for (int i = 0; i < 5; ++i) {
    std::string msg = "to client " + std::to_string(i);
    EXPECT_EQ(send_text(i, msg), static_cast<int>(msg.size()));
    EXPECT_EQ(read_raw(clients[i], msg.size()), msg);
    std::string back = "from client " + std::to_string(i);
    ASSERT_EQ(plain::send_bytes(clients[i], back.data(), back.size()),
              static_cast<long>(back.size()));
    EXPECT_EQ(recv_link(i, back.size()), back);
  }
  EXPECT_EQ(send_text(5, "x"), -1);
  EXPECT_EQ(send_text(-1, "x"), -1);
  EXPECT_EQ(net::net_recv(5, none, 1), -1);

  EXPECT_EQ(net::net_close(), 1);
  EXPECT_EQ(net::net_state(), 0);
  for (int c : clients) EXPECT_TRUE(raw_closed(c)) << "clients end with the server";
  EXPECT_EQ(send_text(0, "x"), -1);
}

// A message box left open does not hold up the link or its close.
TEST_F(NetLink, AnOpenMessageBoxDoesNotHoldUpTheLink) {
  std::mutex m;
  std::condition_variable cv;
  bool box_open = false;
  bool dismissed = false;
  bool box_gone = false;
  set_message_sink([&](unsigned, const std::string&) {
    std::unique_lock<std::mutex> lock(m);
    box_open = true;
    cv.notify_all();
    cv.wait(lock, [&] { return dismissed; });
    box_gone = true;
    cv.notify_all();
    return kMessageOk;
  });
  int port = free_port();
  ASSERT_EQ(net::net_open(nullptr, port), 1);
  int clients[6];
  for (int i = 0; i < 5; ++i) {
    clients[i] = keep(connect_raw(port));
    ASSERT_TRUE(wait_until([&] { return net::net_client_count() == i + 1; }));
  }
  clients[5] = keep(connect_raw(port));
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 5s, [&] { return box_open; }));
  }
  // The box is up; the link still moves bytes and closes at once.
  EXPECT_EQ(send_text(4, "served"), 6);
  EXPECT_EQ(read_raw(clients[4], 6), "served");
  auto closing = std::async(std::launch::async, [] { return net::net_close(); });
  bool prompt = closing.wait_for(1s) == std::future_status::ready;
  {
    std::lock_guard<std::mutex> lock(m);
    dismissed = true;
  }
  cv.notify_all();
  EXPECT_TRUE(prompt) << "net_close waited for the message box";
  EXPECT_EQ(closing.get(), 1);
  set_message_sink({});
  std::unique_lock<std::mutex> lock(m);  // the box's code uses this frame
  cv.wait(lock, [&] { return box_gone; });
}

TEST_F(NetLink, VanishingPeersAreDroppedAndTheOthersServed) {
  int port = free_port();
  ASSERT_EQ(net::net_open(nullptr, port), 1);
  int a = keep(connect_raw(port));
  ASSERT_TRUE(wait_until([] { return net::net_client_count() == 1; }));
  int b = keep(connect_raw(port));
  ASSERT_TRUE(wait_until([] { return net::net_client_count() == 2; }));
  int c = keep(connect_raw(port));
  ASSERT_TRUE(wait_until([] { return net::net_client_count() == 3; }));

  // a resets its connection.
  plain::reset(a);
  sockets_.erase(sockets_.begin());
  EXPECT_TRUE(wait_until([] { return net::net_client_count() == 2; }));
  EXPECT_EQ(send_text(0, "x"), -1);

  // b says goodbye and half-closes: it stays until its bytes are taken.
  ASSERT_EQ(plain::send_bytes(b, "bye", 3), 3);
  plain::shutdown_write(b);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(net::net_client_count(), 2) << "dropped before the script read its bytes";
  EXPECT_EQ(recv_link(1, 3), "bye");
  EXPECT_TRUE(wait_until([] { return net::net_client_count() == 1; }));
  std::uint8_t spare = 0;
  EXPECT_EQ(net::net_recv(1, &spare, 1), -1);

  // c is still served, and a newcomer takes the lowest free record.
  EXPECT_EQ(send_text(2, "still here"), 10);
  EXPECT_EQ(read_raw(c, 10), "still here");
  int d = keep(connect_raw(port));
  ASSERT_TRUE(wait_until([] { return net::net_client_count() == 2; }));
  EXPECT_EQ(send_text(0, "new"), 3);
  EXPECT_EQ(read_raw(d, 3), "new");
}

TEST_F(NetLink, TheRingHoldsBackAFastPeer) {
  int port = free_port();
  ASSERT_EQ(net::net_open(nullptr, port), 1);
  int c = keep(connect_raw(port));
  ASSERT_TRUE(wait_until([] { return net::net_client_count() == 1; }));

  // A send of 10000 bytes into the empty ring queues 8191.
  std::vector<std::uint8_t> big(10000, 'q');
  EXPECT_EQ(net::net_send(0, big.data(), 10000), 8191);
  EXPECT_EQ(read_raw(c, 8191).size(), 8191u);

  // The peer pushes 4 MiB; the script reads nothing for a while.
  constexpr std::size_t kTotal = 4 << 20;
  std::thread writer([c] {
    std::vector<std::uint8_t> data(65536);
    std::size_t sent = 0;
    while (sent < kTotal) {
      for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>((sent + i) * 7 / 3);
      long n = plain::send_bytes(c, data.data(), std::min(data.size(), kTotal - sent));
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  });
  EXPECT_TRUE(wait_until([] { return net::net_received(0) == 8191; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(net::net_received(0), 8191) << "the ring holds at most 8191 bytes";
  std::vector<std::uint8_t> buf(kTotal);
  int first = net::net_recv(0, buf.data(), static_cast<std::uint32_t>(buf.size()));
  EXPECT_EQ(first, 8191) << "the ring holds at most 8191 bytes";
  std::size_t got = static_cast<std::size_t>(std::max(first, 0));
  EXPECT_TRUE(wait_until(
      [&] {
        int n = net::net_recv(0, buf.data() + got, static_cast<std::uint32_t>(kTotal - got));
        if (n > 0) got += static_cast<std::size_t>(n);
        return got == kTotal || n < 0;
      },
      20000ms));
  writer.join();
  ASSERT_EQ(got, kTotal);
  std::size_t bad = 0;
  for (std::size_t i = 0; i < kTotal; ++i)
    if (buf[i] != static_cast<std::uint8_t>(i * 7 / 3)) ++bad;
  EXPECT_EQ(bad, 0u) << "bytes lost or reordered";
}

TEST_F(NetLink, ClientConnectsExchangesAndKeepsBytesAfterTheServerCloses) {
  int port = free_port();
  int listener = keep(listen_raw(port));
  ASSERT_GE(listener, 0);
  std::string host = "127.0.0.1";
  ASSERT_EQ(net::net_open(&host, port), 1);
  EXPECT_EQ(net::net_role(), net::kRoleClient);
  int s = keep(plain::accept_one(listener));
  ASSERT_GE(s, 0);
  ASSERT_TRUE(wait_until([] { return net::net_state() == 1; }));

  EXPECT_EQ(send_text(3, "ping"), 4);  // the number is ignored by a client
  EXPECT_EQ(read_raw(s, 4), "ping");
  ASSERT_EQ(plain::send_bytes(s, "pong and tail", 13), 13);
  plain::close(s);
  sockets_.pop_back();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(net::net_state(), 1) << "ended before the script took the bytes";
  EXPECT_EQ(recv_link(0, 13), "pong and tail");
  EXPECT_TRUE(wait_until([] { return net::net_state() == 0; }));
  std::uint8_t b;
  EXPECT_EQ(net::net_recv(0, &b, 1), -1);
  EXPECT_EQ(net::net_send(0, &b, 1), -1);
}

TEST_F(NetLink, ClientFailuresAreReported) {
  int port = free_port();  // nobody listens there
  std::string host = "127.0.0.1";
  ASSERT_EQ(net::net_open(&host, port), 1);
  EXPECT_TRUE(wait_until([] { return net::net_state() == 0; }));
  EXPECT_TRUE(saw("WSAECONNREFUSED 接続が拒否されました"));

  std::string nowhere = "no-such-host.invalid";
  ASSERT_EQ(net::net_open(&nowhere, port), 1);
  EXPECT_TRUE(wait_until([] { return net::net_state() == 0; }, 15000ms));
  EXPECT_TRUE(saw("サーバーに接続できません"));

  // Without the network a dotted address fails with the not-started error.
  net::net_set_started(false);
  ASSERT_EQ(net::net_open(&host, port), 1);
  EXPECT_TRUE(wait_until([] { return net::net_state() == 0; }));
  EXPECT_TRUE(saw("WSANOTINITIALISED"));
  net::net_set_started(true);

  // Closing while a connection is still being made returns promptly.
  std::string unreachable = "10.255.255.1";
  ASSERT_EQ(net::net_open(&unreachable, 9), 1);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(net::net_close(), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1000ms);
  EXPECT_EQ(net::net_state(), 0);
}

TEST_F(NetLink, ClientReachesAnIpv6Literal) {
  int port6 = 0;
  int l6 = plain::listen_loopback6(&port6);
  if (l6 < 0) GTEST_SKIP() << "no IPv6 loopback here";
  keep(l6);
  std::string host = "::1";
  ASSERT_EQ(net::net_open(&host, port6), 1);
  int s = keep(plain::accept_one(l6));
  ASSERT_GE(s, 0);
  ASSERT_TRUE(wait_until([] { return net::net_state() == 1; }));
  EXPECT_EQ(send_text(0, "v6"), 2);
  EXPECT_EQ(read_raw(s, 2), "v6");
}

// The builtins check the script's buffer before anything is copied.
TEST_F(NetLink, BuiltinsRejectWildBuffersAndLengths) {
  int port = free_port();
  Addr args = script_alloc(16);
  Addr buf = script_alloc(64);
  ASSERT_NE(args, 0u);
  ASSERT_NE(buf, 0u);
  // Through the bindings the builtin table holds.
  auto call = [&](runtime::BuiltinBinding bound, std::uint32_t a0, std::uint32_t a1,
                  std::uint32_t a2) {
    store32(args, a0);
    store32(args + 4, a1);
    store32(args + 8, a2);
    return static_cast<std::int32_t>(bound.handler(args));
  };
  EXPECT_EQ(call(runtime::bind<&net::bi_net_open>, 0, static_cast<std::uint32_t>(port), 0), 1);
  int c = keep(connect_raw(port));
  ASSERT_TRUE(wait_until([] { return net::net_client_count() == 1; }));

  write_bytes(buf, "abcdef", 6);
  EXPECT_EQ(call(runtime::bind<&net::bi_net_send>, 0, 0x10, 6), -1);           // below the space
  EXPECT_EQ(call(runtime::bind<&net::bi_net_send>, 0, 0xFFFFF000u, 6), -1);    // above it
  EXPECT_EQ(call(runtime::bind<&net::bi_net_send>, 0, buf, 0xFFFFFFFFu), -1);  // negative length
  EXPECT_EQ(call(runtime::bind<&net::bi_net_send>, 0, buf, 0x7FFFFFFF), -1);   // runs off the space
  EXPECT_EQ(call(runtime::bind<&net::bi_net_send>, 0, buf, 0), 0);
  EXPECT_EQ(call(runtime::bind<&net::bi_net_send>, 0, buf, 6), 6);
  EXPECT_EQ(read_raw(c, 6), "abcdef");

  ASSERT_EQ(plain::send_bytes(c, "xyz", 3), 3);
  std::this_thread::sleep_for(50ms);  // the bytes reach the ring
  EXPECT_EQ(call(runtime::bind<&net::bi_net_recv>, 0, 0x10, 3), -1);
  EXPECT_EQ(call(runtime::bind<&net::bi_net_recv>, 0, buf, 0x80000000u), -1);
  EXPECT_EQ(call(runtime::bind<&net::bi_net_recv>, 0, buf, 0), 0);
  std::int32_t got = 0;
  ASSERT_TRUE(wait_until(
      [&] { return (got = call(runtime::bind<&net::bi_net_recv>, 0, buf + 8, 3)) != 0; }));
  EXPECT_EQ(got, 3) << "a rejected call must not have taken bytes";
  char out[4] = {};
  read_bytes(buf + 8, out, 3);
  EXPECT_STREQ(out, "xyz");
  EXPECT_EQ(call(runtime::bind<&net::bi_net_state>, 0, 0, 0), 1);

  // A host address that is not script memory ends the link and fails.
  EXPECT_EQ(call(runtime::bind<&net::bi_net_open>, 0x20, 80, 0), 0);
  EXPECT_EQ(net::net_role(), net::kRoleNone);
  EXPECT_EQ(call(runtime::bind<&net::bi_net_close>, 0, 0, 0), 1);
  script_free(args);
  script_free(buf);
}

}  // namespace
