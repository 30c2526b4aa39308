#include "ctl/json.h"

#include <cstdio>

#include "ctl/utf8.h"

namespace tactra::ctl {

Json Json::Bool(bool v) {
  Json j;
  j.kind_ = Kind::Bool;
  j.bool_ = v;
  return j;
}

Json Json::Number(int64_t v) {
  Json j;
  j.kind_ = Kind::Number;
  j.number_ = v;
  return j;
}

Json Json::String(std::string v) {
  Json j;
  j.kind_ = Kind::String;
  j.string_ = std::move(v);
  return j;
}

Json Json::Array() {
  Json j;
  j.kind_ = Kind::Array;
  return j;
}

Json Json::Object() {
  Json j;
  j.kind_ = Kind::Object;
  return j;
}

Json& Json::Add(Json item) {
  items_.push_back(std::move(item));
  return *this;
}

Json& Json::Set(const std::string& key, Json value) {
  for (auto& member : members_) {
    if (member.first == key) {
      member.second = std::move(value);
      return *this;
    }
  }
  members_.emplace_back(key, std::move(value));
  return *this;
}

const Json* Json::Find(const std::string& key) const {
  if (kind_ != Kind::Object) return nullptr;
  for (const auto& member : members_) {
    if (member.first == key) return &member.second;
  }
  return nullptr;
}

namespace {

void WriteString(const std::string& s, std::string& out) {
  out += '"';
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

}  // namespace

std::string Json::Write() const {
  std::string out;
  WriteTo(out);
  return out;
}

void Json::WriteTo(std::string& out) const {
  switch (kind_) {
    case Kind::Null:
      out += "null";
      break;
    case Kind::Bool:
      out += bool_ ? "true" : "false";
      break;
    case Kind::Number:
      out += std::to_string(number_);
      break;
    case Kind::String:
      WriteString(string_, out);
      break;
    case Kind::Array:
      out += '[';
      for (std::size_t i = 0; i < items_.size(); ++i) {
        if (i) out += ',';
        items_[i].WriteTo(out);
      }
      out += ']';
      break;
    case Kind::Object:
      out += '{';
      for (std::size_t i = 0; i < members_.size(); ++i) {
        if (i) out += ',';
        WriteString(members_[i].first, out);
        out += ':';
        members_[i].second.WriteTo(out);
      }
      out += '}';
      break;
  }
}

namespace {

constexpr int kMaxDepth = 16;

class Parser {
 public:
  Parser(const std::string& text, std::string& error) : text_(text), error_(error) {}

  std::optional<Json> Document() {
    std::optional<Json> value = Value(0);
    if (!value) return std::nullopt;
    Space();
    if (at_ != text_.size()) return Fail("text after the value");
    return value;
  }

 private:
  std::nullopt_t Fail(const char* what) {
    if (error_.empty()) error_ = std::string(what) + " at byte " + std::to_string(at_);
    return std::nullopt;
  }
  void Space() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }
  bool Take(char c) {
    Space();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(const char* word) {
    std::size_t n = 0;
    while (word[n]) ++n;
    if (text_.compare(at_, n, word) != 0) return false;
    at_ += n;
    return true;
  }

  std::optional<Json> Value(int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    Space();
    if (at_ >= text_.size()) return Fail("a value expected");
    const char c = text_[at_];
    if (c == '{') return Object(depth);
    if (c == '[') return Array(depth);
    if (c == '"') {
      std::optional<std::string> s = String();
      if (!s) return std::nullopt;
      return Json::String(std::move(*s));
    }
    if (c == '-' || (c >= '0' && c <= '9')) return Number();
    if (Word("null")) return Json();
    if (Word("true")) return Json::Bool(true);
    if (Word("false")) return Json::Bool(false);
    return Fail("a value expected");
  }

  std::optional<Json> Number() {
    const bool negative = text_[at_] == '-';
    if (negative) ++at_;
    const std::size_t first = at_;
    uint64_t magnitude = 0;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      const auto digit = static_cast<uint64_t>(text_[at_] - '0');
      if (magnitude > (UINT64_MAX - digit) / 10) return Fail("number too large");
      magnitude = magnitude * 10 + digit;
      ++at_;
    }
    if (at_ == first) return Fail("a digit expected");
    if (text_[first] == '0' && at_ - first > 1) return Fail("a leading zero");
    if (at_ < text_.size() && (text_[at_] == '.' || text_[at_] == 'e' || text_[at_] == 'E'))
      return Fail("not a whole number");
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (magnitude > limit) return Fail("number too large");
    const int64_t value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return Json::Number(value);
  }

  std::optional<unsigned> Hex4() {
    if (text_.size() - at_ < 4) return std::nullopt;
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[at_++];
      v <<= 4;
      if (h >= '0' && h <= '9') {
        v |= static_cast<unsigned>(h - '0');
      } else if (h >= 'a' && h <= 'f') {
        v |= static_cast<unsigned>(h - 'a' + 10);
      } else if (h >= 'A' && h <= 'F') {
        v |= static_cast<unsigned>(h - 'A' + 10);
      } else {
        return std::nullopt;
      }
    }
    return v;
  }

  std::optional<std::string> String() {
    ++at_;  // the opening quote
    std::wstring wide;
    std::string raw;
    while (true) {
      if (at_ >= text_.size()) return Fail("an unterminated string");
      const char c = text_[at_];
      if (c == '"') {
        ++at_;
        break;
      }
      if (static_cast<unsigned char>(c) < 0x20) return Fail("a control character in a string");
      if (c != '\\') {
        raw += c;
        ++at_;
        continue;
      }
      ++at_;
      if (at_ >= text_.size()) return Fail("an unterminated string");
      const char e = text_[at_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          raw += e;
          break;
        case 'b':
          raw += '\b';
          break;
        case 'f':
          raw += '\f';
          break;
        case 'n':
          raw += '\n';
          break;
        case 'r':
          raw += '\r';
          break;
        case 't':
          raw += '\t';
          break;
        case 'u': {
          std::optional<unsigned> unit = Hex4();
          if (!unit) return Fail("a bad \\u escape");
          char32_t code = *unit;
          if (code >= 0xD800 && code <= 0xDBFF) {
            std::optional<unsigned> low;
            if (Word("\\u")) low = Hex4();
            if (!low || *low < 0xDC00 || *low > 0xDFFF) return Fail("a lone surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
          } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return Fail("a lone surrogate");
          }
          std::wstring one;
          if (sizeof(wchar_t) == 2 && code >= 0x10000) {
            one += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            one += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
          } else {
            one += static_cast<wchar_t>(code);
          }
          raw += ToUtf8(one);
          break;
        }
        default:
          return Fail("a bad escape");
      }
    }
    // Only well-formed UTF-8 is taken.
    if (ToUtf8(FromUtf8(raw)) != raw) return Fail("ill-formed UTF-8 in a string");
    return raw;
  }

  std::optional<Json> Array(int depth) {
    ++at_;
    Json array = Json::Array();
    if (Take(']')) return array;
    while (true) {
      std::optional<Json> item = Value(depth + 1);
      if (!item) return std::nullopt;
      array.Add(std::move(*item));
      if (Take(']')) return array;
      if (!Take(',')) return Fail("',' or ']' expected");
    }
  }

  std::optional<Json> Object(int depth) {
    ++at_;
    Json object = Json::Object();
    if (Take('}')) return object;
    while (true) {
      Space();
      if (at_ >= text_.size() || text_[at_] != '"') return Fail("a key expected");
      std::optional<std::string> key = String();
      if (!key) return std::nullopt;
      if (object.Find(*key)) return Fail("a repeated key");
      if (!Take(':')) return Fail("':' expected");
      std::optional<Json> value = Value(depth + 1);
      if (!value) return std::nullopt;
      object.Set(*key, std::move(*value));
      if (Take('}')) return object;
      if (!Take(',')) return Fail("',' or '}' expected");
    }
  }

  const std::string& text_;
  std::string& error_;
  std::size_t at_ = 0;
};

}  // namespace

std::optional<Json> ParseJson(const std::string& text, std::string& error) {
  error.clear();
  return Parser(text, error).Document();
}

}  // namespace tactra::ctl
