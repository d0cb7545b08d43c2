#include "zip/Pellum.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "zip/ArchiveWriter.h"
#include "zip/RecordIo.h"

#include <algorithm>

namespace vornel {

namespace {

constexpr std::int64_t MaxOffset = 0xFFFFFFFF;

// Offsets in the records are 32-bit; an image that outgrows them cannot be described.
std::uint32_t RecordOffset(Stream& target) {
  const std::int64_t position = target.Position();
  if (position > MaxOffset)
    throw EPellumError("The archive is too large");
  return static_cast<std::uint32_t>(position);
}

// The entry name in backslash form without a drive part.
std::string DiskForm(const std::string& name) {
  std::string text;
  text.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '/' && i + 1 < name.size() && name[i + 1] == '/') {
      text += '\\';
      ++i;
    } else {
      text += name[i] == '/' ? '\\' : name[i];
    }
  }
  const std::size_t drive = text.find(":\\");
  if (drive != std::string::npos)
    text.erase(0, drive + 2);
  return text;
}

} // namespace

TPellum::TPellum() : Entries_(std::make_unique<TPellumEntries>(*this)) {}

TPellum::~TPellum() = default;

void TPellum::NotifyChange(std::int32_t changeType) {
  if (OnZipChange)
    OnZipChange(*this, changeType);
}

void TPellum::CreateArchiveFile(const std::string& path) {
  FileStream file(path, FileStream::Mode::Create);
  WriteEmptyArchive(file);
}

void TPellum::WriteEmptyArchive(Stream& target) {
  TEndOfDirectory record;
  record.EndOfCentralDirSignature = EndOfCentralDirSignature;
  WriteEndRecord(target, record);
}

void TPellum::OpenArchive(const std::string& path) {
  CloseArchive();
  OpenFromFile(path);
  FileName = path;
}

void TPellum::OpenFromFile(const std::string& path) {
  const std::optional<FoundFile> found = FindFile(path);
  if (!found)
    throw EPellumError("File \"" + path + "\" not found!");
  std::unique_ptr<Stream> stream;
  if (found->Attributes & attr::ReadOnly) {
    stream = std::make_unique<FileStream>(path, FileStream::Mode::OpenRead);
    ReadOnly = true;
  } else {
    stream = std::make_unique<FileStream>(path, FileStream::Mode::OpenReadWrite);
    ReadOnly = false;
  }
  OpenFromStream(std::move(stream));
}

void TPellum::OpenFromStream(std::unique_ptr<Stream> stream) {
  if (!stream)
    throw std::invalid_argument("OpenFromStream needs a stream");
  ArchiveStream = std::move(stream);
  try {
    Entries_->LoadDirectory(*ArchiveStream);
  } catch (...) {
    // A failure while the local headers are read (a handler's, or the device's) leaves the
    // component closed rather than half open.
    ReleaseArchive();
    throw;
  }
  IsZipFile = Entries_->Recognised;
  if (!IsZipFile)
    CloseArchive();
  NamesDirty = true;
  NotifyChange(zip_change::Opened);
}

void TPellum::ReleaseArchive() {
  Entries_->Clear();
  Refusal.clear();
  ArchiveStream.reset();
  IsZipFile = false;
  NamesDirty = true;
  ReadOnly = false;
}

void TPellum::CloseArchive() {
  ReleaseArchive();
  NotifyChange(zip_change::Closed);
}

TPellumEntriesEntry* TPellum::AddFileEntry(const std::string& path) {
  return Entries_->AddFile(path);
}

std::unique_ptr<TempFile> TPellum::NewTempFile() {
  std::string beside = FileName;
  // Beside the file itself, not beside a link to it: the image is renamed over the file.
  if (const auto* file = dynamic_cast<const FileStream*>(ArchiveStream.get())) {
    beside = ResolvedPath(file->Path());
    if (beside.empty())
      beside = file->Path();
  }
  if (beside.empty())
    beside = JoinPath(TempDirectory(), "archive");
  return std::make_unique<TempFile>(beside);
}

void TPellum::CompressProgress(std::int64_t consumed) {
  if (OnCompressFile)
    OnCompressFile(*this, static_cast<std::int32_t>(consumed), CurrentDataSize);
}

void TPellum::SetCompressionType(TZipCompressionType value) {
  CompressionType = value == TZipCompressionType::ctUnknown ? TZipCompressionType::ctNormal : value;
}

void TPellum::SetActive(bool value) {
  if (FileName.empty())
    return;
  if (value)
    OpenArchive(FileName);
  else
    CloseArchive();
}

std::string TPellum::RawComment() {
  if (!IsZipFile || !ArchiveStream || EndRecord.ZipFileCommentLength == 0)
    return {};
  const std::int64_t available = std::max<std::int64_t>(ArchiveStream->Size() - CommentPosition, 0);
  const std::int64_t length = std::min<std::int64_t>(EndRecord.ZipFileCommentLength, available);
  if (length == 0)
    return {};
  ArchiveStream->SetPosition(CommentPosition);
  return ArchiveStream->ReadString(static_cast<std::size_t>(length));
}

const TStringList& TPellum::GetComment() {
  CommentLines.clear();
  CommentLines = SplitLines(RawComment());
  return CommentLines;
}

void TPellum::SetComment(const TStringList& value) {
  // Value may be CommentLines itself; compare with the comment the archive holds now, not with
  // whatever list was handed out last.
  const TStringList lines = value;
  const std::string text = StringListText(lines);
  if (StringListText(GetComment()) == text)
    return;
  CommentLines.clear();
  if (!IsZipFile)
    return;
  if (text.size() > 0xFFFF)
    throw EPellumRefused("The archive comment is too long");
  ArchiveEdit change;
  change.Comment = text;
  CommitChange(*this, change);
  CommentLines = lines;
}

const TStringList& TPellum::GetFileNames() {
  if (NamesDirty) {
    FileNamesList.clear();
    for (std::int32_t i = 0; i < Entries_->Count(); ++i) {
      const std::string& name = (*Entries_)[i].CentralHeader.FileName;
      FileNamesList.push_back(DiskFilePath(name) + DiskFileName(name));
    }
    NamesDirty = false;
  }
  return FileNamesList;
}

std::string TPellum::DiskFileName(const std::string& name) {
  const std::string text = DiskForm(name);
  const std::size_t cut = text.find_last_of("\\:");
  return cut == std::string::npos ? text : text.substr(cut + 1);
}

std::string TPellum::DiskFilePath(const std::string& name) {
  const std::string text = DiskForm(name);
  const std::size_t cut = text.find_last_of("\\:");
  return cut == std::string::npos ? std::string() : text.substr(0, cut + 1);
}

std::vector<std::uint32_t> TPellum::WriteRecords(Stream& target,
                                                 const std::vector<std::int32_t>& indices) {
  const auto count = static_cast<std::int32_t>(indices.size());
  std::vector<std::uint32_t> offsets;
  for (std::int32_t k = 0; k < count; ++k) {
    const TPellumEntriesEntry& entry = (*Entries_)[indices[static_cast<std::size_t>(k)]];
    offsets.push_back(RecordOffset(target));
    TLocalFile record;
    Entries_->ReadEntryLocalHeader(*ArchiveStream, entry, record, false);
    // Thirty zero bytes in place of a missing header would destroy the entry for good.
    if (record.LocalFileHeaderSignature != LocalFileHeaderSignature)
      throw EPellumError("Entry \"" + entry.CentralHeader.FileName + "\" has no local header");
    WriteLocalRecord(target, record, true);
    if (OnRebuildZip)
      OnRebuildZip(*this, k, count - 1);
  }
  return offsets;
}

void TPellum::WriteLocalImage(Stream& target) {
  std::vector<std::int32_t> all(static_cast<std::size_t>(Entries_->Count()));
  for (std::size_t i = 0; i < all.size(); ++i)
    all[i] = static_cast<std::int32_t>(i);
  RebuildOffsets = WriteRecords(target, all);
  RebuildOffsets.push_back(0); // the slot a rebuilding add fills
}

void TPellum::WriteCentralHeaders(Stream& target,
                                  const std::vector<TCentralDirectoryFile>& headers) {
  const auto count = static_cast<std::int32_t>(headers.size());
  if (count > 0xFFFF)
    throw EPellumError("The archive holds too many entries");
  RebuiltEndRecord = EndRecord;
  RebuiltEndRecord.TotalEntriesOnThisDisk = static_cast<std::uint16_t>(count);
  RebuiltEndRecord.TotalEntries = static_cast<std::uint16_t>(count);
  const std::uint32_t start = RecordOffset(target);
  RebuiltEndRecord.OffsetOfStartOfCentralDirectory = start;
  for (std::int32_t i = 0; i < count; ++i) {
    WriteCentralRecord(target, headers[static_cast<std::size_t>(i)]);
    if (OnRebuildZip)
      OnRebuildZip(*this, i, count - 1);
  }
  RebuiltEndRecord.SizeOfTheCentralDirectory = RecordOffset(target) - start;
}

void TPellum::WriteCentralImage(Stream& target) {
  std::vector<TCentralDirectoryFile> headers;
  for (std::int32_t i = 0; i < Entries_->Count(); ++i) {
    headers.push_back((*Entries_)[i].CentralHeader);
    headers.back().RelativeOffsetOfLocalHeader = RebuildOffsets.at(static_cast<std::size_t>(i));
  }
  WriteCentralHeaders(target, headers);
}

void TPellum::WriteEndImage(Stream& target) {
  // The stored bytes, not the line form: a comment without a final line break, with lone line
  // feeds or with a zero byte is carried over exactly, and the length always matches.
  WriteEndWith(target, RawComment());
}

void TPellum::WriteDirectory(Stream& target, const std::vector<TCentralDirectoryFile>& headers,
                             const std::string& comment) {
  WriteCentralHeaders(target, headers);
  WriteEndWith(target, comment);
}

void TPellum::WriteEndWith(Stream& target, const std::string& comment) {
  RebuiltEndRecord.ZipFileCommentLength = static_cast<std::uint16_t>(comment.size());
  RebuiltEndRecordPosition = target.Position();
  WriteEndRecord(target, RebuiltEndRecord);
  RebuiltCommentPosition = target.Position();
  target.WriteString(comment);
  if (OnRebuildZip)
    OnRebuildZip(*this, 100, 100);
}

void TPellum::WriteArchiveImage(Stream& target) {
  WriteLocalImage(target);
  WriteCentralImage(target);
  WriteEndImage(target);
}

void TPellum::CopyImageOver(Stream& image, TempFile* imageFile) {
  Stream& archive = *ArchiveStream;
  const std::int64_t oldSize = archive.Size();
  archive.SetPosition(0);
  const std::string former = archive.ReadString(static_cast<std::size_t>(oldSize));
  try {
    archive.SetSize(image.Size());
  } catch (...) {
    try {
      archive.SetSize(oldSize);
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
  try {
    archive.SetPosition(0);
    archive.CopyFrom(image, 0);
  } catch (...) {
    try {
      archive.SetPosition(0);
      archive.WriteString(former);
      archive.SetSize(oldSize);
    } catch (...) {
      KeepImageAndRethrow(image, imageFile);
    }
    throw;
  }
}

void TPellum::KeepImageAndRethrow(Stream& image, TempFile* imageFile) {
  std::string kept;
  try {
    if (imageFile != nullptr) {
      kept = imageFile->Keep();
    } else {
      const std::unique_ptr<TempFile> saved = NewTempFile();
      saved->Stream().CopyFrom(image, 0);
      kept = saved->Keep();
    }
  } catch (...) {
    // Nowhere to keep it; the copy-back's failure is still the one to report.
  }
  const std::string note =
      kept.empty()
          ? "The archive was left incomplete, and no whole copy could be kept"
          : "The archive was left incomplete; its rebuilt image is kept in \"" + kept + "\"";
  try {
    throw;
  } catch (const EInOutError& error) {
    throw error.WithNote(note);
  } catch (const std::exception& error) {
    throw EPellumError(std::string(error.what()) + ". " + note);
  }
}

} // namespace vornel
