// The network link's own ceiling, without a script: this thread plays the
// script (net_send / net_recv of a server link, yielding when neither
// moves), a peer thread streams through a plain socket at the other end,
// 16 MiB each way at once per iteration. The reference moves the same
// bytes the same way (calls of at most 8191 bytes, a yield when idle)
// through a plain loopback TCP socket instead of the link. Prints the ratio
// link / plain. bench/net_throughput.sh measures the whole path between two
// talven processes running scripts.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "net/net_link.h"

namespace {

namespace net = talven::net;

constexpr std::size_t kEachWay = 16 << 20;
constexpr std::size_t kCall = 8191;

double link_rate = 0;
double plain_rate = 0;

void nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK); }

// A connected loopback pair: [0] the near end, [1] the far end.
bool loopback_pair(int port, int fds[2]) {
  fds[0] = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (connect(fds[0], reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
  int one = 1;
  setsockopt(fds[0], IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

int listen_any(int* port) {
  int l = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(l, 5);
  socklen_t len = sizeof a;
  getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin_port);
  return l;
}

// The peer: sends and receives kEachWay bytes on a non-blocking socket.
void pump(int fd) {
  std::vector<std::uint8_t> out(65536, 0x5A), in(65536);
  std::size_t sent = 0, got = 0;
  while (sent < kEachWay || got < kEachWay) {
    pollfd p{
        fd, static_cast<short>((got < kEachWay ? POLLIN : 0) | (sent < kEachWay ? POLLOUT : 0)), 0};
    if (poll(&p, 1, 100) <= 0) continue;
    if (p.revents & POLLOUT) {
      ssize_t n = send(fd, out.data(), std::min(out.size(), kEachWay - sent), MSG_NOSIGNAL);
      if (n > 0) sent += static_cast<std::size_t>(n);
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = recv(fd, in.data(), in.size(), 0);
      if (n <= 0) return;
      got += static_cast<std::size_t>(n);
    }
  }
}

// Moves kEachWay bytes each way through a send and a receive function.
template <typename Send, typename Recv>
bool stream(Send send_some, Recv recv_some) {
  std::vector<std::uint8_t> out(kCall, 0xA5), in(kCall);
  std::size_t sent = 0, got = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (sent < kEachWay || got < kEachWay) {
    long moved = 0;
    if (sent < kEachWay) {
      long n = send_some(out.data(), std::min(kCall, kEachWay - sent));
      if (n < 0) return false;
      sent += static_cast<std::size_t>(n);
      moved += n;
    }
    if (got < kEachWay) {
      long n = recv_some(in.data(), kCall);
      if (n < 0) return false;
      got += static_cast<std::size_t>(n);
      moved += n;
    }
    if (!moved) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::yield();
    }
  }
  return true;
}

void BM_LinkBothWays(benchmark::State& state) {
  int port;
  int l = listen_any(&port);
  close(l);  // a free port for the link's server
  net::net_set_started(true);
  if (!net::net_open(nullptr, port)) {
    state.SkipWithError("no server");
    return;
  }
  int peer[2];
  if (!loopback_pair(port, peer)) {
    state.SkipWithError("no connection");
    return;
  }
  nonblocking(peer[0]);
  while (net::net_client_count() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  double seconds = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    std::thread other(pump, peer[0]);
    bool ok = stream(
        [](const std::uint8_t* p, std::size_t n) {
          return static_cast<long>(net::net_send(0, p, static_cast<std::uint32_t>(n)));
        },
        [](std::uint8_t* p, std::size_t n) {
          return static_cast<long>(net::net_recv(0, p, static_cast<std::uint32_t>(n)));
        });
    other.join();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!ok) state.SkipWithError("the link failed");
  }
  net::net_close();
  close(peer[0]);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kEachWay));
  link_rate = state.iterations() * kEachWay / seconds;
}

void BM_PlainSocketBothWays(benchmark::State& state) {
  int port;
  int l = listen_any(&port);
  int pair[2];
  if (!loopback_pair(port, pair)) {
    state.SkipWithError("no connection");
    return;
  }
  pair[1] = accept(l, nullptr, nullptr);
  close(l);
  nonblocking(pair[0]);
  nonblocking(pair[1]);
  int near = pair[1];
  double seconds = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    std::thread other(pump, pair[0]);
    auto io = [](ssize_t n) -> long { return n >= 0 ? n : (errno == EAGAIN ? 0 : -1); };
    bool ok = stream(
        [&](const std::uint8_t* p, std::size_t n) { return io(send(near, p, n, MSG_NOSIGNAL)); },
        [&](std::uint8_t* p, std::size_t n) { return io(recv(near, p, n, 0)); });
    other.join();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!ok) state.SkipWithError("the socket failed");
  }
  close(pair[0]);
  close(pair[1]);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kEachWay));
  plain_rate = state.iterations() * kEachWay / seconds;
}

BENCHMARK(BM_LinkBothWays)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainSocketBothWays)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  if (link_rate > 0 && plain_rate > 0)
    std::printf("each way: link %.1f MB/s, plain socket %.1f MB/s, ratio link/plain %.3f\n",
                link_rate / 1e6, plain_rate / 1e6, link_rate / plain_rate);
  benchmark::Shutdown();
  return 0;
}
