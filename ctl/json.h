// The JSON the tool prints and the backup file it reads back: null, booleans, whole numbers,
// UTF-8 strings, arrays and objects whose members keep their order.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tactra::ctl {

class Json {
 public:
  enum class Kind { Null, Bool, Number, String, Array, Object };

  Json() = default;
  static Json Bool(bool v);
  static Json Number(int64_t v);
  static Json String(std::string v);
  static Json Array();
  static Json Object();

  Kind kind() const { return kind_; }
  bool isNull() const { return kind_ == Kind::Null; }
  bool boolean() const { return bool_; }
  int64_t number() const { return number_; }
  const std::string& string() const { return string_; }
  const std::vector<Json>& items() const { return items_; }
  const std::vector<std::pair<std::string, Json>>& members() const { return members_; }

  // Appends to an array or an object.
  Json& Add(Json item);
  Json& Set(const std::string& key, Json value);
  // The member `key` of an object; null when it is missing or this is no object.
  const Json* Find(const std::string& key) const;

  // One line, without spaces.
  std::string Write() const;

 private:
  void WriteTo(std::string& out) const;

  Kind kind_ = Kind::Null;
  bool bool_ = false;
  int64_t number_ = 0;
  std::string string_;
  std::vector<Json> items_;
  std::vector<std::pair<std::string, Json>> members_;
};

// The whole text as one value, or nothing: a syntax error, a fraction or exponent, a number
// outside 64 bits, a repeated key, ill-formed UTF-8, nesting deeper than 16, or anything after
// the value but white space. `error` says what and where.
std::optional<Json> ParseJson(const std::string& text, std::string& error);

}  // namespace tactra::ctl
