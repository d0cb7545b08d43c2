#include "app/ManifestReader.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>
#include <set>

namespace vornel {

namespace {

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

// Plain decimal as the packer writes it: no sign, no leading zeros, no blanks.
std::optional<std::uint64_t> PlainUnsigned(const std::string& text) {
  if (!AllDigits(text) || (text.size() > 1 && text[0] == '0') || text.size() > 19)
    return std::nullopt;
  return std::stoull(text);
}

std::optional<std::uint32_t> ParseCrc(const std::string& text) {
  const auto value = PlainUnsigned(text);
  if (!value || *value > std::numeric_limits<std::uint32_t>::max())
    return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

std::optional<std::int32_t> ParseSigned32(const std::string& text) {
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

// Splits "a|b|c" from the right into count fields, the first keeping any further "|".
std::optional<std::vector<std::string>> SplitFromRight(const std::string& text, int count) {
  std::vector<std::string> fields(static_cast<std::size_t>(count));
  std::size_t end = text.size();
  for (int i = count - 1; i > 0; --i) {
    const std::size_t bar = end == 0 ? std::string::npos : text.rfind('|', end - 1);
    if (bar == std::string::npos)
      return std::nullopt;
    fields[static_cast<std::size_t>(i)] = text.substr(bar + 1, end - bar - 1);
    end = bar;
  }
  fields[0] = text.substr(0, end);
  return fields;
}

// A path the client can follow without leaving the upload folder.
bool SafeRelativePath(const std::string& path) {
  if (path.empty() || path.find(':') != std::string::npos || path.find('/') != std::string::npos)
    return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..")
      return false;
    if (end == path.size())
      return true;
    start = end + 1;
  }
}

std::string ToHostPath(std::string path) {
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
std::vector<std::string> SplitLines(const std::string& text, ParsedManifest& result) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
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
    if (lines[i].find('\r') != std::string::npos)
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
    ExpectExact(1, "[self]");
    ParseSelf(2);
    ExpectExact(3, "[misc]");
    if (ExpectPrefix(4, "Server="))
      result_.Server = lines_[3].substr(7);
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

  const std::string* Line(std::int32_t number, const std::string& expected) {
    if (static_cast<std::size_t>(number) > lines_.size()) {
      Problem(number, "missing; " + expected + " was expected");
      return nullptr;
    }
    return &lines_[static_cast<std::size_t>(number - 1)];
  }

  void ExpectExact(std::int32_t number, const std::string& expected) {
    const std::string* line = Line(number, "\"" + expected + "\"");
    if (line && *line != expected)
      Problem(number, "\"" + expected + "\" was expected");
  }

  bool ExpectPrefix(std::int32_t number, const std::string& prefix) {
    const std::string* line = Line(number, "\"" + prefix + "...\"");
    if (!line)
      return false;
    if (line->rfind(prefix, 0) == 0)
      return true;
    Problem(number, "\"" + prefix + "...\" was expected");
    return false;
  }

  std::optional<std::int32_t> ParseFcount(std::int32_t number) {
    const std::string* line = Line(number, "\"fcount=...\"");
    if (!line)
      return std::nullopt;
    const auto value =
        line->rfind("fcount=", 0) == 0 ? ParseSigned32(line->substr(7)) : std::nullopt;
    if (!value || *value < 0) {
      Problem(number, "\"fcount=\" and a count were expected");
      return std::nullopt;
    }
    return value;
  }

  void ParseSelf(std::int32_t number) {
    const std::string* line = Line(number, "\"IAM=...\"");
    if (!line)
      return;
    const auto fields =
        line->rfind("IAM=", 0) == 0 ? SplitFromRight(line->substr(4), 3) : std::nullopt;
    if (!fields) {
      Problem(number, "\"IAM=name|crc|size\" was expected");
      return;
    }
    const std::string& name = (*fields)[0];
    if (name.empty() || name.find_first_of("\\/:") != std::string::npos) {
      Problem(number, "the self-file name \"" + name + "\" is not a bare file name");
      return;
    }
    Listed(number, true, name, (*fields)[1], (*fields)[2]);
  }

  // The number of the F line at 0-based position i; nothing when there is none.
  std::optional<std::uint64_t> IndexOfLine(std::size_t i) const {
    if (i >= lines_.size())
      return std::nullopt;
    const std::string& line = lines_[i];
    const std::size_t equals = line.find('=');
    if (line.empty() || line[0] != 'F' || equals == std::string::npos)
      return std::nullopt;
    return PlainUnsigned(line.substr(1, equals - 1));
  }

  // True when the line is an F line at all (whatever its number). A number out of step is one
  // problem: the count goes on from the number found, so the lines after it are judged by it.
  bool ParseFileLine(std::int32_t number, std::uint64_t& expectedIndex) {
    const std::string& line = lines_[static_cast<std::size_t>(number - 1)];
    const std::size_t equals = line.find('=');
    if (line.empty() || line[0] != 'F' || equals == std::string::npos) {
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
      Problem(number, "the path \"" + (*fields)[0] + "\" is not a relative path below the folder");
      return true;
    }
    Listed(number, false, ToHostPath((*fields)[0]), (*fields)[1], (*fields)[2]);
    return true;
  }

  void Listed(std::int32_t number, bool self, const std::string& path, const std::string& crc,
              const std::string& size) {
    const auto crcValue = ParseCrc(crc);
    const auto sizeValue = ParseSigned32(size);
    if (!crcValue)
      Problem(number, "\"" + crc + "\" is not a CRC-32");
    if (!sizeValue)
      Problem(number, "\"" + size + "\" is not an archive size");
    if (!crcValue || !sizeValue)
      return;
    // The client's file system ignores letter case, so such twins would overwrite each other.
    if (!seen_.insert(FoldCase(path)).second)
      Problem(number, "\"" + path + "\" is listed more than once");
    result_.Archives.push_back({number, self, path, *crcValue, *sizeValue});
  }

  ParsedManifest& result_;
  std::vector<std::string> lines_;
  std::set<std::string> seen_;
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
