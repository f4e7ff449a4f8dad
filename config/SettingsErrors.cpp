#include "config/SettingsErrors.h"

#include <cstdio>
#include <mutex>
#include <set>

namespace trawlex {

namespace {
std::mutex HandlerLock;  // guards Handler and Reported
TSettingsErrorHandler Handler;
std::set<std::string> Reported;
}  // namespace

void SetSettingsErrorHandler(TSettingsErrorHandler handler) {
  std::lock_guard<std::mutex> g(HandlerLock);
  Handler = std::move(handler);
}

void ReportSettingsError(const std::string& message) {
  TSettingsErrorHandler h;
  {
    std::lock_guard<std::mutex> g(HandlerLock);
    h = Handler;
  }
  if (h) {
    h(message);
  } else {
    std::fprintf(stderr, "%s\n", message.c_str());
  }
}

void ReportSettingsErrorOnce(const std::string& key, const std::string& message) {
  {
    std::lock_guard<std::mutex> g(HandlerLock);
    if (!Reported.insert(key).second) return;
  }
  ReportSettingsError(message);
}

}  // namespace trawlex
