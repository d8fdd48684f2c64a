// The .reg file parser: what each line form stores, which inputs fail with
// which line and message, the bounds, and how its values meet the
// configuration loader.
#include "platform/regedit_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/config_loader.h"

namespace qov::platform {
namespace {

using Type = RegValue::Type;

constexpr const char* kKey = "\\Software\\Vopa\\QOV Lumo";
const std::string kHead = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\n";

std::string Describe(const std::optional<RegeditError>& e) {
  return e ? std::to_string(e->line) + ": " + e->message : "no error";
}

// ---- What each value form stores ----

struct ValueCase {
  const char* line;  // one value line under the configuration key
  const char* name;  // the value name it sets
  Type type;
  std::uint32_t dword;
  std::string text;
};

void ExpectValues(const std::string& head, const std::vector<ValueCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    MemoryRegistry reg;
    const auto error = ParseRegedit(head + c.line + "\n", reg);
    ASSERT_FALSE(error) << Describe(error);
    const auto v = reg.Get(kKey, c.name);
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->type, c.type);
    if (c.type == Type::Dword) {
      EXPECT_EQ(v->dword, c.dword);
    }
    if (c.type == Type::String) {
      EXPECT_EQ(v->text, c.text);
    }
  }
}

TEST(RegeditValues, TextDwordAndDefaultValueLines) {
  ExpectValues(kHead, {
      {R"("v"="text")", "v", Type::String, 0, "text"},
      {R"("v"="")", "v", Type::String, 0, ""},
      {R"("v"="semi;colon = [x] @")", "v", Type::String, 0, "semi;colon = [x] @"},
      {R"("v"="  inner blanks kept  ")", "v", Type::String, 0, "  inner blanks kept  "},
      {R"("v"=dword:0000002a)", "v", Type::Dword, 42, ""},
      {R"("v"=dword:1)", "v", Type::Dword, 1, ""},
      {R"("v"=dword:FFFFFFFF)", "v", Type::Dword, 0xFFFFFFFFu, ""},
      {R"("v"=DWORD:00aBcD)", "v", Type::Dword, 0xABCDu, ""},
      {R"("v" = dword:5)", "v", Type::Dword, 5, ""},
      {"\t  \"v\"=dword:6  \t", "v", Type::Dword, 6, ""},
      {R"("V"=dword:7)", "v", Type::Dword, 7, ""},  // names compare without case
      {R"(@="default")", "", Type::String, 0, "default"},
      {R"(""="also the default")", "", Type::String, 0, "also the default"},
  });
}

TEST(RegeditValues, EscapesInNamesAndText) {
  ExpectValues(kHead, {
      {R"("v"="c:\\qov_log.txt")", "v", Type::String, 0, "c:\\qov_log.txt"},
      {R"("v"="say \"hi\"")", "v", Type::String, 0, "say \"hi\""},
      {R"("v"="\\\"\\")", "v", Type::String, 0, "\\\"\\"},
      {R"("v"="ends in \\")", "v", Type::String, 0, "ends in \\"},
      {R"("na\"me"="x")", "na\"me", Type::String, 0, "x"},
      {R"("back\\slash"=dword:1)", "back\\slash", Type::Dword, 1, ""},
  });
}

TEST(RegeditValues, HexValuesTakeTheTypeWindowsReadsThemAs) {
  ExpectValues(kHead, {
      {R"("v"=hex:01,02,ff)", "v", Type::Other, 0, ""},
      {R"("v"=hex:)", "v", Type::Other, 0, ""},
      {R"("v"=hex(0):)", "v", Type::Other, 0, ""},
      {R"("v"=hex(3):01)", "v", Type::Other, 0, ""},
      {R"("v"=hex(4):2c,01,00,00)", "v", Type::Dword, 300, ""},
      {R"("v"=HEX(00000004):ff,ff,ff,7f)", "v", Type::Dword, 0x7FFFFFFFu, ""},
      {R"("v"=hex(4):2c,01)", "v", Type::Other, 0, ""},              // a DWORD of the wrong size
      {R"("v"=hex(4):2c,01,00,00,00)", "v", Type::Other, 0, ""},
      {R"("v"=hex(5):00,00,01,2c)", "v", Type::Other, 0, ""},        // big-endian DWORD
      {R"("v"=hex(b):01,00,00,00,00,00,00,00)", "v", Type::Other, 0, ""},  // QWORD
      {R"("v"=hex(7):41,00,00,00)", "v", Type::Other, 0, ""},        // multi-string
      {R"("v"=hex(2):43,4f,4d,35,00)", "v", Type::String, 0, "COM5"},
      {R"("v"=hex(1):41,00,42)", "v", Type::String, 0, "A"},          // up to the first NUL
      {R"("v"=hex(2):)", "v", Type::String, 0, ""},
      {R"("v"=hex: 1 , a,ff)", "v", Type::Other, 0, ""},               // one-digit bytes and blanks
      {"\"v\"=hex(2):43,4f,\\\n  4d,35,00", "v", Type::String, 0, "COM5"},
      {"\"v\"=hex(2):\\\r\n  43,\\\r\n  4f,4d,\\\n35", "v", Type::String, 0, "COM5"},
  });
}

TEST(RegeditValues, Version5TextInHexIsUtf16TurnedIntoUtf8) {
  const std::string head = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\n";
  ExpectValues(head, {
      {R"("v"=hex(2):43,00,4f,00,4d,00,35,00,00,00)", "v", Type::String, 0, "COM5"},
      {R"("v"=hex(2):41,00,e9,00,00,00,42,00)", "v", Type::String, 0, "A\xC3\xA9"},
      {R"("v"=hex(1):ac,20)", "v", Type::String, 0, "\xE2\x82\xAC"},
      {R"("v"=hex(1):3d,d8,00,de)", "v", Type::String, 0, "\xF0\x9F\x98\x80"},  // a surrogate pair
      {R"("v"=hex(1):3d,d8,41,00)", "v", Type::String, 0, "\xEF\xBF\xBD" "A"},  // a lone surrogate
      {R"("v"="plain text stays as written")", "v", Type::String, 0, "plain text stays as written"},
      {R"("v"=hex(4):01,00,00,00)", "v", Type::Dword, 1, ""},
  });
}

// ---- File structure ----

TEST(RegeditStructure, HeadersLineEndsCommentsAndKeyForms) {
  struct Case {
    const char* what;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"REGEDIT4 and LF", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\n\"v\"=dword:1\n"},
      {"version 5 header", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\n\"v\"=dword:1"},
      {"CR LF", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\r\n\"v\"=dword:1\r\n"},
      {"UTF-8 byte order mark", "\xEF\xBB\xBFREGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\n\"v\"=dword:1\n"},
      {"blanks after the header", "REGEDIT4  \n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\n\"v\"=dword:1\n"},
      {"comments and blank lines", "REGEDIT4\n; one\n\n   ; two\n\t\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\n"
                                   "; three\n\"v\"=dword:1\n;\n"},
      {"short root", "REGEDIT4\n[HKLM\\Software\\Vopa\\QOV Lumo]\n\"v\"=dword:1\n"},
      {"root in any case", "REGEDIT4\n[hkey_local_machine\\Software\\Vopa\\QOV Lumo]\n\"v\"=dword:1\n"},
      {"key in another case", "REGEDIT4\n[HKLM\\SOFTWARE\\vopa\\qov lumo]\n\"v\"=dword:1\n"},
      {"blanks around the key line", "REGEDIT4\n  [HKLM\\Software\\Vopa\\QOV Lumo]  \n\"v\"=dword:1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryRegistry reg;
    const auto error = ParseRegedit(c.text, reg);
    ASSERT_FALSE(error) << Describe(error);
    const auto v = reg.Get(kKey, "v");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->dword, 1u);
  }
}

TEST(RegeditStructure, KeysAreCreatedWithTheirParentsAndValuesGoToTheLastKey) {
  MemoryRegistry reg;
  const auto error = ParseRegedit(
      "REGEDIT4\n[HKLM\\Software\\A\\B]\n\"v\"=\"in b\"\n[HKLM\\Software\\C]\n\"v\"=\"in c\"\n"
      "[HKEY_LOCAL_MACHINE\\Empty]\n[HKLM]\n\"v\"=\"in the root\"\n",
      reg);
  ASSERT_FALSE(error) << Describe(error);
  EXPECT_TRUE(reg.KeyExists("\\Software"));
  EXPECT_TRUE(reg.KeyExists("\\Software\\A"));
  EXPECT_TRUE(reg.KeyExists("\\Empty"));
  EXPECT_EQ(reg.Get("\\Software\\A\\B", "v")->text, "in b");
  EXPECT_EQ(reg.Get("\\Software\\C", "v")->text, "in c");
  EXPECT_EQ(reg.Get("", "v")->text, "in the root");
  EXPECT_FALSE(reg.Get("\\Software\\A", "v"));
}

TEST(RegeditStructure, LaterLinesOverrideAndDeleteEarlierOnes) {
  MemoryRegistry reg;
  const auto error = ParseRegedit(kHead +
                                      "\"over\"=dword:1\n"
                                      "\"OVER\"=\"now text\"\n"
                                      "\"binary\"=hex:00\n"
                                      "\"binary\"=dword:2\n"
                                      "\"gone\"=dword:3\n"
                                      "\"gone\"=-\n"
                                      "\"never there\"=-\n"
                                      "@=\"default\"\n"
                                      "@=-\n"
                                      "\"back\"=dword:4\n"
                                      "\"back\"=-\n"
                                      "\"back\"=dword:5\n",
                                  reg);
  ASSERT_FALSE(error) << Describe(error);
  EXPECT_EQ(reg.Get(kKey, "over")->type, Type::String);
  EXPECT_EQ(reg.Get(kKey, "over")->text, "now text");
  EXPECT_EQ(reg.Get(kKey, "binary")->type, Type::Dword);
  EXPECT_FALSE(reg.Get(kKey, "gone"));
  EXPECT_FALSE(reg.Get(kKey, ""));
  EXPECT_EQ(reg.Get(kKey, "back")->dword, 5u);
  auto key = reg.Open(kKey, false);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ValueNames(), (std::vector<std::string>{"over", "binary", "back"}));
}

TEST(RegeditStructure, DeletedKeyTakesItsSubkeysAndValuesAndCanComeBack) {
  MemoryRegistry reg;
  const auto error = ParseRegedit(
      "REGEDIT4\n[HKLM\\Software\\Vopa\\QOV Lumo]\n\"v\"=dword:1\n[HKLM\\Software\\Other]\n\"w\"=dword:2\n"
      "[-HKLM\\Software\\Vopa]\n[-HKLM\\Software\\Never]\n[HKLM\\Software\\Vopa\\QOV Lumo\\Sub]\n",
      reg);
  ASSERT_FALSE(error) << Describe(error);
  EXPECT_FALSE(reg.Get(kKey, "v"));  // the key is back, empty
  EXPECT_TRUE(reg.KeyExists(kKey));
  EXPECT_TRUE(reg.KeyExists("\\Software\\Vopa\\QOV Lumo\\Sub"));
  EXPECT_EQ(reg.Get("\\Software\\Other", "w")->dword, 2u);
}

TEST(RegeditStructure, LinesBeforeAnErrorHaveBeenApplied) {
  MemoryRegistry reg;
  const auto error = ParseRegedit(kHead + "\"a\"=dword:1\n\"b\"=dword:x\n\"c\"=dword:3\n", reg);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->line, 4);
  EXPECT_EQ(reg.Get(kKey, "a")->dword, 1u);
  EXPECT_FALSE(reg.Get(kKey, "b"));
  EXPECT_FALSE(reg.Get(kKey, "c"));
}

// ---- Errors: the first one, with its line ----

struct ErrorCase {
  std::string text;
  int line;
  std::string message;
};

void ExpectErrors(const std::vector<ErrorCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    MemoryRegistry reg;
    const auto error = ParseRegedit(c.text, reg);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->line, c.line);
    EXPECT_EQ(error->message, c.message);
  }
}

const std::string kBadHeader = "the first line must be \"REGEDIT4\" or \"Windows Registry Editor Version 5.00\"";

TEST(RegeditErrors, Header) {
  ExpectErrors({
      {"", 1, "the file is empty; its first line must be \"REGEDIT4\""},
      {"REGEDIT5\n", 1, kBadHeader},
      {"regedit4\n", 1, kBadHeader},
      {"Windows Registry Editor Version 4.00\n", 1, kBadHeader},
      {"\n" + kHead, 1, kBadHeader},
      {"; comment\nREGEDIT4\n", 1, kBadHeader},
      {"[HKLM\\Software]\nREGEDIT4\n", 1, kBadHeader},
      {"\xFF\xFER\0E\0", 1, "the file is UTF-16 text; save it as 8-bit text"},
      {"\xFE\xFF\0R\0E", 1, "the file is UTF-16 text; save it as 8-bit text"},
  });
}

TEST(RegeditErrors, Keys) {
  const std::string root = "the key's root \"";
  ExpectErrors({
      {"REGEDIT4\n\"a\"=dword:1\n", 2, "value outside a key: a [HKEY_LOCAL_MACHINE\\...] line must come first"},
      {"REGEDIT4\n\n@=\"x\"\n", 3, "value outside a key: a [HKEY_LOCAL_MACHINE\\...] line must come first"},
      {"REGEDIT4\n[HKLM\\a]\n[-HKLM\\a]\n\"a\"=dword:1\n", 4,
       "value outside a key: a [HKEY_LOCAL_MACHINE\\...] line must come first"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Vopa]\n", 2, root + "HKEY_CURRENT_USER\" is not HKEY_LOCAL_MACHINE"},
      {"REGEDIT4\n[HKCU\\Software]\n", 2, root + "HKCU\" is not HKEY_LOCAL_MACHINE"},
      {"REGEDIT4\n[-HKEY_USERS\\x]\n", 2, root + "HKEY_USERS\" is not HKEY_LOCAL_MACHINE"},
      {"REGEDIT4\n[Software\\Vopa\\QOV Lumo]\n", 2, root + "Software\" is not HKEY_LOCAL_MACHINE"},
      {"REGEDIT4\n[\\Software\\Vopa]\n", 2, root + "\" is not HKEY_LOCAL_MACHINE"},
      {"REGEDIT4\n[]\n", 2, root + "\" is not HKEY_LOCAL_MACHINE"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINEX\\a]\n", 2, root + "HKEY_LOCAL_MACHINEX\" is not HKEY_LOCAL_MACHINE"},
      {"REGEDIT4\n[HKLM\\Software\\Vopa\n", 2, "unterminated key: no closing ']'"},
      {"REGEDIT4\n[HKLM\\a] ; note\n", 2, "text after the key's closing ']'"},
      {"REGEDIT4\n[HKLM\\a\\\\b]\n", 2, "empty key name in the path"},
      {"REGEDIT4\n[HKLM\\a\\]\n", 2, "empty key name in the path"},
      {"REGEDIT4\n[HKLM\\]\n", 2, "empty key name in the path"},
      {"REGEDIT4\n[-HKLM]\n", 2, "HKEY_LOCAL_MACHINE itself cannot be deleted"},
  });
}

TEST(RegeditErrors, StringsAndEscapes) {
  ExpectErrors({
      {kHead + "\"a\"=\"abc\n", 3, "unterminated string: no closing '\"'"},
      {kHead + "\"a\"=\"abc\\\"\n", 3, "unterminated string: no closing '\"'"},
      {kHead + "\"a\"=\"abc\\\n", 3, "unterminated string: no closing '\"'"},
      {kHead + "\"abc=dword:1\n", 3, "unterminated string: no closing '\"'"},
      {kHead + "\"a\"=\"line\\nbreak\"\n", 3, "bad escape \"\\n\" in a string: only \\\\ and \\\" are allowed"},
      {kHead + "\"a\"=\"c:\\qov_log.txt\"\n", 3, "bad escape \"\\q\" in a string: only \\\\ and \\\" are allowed"},
      {kHead + "\"a\\t\"=\"x\"\n", 3, "bad escape \"\\t\" in a string: only \\\\ and \\\" are allowed"},
      {kHead + "\"a\"=\"x\" y\n", 3, "text after the value's closing '\"'"},
      {kHead + "\"a\"=\"x\"\"\"\n", 3, "text after the value's closing '\"'"},
  });
}

TEST(RegeditErrors, ValueForms) {
  const std::string unknown = "unknown value type: expected \"text\", dword:, hex:, hex(N): or -";
  ExpectErrors({
      {kHead + "\"a\"=dword:\n", 3, "dword value without hex digits"},
      {kHead + "\"a\"=dword:12g4\n", 3, "dword value with a character that is not a hex digit"},
      {kHead + "\"a\"=dword:-1\n", 3, "dword value with a character that is not a hex digit"},
      {kHead + "\"a\"=dword:0x10\n", 3, "dword value with a character that is not a hex digit"},
      {kHead + "\"a\"=dword:1 2\n", 3, "dword value with a character that is not a hex digit"},
      {kHead + "\"a\"=dword:123456789\n", 3, "dword value with more than 8 hex digits"},
      {kHead + "\"a\"=dword:000000001\n", 3, "dword value with more than 8 hex digits"},
      {kHead + "\"a\"\n", 3, "missing '=' after the value name"},
      {kHead + "\"a\" dword:1\n", 3, "missing '=' after the value name"},
      {kHead + "@\n", 3, "missing '=' after the value name"},
      {kHead + "\"a\"=\n", 3, "missing value after '='"},
      {kHead + "\"a\"=word:1\n", 3, unknown},
      {kHead + "\"a\"=42\n", 3, unknown},
      {kHead + "\"a\"=--\n", 3, unknown},
      {kHead + "\"a\"=hexa\n", 3, unknown},
      {kHead + "\"a\"=hex(zz):00\n", 3, "bad type in hex(N): N must be 1 to 8 hex digits"},
      {kHead + "\"a\"=hex():00\n", 3, "bad type in hex(N): N must be 1 to 8 hex digits"},
      {kHead + "\"a\"=hex(4:00\n", 3, "bad type in hex(N): N must be 1 to 8 hex digits"},
      {kHead + "\"a\"=hex(123456789):00\n", 3, "bad type in hex(N): N must be 1 to 8 hex digits"},
      {kHead + "\"a\"=hex:zz\n", 3, "bad hex byte: expected 1 or 2 hex digits"},
      {kHead + "\"a\"=hex:01,,02\n", 3, "bad hex byte: expected 1 or 2 hex digits"},
      {kHead + "\"a\"=hex:,01\n", 3, "bad hex byte: expected 1 or 2 hex digits"},
      {kHead + "\"a\"=hex:123\n", 3, "bad hex data: bytes must be separated by ','"},
      {kHead + "\"a\"=hex:01 02\n", 3, "bad hex data: bytes must be separated by ','"},
      {kHead + "\"a\"=hex:01\\\n02\n", 3, "bad hex data: bytes must be separated by ','"},
      {kHead + "\"a\"=hex:01,\n", 3, "hex data ends with ','"},
      {kHead + "\"a\"=hex:01,\\\n\n\"b\"=dword:1\n", 4, "hex data ends with ','"},
      {kHead + "\"a\"=hex:01,\\\n  02,\\\n  zz\n", 5, "bad hex byte: expected 1 or 2 hex digits"},
      {kHead + "\"a\"=hex:01,\\\n", 3, "hex data continues past the end of the file"},
      {kHead + "\"a\"=hex:01,\\", 3, "hex data continues past the end of the file"},
  });
}

TEST(RegeditErrors, OtherLinesAndNulBytes) {
  ExpectErrors({
      {kHead + "garbage\n", 3, "not a key, value or comment line"},
      {kHead + "=dword:1\n", 3, "not a key, value or comment line"},
      {kHead + "# not a comment\n", 3, "not a key, value or comment line"},
      {kHead + "a=\"x\"\n", 3, "not a key, value or comment line"},
      {"REGEDIT4\r\n\r\n[HKLM\\a]\r\nbad\r\n", 4, "not a key, value or comment line"},
      {std::string("REGEDIT4\0\n", 10), 1, "NUL byte in the line"},
      {kHead + std::string("\"a\"=\"x\0y\"\n", 10), 3, "NUL byte in the line"},
      {kHead + std::string("; comment \0\n", 12), 3, "NUL byte in the line"},
      {kHead + std::string("\"a\"=hex:01,\\\n\0", 14), 4, "NUL byte in the line"},
  });
}

// ---- Bounds ----

TEST(RegeditBounds, FileAndLineSizes) {
  const std::string longest_comment = ";" + std::string(kMaxRegeditLineBytes - 1, 'x');
  MemoryRegistry reg;
  EXPECT_FALSE(ParseRegedit(kHead + longest_comment + "\n\"v\"=dword:1\n", reg));
  EXPECT_FALSE(ParseRegedit(kHead + longest_comment + "\r\n", reg)) << "the CR is part of the line end";

  // Exactly at the bound, in comment lines of 64 KiB.
  std::string full = kHead;
  while (full.size() < kMaxRegeditFileBytes) {
    const std::size_t chunk = std::min<std::size_t>(kMaxRegeditFileBytes - full.size(), 65536);
    full.append(chunk - 1, ';');
    full += '\n';
  }
  ASSERT_EQ(full.size(), kMaxRegeditFileBytes);
  EXPECT_FALSE(ParseRegedit(full, reg));
  ExpectErrors({
      {full + "\n", 0, "the file is larger than 16 MiB"},
      {kHead + longest_comment + "x\n", 3, "the line is longer than 1 MiB"},
      {kHead + "\"v\"=hex:01,\\\n" + std::string(kMaxRegeditLineBytes + 1, ' '), 4, "the line is longer than 1 MiB"},
  });
}

TEST(RegeditBounds, KeyAndValueCounts) {
  std::string values = kHead;
  for (int i = 0; i < kMaxRegeditValueLines; ++i) values += "\"v\"=dword:1\n";
  std::string keys = "REGEDIT4\n";
  for (int i = 0; i < kMaxRegeditKeyLines; ++i) keys += "[HKLM\\k" + std::to_string(i) + "]\n";
  MemoryRegistry reg;
  EXPECT_FALSE(ParseRegedit(values, reg));
  EXPECT_FALSE(ParseRegedit(keys, reg));
  ExpectErrors({
      {values + "\"v\"=-\n", 3 + kMaxRegeditValueLines, "more than 1024 value lines"},
      {keys + "[-HKLM\\k0]\n", 2 + kMaxRegeditKeyLines, "more than 256 key lines"},
  });
}

TEST(RegeditBounds, KeyDepthAndNameLength) {
  std::string deepest = "HKLM";
  for (int i = 0; i < kMaxRegeditKeyDepth; ++i) deepest += "\\k";
  const std::string longest = "HKLM\\" + std::string(kMaxRegeditKeyNameBytes, 'n');
  MemoryRegistry reg;
  EXPECT_FALSE(ParseRegedit("REGEDIT4\n[" + deepest + "]\n[" + longest + "]\n", reg));
  ExpectErrors({
      {"REGEDIT4\n[" + deepest + "\\k]\n", 2, "key path deeper than 32 levels"},
      {"REGEDIT4\n[" + longest + "n]\n", 2, "key name longer than 255 characters"},
  });
}

TEST(RegeditErrorText, NamesFileAndLine) {
  EXPECT_EQ(FormatRegeditError("/etc/qov_lumo/qov_lumo.reg", {7, "bad thing"}), "/etc/qov_lumo/qov_lumo.reg:7: bad thing");
  EXPECT_EQ(FormatRegeditError("big.reg", {0, "too big"}), "big.reg: too big");
}

// ---- With the configuration loader ----

TEST(RegeditWithLoader, WrongTypesKeepTheirDefaultsAsFromTheRegistry) {
  MemoryRegistry reg;
  const auto error = ParseRegedit(kHead +
                                      "\"reset_comp\"=hex:01\n"
                                      "\"check_fail_loop_count\"=hex(b):05,00,00,00,00,00,00,00\n"
                                      "\"qov_com_port\"=hex(7):43,4f,4d,35,00,00\n"
                                      "\"check_fail_period_s\"=\"30\"\n"
                                      "\"connection_name\"=dword:1\n"
                                      "\"log_file_max_size\"=hex(4):00,08,00,00\n"
                                      "\"program_ctrl_process_name\"=hex(2):74,65,6c,00\n",
                                  reg);
  ASSERT_FALSE(error) << Describe(error);
  const config::LoadResult r = config::LoadConfig(reg);
  const config::TParamRec defaults;
  EXPECT_EQ(r.params.reset_comp, defaults.reset_comp);
  EXPECT_EQ(r.params.check_fail_loop_count, defaults.check_fail_loop_count);
  EXPECT_EQ(r.params.qov_com_port, defaults.qov_com_port);
  EXPECT_EQ(r.params.check_fail_period_s, defaults.check_fail_period_s);
  EXPECT_EQ(r.params.connection_name, defaults.connection_name);
  EXPECT_EQ(r.params.log_file_max_size, 2048);             // a REG_DWORD written as hex(4)
  EXPECT_EQ(r.params.program_ctrl_process_name, "tel");   // a REG_EXPAND_SZ, taken literally
  EXPECT_EQ(r.wrong_type_values, (std::vector<std::string>{"connection_name", "check_fail_period_s",
                                                           "check_fail_loop_count", "reset_comp", "qov_com_port"}));
  EXPECT_EQ(config::WrongTypeMessage(r.wrong_type_values.back()),
            "Invalid data type for 'qov_com_port', default kept");
}

TEST(RegeditWithLoader, LastValueCountsAndDeletedValuesReturnToDefault) {
  MemoryRegistry reg;
  const auto error = ParseRegedit(kHead +
                                      "\"qov_com_port\"=\"COM1\"\n"
                                      "\"wait_time_after_start_s\"=dword:0\n"
                                      "\"check_addr_count\"=dword:2\n"
                                      "\"check_addr_1\"=\"ICMP - 192.0.2.1\"\n"
                                      "\"qov_com_port\"=\"ttyUSB0\"\n"
                                      "\"check_addr_1\"=-\n",
                                  reg);
  ASSERT_FALSE(error) << Describe(error);
  const config::LoadResult r = config::LoadConfig(reg);
  EXPECT_TRUE(r.wrong_type_values.empty());
  EXPECT_EQ(r.params.qov_com_port, "ttyUSB0");
  EXPECT_EQ(r.params.wait_time_after_start_s, 1);  // the loader's clamp still applies
  EXPECT_EQ(r.params.check_addr_count, 2);
  EXPECT_EQ(r.params.check_addr[0], "");  // entry 0 absent: empty, not the default
  EXPECT_EQ(r.params.check_addr[1], "");
}

}  // namespace
}  // namespace qov::platform
