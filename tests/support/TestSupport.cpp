#include "support/TestSupport.h"

#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <random>
#include <stdexcept>

#include "platform/Platform.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace trawlex::test {

namespace {
// Paths in the tests are UTF-8 on every system.
std::filesystem::path FsPath(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}
std::string Utf8(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}
}  // namespace

TTempDir::TTempDir() {
#ifdef _WIN32
  std::random_device random;
  for (int attempt = 0; attempt < 100 && FPath.empty(); ++attempt) {
    const std::string name = TempDirectory() + "trawlex-test-" + std::to_string(random());
    std::error_code ec;
    if (std::filesystem::create_directory(FsPath(name), ec)) FPath = name;
  }
  if (FPath.empty()) throw std::runtime_error("cannot create a temporary folder");
#else
  std::string tmpl = TempDirectory() + "trawlex-test-XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  FPath = tmpl;
#endif
}

TTempDir::~TTempDir() {
  std::error_code ec;
  // Tests may leave read-only folders behind; open them up before removing.
  for (auto it = std::filesystem::recursive_directory_iterator(FsPath(FPath), ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
#ifdef _WIN32
    std::error_code ignored;
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add, ignored);
#else
    if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0700);
#endif
  }
  std::filesystem::remove_all(FsPath(FPath), ec);
}

std::string TTempDir::operator/(const std::string& name) const {
  std::string path = FPath + PathDelim + name;
  for (char& c : path)
    if (c == '/') c = PathDelim;
  return path;
}

std::string TTempDir::Write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path p = (FsPath(FPath) / FsPath(name)).make_preferred();
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + Utf8(p));
  return Utf8(p);
}

std::string TTempDir::MakeDir(const std::string& name) const {
  const std::filesystem::path p = (FsPath(FPath) / FsPath(name)).make_preferred();
  std::filesystem::create_directories(p);
  return Utf8(p);
}

std::string NoSuchFileText() {
#ifdef _WIN32
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring wide(buffer, n);
  LocalFree(buffer);
  std::string text(wide.begin(), wide.end());  // the system's messages are ASCII in English
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) text.pop_back();
  return text;
#else
  return SystemErrorText(ENOENT);
#endif
}

std::string Slashed(std::string text) {
  for (char& c : text)
    if (c == PathDelim) c = '/';
  return text;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void TQueueInvoker::InvokeAndWait(const std::function<void()>& fn) {
  if (OnMainThread()) {
    fn();
    return;
  }
  bool done = false;
  std::unique_lock lock(Lock);
  Queue.push_back({fn, &done});
  Changed.notify_all();
  Changed.wait(lock, [&] { return done; });
}

void TQueueInvoker::Post(std::function<void()> fn) {
  std::lock_guard lock(Lock);
  Queue.push_back({std::move(fn), nullptr});
  Changed.notify_all();
}

size_t TQueueInvoker::Pending() {
  std::lock_guard lock(Lock);
  return Queue.size();
}

bool TQueueInvoker::OnMainThread() const { return std::this_thread::get_id() == MainId; }

bool TQueueInvoker::PumpOne(std::chrono::milliseconds timeout) {
  TCall call;
  {
    std::unique_lock lock(Lock);
    if (!Changed.wait_for(lock, timeout, [this] { return !Queue.empty(); })) return false;
    call = std::move(Queue.front());
    Queue.pop_front();
  }
  call.Fn();
  if (call.Done) {
    std::lock_guard lock(Lock);
    *call.Done = true;
    Changed.notify_all();
  }
  return true;
}

bool TQueueInvoker::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    PumpOne(left);
  }
  return true;
}

std::string ColorName(TColor c) {
  if (c.Kind == TColor::TKind::System) {
    switch (c.Value) {
      case 0: return "ScrollBar";
      case 5: return "Window";
      case 8: return "WindowText";
      case 13: return "Highlight";
      case 14: return "HighlightText";
      case 17: return "GrayText";
      default: return "sys" + std::to_string(c.Value);
    }
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "%06X", c.Value);
  return buf;
}

std::vector<std::string> TRecordingSurface::Trace() const {
  std::vector<std::string> out;
  for (const TCall& c : Calls) {
    if (c.Op == "fill") {
      out.push_back("fill " + ColorName(c.Color));
    } else if (c.Op == "color") {
      out.push_back("color " + ColorName(c.Color));
    } else if (c.Op == "style") {
      std::string s = "style";
      if (c.Style & fsBold) s += " B";
      if (c.Style & fsUnderline) s += " U";
      out.push_back(s);
    } else {
      std::string s = "text " + std::to_string(c.X) + "," + std::to_string(c.Y) + " " + c.Text;
      out.push_back(s);
    }
  }
  return out;
}

}  // namespace trawlex::test
