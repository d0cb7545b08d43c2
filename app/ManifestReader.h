#pragma once

// Reading updates.lst back the way the client updater would, noting every departure from the
// layout the packer writes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vornel {

struct ListedArchive {
  std::int32_t Line = 0;    // 1-based line of updates.lst
  bool IsSelf = false;      // the IAM line
  std::string RelativePath; // the file's path below the upload folder, "/"-separated
  std::uint32_t Crc = 0;
  std::int32_t Size = 0;
};

struct ManifestProblem {
  std::int32_t Line = 0; // 0: the file as a whole
  std::string Text;
};

struct ParsedManifest {
  std::vector<ListedArchive> Archives; // the self file first, then the F lines in order
  std::vector<ManifestProblem> Problems;
  std::optional<std::int32_t> Fcount; // the "fcount=" value, when it could be read
  std::int32_t FileLines = 0;         // lines read as F lines
  std::string Server;                 // the "Server=" value, where the players' updater looks
};

ParsedManifest ParseManifest(const std::string& text);

} // namespace vornel
