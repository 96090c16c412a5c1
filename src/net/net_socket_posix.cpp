#include "net/net_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "net/net_errors.h"

namespace talven::net {

static_assert(sizeof(sockaddr_storage) <= sizeof(Address::storage));

namespace {

int new_socket(int family, int* code) {
  int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) *code = socket_error_code(errno);
  return fd;
}

int fail(int fd, int* code) {
  *code = socket_error_code(errno);
  ::close(fd);
  return -1;
}

}  // namespace

namespace {

// A listener of one address family, or -1 with *code.
int listen_on(int family, int port, int* code) {
  int fd = new_socket(family, code);
  if (fd < 0) return -1;
  int one = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) return fail(fd, code);
  int r;
  if (family == AF_INET6) {
    int zero = 0;  // IPv4 peers arrive as mapped addresses
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_any;
    a.sin6_port = htons(static_cast<std::uint16_t>(port));
    r = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  } else {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    r = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  if (r != 0 || ::listen(fd, 5) != 0) return fail(fd, code);
  return fd;
}

}  // namespace

bool sockets_available() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

int open_listener(int port, int* code) {
  int fd = listen_on(AF_INET6, port, code);
  if (fd >= 0) return fd;
  // A port in use or not allowed stays so for IPv4; other failures mean the
  // host has no usable IPv6.
  if (*code == socket_error_code(EADDRINUSE) || *code == socket_error_code(EACCES)) return -1;
  return listen_on(AF_INET, port, code);
}

int accept_connection(int listener, int* code) {
  *code = 0;
  int fd;
  do {
    fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED)
      *code = socket_error_code(errno);
    return -1;
  }
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) return fail(fd, code);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

std::string peer_name(int socket) {
  sockaddr_storage s{};
  socklen_t len = sizeof s;
  if (getpeername(socket, reinterpret_cast<sockaddr*>(&s), &len) != 0) return {};
  if (s.ss_family == AF_INET6) {
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&s);
    if (IN6_IS_ADDR_V4MAPPED(&a6->sin6_addr)) {  // an IPv4 peer of a dual-stack listener
      sockaddr_in a4{};
      a4.sin_family = AF_INET;
      a4.sin_port = a6->sin6_port;
      std::memcpy(&a4.sin_addr, a6->sin6_addr.s6_addr + 12, 4);
      std::memcpy(&s, &a4, sizeof a4);
      len = sizeof a4;
    }
  }
  char host[NI_MAXHOST];
  const sockaddr* sa = reinterpret_cast<sockaddr*>(&s);
  if (getnameinfo(sa, len, host, sizeof host, nullptr, 0, NI_NAMEREQD) == 0) return host;
  if (getnameinfo(sa, len, host, sizeof host, nullptr, 0, NI_NUMERICHOST) == 0) return host;
  return {};
}

bool numeric_host(const std::string& host) {
  std::uint8_t buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

bool resolve(const std::string& host, int port, std::vector<Address>* out, int* code) {
  out->clear();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  if (numeric_host(host)) hints.ai_flags |= AI_NUMERICHOST;
  std::string service = std::to_string(port);
  addrinfo* list = nullptr;
  int r = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (r != 0) {
    *code = lookup_error_code(r, errno);
    return false;
  }
  // IPv4 first: a listener of an IPv4-only host is reachable that way.
  for (int pass = 0; pass < 2; ++pass) {
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
      if ((ai->ai_family == AF_INET) != (pass == 0)) continue;
      if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
      Address a;
      std::memcpy(a.storage, ai->ai_addr, ai->ai_addrlen);
      a.length = ai->ai_addrlen;
      out->push_back(a);
    }
  }
  freeaddrinfo(list);
  if (out->empty()) *code = 11004;
  return !out->empty();
}

int connect_start(const Address& address, int* code) {
  const auto* target = reinterpret_cast<const sockaddr*>(address.storage);
  int fd = new_socket(target->sa_family, code);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  // The socket does not block. A signal that interrupts the call leaves the
  // connection going on by itself (calling again would only say it is
  // already under way), so it is waited for like one in progress.
  const int r = ::connect(fd, target, static_cast<socklen_t>(address.length));
  if (r != 0 && errno != EINPROGRESS && errno != EINTR) return fail(fd, code);
  return fd;
}

int connect_result(int socket) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return socket_error_code(errno);
  return err ? socket_error_code(err) : 0;
}

int pending_bytes(int socket) {
  int n = 0;
  if (ioctl(socket, FIONREAD, &n) != 0) return -1;
  return n;
}

long send_some(int socket, const std::uint8_t* data, std::size_t len, int* code) {
  for (;;) {
    ssize_t n = ::send(socket, data, len, MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    *code = socket_error_code(errno);
    return -1;
  }
}

long recv_some(int socket, std::uint8_t* data, std::size_t len, int* code) {
  for (;;) {
    ssize_t n = ::recv(socket, data, len, 0);
    if (n > 0) return n;
    if (n == 0) {
      *code = 0;
      return -1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    *code = socket_error_code(errno);
    return -1;
  }
}

void close_socket(int socket) {
  if (socket >= 0) ::close(socket);
}

int wait_sockets(WaitEntry* entries, std::size_t count, int timeout_ms) {
  thread_local std::vector<pollfd> fds;
  fds.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    short events = 0;
    if (entries[i].events & kWaitIn) events |= POLLIN;
    if (entries[i].events & kWaitOut) events |= POLLOUT;
    fds[i] = {entries[i].socket, events, 0};
  }
  int r;
  do {
    r = ::poll(fds.data(), fds.size(), timeout_ms);
  } while (r < 0 && errno == EINTR);
  for (std::size_t i = 0; i < count; ++i) {
    const short got = r > 0 ? fds[i].revents : 0;
    short found = 0;
    if (got & POLLIN) found |= kWaitIn;
    if (got & POLLOUT) found |= kWaitOut;
    if (got & POLLHUP) found |= kWaitHangUp;
    if (got & POLLERR) found |= kWaitError;
    if (got & POLLNVAL) found |= kWaitInvalid;
    entries[i].found = found;
  }
  return r;
}

bool WakePipe::open(int* code) {
  close();
  if (::pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) {
    *code = socket_error_code(errno);
    fds_[0] = fds_[1] = -1;
    return false;
  }
  return true;
}

void WakePipe::close() {
  for (int& fd : fds_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

void WakePipe::signal() {
  if (fds_[1] < 0) return;
  std::uint8_t b = 1;
  ssize_t r;
  do {
    r = ::write(fds_[1], &b, 1);
  } while (r < 0 && errno == EINTR);  // a full pipe already wakes the reader
}

void WakePipe::drain() {
  std::uint8_t buf[64];
  while (fds_[0] >= 0 && ::read(fds_[0], buf, sizeof buf) > 0) {
  }
}

}  // namespace talven::net
