#include "cli/Json.h"

#include <cstdio>

namespace {

// Length of the UTF-8 sequence at text[i], or 0 when it is not one.
size_t Utf8Length(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (lead >= 0xF5 || length == 0 || i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k)
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  // No overlong forms, surrogates or code points beyond U+10FFFF.
  if ((lead == 0xE0 && byte(i + 1) < 0xA0) || (lead == 0xED && byte(i + 1) > 0x9F) ||
      (lead == 0xF0 && byte(i + 1) < 0x90) || (lead == 0xF4 && byte(i + 1) > 0x8F))
    return 0;
  return length;
}

bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const size_t length = Utf8Length(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace

std::string JsonString(const std::string& text) {
  const bool utf8 = IsUtf8(text);
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || (u >= 0x80 && !utf8)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

TJsonObject& TJsonObject::Raw(const std::string& key, const std::string& json) {
  if (!body_.empty()) body_ += ",";
  body_ += JsonString(key) + ":" + json;
  return *this;
}

TJsonObject& TJsonObject::Text(const std::string& key, const std::string& value) {
  return Raw(key, JsonString(value));
}

TJsonObject& TJsonObject::TextOrNull(const std::string& key, const std::string& value) {
  return Raw(key, value.empty() ? "null" : JsonString(value));
}

TJsonObject& TJsonObject::Number(const std::string& key, long value) {
  return Raw(key, std::to_string(value));
}

TJsonObject& TJsonObject::TextList(const std::string& key, const std::vector<std::string>& values) {
  std::string list;
  for (const std::string& v : values) list += (list.empty() ? "" : ",") + JsonString(v);
  return Raw(key, "[" + list + "]");
}

TJsonObject& TJsonObject::Objects(const std::string& key, const std::vector<TJsonObject>& values) {
  std::string list;
  for (const TJsonObject& v : values) list += (list.empty() ? "" : ",") + v.Str();
  return Raw(key, "[" + list + "]");
}
