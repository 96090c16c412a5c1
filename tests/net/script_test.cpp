// The link between real talven processes running headless scripts on the
// loopback address (tests/scripts/net). Every process runs with --timeout
// and is killed if it outlives the test's own limit.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/plain_socket.h"
#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kScripts = fs::path(TALVEN_TEST_DATA).parent_path() / "scripts" / "net";
const fs::path kSource = fs::path(TALVEN_TEST_DATA).parent_path().parent_path();
const fs::path kHeader = kSource / "sdk" / "talven.h";

int free_port() { return talven::test::plain::free_port(); }

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// One talven process running a game folder, its output in a log file
// there.
struct Game {
  fs::path dir;
  fs::path target;  // what talven is given: the folder, or a program path in it
  std::string log_name = "run.log";
  talven::test::BackgroundTalven process{};
  int status = -1;  // exit status; -1 killed or not ended

  void start(int timeout_seconds) {
    process.start({"--headless", "--log", "--timeout", std::to_string(timeout_seconds),
                   (target.empty() ? dir : target).string()},
                  (dir / log_name).string());
  }
  // Waits for the end; kills the process after the limit.
  int wait(std::chrono::seconds limit) {
    if (!process.running()) return status;
    return status = process.wait(limit);
  }
  void kill_now() { process.stop(); }
  std::string log() const { return slurp(dir / log_name); }
};

class NetScripts : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(TALVEN_BINARY))
      GTEST_SKIP() << "build the talven target first: " << TALVEN_BINARY;
    root_ = talven::test::make_temp_dir("talven_net_");
    ASSERT_FALSE(root_.empty());
    port_ = free_port();
  }
  void TearDown() override {
    for (Game& g : games_) g.kill_now();
    if (!HasFailure()) fs::remove_all(root_);
  }

  // A game folder running `script` with the given extra definitions.
  Game& game(const std::string& name, const std::string& script, const std::string& defines = "") {
    fs::path dir = root_ / name;
    fs::create_directories(dir);
    fs::copy_file(kHeader, dir / "talven.h");
    fs::copy_file(kScripts / "net_check.h", dir / "net_check.h");
    fs::copy_file(kScripts / script, dir / "main.c");
    std::ofstream(dir / "params.h") << "#define PORT " << port_ << "\n" << defines;
    std::ofstream(dir / "Net.cfg")
        << "[General]\nFileSystem=3\nMultiInstance=1\n[System]\nNet=1\n[Script]\nLoad=main.c\n";
    games_.push_back(Game{dir, {}, "run.log"});
    return games_.back();
  }

  fs::path root_;
  int port_ = 0;
  std::vector<Game> games_;
};

TEST_F(NetScripts, SixthClientRefusedAndAVanishedClientDropped) {
  games_.reserve(7);
  Game& server = game("server", "crowd_server.c");
  server.start(90);
  std::vector<Game*> clients;
  for (int i = 0; i < 5; ++i) {
    clients.push_back(&game("client" + std::to_string(i), "crowd_client.c", "#define ONE_TRY 0\n"));
    clients.back()->start(90);
  }
  auto full = std::chrono::steady_clock::now() + 40s;
  while (!fs::exists(server.dir / "full.txt") && std::chrono::steady_clock::now() < full)
    std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(fs::exists(server.dir / "full.txt")) << server.log();

  Game& sixth = game("client5", "crowd_client.c", "#define ONE_TRY 1\n");
  sixth.start(60);
  EXPECT_EQ(sixth.wait(60s), 3) << "the sixth client was not refused\n" << sixth.log();

  clients[1]->kill_now();  // vanishes without a word
  std::ofstream(server.dir / "release.txt") << "go\n";

  EXPECT_EQ(server.wait(90s), 0) << server.log();
  for (int i : {0, 2, 3, 4}) EXPECT_EQ(clients[i]->wait(30s), 0) << clients[i]->log();
  std::string log = server.log();
  EXPECT_NE(log.find("クライアントの接続数が最大数を超えました"), std::string::npos) << log;
}

// Both directions at once through the 8 KiB rings, in checked blocks of
// 16 KiB; the benchmark streams 1 GiB the same way.
TEST_F(NetScripts, StreamBothWaysArrivesCompleteAndInOrder) {
  constexpr int kMiB = 64;
  games_.reserve(2);
  std::string blocks =
      "#define BLOCK 16384\n#define BLOCKS " + std::to_string(kMiB * 64) + "\n#define IDLE 0\n";
  Game& server = game("server", "stream.c", blocks + "#define ROLE 0\n");
  Game& client = game("client", "stream.c", blocks + "#define ROLE 1\n");
  auto t0 = std::chrono::steady_clock::now();
  server.start(240);
  client.start(240);
  EXPECT_EQ(client.wait(260s), 0) << client.log();
  EXPECT_EQ(server.wait(260s), 0) << server.log();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("streamed %d MiB each way in %.2f s (%.1f MB/s each way)\n", kMiB, seconds,
              kMiB * 1.048576 / seconds);
  // Both sides saw the same blocks in the same order.
  auto checksum = [](const std::string& log) {
    std::size_t at = log.find("checksum ");
    return at == std::string::npos ? std::string() : log.substr(at, 17);
  };
  EXPECT_FALSE(checksum(server.log()).empty()) << server.log();
  EXPECT_EQ(checksum(server.log()), checksum(client.log()));
}

// The chat sample: two instances of the example folder, one hosting, one
// calling, exchange lines of text both ways.
TEST_F(NetScripts, ChatExampleTalks) {
  fs::path dir = root_ / "chat";
  fs::copy(kSource / "examples" / "chat", dir);
  std::ofstream(dir / "port.h", std::ios::trunc) << "#define CHAT_PORT " << port_ << "\n";
  games_.reserve(2);
  games_.push_back(Game{dir, dir / "host.exe", "host.log"});
  Game& host = games_.back();
  games_.push_back(Game{dir, dir / "guest.exe", "guest.log"});
  Game& guest = games_.back();
  host.start(40);
  guest.start(40);
  EXPECT_EQ(guest.wait(60s), 0) << guest.log();
  EXPECT_EQ(host.wait(60s), 0) << host.log();
  std::string heard_by_guest = guest.log();
  std::string heard_by_host = host.log();
  EXPECT_NE(heard_by_guest.find("host> The comets are early tonight."), std::string::npos)
      << heard_by_guest;
  EXPECT_NE(heard_by_host.find("guest> Anything to see up there?"), std::string::npos)
      << heard_by_host;
  EXPECT_NE(heard_by_host.find("guest> /bye"), std::string::npos) << heard_by_host;
}

}  // namespace
