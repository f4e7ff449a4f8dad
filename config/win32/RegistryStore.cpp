#include "config/win32/RegistryStore.h"

#include <windows.h>

#include <vector>

namespace trawlex {

namespace {

const std::string Hive = "HKEY_CURRENT_USER";

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Narrow(const wchar_t* text, size_t size) {
  if (size == 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), out.data(), n, nullptr, nullptr);
  return out;
}

std::string ErrorText(LSTATUS code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = n ? Narrow(buffer, n) : "System error " + std::to_string(code);
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) text.pop_back();
  return text;
}

// The part of a full path below the hive ("Software\..."); empty for a path elsewhere.
std::wstring SubKey(const std::string& fullPath) {
  if (fullPath.size() <= Hive.size() + 1 || fullPath.compare(0, Hive.size() + 1, Hive + "\\") != 0) return {};
  return Widen(fullPath.substr(Hive.size() + 1));
}

// A value as the document keeps it: strings as UTF-8 text without the closing zero, other
// types as the registry's bytes.
TRegValue FromRegistry(const std::wstring& name, DWORD type, const std::vector<BYTE>& data) {
  TRegValue v;
  v.Name = Narrow(name.data(), name.size());
  v.Type = type;
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    size_t chars = data.size() / sizeof(wchar_t);
    const auto* text = reinterpret_cast<const wchar_t*>(data.data());
    while (chars > 0 && text[chars - 1] == L'\0') --chars;
    v.Data = Narrow(text, chars);
  } else {
    v.Data.assign(reinterpret_cast<const char*>(data.data()), data.size());
  }
  return v;
}

// The names of a key's values (subkeys: false) or subkeys (true), listed in one pass before
// any is read, so that an entry another program deletes meanwhile cannot shift the listing
// past one that stays.
bool ListNames(HKEY key, bool subkeys, std::vector<std::wstring>& names, std::string& error) {
  for (DWORD i = 0;; ++i) {
    std::wstring name(subkeys ? 256 : 16384, L'\0');
    DWORD nameLength = static_cast<DWORD>(name.size());
    const LSTATUS r = subkeys ? RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr)
                              : RegEnumValueW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) return true;
    if (r != ERROR_SUCCESS) {
      error = ErrorText(r);
      return false;
    }
    name.resize(nameLength);
    names.push_back(std::move(name));
  }
}

bool ReadKey(HKEY key, const std::string& path, TRegDocument& doc, std::string& error) {
  TRegKey& out = doc.CreateKey(path);
  std::vector<std::wstring> values, subkeys;
  if (!ListNames(key, false, values, error) || !ListNames(key, true, subkeys, error)) return false;
  for (const std::wstring& name : values) {
    DWORD type = 0;
    std::vector<BYTE> data(64);
    LSTATUS r;
    for (;;) {
      DWORD got = static_cast<DWORD>(data.size());
      r = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &got);
      if (r == ERROR_MORE_DATA) {
        data.resize(got);
        continue;
      }
      if (r == ERROR_SUCCESS) data.resize(got);
      break;
    }
    if (r == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile
    if (r != ERROR_SUCCESS) {
      error = ErrorText(r);
      return false;
    }
    out.PutValue(FromRegistry(name, type, data));
  }
  for (const std::wstring& name : subkeys) {
    HKEY child = nullptr;
    const LSTATUS o = RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, &child);
    if (o == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile
    if (o != ERROR_SUCCESS) {
      error = ErrorText(o);
      return false;
    }
    const bool ok = ReadKey(child, path + "\\" + Narrow(name.data(), name.size()), doc, error);
    RegCloseKey(child);
    if (!ok) return false;
  }
  return true;
}

bool SameValue(const TRegValue* a, const TRegValue& b) { return a && a->Type == b.Type && a->Data == b.Data; }

}  // namespace

TRegistryLock::~TRegistryLock() {
  if (FHeld) ReleaseMutex(FMutex);
  if (FMutex) CloseHandle(FMutex);
}

bool TRegistryLock::Acquire(int32_t timeoutMs) {
  if (!FMutex) FMutex = CreateMutexW(nullptr, FALSE, L"Local\\vantorel-Trawlex-settings");
  if (!FMutex) return false;
  const DWORD r = WaitForSingleObject(FMutex, static_cast<DWORD>(timeoutMs));
  FHeld = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
  return FHeld;
}

bool ReadRegistryTree(const std::string& fullPath, TRegDocument& doc, std::string& error) {
  doc = TRegDocument();
  const std::wstring sub = SubKey(fullPath);
  if (sub.empty()) return true;
  HKEY key = nullptr;
  const LSTATUS r = RegOpenKeyExW(HKEY_CURRENT_USER, sub.c_str(), 0, KEY_READ, &key);
  if (r == ERROR_FILE_NOT_FOUND) return true;
  if (r != ERROR_SUCCESS) {
    error = ErrorText(r);
    return false;
  }
  const bool ok = ReadKey(key, fullPath, doc, error);
  RegCloseKey(key);
  return ok;
}

bool WriteRegistryChanges(const std::string& fullPath, const TRegDocument& before, const TRegDocument& after,
                          std::string& error, std::string& failedKey) {
  // Keys that went, deepest first would not matter: a tree goes at once.
  for (const TRegKey& old : before.Keys()) {
    if (!KeyIsAtOrBelow(old.Path, fullPath) || after.KeyExists(old.Path)) continue;
    const LSTATUS r = RegDeleteTreeW(HKEY_CURRENT_USER, SubKey(old.Path).c_str());
    if (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) {
      const LSTATUS d = RegDeleteKeyW(HKEY_CURRENT_USER, SubKey(old.Path).c_str());
      if (d == ERROR_SUCCESS || d == ERROR_FILE_NOT_FOUND) continue;
    }
    error = ErrorText(r);
    failedKey = old.Path;
    return false;
  }
  for (const TRegKey& now : after.Keys()) {
    if (!KeyIsAtOrBelow(now.Path, fullPath)) continue;
    const TRegKey* was = before.FindKey(now.Path);
    bool same = was != nullptr && was->Values.size() == now.Values.size();
    for (size_t i = 0; same && i < now.Values.size(); ++i) same = SameValue(was->FindValue(now.Values[i].Name), now.Values[i]);
    if (same) continue;
    HKEY key = nullptr;
    LSTATUS r = RegCreateKeyExW(HKEY_CURRENT_USER, SubKey(now.Path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (r != ERROR_SUCCESS) {
      error = ErrorText(r);
      failedKey = now.Path;
      return false;
    }
    for (const TRegValue& v : now.Values) {
      if (v.Type == RegUnreadable || SameValue(was ? was->FindValue(v.Name) : nullptr, v)) continue;
      std::vector<BYTE> data;
      if (v.Type == RegSz || v.Type == RegExpandSz) {
        const std::wstring text = Widen(v.Data);
        const auto* p = reinterpret_cast<const BYTE*>(text.c_str());
        data.assign(p, p + (text.size() + 1) * sizeof(wchar_t));
      } else {
        data.assign(v.Data.begin(), v.Data.end());
      }
      r = RegSetValueExW(key, Widen(v.Name).c_str(), 0, v.Type, data.data(), static_cast<DWORD>(data.size()));
      if (r != ERROR_SUCCESS) break;
    }
    if (r == ERROR_SUCCESS && was) {
      for (const TRegValue& v : was->Values) {
        if (now.FindValue(v.Name)) continue;
        r = RegDeleteValueW(key, Widen(v.Name).c_str());
        if (r == ERROR_FILE_NOT_FOUND) r = ERROR_SUCCESS;
        if (r != ERROR_SUCCESS) break;
      }
    }
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) {
      error = ErrorText(r);
      return false;
    }
  }
  return true;
}

}  // namespace trawlex
