#include "net/net_link.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/config.h"
#include "base/messages.h"
#include "net/net_errors.h"
#include "net/net_ring.h"
#include "net/net_socket.h"

namespace talven::net {

namespace {

constexpr int kRoundMs = 5;
// Most bytes one record sends in a round, so that one busy client cannot
// keep the thread from the others.
constexpr std::uint32_t kSendPerRound = 4 * kRingSize;

struct Record {
  // Guarded by the network lock (written by the link's thread).
  bool used = false;
  Ring send;
  Ring recv;
  std::string peer;
  // The link's thread only.
  int socket = -1;
  bool at_eof = false;        // the peer closed (or failed); dropped once recv is empty
  bool send_blocked = false;  // the socket's buffer is full; wait until writable
  // Bytes were left in the socket for lack of ring space; the script wakes
  // the thread when it makes room.
  std::atomic<bool> starved{false};
};

struct Link {
  std::mutex lock;  // the network lock: rings and record use
  int role = kRoleNone;
  std::atomic<bool> started{false};
  std::atomic<bool> running{false};
  std::atomic<bool> alive{false};
  std::atomic<bool> connected{false};
  std::atomic<bool> wake_requested{false};
  WakePipe wake;
  std::thread thread;
  int listener = -1;
  int client_count = 0;
  Record records[kMaxClients];  // a client link uses records[0]
  std::string host;
  int port = 0;
};

// Never destroyed: a link still open when the process ends (a run stopped
// by its time limit) must not be torn down under its thread.
Link& link() {
  static Link* l = new Link;
  return *l;
}

void request_wake(Link& l) {
  if (!l.wake_requested.exchange(true)) l.wake.signal();
}

void reset_record(Record& r) {
  r.send.reset();
  r.recv.reset();
  r.peer.clear();
  r.at_eof = false;
  r.send_blocked = false;
  r.starved = false;
}

void drop_client(Link& l, Record& r) {
  int s;
  {
    std::lock_guard<std::mutex> g(l.lock);
    if (!r.used) return;
    r.used = false;
    s = r.socket;
    r.socket = -1;
    reset_record(r);
    --l.client_count;
  }
  close_socket(s);
}

// Sends what the record's ring holds; false when the send failed.
bool flush(Link& l, Record& r) {
  std::uint32_t sent = 0;
  while (!r.send_blocked && sent < kSendPerRound) {
    std::uint32_t piece, start;
    {
      std::lock_guard<std::mutex> g(l.lock);
      piece = r.send.contiguous_held();
      start = r.send.read;
    }
    if (piece == 0) break;
    // The held region belongs to this thread: the script only writes the
    // free one, so the bytes can go out without the lock.
    int code = 0;
    long n = send_some(r.socket, r.send.bytes.data() + start, piece, &code);
    if (n < 0) return false;
    if (n > 0) {
      std::lock_guard<std::mutex> g(l.lock);
      r.send.consumed(static_cast<std::uint32_t>(n));
    }
    sent += static_cast<std::uint32_t>(n);
    if (static_cast<std::uint32_t>(n) < piece) r.send_blocked = true;
  }
  return true;
}

// Reads what waits on a readable socket into the receive ring; false when
// the read failed.
bool receive(Link& l, Record& r) {
  int waiting = pending_bytes(r.socket);
  if (waiting < 0) return false;
  if (waiting == 0) {  // readable with nothing to read: the peer has closed
    r.at_eof = true;
    return true;
  }
  std::uint32_t want = static_cast<std::uint32_t>(waiting);
  while (want > 0) {
    std::uint32_t piece, start;
    {
      std::lock_guard<std::mutex> g(l.lock);
      piece = r.recv.contiguous_free();
      start = r.recv.write;
    }
    if (piece == 0) {
      r.starved = true;
      break;
    }
    if (piece > want) piece = want;
    int code = 0;
    long n = recv_some(r.socket, r.recv.bytes.data() + start, piece, &code);
    if (n < 0) {
      if (code == 0) {  // orderly close
        r.at_eof = true;
        return true;
      }
      return code == 10040;  // an over-long message only loses its chunk
    }
    if (n == 0) break;
    {
      std::lock_guard<std::mutex> g(l.lock);
      r.recv.produced(static_cast<std::uint32_t>(n));
    }
    want -= static_cast<std::uint32_t>(n);
  }
  return true;
}

std::uint32_t recv_held(Link& l, Record& r) {
  std::lock_guard<std::mutex> g(l.lock);
  return r.recv.held();
}

// A starved record listens again once its ring has room.
void restore_starved(Link& l, Record& r) {
  if (!r.starved) return;
  std::lock_guard<std::mutex> g(l.lock);
  if (r.recv.free() > 0) r.starved = false;
}

short record_events(const Record& r) {
  short events = 0;
  if (!r.at_eof && !r.starved) events |= kWaitIn;
  if (r.send_blocked) events |= kWaitOut;
  return events;
}

// Waits up to one round for the sockets in fds[1...] or a wake-up (fds[0]).
void wait_round(Link& l, std::vector<WaitEntry>& fds) {
  fds[0] = {l.wake.read_end(), kWaitIn, 0};
  const int r = wait_sockets(fds.data(), fds.size(), kRoundMs);
  if (r < 0) {  // nothing to report this round; rest instead of retrying at once
    for (WaitEntry& p : fds) p.found = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(kRoundMs));
  }
  if (fds[0].found) l.wake.drain();
  // Cleared after draining: a later request writes to the pipe again, and
  // the flush that follows sees everything queued before it.
  l.wake_requested = false;
}

void accept_clients(Link& l) {
  for (int i = 0; i <= kMaxClients; ++i) {
    int code = 0;
    int s = accept_connection(l.listener, &code);
    if (s < 0) {
      if (code) post_socket_error(code);
      return;
    }
    Record* free_record = nullptr;
    for (Record& r : l.records)
      if (!r.used) {
        free_record = &r;
        break;
      }
    if (!free_record) {
      post_message("クライアントの接続数が最大数を超えました");
      close_socket(s);
      continue;
    }
    std::string name = peer_name(s);
    std::lock_guard<std::mutex> g(l.lock);
    reset_record(*free_record);
    free_record->used = true;
    free_record->socket = s;
    free_record->peer = std::move(name);
    ++l.client_count;
  }
}

void server_thread() {
  Link& l = link();
  std::vector<WaitEntry> fds;
  std::vector<Record*> polled;
  while (l.running) {
    for (Record& r : l.records)
      if (r.used && !flush(l, r)) drop_client(l, r);

    fds.assign(2, WaitEntry{});
    fds[1] = {l.listener, kWaitIn, 0};
    polled.clear();
    for (Record& r : l.records) {
      if (!r.used) continue;
      short events = record_events(r);
      if (!events) continue;
      fds.push_back({r.socket, events, 0});
      polled.push_back(&r);
    }
    wait_round(l, fds);
    if (!l.running) break;

    if (fds[1].found & kWaitIn) accept_clients(l);
    for (std::size_t i = 0; i < polled.size(); ++i) {
      Record& r = *polled[i];
      short ev = fds[i + 2].found;
      if (!ev || !r.used) continue;
      if (ev & kWaitOut) r.send_blocked = false;
      if ((ev & (kWaitIn | kWaitHangUp | kWaitError)) && (fds[i + 2].events & kWaitIn) &&
          !receive(l, r))
        drop_client(l, r);
      else if ((ev & (kWaitHangUp | kWaitError)) && !(fds[i + 2].events & kWaitIn))
        r.send_blocked = false;  // the next flush finds out what failed
    }
    for (Record& r : l.records) {
      if (!r.used) continue;
      if (r.at_eof && recv_held(l, r) == 0) drop_client(l, r);
      else restore_starved(l, r);
    }
  }
  close_socket(l.listener);
  l.listener = -1;
  for (Record& r : l.records) drop_client(l, r);
  l.alive = false;
}

// Connects the client's socket, giving up when the link is closed.
int connect_client(Link& l) {
  if (!l.started) {
    if (numeric_host(l.host)) post_socket_error(kNotInitialised);
    else post_message("サーバーに接続できません");
    return -1;
  }
  std::vector<Address> addresses;
  int code = 0;
  if (!resolve(l.host, l.port, &addresses, &code)) {
    post_message("サーバーに接続できません");
    return -1;
  }
  std::vector<WaitEntry> fds(2);
  for (const Address& a : addresses) {
    int s = connect_start(a, &code);
    if (s < 0) continue;
    for (;;) {
      fds[1] = {s, kWaitOut, 0};
      wait_round(l, fds);
      if (!l.running) {
        close_socket(s);
        return -1;
      }
      if (fds[1].found) break;
    }
    code = connect_result(s);
    if (code == 0) return s;
    close_socket(s);
  }
  post_socket_error(code);
  return -1;
}

void client_thread() {
  Link& l = link();
  Record& r = l.records[0];
  int s = connect_client(l);
  if (s >= 0) {
    r.socket = s;
    l.connected = true;
    std::vector<WaitEntry> fds(2);
    while (l.running) {
      if (!flush(l, r)) break;
      fds.resize(2);
      short events = record_events(r);
      fds[1] = {events ? s : -1, events, 0};  // a negative descriptor is skipped
      wait_round(l, fds);
      if (!l.running) break;
      short ev = fds[1].found;
      if (ev & kWaitOut) r.send_blocked = false;
      if ((ev & (kWaitIn | kWaitHangUp | kWaitError)) && (events & kWaitIn) && !receive(l, r))
        break;
      if ((ev & (kWaitHangUp | kWaitError)) && !(events & kWaitIn)) r.send_blocked = false;
      if (r.at_eof && recv_held(l, r) == 0) break;
      restore_starved(l, r);
    }
    close_socket(s);
    r.socket = -1;
  }
  {
    std::lock_guard<std::mutex> g(l.lock);
    reset_record(r);
    l.connected = false;
  }
  l.alive = false;
}

bool start_thread(Link& l, void (*body)()) {
  int code = 0;
  if (!l.wake.open(&code)) {
    report_socket_error(code);
    return false;
  }
  l.wake_requested = false;
  l.running = true;
  l.alive = true;
  try {
    l.thread = std::thread(body);
  } catch (const std::system_error&) {
    l.running = false;
    l.alive = false;
    l.wake.close();
    return false;
  }
  return true;
}

// The record a script names, or nullptr (-1 for the builtin).
Record* script_record(Link& l, int client) {
  if (l.role == kRoleServer) {
    if (client < 0 || client >= kMaxClients || !l.records[client].used) return nullptr;
    return &l.records[client];
  }
  if (l.role == kRoleClient && l.connected) return &l.records[0];
  return nullptr;
}

}  // namespace

void net_start() {
  bool on = config().Net != 0;
  if (on && !sockets_available()) {
    report_message(1, "WinSock の初期化に失敗しました");
    on = false;
  }
  link().started = on;
}

void net_shutdown() {
  net_close();
  link().started = false;
}

void net_set_started(bool started) { link().started = started; }
bool net_started() { return link().started; }

int net_open(const std::string* host, int port) {
  Link& l = link();
  net_close();
  if (!host && !l.started) return 0;
  if (port < 1 || port > 65535) {
    report_socket_error(10022);
    return 0;
  }
  if (!host) {
    for (Record& r : l.records) {
      r.used = false;
      r.socket = -1;
      reset_record(r);
    }
    l.client_count = 0;
    int code = 0;
    l.listener = open_listener(port, &code);
    if (l.listener < 0) {
      report_socket_error(code);
      return 0;
    }
    if (!start_thread(l, server_thread)) {
      close_socket(l.listener);
      l.listener = -1;
      return 0;
    }
    l.role = kRoleServer;
    return 1;
  }
  l.host = *host;
  l.port = port;
  reset_record(l.records[0]);
  l.records[0].socket = -1;
  l.connected = false;
  if (!start_thread(l, client_thread)) return 0;
  l.role = kRoleClient;
  return 1;
}

int net_close() {
  Link& l = link();
  if (l.role == kRoleNone) return 1;
  l.running = false;
  request_wake(l);
  if (l.thread.joinable()) l.thread.join();
  l.wake.close();
  l.host.clear();
  l.role = kRoleNone;
  return 1;
}

int net_send(int client, const std::uint8_t* data, std::uint32_t length) {
  Link& l = link();
  std::uint32_t n;
  {
    std::lock_guard<std::mutex> g(l.lock);
    Record* r = script_record(l, client);
    if (!r) return -1;
    n = r->send.put(data, length);
  }
  if (n) request_wake(l);
  return static_cast<int>(n);
}

int net_recv(int client, std::uint8_t* buffer, std::uint32_t length) {
  Link& l = link();
  std::uint32_t n;
  bool wake = false;
  {
    std::lock_guard<std::mutex> g(l.lock);
    Record* r = script_record(l, client);
    if (!r) return -1;
    n = r->recv.take(buffer, length);
    // Wake the thread once half the ring is free again rather than on
    // every small read.
    wake = n && r->starved && r->recv.free() >= kRingSize / 2;
  }
  if (wake) request_wake(l);
  return static_cast<int>(n);
}

int net_state() {
  Link& l = link();
  if (l.role == kRoleServer) return l.alive ? 1 : 0;
  if (l.role == kRoleClient) return l.connected ? 1 : l.alive ? 2 : 0;
  return 0;
}

int net_role() { return link().role; }

int net_client_count() {
  Link& l = link();
  std::lock_guard<std::mutex> g(l.lock);
  return l.role == kRoleServer ? l.client_count : 0;
}

std::string net_peer_name(int client) {
  Link& l = link();
  std::lock_guard<std::mutex> g(l.lock);
  if (l.role != kRoleServer || client < 0 || client >= kMaxClients || !l.records[client].used)
    return {};
  return l.records[client].peer;
}

int net_received(int client) {
  Link& l = link();
  std::lock_guard<std::mutex> g(l.lock);
  Record* r = script_record(l, client);
  return r ? static_cast<int>(r->recv.held()) : -1;
}

}  // namespace talven::net
