#include "platform/regedit_file.h"

#include <cstdint>
#include <vector>

#include "platform/text.h"

namespace qov::platform {
namespace {

constexpr std::string_view kRegedit4 = "REGEDIT4";
constexpr std::string_view kRegedit5 = "Windows Registry Editor Version 5.00";

// Registry value types that Windows reads as a DWORD or as text.
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hex digits; nothing for anything else.
std::optional<std::uint32_t> HexNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : digits) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  return v;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16LE up to the first NUL as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint32_t> units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const std::uint32_t u = bytes[i] | static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    if (u == 0) break;
    units.push_back(u);
  }
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::uint32_t u = units[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u < 0xE000) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

class Parser {
 public:
  Parser(std::string_view text, RegeditTarget& target) : text_(text), target_(target) {}

  std::optional<RegeditError> Run() {
    if (text_.size() > kMaxRegeditFileBytes) return RegeditError{0, "the file is larger than 16 MiB"};
    if (text_.starts_with("\xFF\xFE") || text_.starts_with("\xFE\xFF")) {
      return RegeditError{1, "the file is UTF-16 text; save it as 8-bit text"};
    }
    if (text_.starts_with("\xEF\xBB\xBF")) pos_ = 3;  // a UTF-8 byte order mark, as editors write it
    std::string_view line;
    if (!Next(line)) {
      return error_ ? error_ : RegeditError{1, "the file is empty; its first line must be \"REGEDIT4\""};
    }
    line = Trim(line);
    if (line != kRegedit4 && line != kRegedit5) {
      return Fail("the first line must be \"REGEDIT4\" or \"Windows Registry Editor Version 5.00\"");
    }
    version5_ = line == kRegedit5;
    while (Next(line)) {
      if (auto error = Line(Trim(line))) return error;
    }
    return error_;
  }

 private:
  RegeditError Fail(std::string message) const { return RegeditError{line_, std::move(message)}; }

  // The next physical line without its line end; false at the end of the
  // text or when the line breaks a bound (error_ then says which).
  bool Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    ++line_;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.size() > kMaxRegeditLineBytes) {
      error_ = Fail("the line is longer than 1 MiB");
      return false;
    }
    if (line.find('\0') != std::string_view::npos) {
      error_ = Fail("NUL byte in the line");
      return false;
    }
    return true;
  }

  std::optional<RegeditError> Line(std::string_view line) {
    if (line.empty() || line.front() == ';') return std::nullopt;
    if (line.front() == '[') return KeyLine(line);
    if (line.front() == '"' || line.front() == '@') return ValueLine(line);
    return Fail("not a key, value or comment line");
  }

  std::optional<RegeditError> KeyLine(std::string_view line) {
    const std::size_t close = line.rfind(']');
    if (close == std::string_view::npos) return Fail("unterminated key: no closing ']'");
    if (close + 1 != line.size()) return Fail("text after the key's closing ']'");
    std::string_view inner = line.substr(1, close - 1);
    const bool remove = inner.starts_with('-');
    if (remove) inner.remove_prefix(1);

    const std::size_t slash = inner.find('\\');
    const std::string_view root = inner.substr(0, slash);
    if (!EqualsIgnoringCase(root, "HKEY_LOCAL_MACHINE") && !EqualsIgnoringCase(root, "HKLM")) {
      return Fail("the key's root \"" + std::string(root) + "\" is not HKEY_LOCAL_MACHINE");
    }
    std::string path;
    int depth = 0;
    if (slash != std::string_view::npos) {
      std::string_view rest = inner.substr(slash + 1);
      for (;;) {
        const std::size_t next = rest.find('\\');
        const std::string_view name = rest.substr(0, next);
        if (name.empty()) return Fail("empty key name in the path");
        if (name.size() > kMaxRegeditKeyNameBytes) return Fail("key name longer than 255 characters");
        if (++depth > kMaxRegeditKeyDepth) return Fail("key path deeper than 32 levels");
        path += '\\';
        path += name;
        if (next == std::string_view::npos) break;
        rest.remove_prefix(next + 1);
      }
    }
    if (remove && path.empty()) return Fail("HKEY_LOCAL_MACHINE itself cannot be deleted");
    if (++key_lines_ > kMaxRegeditKeyLines) return Fail("more than 256 key lines");

    if (remove) {
      if (auto refused = target_.DeleteKey(path)) return Fail(std::move(*refused));
      key_.reset();
    } else {
      if (auto refused = target_.CreateKey(path)) return Fail(std::move(*refused));
      key_ = std::move(path);
    }
    return std::nullopt;
  }

  std::optional<RegeditError> ValueLine(std::string_view line) {
    if (!key_) return Fail("value outside a key: a [HKEY_LOCAL_MACHINE\\...] line must come first");
    if (++value_lines_ > kMaxRegeditValueLines) return Fail("more than 1024 value lines");
    std::string name;  // empty: the key's default value
    std::size_t i = 1;
    if (line.front() == '"') {
      if (auto error = Quoted(line, i, name)) return error;
    }
    std::string_view rest = TrimLeft(line.substr(i));
    if (!rest.starts_with('=')) return Fail("missing '=' after the value name");
    rest = TrimLeft(rest.substr(1));

    if (rest.empty()) return Fail("missing value after '='");
    if (rest == "-") {
      if (auto refused = target_.DeleteValue(*key_, name)) return Fail(std::move(*refused));
      return std::nullopt;
    }
    RegValue value;
    if (rest.front() == '"') {
      i = 1;
      value.type = RegValue::Type::String;
      if (auto error = Quoted(rest, i, value.text)) return error;
      if (i != rest.size()) return Fail("text after the value's closing '\"'");
    } else if (StartsWithIgnoringCase(rest, "dword:")) {
      if (auto error = Dword(rest.substr(6), value)) return error;
    } else if (StartsWithIgnoringCase(rest, "hex")) {
      if (auto error = Hex(rest.substr(3), value)) return error;
    } else {
      return Fail("unknown value type: expected \"text\", dword:, hex:, hex(N): or -");
    }
    if (auto refused = target_.SetValue(*key_, name, value)) return Fail(std::move(*refused));
    return std::nullopt;
  }

  // A quoted string from just after its opening quote at `i`; leaves `i` just
  // after the closing quote.
  std::optional<RegeditError> Quoted(std::string_view s, std::size_t& i, std::string& out) const {
    for (; i < s.size(); ++i) {
      if (s[i] == '"') {
        ++i;
        return std::nullopt;
      }
      if (s[i] == '\\') {
        if (i + 1 >= s.size()) break;
        const char escaped = s[++i];
        if (escaped != '\\' && escaped != '"') {
          return Fail(std::string("bad escape \"\\") + escaped + "\" in a string: only \\\\ and \\\" are allowed");
        }
        out += escaped;
      } else {
        out += s[i];
      }
    }
    return Fail("unterminated string: no closing '\"'");
  }

  std::optional<RegeditError> Dword(std::string_view digits, RegValue& value) const {
    if (digits.empty()) return Fail("dword value without hex digits");
    for (char c : digits) {
      if (HexDigit(c) < 0) return Fail("dword value with a character that is not a hex digit");
    }
    if (digits.size() > 8) return Fail("dword value with more than 8 hex digits");
    value.type = RegValue::Type::Dword;
    value.dword = *HexNumber(digits);
    return std::nullopt;
  }

  // After "hex": an optional "(N)", ':', then bytes, continued on the next
  // line after a trailing '\'.
  std::optional<RegeditError> Hex(std::string_view rest, RegValue& value) {
    std::uint32_t type = kRegBinary;
    if (rest.starts_with('(')) {
      const std::size_t close = rest.find(')');
      const auto n = close == std::string_view::npos ? std::nullopt : HexNumber(rest.substr(1, close - 1));
      if (!n) return Fail("bad type in hex(N): N must be 1 to 8 hex digits");
      type = *n;
      rest.remove_prefix(close + 1);
    }
    if (!rest.starts_with(':')) return Fail("unknown value type: expected \"text\", dword:, hex:, hex(N): or -");
    rest.remove_prefix(1);

    std::vector<std::uint8_t> bytes;
    bool after_comma = false;
    for (;;) {
      bool continued = false;
      if (auto error = HexBytes(Trim(rest), bytes, after_comma, continued)) return error;
      if (!continued) break;
      if (!Next(rest)) return error_ ? error_ : Fail("hex data continues past the end of the file");
    }
    if (after_comma) return Fail("hex data ends with ','");

    if (type == kRegDword && bytes.size() == 4) {
      value.type = RegValue::Type::Dword;
      value.dword = bytes[0] | static_cast<std::uint32_t>(bytes[1]) << 8 | static_cast<std::uint32_t>(bytes[2]) << 16 |
                    static_cast<std::uint32_t>(bytes[3]) << 24;
    } else if (type == kRegSz || type == kRegExpandSz) {
      value.type = RegValue::Type::String;
      if (version5_) {
        value.text = Utf16LeToUtf8(bytes);
      } else {
        for (std::uint8_t b : bytes) {
          if (b == 0) break;
          value.text += static_cast<char>(b);
        }
      }
    } else {
      value.type = RegValue::Type::Other;
    }
    return std::nullopt;
  }

  // One line's part of the bytes "01,ab,..."; `continued` when it ends in a
  // '\' that stands where the next byte would.
  std::optional<RegeditError> HexBytes(std::string_view s, std::vector<std::uint8_t>& bytes, bool& after_comma,
                                       bool& continued) const {
    const bool at_start = bytes.empty() && !after_comma;
    bool expect_byte = at_start || after_comma;
    for (std::size_t i = 0; i < s.size();) {
      if (expect_byte) {
        if (s[i] == '\\' && i + 1 == s.size()) {
          continued = true;
          return std::nullopt;
        }
        const int high = HexDigit(s[i]);
        if (high < 0) return Fail("bad hex byte: expected 1 or 2 hex digits");
        int byte = high;
        if (++i < s.size() && HexDigit(s[i]) >= 0) byte = byte << 4 | HexDigit(s[i++]);
        bytes.push_back(static_cast<std::uint8_t>(byte));
        expect_byte = false;
        after_comma = false;
      } else if (s[i] == ',') {
        ++i;
        expect_byte = true;
        after_comma = true;
      } else {
        return Fail("bad hex data: bytes must be separated by ','");
      }
      while (i < s.size() && IsBlank(s[i])) ++i;
    }
    return std::nullopt;
  }

  std::string_view text_;
  RegeditTarget& target_;
  std::size_t pos_ = 0;
  int line_ = 0;
  std::optional<RegeditError> error_;  // a bound broken by the last line read
  bool version5_ = false;
  std::optional<std::string> key_;  // the key of the value lines; none before a key line and after a deletion
  int key_lines_ = 0;
  int value_lines_ = 0;
};

// Every step done on a registry in memory; none is refused.
class MemoryRegistryTarget final : public RegeditTarget {
 public:
  explicit MemoryRegistryTarget(MemoryRegistry& registry) : registry_(registry) {}
  std::optional<std::string> CreateKey(const std::string& path) override {
    registry_.Open(path, true);
    return std::nullopt;
  }
  std::optional<std::string> DeleteKey(const std::string& path) override {
    registry_.DeleteTree(path);
    return std::nullopt;
  }
  std::optional<std::string> SetValue(const std::string& path, const std::string& name,
                                      const RegValue& value) override {
    registry_.Set(path, name, value);
    return std::nullopt;
  }
  std::optional<std::string> DeleteValue(const std::string& path, const std::string& name) override {
    registry_.DeleteValue(path, name);
    return std::nullopt;
  }

 private:
  MemoryRegistry& registry_;
};

}  // namespace

std::optional<RegeditError> ParseRegedit(std::string_view text, RegeditTarget& target) {
  return Parser(text, target).Run();
}

std::optional<RegeditError> ParseRegedit(std::string_view text, MemoryRegistry& registry) {
  MemoryRegistryTarget target(registry);
  return Parser(text, target).Run();
}

std::string FormatRegeditError(const std::string& file, const RegeditError& error) {
  if (error.line <= 0) return file + ": " + error.message;
  return file + ":" + std::to_string(error.line) + ": " + error.message;
}

}  // namespace qov::platform
