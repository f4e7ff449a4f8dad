#include <gtest/gtest.h>

#include "base/Errors.h"
#include "config/RegDocument.h"

namespace trawlex {
namespace {

const std::string Key = "HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex";

TEST(RegDocument, WritesTheRegistryExportForm) {
  TRegDocument doc;
  doc.CreateKey(Key + "\\fmSearch").PutValue(MakeStringValue("cbxTarget.Items", "foo\r\n"));
  doc.CreateKey(Key + "\\fmSearch").PutValue(MakeDwordValue("Spaces Per Tab", 10));
  doc.CreateKey(Key + "\\fmSearch").PutValue(MakeBinaryValue("b", "\x01\x00\xff", 3));
  doc.CreateKey(Key).PutValue(MakeStringValue("Editor Args", "\"C:\\x\" <f>"));
  doc.CreateKey(Key).PutValue(TRegValue{"exp", RegExpandSz, "%A%"});
  doc.CreateKey(Key).PutValue(TRegValue{"", RegBinary, ""});
  EXPECT_EQ(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex]\r\n"
      "\"Editor Args\"=\"\\\"C:\\\\x\\\" <f>\"\r\n"
      "\"exp\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "@=hex:\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex\\fmSearch]\r\n"
      "\"cbxTarget.Items\"=hex(1):66,00,6f,00,6f,00,0d,00,0a,00,00,00\r\n"
      "\"Spaces Per Tab\"=dword:0000000a\r\n"
      "\"b\"=hex:01,00,ff\r\n"
      "\r\n",
      doc.FormatText());
}

// UTF-8 to UTF-16LE for the texts of these tests (no code points beyond U+FFFF).
std::string Utf16(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = utf8[i];
    const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
    uint32_t u = len == 1 ? c : len == 2 ? c & 0x1F : c & 0x0F;
    for (int k = 1; k < len; ++k) u = (u << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
    i += len;
  }
  return out;
}

TEST(RegDocument, TheFileIsUtf16WithAByteOrderMarkAsRegeditExportsIt) {
  TRegDocument doc;
  doc.CreateKey(Key).PutValue(MakeStringValue("n", "Grüße \"∑\" C:\\x\tend"));
  doc.CreateKey(Key).PutValue(MakeStringValue("lines", "a\r\nb"));
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex]\r\n"
      "\"n\"=\"Grüße \\\"∑\\\" C:\\\\x\tend\"\r\n"
      "\"lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\r\n\r\n";
  EXPECT_EQ(text, doc.FormatText());
  EXPECT_EQ("\xFF\xFE" + Utf16(text), doc.Format());
  EXPECT_EQ(text, RegFileText(doc.Format()));
}

TEST(RegDocument, EveryValueComesBackFromTheFile) {
  const TRegValue values[] = {
      MakeStringValue("empty", ""),
      MakeStringValue("plain", "*.h|*.tcc"),
      MakeStringValue("letters", "Grüße ∑ \xF0\x9F\x98\x80"),
      MakeStringValue("escapes", "\"q\" \\ \\\\ \\n \\r \\\""),
      MakeStringValue("list", "/usr/include/c++/12/bits\r\n*.cpp\r\n"),
      MakeStringValue("breaks", "\r\n\n\rx\n"),
      MakeStringValue("controls", "a\tb\x01\x7F"),
      MakeStringValue("not utf-8", "\xFF\xC3(\xED\xA0\x80"),
      TRegValue{"expand", RegExpandSz, "%HOME%\\ü"},
      MakeDwordValue("dword", -2),
      MakeBinaryValue("binary", "\x00\xFF\x0D\x0A", 4),
      MakeBinaryValue("empty binary", "", 0),
      TRegValue{"multi", RegMultiSz, std::string("a\0\0\0", 4)},
      TRegValue{"unreadable", RegUnreadable, "dword:1"},
  };
  TRegDocument doc;
  for (const auto& v : values) doc.CreateKey(Key + "\\fmSearch").PutValue(v);
  const std::string file = doc.Format();
  TRegDocument back;
  std::string error;
  ASSERT_TRUE(back.Parse(file, error)) << error;
  const TRegKey* k = back.FindKey(Key + "\\fmSearch");
  ASSERT_NE(nullptr, k);
  for (const auto& v : values) {
    const TRegValue* got = k->FindValue(v.Name);
    ASSERT_NE(nullptr, got) << v.Name;
    EXPECT_EQ(v.Type, got->Type) << v.Name;
    EXPECT_EQ(v.Data, got->Data) << v.Name;
  }
  EXPECT_EQ(file, back.Format());
}

TEST(RegDocument, ReadsEarlierFilesAndBothRegeditForms) {
  const std::string k = "[HKEY_CURRENT_USER\\K]\r\n";
  const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n" + k;
  const struct {
    std::string file;
    uint32_t type;
    std::string data;
  } cases[] = {
      // Written by earlier versions: UTF-8 text, texts with line breaks as UTF-16 blocks.
      {v5 + "\"a\"=hex(1):c4,00,0d,00,0a,00,00,00\r\n", RegSz, "Ä\r\n"},
      {"\xEF\xBB\xBF" + v5 + "\"a\"=\"Ä\"\r\n", RegSz, "Ä"},
      // regedit: UTF-16, line breaks inside a quoted text as \r and \n.
      {"\xFF\xFE" + Utf16(v5 + "\"a\"=\"one\\r\\ntwo\\nÄ\\\\n\"\r\n"), RegSz, "one\r\ntwo\nÄ\\n"},
      {"\xFF\xFE" + Utf16(v5 + "\"a\"=hex(2):25,00,c4,00,00,00\r\n"), RegExpandSz, "%Ä"},
      // The older regedit form: texts in blocks are 8-bit text.
      {"REGEDIT4\r\n\r\n" + k + "\"a\"=hex(2):25,41,25,00\r\n", RegExpandSz, "%A%"},
      {"REGEDIT4\r\n\r\n" + k + "\"a\"=hex(1):c3,84,0a,00\r\n", RegSz, "Ä\n"},
      {"REGEDIT4\r\n\r\n" + k + "\"a\"=hex(7):61,00,00\r\n", RegMultiSz, std::string("a\0\0\0\0\0", 6)},
      {"REGEDIT4\r\n\r\n" + k + "\"a\"=hex:61,00\r\n", RegBinary, std::string("a\0", 2)},
  };
  for (const auto& c : cases) {
    TRegDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Parse(c.file, error)) << c.file << ": " << error;
    if (c.file[0] == '\xFF') {
      // A stray zero character does not cut off the values after it.
      ASSERT_TRUE(doc.Parse(c.file.substr(0, 2) + std::string(2, '\0') + c.file.substr(2), error)) << error;
    }
    const TRegKey* key = doc.FindKey("HKEY_CURRENT_USER\\K");
    ASSERT_NE(nullptr, key) << c.file;
    const TRegValue* v = key->FindValue("a");
    ASSERT_NE(nullptr, v) << c.file;
    EXPECT_EQ(c.type, v->Type) << c.file;
    EXPECT_EQ(c.data, v->Data) << c.file;
  }
}

TEST(RegDocument, LongBlocksWrapAndParseBack) {
  TRegDocument doc;
  std::string block;
  for (int i = 0; i < 300; ++i) block += static_cast<char>(i * 7);
  doc.CreateKey(Key).PutValue(MakeBinaryValue("lstResults.Font", block.data(), block.size()));
  const std::string text = doc.FormatText();
  size_t longest = 0, start = 0;
  for (size_t eol; (eol = text.find("\r\n", start)) != std::string::npos; start = eol + 2) {
    longest = std::max(longest, eol - start);
  }
  EXPECT_LE(longest, 80u);
  TRegDocument back;
  std::string error;
  ASSERT_TRUE(back.Parse(doc.Format(), error)) << error;
  EXPECT_EQ(block, back.FindKey(Key)->FindValue("lstresults.font")->Data);
  EXPECT_EQ(text, back.FormatText());
}

TEST(RegDocument, ReadsWhatRegeditAndPeopleWrite) {
  const std::string text =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
      "; written by hand\n"
      "[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex\\fmSearch]   \n"
      "\"a\" = \"x\"\n"
      "\"b\"=dword:FFFFFFFF\n"
      "\"c\"=hex(7):61,00,00,00,00,00\n"
      "\"d\"=hex:01,\\\n"
      "    02\n"
      "\"e\"=hex(4):05,00,00,00\n"
      "\"a\"=\"y\"\n"
      "[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex\\FMSEARCH]\n"
      "\"f\"=\"\"\n";
  TRegDocument doc;
  std::string error;
  ASSERT_TRUE(doc.Parse(text, error)) << error;
  ASSERT_EQ(1u, doc.Keys().size());  // a key named twice is one key
  const TRegKey& k = doc.Keys()[0];
  EXPECT_EQ("y", k.FindValue("a")->Data);  // the later line wins
  EXPECT_EQ(-1, ReadIntegerValue(k.FindValue("b"), "b", 0));
  EXPECT_EQ(7u, k.FindValue("c")->Type);
  EXPECT_EQ("\x01\x02", k.FindValue("d")->Data);
  EXPECT_EQ(5, ReadIntegerValue(k.FindValue("e"), "e", 0));
  EXPECT_EQ("", k.FindValue("F")->Data);
}

TEST(RegDocument, ReadsAUtf16Export) {
  const std::string utf8 = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"n\"=\"Grüße\"\r\n";
  std::string utf16 = "\xFF\xFE";
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (utf8.compare(i, 2, "\xc3\xbc") == 0) {
      utf16 += std::string("\xfc\x00", 2), ++i;
    } else if (utf8.compare(i, 2, "\xc3\x9f") == 0) {
      utf16 += std::string("\xdf\x00", 2), ++i;
    } else {
      utf16 += utf8[i], utf16 += '\0';
    }
  }
  TRegDocument doc;
  std::string error;
  ASSERT_TRUE(doc.Parse(utf16, error)) << error;
  EXPECT_EQ("Grüße", doc.FindKey("HKEY_CURRENT_USER\\K")->FindValue("n")->Data);
}

TEST(RegDocument, BadLinesAreNamedAndEveryOtherLineIsKept) {
  const std::string header = "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\K]\r\n\"before\"=\"1\"\r\n";
  const std::string after = "\r\n[HKEY_CURRENT_USER\\L]\r\n\"after\"=dword:00000002\r\n";
  const struct {
    std::string bad;
    const char* why;
  } cases[] = {
      {"\"a\"=\"unterminated", "line 4: the text has no closing quote"},
      {"\"a\"=\"x\" tail", "line 4: text after the closing quote"},
      {"\"a\"=hex:01,02,\\", "line 4: the value ends in a continuation line that is missing"},
      {"\"a\"=qword:01", "line 4: a value of unknown type"},
      {"\"a\"=-", "line 4: deleting values"},
      {"[-HKEY_CURRENT_USER\\K]\r\n\"dropped\"=\"x\"", "line 4: deleting keys"},
      {"[HKEY_CURRENT_USER\\K\r\n\"dropped\"=\"x\"", "line 4: a key line must end with"},
      {"\"a\"", "line 4: \"=\" is missing"},
      {"\"a", "line 4: the value name has no closing quote"},
      {"junk line", "line 4: not a key or value line"},
  };
  for (const auto& c : cases) {
    // A block whose continuation line is missing ends the file.
    const std::string text = c.bad.back() == '\\' ? header + c.bad : header + c.bad + after;
    TRegDocument doc;
    std::string error;
    EXPECT_FALSE(doc.Parse(text, error)) << c.bad;
    EXPECT_NE(std::string::npos, error.find(c.why)) << c.bad << " -> " << error;
    EXPECT_NE(nullptr, doc.FindKey("HKEY_CURRENT_USER\\K")->FindValue("before")) << c.bad;
    const TRegKey* l = doc.FindKey("HKEY_CURRENT_USER\\L");
    if (c.bad.back() != '\\') {
      ASSERT_NE(nullptr, l) << c.bad;
      EXPECT_NE(nullptr, l->FindValue("after")) << c.bad;
    }
    EXPECT_EQ(nullptr, doc.FindKey("HKEY_CURRENT_USER\\K")->FindValue("dropped"));
  }

  TRegDocument doc;
  std::string error;
  EXPECT_FALSE(doc.Parse("garbage\x01\x02", error));
  EXPECT_EQ("line 1: the header line is missing", error);
  EXPECT_TRUE(doc.Keys().empty());
  EXPECT_FALSE(doc.Parse("Windows Registry Editor Version 5.00\r\n\"a\"=\"x\"\r\n", error));
  EXPECT_EQ("line 2: a value before the first key", error);
  std::string many = "x\r\n";
  for (int i = 0; i < 8; ++i) many += "junk\r\n";
  EXPECT_FALSE(doc.Parse(many, error));
  EXPECT_NE(std::string::npos, error.find("line 5: not a key or value line; 4 more")) << error;
  EXPECT_TRUE(doc.Parse("", error));  // an empty file holds no settings
  EXPECT_TRUE(doc.Parse("\r\n  \n", error));
}

TEST(RegDocument, ValueDataThatDoesNotParseIsKeptAndReadsAsTheWrongType) {
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n";
  for (const std::string data : {"dword:0", "dword:0000001", "dword:123456789", "dword:", "dword:0000000g",
                                 "hex:01,0", "hex:01,", "hex(zz):01", "hexa"}) {
    const std::string text = header + "\"a\"=" + data + "\r\n\"b\"=dword:0000000a\r\n\r\n";
    TRegDocument doc;
    std::string error;
    EXPECT_TRUE(doc.Parse(text, error)) << data << ": " << error;
    const TRegKey* k = doc.FindKey("HKEY_CURRENT_USER\\K");
    ASSERT_NE(nullptr, k);
    EXPECT_EQ(10, ReadIntegerValue(k->FindValue("b"), "b", 0));
    EXPECT_THROW(ReadIntegerValue(k->FindValue("a"), "a", 0), ETrawlexError) << data;
    EXPECT_THROW(ReadStringValue(k->FindValue("a"), "a", ""), ETrawlexError) << data;
    char buf[8];
    EXPECT_THROW(ReadBytesValue(k->FindValue("a"), "a", buf, 8, nullptr), ETrawlexError) << data;
    EXPECT_EQ(text, doc.FormatText()) << data;  // written back as it stood
  }
}

TEST(RegDocument, KeysBelowAndDeletion) {
  TRegDocument doc;
  doc.CreateKey(Key + "\\A\\Deep");
  doc.CreateKey(Key + "\\b");
  doc.CreateKey(Key + "x");  // a sibling whose name merely starts alike
  EXPECT_EQ((std::vector<std::string>{"A", "b"}), doc.SubKeyNames(Key));
  EXPECT_TRUE(doc.KeyExists(Key + "\\a"));
  doc.DeleteKey(Key + "\\a");
  EXPECT_FALSE(doc.KeyExists(Key + "\\A\\Deep"));
  EXPECT_EQ(std::vector<std::string>{"b"}, doc.SubKeyNames(Key));
  EXPECT_NE(nullptr, doc.FindKey(Key + "x"));
}

}  // namespace
}  // namespace trawlex
