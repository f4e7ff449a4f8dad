#pragma once
// Helpers of the Windows tests (run under Wine here): wide strings, paths the build gives the
// POSIX way, and a program run with its output.
#include <windows.h>

#include <string>

namespace trawlex::test {

inline std::wstring W(const std::string& s) {
  std::wstring out(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), static_cast<int>(out.size()));
  return out;
}

// A build path as this system names it: one given the POSIX way ("/work/b/x") is on Wine's
// drive Z: ("Z:\work\b\x").
inline std::string WinePath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

struct TProgramRun {
  DWORD Status = 255;
  std::string Out;  // standard output and error together
  bool TimedOut = false;
};

// Runs `commandLine` with its output caught, waiting at most `timeoutMs` (then ends it).
inline TProgramRun RunProgram(const std::string& commandLine, DWORD timeoutMs = 60000) {
  TProgramRun run;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return run;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::wstring line = W(commandLine);
  const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  if (started) {
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buf, sizeof buf, &got, nullptr) && got > 0) run.Out.append(buf, got);
    if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
      TerminateProcess(pi.hProcess, 255);
      run.TimedOut = true;
    }
    GetExitCodeProcess(pi.hProcess, &run.Status);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(readEnd);
  return run;
}

}  // namespace trawlex::test
