#include "zip/Compressor.h"

#include <cctype>
#include <charconv>
#include <zlib.h>

#ifdef VORNEL_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace vornel {

namespace {

struct LevelRange {
  int Lowest;
  int Highest;
};

LevelRange LevelsOf(CompressorKind kind) {
  switch (kind) {
  case CompressorKind::Libdeflate:
    return {1, 12};
  case CompressorKind::Zopfli:
    // Beyond a few hundred iterations zopfli finds next to nothing, at hours per file.
    return {1, 1000};
  case CompressorKind::Zlib:
    break;
  }
  return {0, 9};
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

} // namespace

const char* CompressorName(CompressorKind kind) {
  switch (kind) {
  case CompressorKind::Libdeflate:
    return "libdeflate";
  case CompressorKind::Zopfli:
    return "zopfli";
  case CompressorKind::Zlib:
    break;
  }
  return "zlib";
}

bool CompressorBuiltIn(CompressorKind kind) {
  switch (kind) {
  case CompressorKind::Libdeflate:
#ifdef VORNEL_HAVE_LIBDEFLATE
    return true;
#else
    return false;
#endif
  case CompressorKind::Zopfli:
#ifdef VORNEL_HAVE_ZOPFLI
    return true;
#else
    return false;
#endif
  case CompressorKind::Zlib:
    break;
  }
  return true;
}

int DefaultCompressorLevel(CompressorKind kind) {
  switch (kind) {
  case CompressorKind::Libdeflate:
    return 12;
  case CompressorKind::Zopfli:
    return 15;
  case CompressorKind::Zlib:
    break;
  }
  return 9;
}

std::optional<int> LevelOfWord(const std::string& word, CompressorKind kind) {
  if (kind == CompressorKind::Zopfli)
    return std::nullopt;
  std::string lower = word;
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "none")
    return 0;
  if (lower == "superfast" || lower == "fast")
    return 1;
  if (lower == "normal")
    return 6; // zlib's own default level
  if (lower == "maximum")
    return LevelsOf(kind).Highest;
  return std::nullopt;
}

CompressorChoice ParseCompressorChoice(const std::string& name, const std::string& level) {
  CompressorChoice choice;
  if (name == "zlib")
    choice.Kind = CompressorKind::Zlib;
  else if (name == "libdeflate")
    choice.Kind = CompressorKind::Libdeflate;
  else if (name == "zopfli")
    choice.Kind = CompressorKind::Zopfli;
  else
    throw ECompressorChoice("Unknown compressor " + Quoted(name) +
                            "; the compressors are zlib, libdeflate and zopfli");
  if (!CompressorBuiltIn(choice.Kind))
    throw ECompressorChoice("The compressor " + Quoted(name) +
                            " is not built into this vornel (it was not found when vornel was "
                            "compiled)");
  const LevelRange range = LevelsOf(choice.Kind);
  const std::string what = choice.Kind == CompressorKind::Zopfli ? "number of iterations" : "level";
  const std::string span = std::to_string(range.Lowest) + " to " + std::to_string(range.Highest);
  if (level.empty()) {
    choice.Level = DefaultCompressorLevel(choice.Kind);
    return choice;
  }
  const char* end = level.data() + level.size();
  const auto [stop, error] = std::from_chars(level.data(), end, choice.Level);
  bool read = error == std::errc() && stop == end;
  if (!read)
    if (const auto worded = LevelOfWord(level, choice.Kind)) {
      choice.Level = *worded;
      read = true;
    }
  if (!read || choice.Level < range.Lowest || choice.Level > range.Highest)
    throw ECompressorChoice(
        "The " + what + " " + Quoted(level) + " does not suit " + name + "; it takes " + span +
        (choice.Kind == CompressorKind::Zopfli ? std::string() : std::string(" or ") + LevelWords));
  return choice;
}

std::string DescribeCompressor(const CompressorChoice& choice) {
  const std::string level = std::to_string(choice.Level);
  switch (choice.Kind) {
  case CompressorKind::Libdeflate:
#ifdef VORNEL_HAVE_LIBDEFLATE
    return std::string("libdeflate ") + LIBDEFLATE_VERSION_STRING + " level " + level;
#else
    return "libdeflate level " + level;
#endif
  case CompressorKind::Zopfli:
    return "zopfli iterations " + level;
  case CompressorKind::Zlib:
    break;
  }
  return std::string("zlib ") + zlibVersion() + " level " + level;
}

} // namespace vornel
