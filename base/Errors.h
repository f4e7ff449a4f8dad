#pragma once
// The one kind of failure the program raises, and the "%s"/"%d" message formatting its
// texts use.
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace trawlex {

class ETrawlexError : public std::runtime_error {
 public:
  explicit ETrawlexError(const std::string& message) : std::runtime_error(message) {}
};

// The system refused memory: "Out of memory". A search stops at it; everything else
// reports it as any other error.
class EOutOfMemory : public ETrawlexError {
 public:
  EOutOfMemory() : ETrawlexError("Out of memory") {}
};

// A programming error: the message names the source file and line.
class EAssertionFailed : public ETrawlexError {
 public:
  using ETrawlexError::ETrawlexError;
};

struct TFmtArg {
  TFmtArg(const std::string& s) : Text(s), IsNumber(false) {}
  TFmtArg(std::string_view s) : Text(s), IsNumber(false) {}
  TFmtArg(const char* s) : Text(s ? s : ""), IsNumber(false) {}
  template <class T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
  TFmtArg(T n) : Number(static_cast<int64_t>(n)), IsNumber(true) {}
  std::string Text;
  int64_t Number = 0;
  bool IsNumber;
};

// Replaces each "%s" and "%d" of `format`, left to right, with the next argument;
// "%%" gives "%". Missing arguments leave the placeholder as written.
std::string FormatText(std::string_view format, std::initializer_list<TFmtArg> args);

template <class... A>
std::string Fmt(std::string_view format, const A&... args) {
  return FormatText(format, {TFmtArg(args)...});
}

[[noreturn]] void RaiseAssertion(const char* message, const char* file, int line);

}  // namespace trawlex

// Checks a condition that only a programming error can break.
#define TRAWLEX_ASSERT(cond, message) \
  do {                                \
    if (!(cond)) ::trawlex::RaiseAssertion((message), __FILE__, __LINE__); \
  } while (0)
