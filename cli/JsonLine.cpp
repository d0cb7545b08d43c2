#include "cli/JsonLine.h"

#include <cstdio>

namespace vornel::cli {

namespace {

// Length of the valid UTF-8 sequence starting at text[at]; 0 when there is none.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  std::uint32_t point = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    point = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    point = lead & 0x07u;
  } else {
    return 0;
  }
  if (at + length > text.size())
    return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80)
      return 0;
    point = (point << 6) | (next & 0x3Fu);
  }
  const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
  const bool invalid = point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF);
  return overlong || invalid ? 0 : length;
}

} // namespace

std::string JsonString(const std::string& bytes) {
  std::string out = "\"";
  for (std::size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else if (c >= 0x80) {
      const std::size_t length = Utf8Length(bytes, i);
      if (length > 0) {
        out.append(bytes, i, length);
        i += length;
        continue;
      }
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  return out + "\"";
}

void JsonLine::Key(const std::string& key) {
  text_ += text_.empty() ? "{" : ",";
  text_ += JsonString(key) + ":";
}

JsonLine& JsonLine::Add(const std::string& key, const std::string& value) {
  Key(key);
  text_ += JsonString(value);
  return *this;
}

JsonLine& JsonLine::Add(const std::string& key, std::int64_t value) {
  Key(key);
  text_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Add(const std::string& key, std::uint64_t value) {
  Key(key);
  text_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Add(const std::string& key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

} // namespace vornel::cli
