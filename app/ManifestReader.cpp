#include "app/ManifestReader.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_set>

namespace vornel {

namespace {

// The manifest is split into views of its text: a set of thousands of lines is read before any
// archive can be checked, so the reading allocates only for what it keeps.

// Plain decimal as the packer writes it: no sign, no leading zeros, no blanks.
std::optional<std::uint64_t> PlainUnsigned(std::string_view text) {
  if (text.empty() || (text.size() > 1 && text[0] == '0') || text.size() > 19)
    return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

std::optional<std::uint32_t> ParseCrc(std::string_view text) {
  const auto value = PlainUnsigned(text);
  if (!value || *value > std::numeric_limits<std::uint32_t>::max())
    return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

std::optional<std::int32_t> ParseSigned32(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  const auto value = PlainUnsigned(negative ? text.substr(1) : text);
  if (!value || (negative && *value == 0))
    return std::nullopt;
  const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  if (*value > limit)
    return std::nullopt;
  return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(*value)
                                            : static_cast<std::int64_t>(*value));
}

using Fields = std::array<std::string_view, 4>;

// Splits "a|b|c" from the right into count fields, the first keeping any further "|".
std::optional<Fields> SplitFromRight(std::string_view text, std::size_t count) {
  Fields fields;
  std::size_t end = text.size();
  for (std::size_t i = count - 1; i > 0; --i) {
    const std::size_t bar = end == 0 ? std::string_view::npos : text.rfind('|', end - 1);
    if (bar == std::string_view::npos)
      return std::nullopt;
    fields[i] = text.substr(bar + 1, end - bar - 1);
    end = bar;
  }
  fields[0] = text.substr(0, end);
  return fields;
}

// A path the client can follow without leaving the upload folder.
bool SafeRelativePath(std::string_view path) {
  if (path.empty() || path.find(':') != std::string_view::npos ||
      path.find('/') != std::string_view::npos)
    return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..")
      return false;
    if (end == path.size())
      return true;
    start = end + 1;
  }
}

std::string ToHostPath(std::string_view listed) {
  std::string path(listed);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string FoldCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Lines end in CR LF. A line ending in LF alone is still taken as a line (so that one such line is
// one problem, not a shift of every line after it); a lone CR within a line is a problem too.
std::vector<std::string_view> SplitLines(std::string_view text, ParsedManifest& result) {
  std::vector<std::string_view> lines;
  lines.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      result.Problems.push_back(
          {static_cast<std::int32_t>(lines.size()), "the last line does not end with CR LF"});
      break;
    }
    const bool crlf = end > start && text[end - 1] == '\r';
    lines.push_back(text.substr(start, end - start - (crlf ? 1 : 0)));
    if (!crlf)
      result.Problems.push_back(
          {static_cast<std::int32_t>(lines.size()), "the line ends with LF alone, not CR LF"});
    start = end + 1;
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find('\r') != std::string_view::npos)
      result.Problems.push_back({static_cast<std::int32_t>(i + 1), "a lone CR splits this line"});
  }
  return lines;
}

class Parser {
public:
  explicit Parser(ParsedManifest& result) : result_(result) {}

  void Parse(const std::string& text) {
    if (text.empty()) {
      Problem(0, "the file is empty");
      return;
    }
    lines_ = SplitLines(text, result_);
    seen_.reserve(lines_.size());
    ExpectExact(1, "[self]");
    ParseSelf(2);
    ExpectExact(3, "[misc]");
    if (ExpectPrefix(4, "Server="))
      result_.Server = std::string(lines_[3].substr(7));
    ExpectPrefix(5, "ModifyHost=");
    ExpectExact(6, "[files]");
    const std::optional<std::int32_t> fcount = ParseFcount(7);
    std::int32_t fileLines = 0;
    std::uint64_t nextIndex = 1;
    for (std::size_t i = 7; i < lines_.size(); ++i) {
      if (ParseFileLine(static_cast<std::int32_t>(i + 1), nextIndex))
        ++fileLines;
    }
    result_.Fcount = fcount;
    result_.FileLines = fileLines;
    if (fcount && *fcount < fileLines)
      Problem(7, "fcount=" + std::to_string(*fcount) + " is less than the " +
                     std::to_string(fileLines) + " F lines");
  }

private:
  void Problem(std::int32_t line, const std::string& text) {
    result_.Problems.push_back({line, text});
  }

  const std::string_view* Line(std::int32_t number, const std::string& expected) {
    if (static_cast<std::size_t>(number) > lines_.size()) {
      Problem(number, "missing; " + expected + " was expected");
      return nullptr;
    }
    return &lines_[static_cast<std::size_t>(number - 1)];
  }

  void ExpectExact(std::int32_t number, const std::string& expected) {
    const std::string_view* line = Line(number, "\"" + expected + "\"");
    if (line && *line != expected)
      Problem(number, "\"" + expected + "\" was expected");
  }

  bool ExpectPrefix(std::int32_t number, const std::string& prefix) {
    const std::string_view* line = Line(number, "\"" + prefix + "...\"");
    if (!line)
      return false;
    if (line->starts_with(prefix))
      return true;
    Problem(number, "\"" + prefix + "...\" was expected");
    return false;
  }

  std::optional<std::int32_t> ParseFcount(std::int32_t number) {
    const std::string_view* line = Line(number, "\"fcount=...\"");
    if (!line)
      return std::nullopt;
    const auto value = line->starts_with("fcount=") ? ParseSigned32(line->substr(7)) : std::nullopt;
    if (!value || *value < 0) {
      Problem(number, "\"fcount=\" and a count were expected");
      return std::nullopt;
    }
    return value;
  }

  void ParseSelf(std::int32_t number) {
    const std::string_view* line = Line(number, "\"IAM=...\"");
    if (!line)
      return;
    const auto fields =
        line->starts_with("IAM=") ? SplitFromRight(line->substr(4), 3) : std::nullopt;
    if (!fields) {
      Problem(number, "\"IAM=name|crc|size\" was expected");
      return;
    }
    const std::string_view name = (*fields)[0];
    if (name.empty() || name.find_first_of("\\/:") != std::string_view::npos) {
      Problem(number, "the self-file name \"" + std::string(name) + "\" is not a bare file name");
      return;
    }
    Listed(number, true, std::string(name), (*fields)[1], (*fields)[2]);
  }

  // The number of the F line at 0-based position i; nothing when there is none.
  std::optional<std::uint64_t> IndexOfLine(std::size_t i) const {
    if (i >= lines_.size())
      return std::nullopt;
    const std::string_view line = lines_[i];
    const std::size_t equals = line.find('=');
    if (line.empty() || line[0] != 'F' || equals == std::string_view::npos)
      return std::nullopt;
    return PlainUnsigned(line.substr(1, equals - 1));
  }

  // True when the line is an F line at all (whatever its number). A number out of step is one
  // problem: the count goes on from the number found, so the lines after it are judged by it.
  bool ParseFileLine(std::int32_t number, std::uint64_t& expectedIndex) {
    const std::string_view line = lines_[static_cast<std::size_t>(number - 1)];
    const std::size_t equals = line.find('=');
    if (line.empty() || line[0] != 'F' || equals == std::string_view::npos) {
      Problem(number, "an F line was expected");
      return false;
    }
    const auto index = PlainUnsigned(line.substr(1, equals - 1));
    if (!index) {
      Problem(number, "an F line was expected");
      return false;
    }
    if (*index != expectedIndex) {
      Problem(number, std::string("F").append(std::to_string(expectedIndex)) +
                          " was expected here, not F" + std::to_string(*index));
      // A line left out or added shifts the rest: count on from the number found. A line whose
      // number alone is wrong does not: the next line bears the count out.
      const auto next = IndexOfLine(static_cast<std::size_t>(number));
      if (!next || *next != expectedIndex + 1)
        expectedIndex = *index;
    }
    ++expectedIndex;
    const auto fields = SplitFromRight(line.substr(equals + 1), 4);
    if (!fields || (*fields)[3] != "n") {
      Problem(number, "\"F" + std::to_string(*index) + "=path|crc|size|n\" was expected");
      return true;
    }
    if (!SafeRelativePath((*fields)[0])) {
      Problem(number, "the path \"" + std::string((*fields)[0]) +
                          "\" is not a relative path below the folder");
      return true;
    }
    Listed(number, false, ToHostPath((*fields)[0]), (*fields)[1], (*fields)[2]);
    return true;
  }

  void Listed(std::int32_t number, bool self, std::string path, std::string_view crc,
              std::string_view size) {
    const auto crcValue = ParseCrc(crc);
    const auto sizeValue = ParseSigned32(size);
    if (!crcValue)
      Problem(number, "\"" + std::string(crc) + "\" is not a CRC-32");
    if (!sizeValue)
      Problem(number, "\"" + std::string(size) + "\" is not an archive size");
    if (!crcValue || !sizeValue)
      return;
    // The client's file system ignores letter case, so such twins would overwrite each other.
    if (!seen_.insert(FoldCase(path)).second)
      Problem(number, "\"" + path + "\" is listed more than once");
    result_.Archives.push_back({number, self, std::move(path), *crcValue, *sizeValue});
  }

  ParsedManifest& result_;
  std::vector<std::string_view> lines_;
  std::unordered_set<std::string> seen_;
};

} // namespace

ParsedManifest ParseManifest(const std::string& text) {
  ParsedManifest result;
  Parser(result).Parse(text);
  std::stable_sort(
      result.Problems.begin(), result.Problems.end(),
      [](const ManifestProblem& a, const ManifestProblem& b) { return a.Line < b.Line; });
  return result;
}

} // namespace vornel
