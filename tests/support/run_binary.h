// Runs the real talven binary (and, for tools around it, shell commands)
// for tests that drive it from the outside: tools, headless games in
// folders the test writes. On POSIX systems the binary runs through the
// shell; on Windows it is started directly with CreateProcess and its
// output read through a pipe, with line ends given back as "\n".
#pragma once

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <filesystem>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace talven::test {

struct BinaryRun {
  int status = -1;  // exit status, -1 when it did not exit normally
  std::string out;  // standard output and standard error together
};

namespace detail {

// Text read from a child through a pipe: Windows programs write "\r\n".
inline void drop_carriage_returns([[maybe_unused]] std::string& text) {
#ifdef _WIN32
  std::string::size_type to = 0;
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    text[to++] = text[i];
  }
  text.resize(to);
#endif
}

// The status pclose reported as the command's exit status.
inline int exit_status(int closed) {
#ifdef _WIN32
  return closed;
#else
  return WIFEXITED(closed) ? WEXITSTATUS(closed) : -1;
#endif
}

#ifdef _WIN32
// The tests' command lines in the wide form CreateProcessW takes: UTF-8
// text, as talven reads its arguments (the paths tests take from
// path::string() are ASCII folders).
inline std::wstring widen(const std::string& text) {
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), n);
  return out;
}

inline std::wstring talven_command_line(const std::string& args) {
  return L"\"" + widen(TALVEN_BINARY) + L"\" " + widen(args);
}
#endif

}  // namespace detail

// Runs `command` through the system shell and gives back its exit status
// and what it wrote to standard output; the caller adds " 2>&1" to take
// standard error as well.
inline BinaryRun run_shell_output(const std::string& command) {
  BinaryRun r;
#ifdef _WIN32
  FILE* p = ::_popen(command.c_str(), "r");
#else
  FILE* p = ::popen(command.c_str(), "r");
#endif
  if (!p) return r;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
#ifdef _WIN32
  r.status = detail::exit_status(::_pclose(p));
#else
  r.status = detail::exit_status(::pclose(p));
#endif
  detail::drop_carriage_returns(r.out);
  return r;
}

// Runs `command` through the system shell with standard output and
// standard error together.
inline BinaryRun run_shell(const std::string& command) {
  return run_shell_output(command + " 2>&1");
}

// Runs the talven binary with `args` (words split at spaces, as on a
// command line) and gives back its exit status and everything it wrote.
inline BinaryRun run_talven(const std::string& args) {
#ifdef _WIN32
  BinaryRun r;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inherit, 0)) return r;
  ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);  // only the child's end is passed on
  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = write_end;
  start.hStdError = write_end;
  std::wstring command = detail::talven_command_line(args);
  PROCESS_INFORMATION child{};
  const BOOL started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &start, &child);
  // The pipe ends when the child (the only other writer) is gone.
  ::CloseHandle(write_end);
  if (!started) {
    ::CloseHandle(read_end);
    return r;
  }
  std::array<char, 4096> buf;
  DWORD n = 0;
  while (::ReadFile(read_end, buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr) && n > 0)
    r.out.append(buf.data(), n);
  ::CloseHandle(read_end);
  ::WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 0;
  if (::GetExitCodeProcess(child.hProcess, &code)) r.status = static_cast<int>(code);
  ::CloseHandle(child.hThread);
  ::CloseHandle(child.hProcess);
  detail::drop_carriage_returns(r.out);
  return r;
#else
  return run_shell(std::string(TALVEN_BINARY) + " " + args);
#endif
}

// The talven binary running beside the test, its output going where the
// test's goes or into a file; ended (killed) when the object goes away.
class BackgroundTalven {
 public:
  BackgroundTalven() = default;
  BackgroundTalven(const BackgroundTalven&) = delete;
  BackgroundTalven& operator=(const BackgroundTalven&) = delete;
  BackgroundTalven(BackgroundTalven&& other) noexcept { take(other); }
  BackgroundTalven& operator=(BackgroundTalven&& other) noexcept {
    if (this != &other) {
      stop();
      take(other);
    }
    return *this;
  }
  ~BackgroundTalven() { stop(); }

  // Starts the binary with `args`, one argument each, writing standard
  // output and standard error to `output_file` (made afresh) when one is
  // given; false when it could not be started (or one is already running).
  bool start(const std::vector<std::string>& args, const std::string& output_file = "") {
    if (running()) return false;
#ifdef _WIN32
    std::string line;
    for (const std::string& a : args) line += (line.empty() ? "" : " ") + a;
    std::wstring command = detail::talven_command_line(line);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    HANDLE output = nullptr;
    if (!output_file.empty()) {
      SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
      output = ::CreateFileW(detail::widen(output_file).c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      if (output == INVALID_HANDLE_VALUE) return false;
      start.dwFlags = STARTF_USESTDHANDLES;
      start.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
      start.hStdOutput = output;
      start.hStdError = output;
    }
    PROCESS_INFORMATION child{};
    const BOOL started =
        ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, output ? TRUE : FALSE, 0,
                         nullptr, nullptr, &start, &child);
    if (output) ::CloseHandle(output);
    if (!started) return false;
    ::CloseHandle(child.hThread);
    process_ = child.hProcess;
    return true;
#else
    std::string binary = TALVEN_BINARY;
    std::vector<char*> argv{binary.data()};
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (!output_file.empty()) {
      ::posix_spawn_file_actions_addopen(&actions, 1, output_file.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    const int failed =
        ::posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (failed) pid_ = 0;
    return !failed;
#endif
  }

  bool running() const {
#ifdef _WIN32
    return process_ != nullptr;
#else
    return pid_ > 0;
#endif
  }

  // Waits up to `limit` for the end: the exit status, or -1 when it did not
  // exit normally or did not end in time (it is killed then).
  int wait(std::chrono::milliseconds limit) {
    if (!running()) return -1;
#ifdef _WIN32
    if (::WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
      stop();
      return -1;
    }
    DWORD code = 0;
    const bool got = ::GetExitCodeProcess(process_, &code);
    ::CloseHandle(process_);
    process_ = nullptr;
    return got ? static_cast<int>(code) : -1;
#else
    const auto end = std::chrono::steady_clock::now() + limit;
    int w = 0;
    while (::waitpid(pid_, &w, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        stop();
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = 0;
    return WIFEXITED(w) ? WEXITSTATUS(w) : -1;
#endif
  }

  // Kills the binary if it runs and waits until it is gone.
  void stop() {
    if (!running()) return;
#ifdef _WIN32
    ::TerminateProcess(process_, 1);
    ::WaitForSingleObject(process_, INFINITE);
    ::CloseHandle(process_);
    process_ = nullptr;
#else
    ::kill(pid_, SIGKILL);
    int w = 0;
    ::waitpid(pid_, &w, 0);
    pid_ = 0;
#endif
  }

 private:
  void take(BackgroundTalven& other) {
#ifdef _WIN32
    process_ = other.process_;
    other.process_ = nullptr;
#else
    pid_ = other.pid_;
    other.pid_ = 0;
#endif
  }

#ifdef _WIN32
  HANDLE process_ = nullptr;
#else
  pid_t pid_ = 0;
#endif
};

// Whether `tool` can be started by name from the shell (the POSIX
// `command -v`); the tools asked for (xvfb-run, xdotool, oggenc...) are
// not looked for on Windows, where the tests that need them skip.
inline bool have_tool([[maybe_unused]] const std::string& tool) {
#ifdef _WIN32
  return false;
#else
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
#endif
}

}  // namespace talven::test
