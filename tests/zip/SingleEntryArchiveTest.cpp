#include "zip/SingleEntryArchive.h"
#include "tests/zip/ZipTestUtil.h"

#include <gtest/gtest.h>

namespace vornel::ziptest {
namespace {

// Text that deflate finds matches in, so its blocks differ from those of random bytes.
std::string Text(std::size_t size) {
  std::string text;
  for (unsigned i = 0; text.size() < size; ++i)
    text += "line " + std::to_string(i * 7919 % 1000) + " of the client's locale file\n";
  text.resize(size);
  return text;
}

// The archive written with its digest taken on the way is the one the component writes when it
// adds the same content to a new empty archive, for every compressor and level, and around each
// size where the writing changes (one deflate call, a full output buffer, the largest source
// held in memory, and beyond).
TEST(SingleEntryArchive, EqualsWhatTheComponentWrites) {
  std::vector<CompressorChoice> compressors;
  for (const int level : {0, 1, 6, 9})
    compressors.push_back({CompressorKind::Zlib, level});
  if (CompressorBuiltIn(CompressorKind::Libdeflate))
    compressors.push_back({CompressorKind::Libdeflate, 12});
  if (CompressorBuiltIn(CompressorKind::Zopfli))
    compressors.push_back({CompressorKind::Zopfli, 1});
  const std::vector<std::string> contents = {"",
                                             "x",
                                             Text(1000),
                                             test::RandomBytes(65533, 1),
                                             test::RandomBytes(70000, 2),
                                             Text(200000),
                                             Text(InMemoryPackLimit),
                                             test::RandomBytes(InMemoryPackLimit + 1, 3),
                                             Text(3000000)};
  for (const CompressorChoice& compressor : compressors) {
    for (const std::string& content : contents) {
      // zopfli takes seconds for the larger ones, and its whole-buffer path is libdeflate's.
      if (compressor.Kind == CompressorKind::Zopfli && content.size() > 1000)
        continue;
      if (content.size() > InMemoryPackLimit && compressor.Kind != CompressorKind::Zlib)
        continue; // the whole-buffer compressors' path is the same at every size
      for (const std::string name : {"dir\\readme.txt", "d\xC3\xA9j\xC3\xA0.txt"}) {
        SCOPED_TRACE(DescribeCompressor(compressor) + ", " + std::to_string(content.size()) +
                     " bytes, " + name);
        TPellum zip;
        zip.SetStoreRelativePath(false);
        zip.SetMarkUtf8Names(true);
        zip.SetCompressor(compressor);
        MemoryStream empty;
        zip.WriteEmptyArchive(empty);
        OpenBytes(zip, empty.Bytes());
        MemoryStream source(content);
        zip.Entries().AddEntry(name, 0x21, source, 45000.25);
        const std::string expected = ArchiveBytes(zip);
        MemoryStream streamedSource(content);
        MemoryStream target;
        const StreamedArchive streamed =
            WriteSingleEntryArchive(zip, target, name, 0x21, 45000.25, streamedSource,
                                    static_cast<std::int64_t>(content.size()));
        EXPECT_EQ(target.Bytes(), expected);
        EXPECT_EQ(streamed.Digest, DigestOfBytes(expected));
        EXPECT_EQ(streamed.Size, static_cast<std::int64_t>(expected.size()));
        EXPECT_EQ(streamed.Records.Central.Crc32, zip.Entries()[0].CentralHeader.Crc32);
      }
    }
  }
}

} // namespace
} // namespace vornel::ziptest
