#pragma once
// The content of a settings file: registry keys with their typed values, in the text form of
// a registry export ("Windows Registry Editor Version 5.00"), so that a person can read and
// edit it and regedit can import it. Key paths are full ("HKEY_CURRENT_USER\Software\...");
// key and value names are compared without regard to ASCII letter case, as the registry does.
#include <string>
#include <string_view>
#include <vector>

#include "config/RegValue.h"

namespace trawlex {

struct TRegKey {
  std::string Path;
  std::vector<TRegValue> Values;  // in the order they were first written

  const TRegValue* FindValue(const std::string& name) const;
  TRegValue* FindValue(const std::string& name);
  // Replaces the value of that name (keeping the name's stored spelling) or appends it.
  void PutValue(TRegValue value);
};

class TRegDocument {
 public:
  // The key of that path, or null when it has not been created.
  const TRegKey* FindKey(const std::string& path) const;
  TRegKey* FindKey(const std::string& path);
  // The key of that path, created when missing.
  TRegKey& CreateKey(const std::string& path);
  // Whether the key exists, either by itself or as the parent of another key.
  bool KeyExists(const std::string& path) const;
  // The names of the keys directly below `path`, each once, in order of appearance.
  std::vector<std::string> SubKeyNames(const std::string& path) const;
  // Deletes the key, its values and every key below it.
  void DeleteKey(const std::string& path);
  const std::vector<TRegKey>& Keys() const { return FKeys; }

  // The settings file as regedit exports it: UTF-16LE with a byte-order mark, holding
  // FormatText(). Only in UTF-16 does regedit take the UTF-16 bytes of a hex(1) value as they
  // are; from a file of 8-bit text it would read them as 8-bit text.
  std::string Format() const;
  // The export text as UTF-8: the header line, then every key (parents before their children)
  // with its values, lines ended by CR LF. A string without a line break is a quoted text, one
  // with a line break a hex(1) block of its UTF-16 bytes. A value read from a file is written
  // back with the very code units it had (lone surrogates included).
  std::string FormatText() const;
  // Parses an export: UTF-16LE with a byte-order mark as regedit saves it, or 8-bit text (with
  // or without a UTF-8 byte-order mark), as written by earlier versions of this program or by
  // a person. Under the "REGEDIT4" header the bytes of hex(1), hex(2) and hex(7) blocks are
  // 8-bit text; under "Windows Registry Editor Version 5.00" they are UTF-16LE in every form.
  // Keeps every key and value line that parses. False when some lines did not (a missing
  // header, a broken line, a value of unknown type, a missing continuation line), with `error`
  // naming them ("line 3: ..."); the values under a key line that did not parse are dropped
  // with it. A value of a known type whose data does not parse (a dword of fewer than 8
  // digits, a bad byte) is no fault of the file: it is kept as RegUnreadable.
  bool Parse(std::string_view text, std::string& error);

 private:
  std::vector<TRegKey> FKeys;
};

// The text of a settings file as UTF-8: a UTF-16LE file (byte-order mark FF FE) decoded, a
// UTF-8 byte-order mark dropped, other text as it is.
std::string RegFileText(std::string_view file);

// Whether a file that starts with `start` (its first few hundred bytes) is a registry export:
// its first line that is not blank is one of the headers.
bool IsRegExportStart(std::string_view start);

// True when `path` equals `root` or lies below it (ASCII letter case ignored).
bool KeyIsAtOrBelow(const std::string& path, const std::string& root);

}  // namespace trawlex
