#pragma once

// One JSON object on one line, for build pipelines that read events from standard output.

#include <cstdint>
#include <string>

namespace vornel::cli {

class JsonLine {
public:
  JsonLine& Add(const std::string& key, const std::string& value);
  JsonLine& Add(const std::string& key, const char* value) { return Add(key, std::string(value)); }
  JsonLine& Add(const std::string& key, std::int64_t value);
  JsonLine& Add(const std::string& key, std::uint64_t value);
  JsonLine& Add(const std::string& key, std::int32_t value) {
    return Add(key, static_cast<std::int64_t>(value));
  }
  JsonLine& Add(const std::string& key, std::uint32_t value) {
    return Add(key, static_cast<std::uint64_t>(value));
  }
  JsonLine& Add(const std::string& key, bool value);
  // The object with its closing brace, no line end.
  std::string Text() const { return text_.empty() ? "{}" : text_ + "}"; }

private:
  void Key(const std::string& key);
  std::string text_;
};

// A JSON string literal. Names are bytes in the client's code page, not always UTF-8: a byte
// that does not start a valid UTF-8 sequence is written as the character of the same number.
std::string JsonString(const std::string& bytes);

} // namespace vornel::cli
