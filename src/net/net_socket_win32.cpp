// The link's sockets over Winsock 2. Winsock starts once, on first use;
// sockets are made non-inheritable and switched to non-blocking with
// ioctlsocket; failures are WSAGetLastError() values, which already are the
// socket error numbers scripts see. Waits use select(), which (unlike
// WSAPoll on older systems) reports a refused connection.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "net/net_errors.h"
#include "net/net_socket.h"
#include "script/thread_owned.h"

namespace talven::net {

static_assert(sizeof(sockaddr_storage) <= sizeof(Address::storage));

namespace {

// Winsock's start: 0, or the code of its failure.
int winsock_start() {
  static std::once_flag once;
  static int failure = 0;
  std::call_once(once, [] {
    WSADATA data;
    failure = ::WSAStartup(MAKEWORD(2, 2), &data);
  });
  return failure;
}

// Socket handles are small kernel handle values; they are passed around as
// int like descriptors elsewhere.
SOCKET handle(int s) { return static_cast<SOCKET>(s); }
int number(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }

int last_error() { return ::WSAGetLastError(); }

bool set_non_blocking(SOCKET s) {
  u_long on = 1;
  return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

int new_socket(int family, int type, int protocol, int* code) {
  if (int failure = winsock_start()) {
    *code = failure;
    return -1;
  }
  SOCKET s = ::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    *code = last_error();
    return -1;
  }
  if (!set_non_blocking(s)) {
    *code = last_error();
    ::closesocket(s);
    return -1;
  }
  return number(s);
}

int fail(int s, int* code) {
  *code = last_error();
  ::closesocket(handle(s));
  return -1;
}

template <typename T>
int set_option(int s, int level, int name, const T& value) {
  return ::setsockopt(handle(s), level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

// A listener of one address family, or -1 with *code. The port is held
// exclusively: another program cannot bind it while the link listens.
int listen_on(int family, int port, int* code) {
  int s = new_socket(family, SOCK_STREAM, IPPROTO_TCP, code);
  if (s < 0) return -1;
  BOOL one = TRUE;
  if (set_option(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, one) != 0) return fail(s, code);
  int r;
  if (family == AF_INET6) {
    DWORD zero = 0;  // IPv4 peers arrive as mapped addresses
    set_option(s, IPPROTO_IPV6, IPV6_V6ONLY, zero);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_any;
    a.sin6_port = htons(static_cast<std::uint16_t>(port));
    r = ::bind(handle(s), reinterpret_cast<sockaddr*>(&a), sizeof a);
  } else {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    r = ::bind(handle(s), reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  if (r != 0 || ::listen(handle(s), 5) != 0) return fail(s, code);
  return s;
}

}  // namespace

bool sockets_available() {
  int code = 0;
  int s = new_socket(AF_INET, SOCK_STREAM, IPPROTO_TCP, &code);
  if (s < 0) s = new_socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP, &code);
  if (s < 0) return false;
  ::closesocket(handle(s));
  return true;
}

int open_listener(int port, int* code) {
  int s = listen_on(AF_INET6, port, code);
  if (s >= 0) return s;
  // A port in use or not allowed stays so for IPv4; other failures mean the
  // host has no usable IPv6.
  if (*code == WSAEADDRINUSE || *code == WSAEACCES) return -1;
  return listen_on(AF_INET, port, code);
}

int accept_connection(int listener, int* code) {
  *code = 0;
  SOCKET c;
  do {
    c = ::accept(handle(listener), nullptr, nullptr);
  } while (c == INVALID_SOCKET && last_error() == WSAEINTR);
  if (c == INVALID_SOCKET) {
    const int e = last_error();
    if (e != WSAEWOULDBLOCK && e != WSAECONNABORTED && e != WSAECONNRESET) *code = e;
    return -1;
  }
  const int s = number(c);
  ::SetHandleInformation(reinterpret_cast<HANDLE>(c), HANDLE_FLAG_INHERIT, 0);
  if (!set_non_blocking(c)) return fail(s, code);
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  if (set_option(s, SOL_SOCKET, SO_LINGER, l) != 0) return fail(s, code);
  BOOL one = TRUE;
  set_option(s, IPPROTO_TCP, TCP_NODELAY, one);
  return s;
}

std::string peer_name(int socket) {
  sockaddr_storage st{};
  int len = sizeof st;
  if (::getpeername(handle(socket), reinterpret_cast<sockaddr*>(&st), &len) != 0) return {};
  if (st.ss_family == AF_INET6) {
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&st);
    if (IN6_IS_ADDR_V4MAPPED(&a6->sin6_addr)) {  // an IPv4 peer of a dual-stack listener
      sockaddr_in a4{};
      a4.sin_family = AF_INET;
      a4.sin_port = a6->sin6_port;
      std::memcpy(&a4.sin_addr, a6->sin6_addr.s6_addr + 12, 4);
      std::memcpy(&st, &a4, sizeof a4);
      len = sizeof a4;
    }
  }
  char host[NI_MAXHOST];
  const sockaddr* sa = reinterpret_cast<sockaddr*>(&st);
  if (::getnameinfo(sa, len, host, sizeof host, nullptr, 0, NI_NAMEREQD) == 0) return host;
  if (::getnameinfo(sa, len, host, sizeof host, nullptr, 0, NI_NUMERICHOST) == 0) return host;
  return {};
}

bool numeric_host(const std::string& host) {
  std::uint8_t buf[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, host.c_str(), buf) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

bool resolve(const std::string& host, int port, std::vector<Address>* out, int* code) {
  out->clear();
  if (int failure = winsock_start()) {
    *code = failure;
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  if (numeric_host(host)) hints.ai_flags |= AI_NUMERICHOST;
  std::string service = std::to_string(port);
  addrinfo* list = nullptr;
  int r = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (r != 0) {
    *code = lookup_error_code(r, 0);
    return false;
  }
  // IPv4 first: a listener of an IPv4-only host is reachable that way.
  for (int pass = 0; pass < 2; ++pass) {
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
      if ((ai->ai_family == AF_INET) != (pass == 0)) continue;
      if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
      Address a;
      std::memcpy(a.storage, ai->ai_addr, ai->ai_addrlen);
      a.length = static_cast<std::uint32_t>(ai->ai_addrlen);
      out->push_back(a);
    }
  }
  ::freeaddrinfo(list);
  if (out->empty()) *code = 11004;
  return !out->empty();
}

int connect_start(const Address& address, int* code) {
  const auto* target = reinterpret_cast<const sockaddr*>(address.storage);
  int s = new_socket(target->sa_family, SOCK_STREAM, IPPROTO_TCP, code);
  if (s < 0) return -1;
  BOOL one = TRUE;
  set_option(s, IPPROTO_TCP, TCP_NODELAY, one);
  // The socket does not block: the connection goes on by itself and is
  // waited for until writable (connected) or failed.
  if (::connect(handle(s), target, static_cast<int>(address.length)) != 0 &&
      last_error() != WSAEWOULDBLOCK)
    return fail(s, code);
  return s;
}

int connect_result(int socket) {
  int err = 0;
  int len = sizeof err;
  if (::getsockopt(handle(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
    return last_error();
  return err;
}

int pending_bytes(int socket) {
  u_long n = 0;
  if (::ioctlsocket(handle(socket), FIONREAD, &n) != 0) return -1;
  return static_cast<int>(n);
}

long send_some(int socket, const std::uint8_t* data, std::size_t len, int* code) {
  const int chunk = len > 0x40000000 ? 0x40000000 : static_cast<int>(len);
  for (;;) {
    const int n = ::send(handle(socket), reinterpret_cast<const char*>(data), chunk, 0);
    if (n >= 0) return n;
    const int e = last_error();
    if (e == WSAEINTR) continue;
    if (e == WSAEWOULDBLOCK) return 0;
    *code = e;
    return -1;
  }
}

long recv_some(int socket, std::uint8_t* data, std::size_t len, int* code) {
  const int chunk = len > 0x40000000 ? 0x40000000 : static_cast<int>(len);
  for (;;) {
    const int n = ::recv(handle(socket), reinterpret_cast<char*>(data), chunk, 0);
    if (n > 0) return n;
    if (n == 0) {
      *code = 0;
      return -1;
    }
    const int e = last_error();
    if (e == WSAEINTR) continue;
    if (e == WSAEWOULDBLOCK) return 0;
    *code = e;
    return -1;
  }
}

void close_socket(int socket) {
  if (socket >= 0) ::closesocket(handle(socket));
}

// select() sets hold any number of sockets here (FD_SETSIZE only sizes the
// default type), so the sets are made as large as the wait needs.
int wait_sockets(WaitEntry* entries, std::size_t count, int timeout_ms) {
  struct Set {
    u_int fd_count = 0;
    SOCKET fd_array[1];
  };
  const std::size_t bytes = sizeof(Set) + count * sizeof(SOCKET);
  std::vector<std::uint8_t>& memory = script::thread_owned<std::vector<std::uint8_t>>([] {});
  memory.assign(3 * bytes, 0);
  auto* read_set = reinterpret_cast<fd_set*>(memory.data());
  auto* write_set = reinterpret_cast<fd_set*>(memory.data() + bytes);
  auto* error_set = reinterpret_cast<fd_set*>(memory.data() + 2 * bytes);
  bool any = false;
  for (std::size_t i = 0; i < count; ++i) {
    entries[i].found = 0;
    if (entries[i].socket < 0 || !entries[i].events) continue;
    const SOCKET s = handle(entries[i].socket);
    if (entries[i].events & kWaitIn) read_set->fd_array[read_set->fd_count++] = s;
    if (entries[i].events & kWaitOut) {
      write_set->fd_array[write_set->fd_count++] = s;
      error_set->fd_array[error_set->fd_count++] = s;  // a failed connection
    }
    any = true;
  }
  if (!any) {  // select() refuses empty sets
    ::Sleep(static_cast<DWORD>(timeout_ms));
    return 0;
  }
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  const int r = ::select(0, read_set, write_set, error_set, &tv);
  if (r <= 0) return r < 0 ? -1 : 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (entries[i].socket < 0 || !entries[i].events) continue;
    const SOCKET s = handle(entries[i].socket);
    if (__WSAFDIsSet(s, read_set)) entries[i].found |= kWaitIn;
    if (__WSAFDIsSet(s, write_set)) entries[i].found |= kWaitOut;
    if (__WSAFDIsSet(s, error_set)) entries[i].found |= kWaitError;
  }
  return r;
}

// The wake "pipe" is a UDP socket on the loopback address connected to
// itself: what it sends to itself makes it readable.
bool WakePipe::open(int* code) {
  close();
  int s = new_socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP, code);
  if (s < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  if (::bind(handle(s), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(handle(s), reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
      ::connect(handle(s), reinterpret_cast<sockaddr*>(&a), len) != 0) {
    fail(s, code);
    return false;
  }
  fds_[0] = fds_[1] = s;
  return true;
}

void WakePipe::close() {
  if (fds_[0] >= 0) ::closesocket(handle(fds_[0]));
  fds_[0] = fds_[1] = -1;
}

void WakePipe::signal() {
  if (fds_[1] < 0) return;
  const char b = 1;
  ::send(handle(fds_[1]), &b, 1, 0);  // a full buffer already wakes the reader
}

void WakePipe::drain() {
  char buf[64];
  while (fds_[0] >= 0 && ::recv(handle(fds_[0]), buf, sizeof buf, 0) > 0) {
  }
}

}  // namespace talven::net
