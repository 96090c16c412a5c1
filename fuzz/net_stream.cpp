// The TCP link's byte stream: a peer on loopback sends the input's bytes to a
// link opened as server or client, and the script side reads them with
// net_recv in pieces of varying size. Every byte must arrive, in order, also
// when the peer closes right after sending; otherwise the bytes are sent back
// with net_send and must reach the peer unchanged. Lost, changed or stuck
// bytes abort the run.
//
// The first byte chooses: bit 0 server (else client), bit 1 the peer ends
// its side of the stream after sending. The rest is the stream; it also gives the read sizes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fuzz_common.h"
#include "net/net_link.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLimit = std::chrono::seconds(5);

[[noreturn]] void fault(const char* what) {
  std::fprintf(stderr, "net_stream: %s\n", what);
  std::abort();
}

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(std::uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A listening socket on a free loopback port; its port in `port`.
int listen_any(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a = loopback(0);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(a.sin_port);
  return fd;
}

void set_nonblocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Closes the peer with a reset, so that no connection lingers in TIME_WAIT
// (thousands of runs a minute would use up the loopback's ports).
void abort_peer(int fd) {
  const linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd);
}

void nap() { std::this_thread::sleep_for(std::chrono::microseconds(200)); }

// The peer's socket connected to the link; -1 when that failed in time.
int connect_peer(bool server) {
  using namespace talven::net;
  const auto until = Clock::now() + kLimit;
  if (server) {
    // A free port for the link's listener.
    int port = 0;
    const int probe = listen_any(port);
    if (probe < 0) return -1;
    ::close(probe);
    if (net_open(nullptr, port) != 1) return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
      if (fd >= 0) abort_peer(fd);
      return -1;
    }
    while (net_client_count() < 1)
      if (Clock::now() > until) fault("the server never took the connection");
      else nap();
    return fd;
  }
  int port = 0;
  const int listener = listen_any(port);
  if (listener < 0) return -1;
  const std::string host = "127.0.0.1";
  if (net_open(&host, port) != 1) {
    ::close(listener);
    return -1;
  }
  // libFuzzer's timer signal may interrupt the wait; it goes on until the limit.
  pollfd p{listener, POLLIN, 0};
  int ready;
  do {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    ready = ::poll(&p, 1, int(std::max<long long>(left, 0)));
  } while (ready < 0 && errno == EINTR && Clock::now() < until);
  const int fd = ready == 1 ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
  ::close(listener);
  // A link that gave up (the host refused the connect, as under heavy load
  // it rarely does) has reported it; only one still trying is at fault.
  if (fd < 0 && net_state() == 0) return -1;
  if (fd < 0) fault("the client link kept connecting without reaching the listener");
  while (net_state() != 1)
    if (Clock::now() > until) fault("the client never saw its connection");
    else nap();
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::net;
  talven::fuzz::quiet();
  static const bool ready = [] {
    net_set_started(true);
    return true;
  }();
  if (!ready || size < 1) return 0;
  const bool server = data[0] & 1, peer_closes = data[0] & 2;
  const std::uint8_t* stream = data + 1;
  const std::size_t length = size - 1;

  const int peer = connect_peer(server);
  if (peer < 0) {
    net_close();
    return 0;
  }
  set_nonblocking(peer);
  std::vector<std::uint8_t> got;
  std::vector<std::uint8_t> buffer(4096);
  std::size_t sent = 0, turn = 0;
  bool closed = false;
  const auto until = Clock::now() + kLimit;
  // The peer sends what its socket takes, the script reads what arrived.
  while (got.size() < length) {
    if (sent < length) {
      const long n = ::send(peer, stream + sent, length - sent, MSG_NOSIGNAL);
      if (n > 0) sent += std::size_t(n);
    }
    if (sent == length && peer_closes && !closed) {
      ::shutdown(peer, SHUT_WR);  // the link sees the end of the stream
      closed = true;
    }
    const std::uint32_t want = 1 + (length ? stream[turn++ % length] * 16u : 0);
    const int n = net_recv(0, buffer.data(), want);
    if (n < 0) fault("the link lost its peer before every byte was read");
    got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    if (n == 0) {
      if (Clock::now() > until) fault("bytes stuck on their way to the script");
      nap();
    }
  }
  if (std::memcmp(got.data(), stream, length) != 0)
    fault("bytes changed on their way to the script");

  if (!closed) {
    // Back to the peer through the send ring.
    std::size_t queued = 0;
    std::vector<std::uint8_t> back;
    while (back.size() < length) {
      if (queued < length) {
        const int n = net_send(0, stream + queued, std::uint32_t(length - queued));
        if (n < 0) fault("the link refused to send to a connected peer");
        queued += std::size_t(n);
      }
      const long n = ::recv(peer, buffer.data(), buffer.size(), 0);
      if (n > 0) back.insert(back.end(), buffer.begin(), buffer.begin() + n);
      else if (n == 0) fault("the link closed while sending");
      if (n <= 0) {
        if (Clock::now() > until) fault("bytes stuck on their way to the peer");
        nap();
      }
    }
    if (std::memcmp(back.data(), stream, length) != 0)
      fault("bytes changed on their way to the peer");
  }
  abort_peer(peer);
  net_close();
  return 0;
}
