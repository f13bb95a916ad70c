// A JSON object written key by key, on one line.
#pragma once

#include <string>
#include <vector>

// `text` as a JSON string. Valid UTF-8 passes as it is; any other byte of 128
// or more is taken as Latin-1 (the INI file is 8-bit text).
std::string JsonString(const std::string& text);

class TJsonObject {
 public:
  TJsonObject& Text(const std::string& key, const std::string& value);
  TJsonObject& TextOrNull(const std::string& key, const std::string& value);  // "" is null
  TJsonObject& Number(const std::string& key, long value);
  TJsonObject& TextList(const std::string& key, const std::vector<std::string>& values);
  TJsonObject& Objects(const std::string& key, const std::vector<TJsonObject>& values);
  std::string Str() const { return "{" + body_ + "}"; }

 private:
  TJsonObject& Raw(const std::string& key, const std::string& json);
  std::string body_;
};
