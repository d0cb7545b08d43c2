#include "zip/ArchiveWriter.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/TempFile.h"
#include "zip/AddParts.h"
#include "zip/Pellum.h"
#include "zip/RecordIo.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <zlib.h>

namespace vornel {

namespace {

// Sources up to this size are packed in memory and written with their header in one call.
constexpr std::int64_t PackInMemoryUpTo = 1 << 20;
// What an in-place change keeps in memory to put the archive back byte for byte on a failure;
// beyond it, a failed change leaves the archive reading as it was, with the copy of its
// directory at the end (the next change reclaims that room).
constexpr std::int64_t RestorableBytes = 16 << 20;
constexpr std::int64_t MaxOffset = 0xFFFFFFFF;

// The directory of the headers, the end record that describes it at offset, and the comment.
std::string DirectoryBytes(const std::vector<const TCentralDirectoryFile*>& headers,
                           TEndOfDirectory end, std::int64_t offset, const std::string& comment) {
  std::string bytes;
  for (const TCentralDirectoryFile* header : headers)
    AppendCentralRecord(bytes, *header);
  end.TotalEntriesOnThisDisk = static_cast<std::uint16_t>(headers.size());
  end.TotalEntries = end.TotalEntriesOnThisDisk;
  end.SizeOfTheCentralDirectory = static_cast<std::uint32_t>(bytes.size());
  end.OffsetOfStartOfCentralDirectory = static_cast<std::uint32_t>(offset);
  end.ZipFileCommentLength = static_cast<std::uint16_t>(comment.size());
  AppendEndRecord(bytes, end);
  return bytes + comment;
}

TEndOfDirectory EndOf(const std::string& directory, const std::string& comment) {
  TEndOfDirectory end;
  const std::size_t at = directory.size() - comment.size() - TEndOfDirectory::FixedSize;
  end.DecodeFixed(reinterpret_cast<const unsigned char*>(directory.data() + at));
  return end;
}

} // namespace

class ArchiveWriter {
public:
  ArchiveWriter(TPellum& zip, const ArchiveEdit& change)
      : zip_(zip), entries_(*zip.Entries_), change_(change),
        archive_(OpenArchiveStream(zip.ArchiveStream.get())) {}

  std::vector<TPellumEntriesEntry*> Commit() {
    Check();
    RemoveLeftoversOfKilledChanges();
    const bool anew = change_.Rebuild || !change_.Dropped.empty();
    std::vector<TPellumEntriesEntry*> added = anew ? LayOutAnew() : WriteInPlace();
    zip_.NamesDirty = true;
    return added;
  }

private:
  // A change killed while it laid the archive out anew leaves its temporary file beside it;
  // the next change takes it away, so that the waste does not last.
  void RemoveLeftoversOfKilledChanges() const {
    if (const auto* onDisk = dynamic_cast<const FileStream*>(zip_.ArchiveStream.get())) {
      const std::string resolved = ResolvedPath(onDisk->Path());
      TempFile::RemoveLeftovers(resolved.empty() ? onDisk->Path() : resolved);
    }
  }

  bool Dropped(std::int32_t index) const {
    return std::binary_search(change_.Dropped.begin(), change_.Dropped.end(), index);
  }

  // Every refusal, before anything is written.
  void Check() {
    zip_.RefuseUndescribable();
    const std::int64_t total = entries_.Count() -
                               static_cast<std::int64_t>(change_.Dropped.size()) +
                               static_cast<std::int64_t>(change_.Added.size());
    if (total > MaxEntries) {
      if (change_.Added.size() == 1)
        throw EPellumRefused("The archive already holds 65535 entries; " +
                             Quoted(change_.Added.front().Given) + " cannot be added");
      throw EPellumRefused("The archive would hold " + std::to_string(total) +
                           " entries; it can hold 65535");
    }
    comment_ = change_.Comment ? *change_.Comment : zip_.RawComment();
    if (comment_.size() > 0xFFFF)
      throw EPellumRefused("The archive comment is too long");
    for (const PendingEntry& entry : change_.Added) {
      const auto name = static_cast<std::int64_t>(entry.Stored.size());
      packedMax_ += std::int64_t{TLocalFile::FixedSize} + name +
                    static_cast<std::int64_t>(compressBound(static_cast<uLong>(entry.Length)));
      directoryMax_ += std::int64_t{TCentralDirectoryFile::FixedSize} + name;
    }
    for (std::int32_t i = 0; i < entries_.Count(); ++i) {
      if (!Dropped(i)) {
        directoryMax_ += entries_[i].CentralSpan();
        keptLocal_ += entries_[i].LocalSpan();
      }
    }
    size_ = archive_.Size();
    // Whatever the layout, an add is measured against the archive as it stands.
    if (!change_.Added.empty() && size_ + packedMax_ > MaxArchiveSize)
      RefuseTooLarge();
    // A stream that cannot be written fails here, before anything else happens.
    archive_.SetSize(size_);
  }

  std::int64_t FinalMax(std::int64_t localPart) const {
    const std::int64_t final = localPart + packedMax_ + directoryMax_ +
                               std::int64_t{TEndOfDirectory::FixedSize} +
                               static_cast<std::int64_t>(comment_.size());
    if (final > MaxArchiveSize)
      RefuseTooLarge();
    return final;
  }

  [[noreturn]] void RefuseTooLarge() const {
    if (change_.Added.size() == 1)
      throw EPellumRefused("Adding " + Quoted(change_.Added.front().Given) +
                           " would make the archive 2 GiB or larger");
    throw EPellumRefused("The change would make the archive 2 GiB or larger");
  }

  // Packs a new entry's local record and data at target's position.
  NewEntryRecords Pack(Stream& target, const PendingEntry& entry) {
    NewEntryRecords records = DescribeNewEntry(entry.Stored, entry.Attributes, entry.Time);
    SetEntryFlags(records, NewEntryFlags(entry.Stored, zip_.MarkUtf8Names));
    const std::int64_t at = target.Position();
    if (at > MaxOffset)
      throw EPellumError("The archive is too large");
    records.Central.RelativeOffsetOfLocalHeader = static_cast<std::uint32_t>(at);
    zip_.CurrentDataSize = static_cast<std::int32_t>(entry.Length);
    MemoryStream none;
    std::unique_ptr<FileStream> file;
    if (!entry.Path.empty())
      file = std::make_unique<FileStream>(entry.Path, FileStream::Mode::OpenRead);
    Stream& source = file ? static_cast<Stream&>(*file) : entry.Source ? *entry.Source : none;
    const CompressorChoice compressor = EntryCompressor(zip_);
    const auto progress = [this](CompressStream& sender) {
      zip_.CompressProgress(sender.Position());
    };
    if (entry.Length <= PackInMemoryUpTo) {
      MemoryStream record;
      WriteNewLocalRecord(record, records, source, entry.Length, compressor, progress, entry.Given);
      target.WriteString(record.Bytes());
    } else {
      WriteNewLocalRecord(target, records, source, entry.Length, compressor, progress, entry.Given);
    }
    return records;
  }

  std::vector<TPellumEntriesEntry*> Append(std::vector<NewEntryRecords>& records, bool exactTime) {
    std::vector<TPellumEntriesEntry*> added;
    for (std::size_t i = 0; i < records.size(); ++i) {
      TPellumEntriesEntry& entry = entries_.Add();
      entry.LocalHeader = std::move(records[i].Local);
      entry.CentralHeader = std::move(records[i].Central);
      DeriveEntryValues(entry, entry.CentralHeader);
      if (exactTime)
        entry.Timestamp = change_.Added[i].Time;
      added.push_back(&entry);
    }
    return added;
  }

  // Where the live local records end: new records go there, over the old directory and over
  // whatever an interrupted change left behind it.
  std::int64_t LiveEnd() const {
    if (entries_.Count() == 0)
      return std::min<std::int64_t>(zip_.EndRecord.OffsetOfStartOfCentralDirectory,
                                    zip_.EndRecordPosition);
    std::int64_t end = 0;
    for (std::int32_t i = 0; i < entries_.Count(); ++i)
      end = std::max(end, std::int64_t{entries_[i].CentralHeader.RelativeOffsetOfLocalHeader} +
                              entries_[i].LocalSpan());
    return end;
  }

  std::vector<TPellumEntriesEntry*> WriteInPlace() {
    const std::int64_t local = LiveEnd();
    if (local > size_)
      throw EPellumRefused("The archive's records reach past its end; it cannot be changed");
    std::vector<const TCentralDirectoryFile*> headers;
    for (std::int32_t i = 0; i < entries_.Count(); ++i)
      headers.push_back(&entries_[i].CentralHeader);
    const std::string formerComment = zip_.RawComment();
    const std::size_t copyLength = DirectoryBytes(headers, zip_.EndRecord, 0, formerComment).size();
    std::int64_t standingAt = WithinAPage(std::max(size_, FinalMax(local)), copyLength);
    const std::optional<std::vector<std::int64_t>> hops =
        HopsTowards(standingAt, copyLength, formerComment.size());
    // Where no chain of copies keeps the archive readable, or it would cost more than writing
    // the archive anew, a new image is renamed over the old one instead.
    if (!hops || static_cast<std::int64_t>(hops->size() * copyLength) > keptLocal_)
      return LayOutAnew(true);
    const std::string standing = DirectoryBytes(headers, zip_.EndRecord, standingAt, formerComment);
    if (standingAt + static_cast<std::int64_t>(standing.size()) > MaxOffset)
      throw EPellumRefused("The archive is too large to be changed in place");
    std::optional<std::string> former;
    if (size_ - local <= RestorableBytes) {
      archive_.SetPosition(local);
      former = archive_.ReadString(static_cast<std::size_t>(size_ - local));
    }

    std::vector<NewEntryRecords> records;
    std::string directory;
    std::int64_t directoryAt = 0;
    bool switched = false;
    bool overwriting = false;
    try {
      // Only the last copy has to be durable before the old directory is overwritten; until
      // then the old one stands where it was.
      for (const std::int64_t hop : *hops) {
        archive_.SetPosition(hop);
        archive_.WriteString(DirectoryBytes(headers, zip_.EndRecord, hop, formerComment));
      }
      WriteStanding(standing, standingAt);
      overwriting = true;
      archive_.SetPosition(local);
      for (const PendingEntry& entry : change_.Added) {
        records.push_back(Pack(archive_, entry));
        if (archive_.Position() > standingAt)
          throw EPellumError("The packed data outgrew the room set aside for them");
      }
      directoryAt = archive_.Position();
      for (const NewEntryRecords& record : records)
        headers.push_back(&record.Central);
      directory = DirectoryBytes(headers, zip_.EndRecord, directoryAt, comment_);
      archive_.WriteString(directory);
      archive_.Flush();
      archive_.SetSize(archive_.Position());
      switched = true;
      archive_.Flush();
    } catch (...) {
      if (!switched)
        PutBack(local, overwriting ? former : std::optional<std::string>(""));
      else
        Settle(directory, directoryAt);
      throw;
    }
    Settle(directory, directoryAt);
    return Append(records, true);
  }

  // Readers (unzip, Python's zipfile, ours) look for the end record in the last 64 KiB, and
  // take an end record followed by stray bytes in that reach. A copy of the directory that fits
  // in a page is put within one, which a kill cannot cut. A larger one can be cut part way, so
  // it goes where the end record before it stays within that reach of the cut copy's end; to
  // get far out, copies are laid down one after another, each within the reach of the last.
  // The positions of those in between, empty when none is needed; none when the copy is too
  // large for any chain. The last copy may be moved further out (target) to clear the one
  // before it.
  std::optional<std::vector<std::int64_t>> HopsTowards(std::int64_t& target, std::size_t length,
                                                       std::size_t comment) const {
    constexpr std::int64_t Reach = 65536;
    const auto copy = static_cast<std::int64_t>(length);
    const std::int64_t endInCopy =
        copy - TEndOfDirectory::FixedSize - static_cast<std::int64_t>(comment);
    std::vector<std::int64_t> hops;
    if (copy <= 4096)
      return hops;
    std::int64_t lastEnd = zip_.EndRecordPosition; // the end record readers find now
    std::int64_t free = size_;                     // the first byte no copy holds
    while (target + copy - lastEnd > Reach) {
      const std::int64_t at = lastEnd + Reach - copy;
      if (at < free)
        return std::nullopt;
      hops.push_back(at);
      lastEnd = at + endInCopy;
      free = at + copy;
    }
    target = std::max(target, free);
    if (target + copy - lastEnd > Reach)
      return std::nullopt;
    return hops;
  }

  void WriteStanding(const std::string& standing, std::int64_t at) {
    archive_.SetPosition(at);
    archive_.WriteString(standing);
    archive_.Flush();
  }

  static std::int64_t WithinAPage(std::int64_t at, std::size_t length) {
    constexpr std::int64_t Page = 4096;
    const auto size = static_cast<std::int64_t>(length);
    if (size <= Page && at % Page + size > Page)
      return (at / Page + 1) * Page;
    return at;
  }

  // The in-place change is over and the archive is the new one: the end record follows it.
  void Settle(const std::string& directory, std::int64_t directoryAt) {
    zip_.EndRecord = EndOf(directory, comment_);
    zip_.EndRecordPosition = directoryAt + zip_.EndRecord.SizeOfTheCentralDirectory;
    zip_.CommentPosition = zip_.EndRecordPosition + std::int64_t{TEndOfDirectory::FixedSize};
  }

  // An in-place change failed before it switched: the copy of the directory at the end still
  // describes the archive as it was. The bytes it overwrote (none when it failed while the copy
  // was written) go back where they were when they are known and the medium takes them, and
  // the file is cut to its former size; otherwise the component reads the archive again.
  void PutBack(std::int64_t local, const std::optional<std::string>& former) noexcept {
    try {
      if (former) {
        if (!former->empty()) {
          archive_.SetPosition(local);
          archive_.WriteString(*former);
        }
        archive_.SetSize(size_);
        return;
      }
    } catch (...) {
      // The failure that ended the change is the one to report.
    }
    Reread();
  }

  void Reread() noexcept {
    try {
      entries_.LoadDirectory(archive_);
      if (entries_.Recognised)
        return;
    } catch (...) {
    }
    try {
      zip_.CloseArchive();
    } catch (...) {
      // Closed already; a handler's failure must not hide the change's.
    }
  }

  // inFile: the image is made in a temporary file even when the caller keeps images in memory
  // (an in-place change turned into a rewrite must not hold a large archive in memory).
  std::vector<TPellumEntriesEntry*> LayOutAnew(bool inFile = false) {
    FinalMax(keptLocal_);
    std::unique_ptr<TempFile> file;
    std::unique_ptr<MemoryStream> memory;
    if (zip_.UseTempFiles || (inFile && dynamic_cast<FileStream*>(&archive_) != nullptr)) {
      file = zip_.NewTempFile();
    } else {
      std::int64_t room = 22 + static_cast<std::int64_t>(comment_.size());
      const auto keptCount = entries_.Count() - static_cast<std::int32_t>(change_.Dropped.size());
      for (std::int32_t i = 0, k = 0; i < entries_.Count(); ++i) {
        if (Dropped(i))
          continue;
        room += entries_[i].LocalSpan() + entries_[i].CentralSpan();
        if (zip_.OnRemoveItems && zip_.SaveMethod == TZipSaveMethod::RebuildAll)
          zip_.OnRemoveItems(zip_, k, keptCount - 1);
        ++k;
      }
      memory = std::make_unique<MemoryStream>();
      // The sizes come from the archive and may lie; the room is held to what it holds.
      memory->Reserve(static_cast<std::size_t>(std::min(room, size_ + 65536) + packedMax_));
    }
    Stream& image = file ? static_cast<Stream&>(file->Stream()) : *memory;

    std::vector<std::int32_t> kept;
    for (std::int32_t i = 0; i < entries_.Count(); ++i) {
      if (!Dropped(i))
        kept.push_back(i);
    }
    std::vector<std::uint32_t> offsets = zip_.WriteRecords(image, kept);
    std::vector<NewEntryRecords> records;
    for (const PendingEntry& entry : change_.Added)
      records.push_back(Pack(image, entry));
    std::vector<TCentralDirectoryFile> headers;
    for (std::size_t k = 0; k < kept.size(); ++k) {
      headers.push_back(entries_[kept[k]].CentralHeader);
      headers.back().RelativeOffsetOfLocalHeader = offsets[k];
    }
    for (const NewEntryRecords& record : records) {
      headers.push_back(record.Central);
      offsets.push_back(record.Central.RelativeOffsetOfLocalHeader);
    }
    zip_.WriteDirectory(image, headers, comment_);

    if (auto* onDisk = dynamic_cast<FileStream*>(&archive_)) {
      // The image replaces the file, also when the archive was opened through a link to it.
      const std::string path = onDisk->Path();
      std::string target = ResolvedPath(path);
      if (target.empty())
        target = path;
      if (!file) {
        file = zip_.NewTempFile();
        file->Stream().CopyFrom(image, 0);
      }
      file->Stream().CopyPermissionsFrom(path);
      file->Stream().Flush();
      zip_.ArchiveStream.reset();
      try {
        file->RenameOver(target);
      } catch (...) {
        zip_.ArchiveStream = std::make_unique<FileStream>(path, FileStream::Mode::OpenReadWrite);
        throw;
      }
      zip_.ArchiveStream = std::make_unique<FileStream>(path, FileStream::Mode::OpenReadWrite);
    } else {
      // On a failure the collection goes on describing the archive as it was: the copy is put
      // back, or (when even that fails) the image is kept and named in the error.
      zip_.CopyImageOver(image, file.get());
    }

    for (auto index = change_.Dropped.rbegin(); index != change_.Dropped.rend(); ++index)
      entries_.Delete(*index);
    for (std::size_t k = 0; k < kept.size(); ++k)
      entries_[static_cast<std::int32_t>(k)].CentralHeader.RelativeOffsetOfLocalHeader = offsets[k];
    std::vector<TPellumEntriesEntry*> added = Append(records, inFile);
    zip_.RebuildOffsets = offsets;
    zip_.EndRecord = zip_.RebuiltEndRecord;
    zip_.EndRecordPosition = zip_.RebuiltEndRecordPosition;
    zip_.CommentPosition = zip_.RebuiltCommentPosition;
    if (!change_.Dropped.empty()) {
      // The reload makes the entries anew; the added ones are the last.
      entries_.ReloadRewritten(*zip_.ArchiveStream);
      for (std::size_t i = 0; i < added.size(); ++i)
        added[i] = &entries_[entries_.Count() - static_cast<std::int32_t>(added.size() - i)];
    }
    return added;
  }

  TPellum& zip_;
  TPellumEntries& entries_;
  const ArchiveEdit& change_;
  Stream& archive_;
  std::string comment_;
  std::int64_t size_ = 0;
  std::int64_t packedMax_ = 0;
  std::int64_t directoryMax_ = 0;
  std::int64_t keptLocal_ = 0;
};

std::vector<TPellumEntriesEntry*> CommitChange(TPellum& zip, const ArchiveEdit& change) {
  return ArchiveWriter(zip, change).Commit();
}

} // namespace vornel
