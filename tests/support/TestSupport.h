#pragma once
// Helpers shared by the tests: temporary trees, a main-thread queue the test pumps, and a
// drawing surface that records what it is asked to draw.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/BaseThread.h"
#include "engine/DrawSurface.h"

#ifdef _WIN32
#include <cstdlib>
#include <ctime>
// The environment calls of the tests, as this system spells them.
inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif

namespace trawlex::test {

// A fresh folder under $TMPDIR, removed with everything in it at the end of the test.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  const std::string& Path() const { return FPath; }
  // Writes `bytes` to the relative path `name`, creating folders on the way; returns the full path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  std::string MakeDir(const std::string& name) const;
  // The full path of the relative path `name` ("/" between its parts; the system's
  // delimiter in the result).
  std::string operator/(const std::string& name) const;

 private:
  std::string FPath;
};

std::string ReadAll(const std::string& path);
// The system's message for a file that does not exist, as errors quote it.
std::string NoSuchFileText();
// `text` with the system's path delimiter written as "/", so that expected paths read alike
// on every system.
std::string Slashed(std::string text);

// The main thread of a test: workers queue calls, the test's thread runs them.
class TQueueInvoker : public IMainThreadInvoker {
 public:
  void InvokeAndWait(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;
  // Runs queued calls until `done()` holds; false when `timeout` passed first.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Runs at most one queued call, waiting up to `timeout` for one.
  bool PumpOne(std::chrono::milliseconds timeout);
  bool OnMainThread() const;
  // Calls queued and not yet run.
  size_t Pending();

 private:
  struct TCall {
    std::function<void()> Fn;
    bool* Done = nullptr;  // set when a waiting caller's function has run
  };
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<TCall> Queue;
  std::thread::id MainId = std::this_thread::get_id();
};

// Records every call; measures one pixel per byte.
class TRecordingSurface : public IDrawSurface {
 public:
  struct TCall {
    std::string Op;  // "fill", "color", "style", "text"
    TRect Rect{};
    TColor Color{};
    TFontStyles Style = 0;
    int32_t X = 0, Y = 0;
    std::string Text;
  };
  std::vector<TCall> Calls;
  TFontStyles Style = 0;
  int32_t WidthCalls = 0;
  TTabSettings TabSet;

  void FillRect(const TRect& r, TColor c) override { Calls.push_back({"fill", r, c, 0, 0, 0, {}}); }
  void SetFontColor(TColor c) override { Calls.push_back({"color", {}, c, 0, 0, 0, {}}); }
  TFontStyles GetFontStyle() const override { return Style; }
  void SetFontStyle(TFontStyles s) override {
    Style = s;
    Calls.push_back({"style", {}, {}, s, 0, 0, {}});
  }
  int32_t TextWidth(std::string_view text) override {
    ++WidthCalls;
    return static_cast<int32_t>(text.size());
  }
  void TextOut(int32_t x, int32_t y, std::string_view text) override {
    Calls.push_back({"text", {}, {}, Style, x, y, std::string(text)});
  }
  TTabSettings Tabs() const override { return TabSet; }
  // A compact trace: "fill W", "color 0000FF", "text 10,0 abc [B]".
  std::vector<std::string> Trace() const;
};

std::string ColorName(TColor c);

}  // namespace trawlex::test
