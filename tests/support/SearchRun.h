#pragma once
// What the tests that search a tree share: writing the tree, and one search of it run on a
// real worker, with everything the main thread receives recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/SearchThread.h"
#include "support/TestSupport.h"

namespace trawlex::test {

// Writes each (relative path, bytes) of `files` below `dir`.
inline void WriteTree(const TTempDir& dir, const std::vector<std::pair<std::string, std::string>>& files) {
  for (const auto& [name, bytes] : files) dir.Write(name, bytes);
}
// Writes `bytes` to each of `names` below `dir`.
inline void WriteTree(const TTempDir& dir, const std::vector<std::string>& names, const std::string& bytes) {
  for (const std::string& name : names) dir.Write(name, bytes);
}

// Runs one search on a real worker and records everything the main thread receives.
class TSearchRun {
 public:
  using V = std::vector<std::string>;

  explicit TSearchRun(const std::string& baseDir, const std::string& target = "foo", V patterns = {"*.*"}) {
    Params.BaseDir = baseDir;
    Params.SetFilePatterns(patterns);
    Params.IncludeSubdirs = true;
    Params.SetTarget(target);
    Params.SetCanvas(&Surface);
    Thread = std::make_unique<TSearchThread>(Invoker);
    Thread->OnItems = [this](std::span<TSearchResult* const> items) {
      for (TSearchResult* item : items) Shown.push_back({item});
    };
    Thread->SetParams(&Params);
    Thread->OnStatus = [this](const std::string& s) {
      EXPECT_TRUE(Invoker.OnMainThread());
      Status.push_back(s);
      Counters.push_back(CounterText());
      if (OnStatusHook) OnStatusHook(s);
    };
    Thread->OnError = [this](const std::string& s) { Errors.push_back(s); };
    Thread->OnItemAdded = [this](int32_t w) { Widths.push_back(w); };
    Thread->OnTerminate = [this](TBaseThread&) {
      EXPECT_TRUE(Invoker.OnMainThread());
      Ended = true;
    };
  }

  void Run() {
    Thread->Start();
    ASSERT_TRUE(Invoker.PumpUntil([this] { return Ended; }));
    Thread->WaitFor();
  }

  std::string CounterText() const {
    return std::to_string(Thread->FilesFound()) + "/" + std::to_string(Thread->FilesSearched()) + "/" +
           std::to_string(Thread->FilesWithFinds()) + "/" + std::to_string(Thread->TotalFinds());
  }

  // Shown entries as "F name" or "L lineNo".
  V ShownItems(const std::string& base) const {
    V out;
    for (const auto& e : Shown) {
      if (auto* f = dynamic_cast<TSearchFile*>(e.Item)) out.push_back("F " + Slashed(f->Name.substr(base.size() + 1)));
      else out.push_back("L " + std::to_string(static_cast<TSearchLine*>(e.Item)->LineNo()));
    }
    return out;
  }

  V ResultNames(const std::string& base) const {
    V out;
    for (int32_t i = 0; i < Params.GetResultCount(); ++i) out.push_back(Slashed(Params.GetResult(i)->Name.substr(base.size() + 1)));
    return out;
  }

  // The folders the walk read, relative to `base` ("" for the base itself), sorted.
  V FoldersRead(const std::string& base) const {
    V out;
    for (const std::string& s : Status)
      if (s.rfind("Reading dir ", 0) == 0) out.push_back(Slashed(s.size() > 12 + base.size() ? s.substr(13 + base.size()) : ""));
    std::sort(out.begin(), out.end());
    return out;
  }

  // Status lines with the base directory cut to "<base>" and the time to "<t>".
  V StatusLines(const std::string& base) const {
    V out;
    for (std::string s : Status) {
      if (const size_t at = s.find(base); at != std::string::npos) s.replace(at, base.size(), "<base>");
      if (s.rfind("FINISHED. Took: ", 0) == 0) {
        EXPECT_EQ(s.back(), 's');
        const std::string num = s.substr(16, s.size() - 17);
        EXPECT_EQ(num.size() - num.find('.'), 4u) << s;
        s = "FINISHED. Took: <t>s";
      }
      out.push_back(Slashed(s));
    }
    return out;
  }

  TQueueInvoker Invoker;
  TRecordingSurface Surface;
  TSearchParams Params;
  TItemList Shown;
  std::unique_ptr<TSearchThread> Thread;
  V Status, Errors, Counters;
  std::vector<int32_t> Widths;
  std::function<void(const std::string&)> OnStatusHook;
  bool Ended = false;
};

}  // namespace trawlex::test
