// Plain TCP sockets on the loopback address for tests that play the other
// end of the network link, written without the runtime's own socket layer
// so the link is checked against an independent peer. POSIX sockets, or
// Winsock 2 (started on first use) on Windows. Sockets are ints, -1 for
// none: Windows socket handles keep only 32 significant bits.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace talven::test::plain {

namespace detail {

#ifdef _WIN32
inline bool started() {
  static const bool ok = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ok;
}
inline SOCKET handle(int s) { return static_cast<SOCKET>(s); }
#else
inline int handle(int s) { return s; }
#endif

inline int open_tcp(int family) {
#ifdef _WIN32
  if (!started()) return -1;
  const SOCKET s = ::socket(family, SOCK_STREAM, 0);
  return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
#else
  return ::socket(family, SOCK_STREAM, 0);
#endif
}

inline sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  return a;
}

}  // namespace detail

inline void close(int s) {
  if (s < 0) return;
#ifdef _WIN32
  ::closesocket(detail::handle(s));
#else
  ::close(s);
#endif
}

// Address reuse for a listener, set before it binds (or cleared after).
inline void set_reuse(int s, bool on) {
  int value = on ? 1 : 0;
  ::setsockopt(detail::handle(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&value),
               sizeof value);
}

// A loopback port nobody uses at the moment.
inline int free_port() {
  const int s = detail::open_tcp(AF_INET);
  if (s < 0) return 0;
  sockaddr_in a = detail::loopback(0);
  ::bind(detail::handle(s), reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(detail::handle(s), reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

// A blocking connection to 127.0.0.1:port, or -1.
inline int connect_loopback(int port) {
  const int s = detail::open_tcp(AF_INET);
  if (s < 0) return -1;
  sockaddr_in a = detail::loopback(port);
  if (::connect(detail::handle(s), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return -1;
  }
  return s;
}

// A listener on 127.0.0.1:port with address reuse, or -1.
inline int listen_loopback(int port) {
  const int s = detail::open_tcp(AF_INET);
  if (s < 0) return -1;
  set_reuse(s, true);
  sockaddr_in a = detail::loopback(port);
  if (::bind(detail::handle(s), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(detail::handle(s), 5) != 0) {
    close(s);
    return -1;
  }
  return s;
}

// A listener on the IPv6 loopback address at a free port (set in *port),
// or -1 where the host has no IPv6.
inline int listen_loopback6(int* port) {
  const int s = detail::open_tcp(AF_INET6);
  if (s < 0) return -1;
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  if (::bind(detail::handle(s), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(detail::handle(s), 1) != 0) {
    close(s);
    return -1;
  }
  socklen_t len = sizeof a;
  ::getsockname(detail::handle(s), reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin6_port);
  return s;
}

// Waits for and takes one connection, or -1.
inline int accept_one(int listener) {
#ifdef _WIN32
  const SOCKET s = ::accept(detail::handle(listener), nullptr, nullptr);
  return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
#else
  return ::accept(listener, nullptr, nullptr);
#endif
}

// Sends / receives at most n bytes: the count, 0 when the peer closed
// (receive), or -1.
inline long send_bytes(int s, const void* data, std::size_t n) {
#ifdef _WIN32
  return ::send(detail::handle(s), static_cast<const char*>(data), static_cast<int>(n), 0);
#else
  return static_cast<long>(::send(s, data, n, 0));
#endif
}
inline long recv_bytes(int s, void* data, std::size_t n) {
#ifdef _WIN32
  return ::recv(detail::handle(s), static_cast<char*>(data), static_cast<int>(n), 0);
#else
  return static_cast<long>(::recv(s, data, n, 0));
#endif
}

// True when bytes (or the peer's close) wait within `ms` milliseconds.
inline bool readable(int s, int ms) {
#ifdef _WIN32
  WSAPOLLFD p{detail::handle(s), POLLRDNORM, 0};
  return ::WSAPoll(&p, 1, ms) > 0;
#else
  pollfd p{s, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
#endif
}

// Ends the write side; the peer reads the end of the stream.
inline void shutdown_write(int s) {
#ifdef _WIN32
  ::shutdown(detail::handle(s), SD_SEND);
#else
  ::shutdown(s, SHUT_WR);
#endif
}

// Closes with a reset instead of an orderly end (linger on, time 0).
inline void reset(int s) {
  linger l{1, 0};
  ::setsockopt(detail::handle(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l),
               sizeof l);
  close(s);
}

}  // namespace talven::test::plain
