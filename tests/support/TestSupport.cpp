#include "support/TestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/Platform.h"

namespace trawlex::test {

TTempDir::TTempDir() {
  std::string tmpl = TempDirectory() + "trawlex-test-XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  FPath = tmpl;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  // Tests may leave read-only folders behind; open them up before removing.
  for (auto it = std::filesystem::recursive_directory_iterator(FPath, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0700);
  }
  std::filesystem::remove_all(FPath, ec);
}

std::string TTempDir::Write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path p = std::filesystem::path(FPath) / name;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + p.string());
  return p.string();
}

std::string TTempDir::MakeDir(const std::string& name) const {
  const std::filesystem::path p = std::filesystem::path(FPath) / name;
  std::filesystem::create_directories(p);
  return p.string();
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
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
