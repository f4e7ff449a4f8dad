#include <gtest/gtest.h>

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
      doc.Format());
}

TEST(RegDocument, LongBlocksWrapAndParseBack) {
  TRegDocument doc;
  std::string block;
  for (int i = 0; i < 300; ++i) block += static_cast<char>(i * 7);
  doc.CreateKey(Key).PutValue(MakeBinaryValue("lstResults.Font", block.data(), block.size()));
  const std::string text = doc.Format();
  size_t longest = 0, start = 0;
  for (size_t eol; (eol = text.find("\r\n", start)) != std::string::npos; start = eol + 2) {
    longest = std::max(longest, eol - start);
  }
  EXPECT_LE(longest, 80u);
  TRegDocument back;
  std::string error;
  ASSERT_TRUE(back.Parse(text, error)) << error;
  EXPECT_EQ(block, back.FindKey(Key)->FindValue("lstresults.font")->Data);
  EXPECT_EQ(text, back.Format());
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

TEST(RegDocument, RefusesWhatIsNotAnExport) {
  const std::string header = "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\K]\r\n";
  const struct {
    std::string text;
    const char* why;
  } cases[] = {
      {"garbage\x01\x02", "the header line is missing"},
      {"REGEDIT4\r\n", "the header line is missing"},
      {"Windows Registry Editor Version 5.00\r\n\"a\"=\"x\"\r\n", "a value before the first key"},
      {header + "\"a\"=\"unterminated\r\n", "the text has no closing quote"},
      {header + "\"a\"=hex:01,02,\\\r\n", "continuation line that is missing"},
      {header + "\"a\"=hex:01,0", "two hexadecimal digits"},
      {header + "\"a\"=hex:01,", "a byte is missing"},
      {header + "\"a\"=dword:123456789", "up to 8 hexadecimal digits"},
      {header + "\"a\"=dword:", "up to 8 hexadecimal digits"},
      {header + "\"a\"=qword:01", "unknown type"},
      {header + "\"a\"=-", "deleting values"},
      {header + "[-HKEY_CURRENT_USER\\K]", "deleting keys"},
      {header + "[HKEY_CURRENT_USER\\K", "must end with"},
      {header + "\"a\"\r\n", "\"=\" is missing"},
      {header + "\"a", "no closing quote"},
      {header + "junk line", "not a key or value line"},
  };
  for (const auto& c : cases) {
    TRegDocument doc;
    std::string error;
    EXPECT_FALSE(doc.Parse(c.text, error)) << c.text;
    EXPECT_NE(std::string::npos, error.find(c.why)) << error;
    EXPECT_TRUE(doc.Keys().empty());
  }
  TRegDocument empty;
  std::string error;
  EXPECT_TRUE(empty.Parse("", error));  // an empty file holds no settings
  EXPECT_TRUE(empty.Parse("\r\n  \n", error));
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
