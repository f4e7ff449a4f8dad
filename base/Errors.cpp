#include "base/Errors.h"

namespace trawlex {

std::string FormatText(std::string_view format, std::initializer_list<TFmtArg> args) {
  std::string out;
  out.reserve(format.size() + 32);
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c == '%' && i + 1 < format.size()) {
      const char k = format[i + 1];
      if (k == '%') {
        out += '%';
        ++i;
        continue;
      }
      if ((k == 's' || k == 'd') && next != args.end()) {
        out += next->IsNumber ? std::to_string(next->Number) : next->Text;
        ++next;
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

void RaiseAssertion(const char* message, const char* file, int line) {
  std::string where = file;
  const size_t slash = where.find_last_of("/\\");
  if (slash != std::string::npos) where = where.substr(slash + 1);
  throw EAssertionFailed(std::string(message) + " (" + where + ", line " + std::to_string(line) + ")");
}

}  // namespace trawlex
