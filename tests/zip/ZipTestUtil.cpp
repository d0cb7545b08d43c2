#include "tests/zip/ZipTestUtil.h"

#include "tests/support/TestSupport.h"
#include "zip/RecordIo.h"

#include <memory>

namespace vornel::ziptest {

std::string BuildArchive(const std::vector<Item>& items, const std::string& comment,
                         Layout* layout) {
  MemoryStream out;
  std::vector<TCentralDirectoryFile> central;
  Layout where;
  for (const Item& item : items) {
    TLocalFile local;
    local.LocalFileHeaderSignature = LocalFileHeaderSignature;
    local.VersionNeededToExtract = 20;
    local.GeneralPurposeBitFlag = static_cast<std::uint16_t>(item.flag | (item.descriptor ? 8 : 0));
    local.LastModFileTime = item.time;
    local.LastModFileDate = item.date;
    const std::uint32_t crc = TPellumEntries::StringCrc32(item.data);
    const auto size = static_cast<std::uint32_t>(item.data.size());
    if (!item.descriptor) {
      local.Crc32 = crc;
      local.CompressedSize = size;
      local.UncompressedSize = size;
    }
    local.FilenameLength = static_cast<std::uint16_t>(item.name.size());
    local.ExtraFieldLength = static_cast<std::uint16_t>(item.localExtra.size());
    local.FileName = item.name;
    local.ExtraField = item.localExtra;
    local.FileData = item.data;
    where.localOffsets.push_back(static_cast<std::uint32_t>(out.Position()));
    WriteLocalRecord(out, local, true);
    if (item.descriptor) {
      unsigned char descriptor[16];
      const std::uint32_t values[4] = {DataDescriptorSignature, crc, size, size};
      for (int v = 0; v < 4; ++v)
        for (int b = 0; b < 4; ++b)
          descriptor[v * 4 + b] = static_cast<unsigned char>(values[v] >> (8 * b));
      out.Write(descriptor + 16 - item.descriptor, static_cast<std::size_t>(item.descriptor));
    }
    TCentralDirectoryFile header;
    header.CentralFileHeaderSignature = CentralFileHeaderSignature;
    header.VersionMadeBy = 20;
    header.VersionNeededToExtract = 20;
    header.GeneralPurposeBitFlag = local.GeneralPurposeBitFlag;
    header.LastModFileTime = item.time;
    header.LastModFileDate = item.date;
    header.Crc32 = crc;
    header.CompressedSize = size;
    header.UncompressedSize = size;
    header.FilenameLength = local.FilenameLength;
    header.ExtraFieldLength = static_cast<std::uint16_t>(item.centralExtra.size());
    header.FileCommentLength = static_cast<std::uint16_t>(item.fileComment.size());
    header.ExternalFileAttributes = item.attributes;
    header.RelativeOffsetOfLocalHeader = where.localOffsets.back();
    header.FileName = item.name;
    header.ExtraField = item.centralExtra;
    header.FileComment = item.fileComment;
    central.push_back(header);
  }
  where.centralOffset = static_cast<std::uint32_t>(out.Position());
  for (const auto& header : central)
    WriteCentralRecord(out, header);
  where.endOffset = static_cast<std::uint32_t>(out.Position());
  TEndOfDirectory end;
  end.EndOfCentralDirSignature = EndOfCentralDirSignature;
  end.TotalEntriesOnThisDisk = static_cast<std::uint16_t>(items.size());
  end.TotalEntries = end.TotalEntriesOnThisDisk;
  end.SizeOfTheCentralDirectory = where.endOffset - where.centralOffset;
  end.OffsetOfStartOfCentralDirectory = where.centralOffset;
  end.ZipFileCommentLength = static_cast<std::uint16_t>(comment.size());
  WriteEndRecord(out, end);
  out.WriteString(comment);
  if (layout)
    *layout = where;
  return out.Bytes();
}

void OpenBytes(TPellum& zip, const std::string& bytes) {
  zip.OpenFromStream(std::make_unique<MemoryStream>(bytes));
}

std::string ArchiveBytes(TPellum& zip) {
  Stream* stream = zip.GetArchiveStream();
  if (stream == nullptr)
    return {};
  stream->SetPosition(0);
  return stream->ReadString(static_cast<std::size_t>(stream->Size()));
}

int RunPython(const std::string& script, const std::vector<std::string>& arguments,
              std::string* output) {
  test::TempDir dir;
  test::WriteFile(dir / "script.py", script);
  std::vector<std::string> command = {"python3", dir / "script.py"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  const test::ProcessResult result = test::RunProcess(command, {.ErrToOut = true});
  if (output)
    *output = result.Out;
  return result.Code;
}

std::string PeerCheck(const std::string& archivePath,
                      const std::vector<std::pair<std::string, std::string>>& originals) {
  const test::ProcessResult unzip =
      test::RunProcess({"unzip", "-tqq", archivePath}, {.ErrToOut = true});
  if (unzip.Code != 0)
    return "unzip -t: " + unzip.Out;
  test::TempDir dir;
  std::vector<std::string> list = {archivePath};
  for (std::size_t i = 0; i < originals.size(); ++i) {
    test::WriteFile(dir / std::to_string(i), originals[i].second);
    list.push_back(originals[i].first);
    list.push_back(dir / std::to_string(i));
  }
  const char* script = R"(import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
bad = z.testzip()
if bad is not None:
    print("testzip:", bad); sys.exit(1)
args = sys.argv[2:]
names = set(z.namelist())
for name, path in zip(args[0::2], args[1::2]):
    if name not in names:
        print("missing", name); sys.exit(1)
    if z.read(name) != open(path, "rb").read():
        print("differs", name); sys.exit(1)
print("OK")
)";
  std::string output;
  if (RunPython(script, list, &output) != 0)
    return "python: " + output;
  return "OK";
}

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(Le16(bytes, at)) |
         static_cast<std::uint32_t>(Le16(bytes, at + 2)) << 16;
}

std::uint16_t Le16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(at)) |
                                    static_cast<unsigned char>(bytes.at(at + 1)) << 8);
}

} // namespace vornel::ziptest
