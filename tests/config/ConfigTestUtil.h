#pragma once
// Helpers of the settings tests: a private temporary folder, hex text, and running a helper
// process under a time limit.
#include <fcntl.h>
#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#else
#include <random>

#include "platform/Platform.h"
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/RegDocument.h"

namespace trawlex::testing {

class TTempDir {
 public:
#ifdef _WIN32
  TTempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && Path.empty(); ++attempt) {
      const std::string name = TempDirectory() + "trawlex-config-" + std::to_string(random());
      std::error_code ec;
      if (std::filesystem::create_directory(std::filesystem::path(std::u8string(name.begin(), name.end())), ec)) Path = name;
    }
  }
  std::string operator/(const std::string& name) const { return Path + "\\" + name; }
#else
  TTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/trawlex-config-XXXXXX";
    Path = mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::permissions(Path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(Path, ec);
  }
  std::string operator/(const std::string& name) const { return Path + "/" + name; }
#endif
  std::string Path;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A settings file's text as UTF-8, whichever form it is stored in.
inline std::string ReadSettingsText(const std::string& path) { return RegFileText(ReadFileBytes(path)); }

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string Hex(const std::string& bytes) {
  static const char d[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

inline std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

#ifndef _WIN32
struct TRunResult {
  int ExitCode = -1;  // -1: killed or timed out
  std::string Output;
};

// Starts `argv` (argv[0] is the program path); `started` is called with the child's process id.
inline pid_t StartProcess(const std::vector<std::string>& argv, int& outFd) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  outFd = fds[0];
  return pid;
}

// Collects the output of a started process and waits for it, killing it after `timeoutSec`.
inline TRunResult FinishProcess(pid_t pid, int fd, int timeoutSec = 60) {
  TRunResult r;
  fcntl(fd, F_SETFL, O_NONBLOCK);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSec);
  char buf[4096];
  int status = 0;
  bool done = false;
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      r.Output.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (done && n <= 0) break;
    if (!done && waitpid(pid, &status, WNOHANG) == pid) {
      done = true;
      continue;  // drain what is left
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      close(fd);
      r.ExitCode = -1;
      return r;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  close(fd);
  r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// Reads a started process's output into `output` until `done(output)` holds: the way to wait
// for a sign that the process got somewhere. False when the output ends or `timeoutSec`
// passes first.
inline bool ReadUntil(int fd, std::string& output, const std::function<bool(const std::string&)>& done,
                      int timeoutSec = 60) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSec);
  char buf[4096];
  while (!done(output)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    output.append(buf, static_cast<size_t>(n));
  }
  return true;
}

inline TRunResult RunProcess(const std::vector<std::string>& argv, int timeoutSec = 60) {
  int fd = -1;
  const pid_t pid = StartProcess(argv, fd);
  if (pid < 0) return {};
  return FinishProcess(pid, fd, timeoutSec);
}
#endif

}  // namespace trawlex::testing
