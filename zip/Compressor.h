#pragma once

// Which deflate implementation writes entry data, and at what level. Every one of them writes a
// plain raw deflate stream that any inflater reads; they differ in size and time. zlib is always
// there; libdeflate and zopfli only when they were found at build time.

#include <optional>
#include <stdexcept>
#include <string>

namespace vornel {

enum class CompressorKind { Zlib, Libdeflate, Zopfli };

// The level means zlib's or libdeflate's compression level, or zopfli's number of iterations.
struct CompressorChoice {
  CompressorKind Kind = CompressorKind::Zlib;
  int Level = 9;

  bool operator==(const CompressorChoice&) const = default;
};

// A compressor name or level that cannot be used; the message is one line for the user.
class ECompressorChoice : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

const char* CompressorName(CompressorKind kind);
bool CompressorBuiltIn(CompressorKind kind);
// zlib 9, libdeflate 12, zopfli 15 iterations.
int DefaultCompressorLevel(CompressorKind kind);

// The level a word names, in any letter case, as the archive verbs take them: none 0,
// superfast and fast 1, normal 6, maximum the compressor's highest. Nothing for another word,
// and for zopfli, whose level counts iterations.
std::optional<int> LevelOfWord(const std::string& word, CompressorKind kind);
inline constexpr const char* LevelWords = "none, superfast, fast, normal, maximum";

// The choice for a name ("zlib", "libdeflate", "zopfli") and a level text (a number or a word
// of LevelOfWord; empty: the compressor's default). Raises ECompressorChoice for an unknown
// name, a compressor this program was built without, or a level outside the compressor's range.
CompressorChoice ParseCompressorChoice(const std::string& name, const std::string& level);

// "zlib 1.2.13 level 9", "libdeflate 1.14 level 12", "zopfli iterations 15": what decides the
// bytes written, as far as the program can tell.
std::string DescribeCompressor(const CompressorChoice& choice);

} // namespace vornel
