#include "app/UpdateDiff.h"

#include <gtest/gtest.h>

namespace vornel {
namespace {

// A manifest of "path:crc:size" archives, the first the self file.
ParsedManifest Listing(const std::vector<std::string>& archives) {
  ParsedManifest manifest;
  for (const std::string& archive : archives) {
    const auto first = archive.find(':');
    const auto second = archive.find(':', first + 1);
    manifest.Archives.push_back(
        {static_cast<std::int32_t>(manifest.Archives.size() + 2), manifest.Archives.empty(),
         archive.substr(0, first),
         static_cast<std::uint32_t>(std::stoul(archive.substr(first + 1, second - first - 1))),
         std::stoi(archive.substr(second + 1))});
  }
  return manifest;
}

TEST(UpdateDiff, SortsEveryArchiveIntoItsKind) {
  const ParsedManifest before = Listing({"Teskor.exe:1:100", "data/same:2:200", "data/edit:3:300",
                                         "data/gone:4:400", "data/packed:5:500", "Data/Case:6:60"});
  const ParsedManifest after =
      Listing({"Teskor.exe:1:100", "data/same:2:200", "data/edit:33:310", "data/packed:5:450",
               "data/case:6:60", "data/fresh:7:700", "data/lost:8:-1"});
  const UpdateDiff diff = CompareManifests(before, after);

  std::vector<std::string> seen;
  for (const ArchiveChange& change : diff.Changes)
    seen.push_back(std::to_string(static_cast<int>(change.Kind)) + " " + change.Path + " " +
                   std::to_string(change.Size) + " " + std::to_string(change.OldSize));
  // New listing order first, the removed ones after in the old order; a path that changed only
  // in letter case is another archive on the server.
  EXPECT_EQ(seen,
            (std::vector<std::string>{"1 data/edit 310 300", "2 data/packed 450 500",
                                      "0 data/case 60 0", "0 data/fresh 700 0", "0 data/lost -1 0",
                                      "3 data/gone 400 0", "3 Data/Case 60 0"}));
  EXPECT_EQ(diff.Changes[0].OldCrc, 3u);
  EXPECT_EQ(diff.Changes[0].Crc, 33u);
  // Repacked content costs players nothing; an archive listed as missing (-1) counts no bytes.
  EXPECT_EQ(diff.DownloadBytes, 310 + 60 + 700);
  EXPECT_EQ(DownloadSummary(diff), "players download 4 archives, 1.0 KiB (3 new, 1 changed, "
                                   "2 removed)");
  EXPECT_EQ(diff.Repacked, 1);
}

TEST(UpdateDiff, SummaryOfAFirstBuildAndOfNoChange) {
  const ParsedManifest set = Listing({"Teskor.exe:1:1", "a:2:36175053"});
  EXPECT_EQ(BuildDownloadSummary({}, set),
            "players download 2 archives, 34.5 MiB (2 new, 0 changed, 0 removed)");
  EXPECT_EQ(BuildDownloadSummary(set, set),
            "players download 0 archives, 0 bytes (0 new, 0 changed, 0 removed)");
  EXPECT_EQ(BuildDownloadSummary(set, Listing({"Teskor.exe:9:1"})),
            "players download 1 archive, 1 byte (0 new, 1 changed, 1 removed)");
}

TEST(UpdateDiff, FormatsBytesInTheUnitThatFits) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "0 bytes"},          {1023, "1023 bytes"},       {1024, "1.0 KiB"},
      {1536, "1.5 KiB"},       {1048535, "1.0 MiB"},       {36175053, "34.5 MiB"},
      {2147483647, "2.0 GiB"}, {5497558138880, "5.0 TiB"}, {1125899906842624, "1024.0 TiB"}};
  for (const auto& [bytes, text] : cases)
    EXPECT_EQ(FormatBytes(bytes), text) << bytes;
}

} // namespace
} // namespace vornel
