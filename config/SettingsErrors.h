#pragma once
// Where the settings report what went wrong without stopping the program: a settings file that
// could not be read or written, values that could not be loaded. The program shows the reports
// to the user; without a handler they go to the standard error stream.
#include <functional>
#include <string>

namespace trawlex {

using TSettingsErrorHandler = std::function<void(const std::string& message)>;
void SetSettingsErrorHandler(TSettingsErrorHandler handler);

// Passes `message` to the handler.
void ReportSettingsError(const std::string& message);
// Passes `message` to the handler only the first time `key` comes up in this process.
void ReportSettingsErrorOnce(const std::string& key, const std::string& message);

}  // namespace trawlex
