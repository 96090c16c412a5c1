#include "net/net_errors.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "base/messages.h"

namespace talven::net {

namespace {

struct ErrorText {
  int code;
  const char* text;
};

constexpr ErrorText kTexts[] = {
    {10004, "WSAEINTR 中止命令により中断しました"},
    {10009, "WSAEBADF ファイル番号が違います"},
    {10013, "WSAEACCES アクセスが拒否されました"},
    {10014, "WSAEFAULT アドレスが違います"},
    {10022, "WSAEINVAL パラメータが解釈できません"},
    {10024, "WSAEMFILE ファイルのオープン数が多すぎます"},
    {10035, "WSAEWOULDBLOCK 操作がブロックされます"},
    {10036, "WSAEINPROGRESS 操作が処理中です"},
    {10037, "WSAEALREADY すでに実行中です"},
    {10038, "WSAENOTSOCK ソケット以外でソケット操作がありました"},
    {10039, "WSAEDESTADDRREQ 宛先アドレスが設定されていません"},
    {10040, "WSAEMSGSIZE メッセージが長すぎます"},
    {10041, "WSAEPROTOTYPE プロトコル種類が不正です"},
    {10042, "WSAENOPROTOOPT プロトコルが使用できません"},
    {10043, "WSAEPROTONOSUPPORT プロトコルがサポートされていません"},
    {10044, "WSAESOCKTNOSUPPORT ソケットがサポートされていません"},
    {10045, "WSAEOPNOTSUPP 操作がソケットでサポートされていません"},
    {10046, "WSAEPFNOSUPPORT プロトコルファミリがサポートされていません"},
    {10047, "WSAEAFNOSUPPORT アドレスファミリがサポートされていません"},
    {10048, "WSAEADDRINUSE アドレスがすでに使用中です"},
    {10049, "WSAEADDRNOTAVAIL 設定されたアドレスを割り当てられません"},
    {10050, "WSAENETDOWN ネットワークダウンしています"},
    {10051, "WSAENETUNREACH ネットワークが到達できません"},
    {10052, "WSAENETRESET リセットされたのでネットワーク接続が落とされました"},
    {10053, "WSAECONNABORTED 接続中断要求により中断されました"},
    {10054, "WSAECONNRESET ピア側での接続がリセットされました"},
    {10055, "WSAENOBUFS バッファがありません"},
    {10056, "WSAEISCONN ソケットはすでに接続されています"},
    {10057, "WSAENOTCONN ソケットが接続されていません"},
    {10058, "WSAESHUTDOWN ソケットがすでに解放されているため送信できません"},
    {10059, "WSAETOOMANYREFS 参照が多すぎます"},
    {10060, "WSAETIMEDOUT 接続タイムアウトが発生しました"},
    {10061, "WSAECONNREFUSED 接続が拒否されました"},
    {10062, "WSAELOOP シンボリックリンクレベルが大きすぎます"},
    {10063, "WSAENAMETOOLONG ファイル名が長すぎます"},
    {10064, "WSAEHOSTDOWN ホストがダウンしています"},
    {10065, "WSAEHOSTUNREACH ホストへの到達経路が見つかりません"},
    {10066, "WSAENOTEMPTY ディレクトリが空ではありません"},
    {10067, "WSAEPROCLIM プロセス数が多すぎます"},
    {10068, "WSAEUSERS ユーザ数が多すぎます"},
    {10069, "WSAEDQUOT ディスク割り当てを超えました"},
    {10070, "WSAESTALE NFSファイルハンドルが失効しました"},
    {10071, "WSAEREMOTE パス中の遠隔レベルが過剰です"},
    {10091, "WSASYSNOTREADY アプリケーションがWinsock.DLLでサポートできません"},
    {10092, "WSAVERNOTSUPPORTED サーバーが対応していません"},
    {10093, "WSANOTINITIALISED Winsockが初期化されていません"},
    {11001, "WSAHOST_NOT_FOUND ホストが見つかりません"},
    {11002, "WSATRY_AGAIN もう1度試せば回復するかもしれません"},
    {11003, "WSANO_RECOVERY 回復できないエラーです"},
    {11004, "WSANO_DATA 見つかりません"},
};

}  // namespace

const char* socket_error_text(int code) {
  for (const ErrorText& e : kTexts)
    if (e.code == code) return e.text;
  return "未定義エラー";
}

void report_socket_error(int code) { report_message(1, "%s", socket_error_text(code)); }

namespace {

// The reporter: one thread for the process, started with the first posted
// message, sleeping while there is nothing to show. Its state is never
// destroyed, so a reporter still showing a box at exit is harmless.
struct Reporter {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<std::string> queue;
  bool running = false;
};

Reporter& reporter() {
  static Reporter* r = new Reporter;
  return *r;
}

void reporter_loop() {
  Reporter& r = reporter();
  std::unique_lock<std::mutex> lock(r.mutex);
  for (;;) {
    r.ready.wait(lock, [&] { return !r.queue.empty(); });
    std::string text = std::move(r.queue.front());
    r.queue.pop_front();
    lock.unlock();
    report_message(1, "%s", text.c_str());
    lock.lock();
  }
}

}  // namespace

void post_message(const char* text) {
  Reporter& r = reporter();
  std::lock_guard<std::mutex> g(r.mutex);
  r.queue.emplace_back(text);
  if (!r.running) {
    try {
      std::thread(reporter_loop).detach();
      r.running = true;
    } catch (const std::system_error&) {
      r.queue.clear();  // no thread: the message cannot be shown safely
      return;
    }
  }
  r.ready.notify_one();
}

}  // namespace talven::net
