#pragma once

// The archive component: creates and opens zip archives, keeps their directory as a collection
// of entries, adds files as deflated entries (in place or by rebuilding), removes entries and
// keeps the archive comment.

#include "platform/DateTime.h"
#include "platform/Stream.h"
#include "platform/StringList.h"
#include "platform/TempFile.h"
#include "zip/Compressor.h"
#include "zip/Records.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vornel {

class TPellum;
class TPellumEntries;
struct StreamedArchive;

// One file of a batch add: the path on disk and the name it is given (as AddFileAs takes them).
struct TBatchFile {
  std::string Path;
  std::string EntryName;
};

enum class TZipSaveMethod { FastSave, RebuildAll };
enum class TZipCompressionType { ctNormal, ctMaximum, ctFast, ctSuperFast, ctNone, ctUnknown };
enum class TOverwriteAction { oaSkip, oaSkipAll, oaOverwrite, oaOverwriteAll };

// ChangeType values of OnZipChange.
namespace zip_change {
inline constexpr std::int32_t Closed = 0;
inline constexpr std::int32_t Opened = 1;
inline constexpr std::int32_t EntryAdded = 2;
inline constexpr std::int32_t EntryRemoved = 3;
} // namespace zip_change

using TOnProgressEvent =
    std::function<void(TPellum& sender, std::int32_t current, std::int32_t total)>;
using TOnDecompressFile = TOnProgressEvent;
using TOnCompressFile = TOnProgressEvent;
using TOnZipOpen = TOnProgressEvent;
using TOnRebuildZip = TOnProgressEvent;
using TOnRemoveItems = TOnProgressEvent;
using TOnZipChange = std::function<void(TPellum& sender, std::int32_t changeType)>;
using TOnAddItem = std::function<void(TPellum& sender, const std::string& itemName)>;
using TOnOverwriteFile =
    std::function<void(TPellum& sender, std::string& fileName, TOverwriteAction& action)>;

// The component's plain exception (a missing archive, a source the format cannot describe).
class EPellumError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A change that cannot be made, raised before anything was written: the archive is unchanged.
class EPellumRefused : public EPellumError {
public:
  using EPellumError::EPellumError;
};

// The zlib level for a compression type (ctNormal -1, ctMaximum 9, ctFast/ctSuperFast 1,
// ctNone 0, anything else -1).
int ZlibLevel(TZipCompressionType type);

// General purpose flag bit 11: the entry's name is UTF-8.
inline constexpr std::uint16_t Utf8NameFlag = 0x0800;

// The general purpose flags of a new entry stored under this name: bit 11 when markUtf8 is set
// and the name is UTF-8 beyond plain ASCII, else none.
std::uint16_t NewEntryFlags(const std::string& stored, bool markUtf8);

// True when a new archive can take dataSize bytes as its one entry under a name of nameLength
// bytes: deflate may grow the data a little, and the archive must stay below 2 GiB.
bool FitsNewArchive(std::uint64_t dataSize, std::size_t nameLength);

// Why a stream that does not open as an archive is one this component does not support (a zip64
// or a split archive), or "" when it is none of these.
std::string UnopenableReason(Stream& stream);

// One archive entry.
class TPellumEntriesEntry {
public:
  // Appends the new entry to the collection.
  explicit TPellumEntriesEntry(TPellumEntries& collection);

  TPellumEntries& Owner() const { return *owner_; }

  TCentralDirectoryFile CentralHeader;
  TLocalFile LocalHeader; // all zero until read or written
  bool Encrypted = false;
  bool Folder = false;
  TDateTime Timestamp = 0;
  TZipCompressionType Compression = TZipCompressionType::ctNormal;

  // Bytes the entry occupies in the local part (with its data descriptor). The name and
  // extra field lengths are the local header's once it has been read (other tools write local
  // extra fields of their own length), else the central header's.
  std::int64_t LocalSpan() const;
  std::int64_t CentralSpan() const;

  // Bytes of the data descriptor behind the data of an entry with bit 3, as measured when the
  // archive was loaded; -1 until then (16 is counted).
  std::int32_t DescriptorLength = -1;

private:
  TPellumEntries* owner_;
};

// The date-time of a DOS date (high half) and time (low half). The all-zero value, which is
// written for times outside 1980 to 2107, reads as 0 ("no date") so that such archives stay
// readable; any other value that is no calendar date raises EConvertError.
TDateTime EntryTimestamp(std::uint32_t dos);

// Sets Encrypted, Folder, Compression and Timestamp from a central header. Timestamp is set
// last, so a DOS value that does not convert raises after the other three are set.
void DeriveEntryValues(TPellumEntriesEntry& entry, const TCentralDirectoryFile& header);

// The archive's entries, in central directory order.
class TPellumEntries {
public:
  explicit TPellumEntries(TPellum& archive) : archive_(&archive) {}
  TPellumEntries(const TPellumEntries&) = delete;
  TPellumEntries& operator=(const TPellumEntries&) = delete;

  TPellum& Archive() const { return *archive_; }
  bool Recognised = false;

  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  TPellumEntriesEntry& operator[](std::int32_t index) const { return *items_.at(index); }
  TPellumEntriesEntry& Add() { return *new TPellumEntriesEntry(*this); }
  void Clear() { items_.clear(); }
  // Removes and frees the entry at index from the collection only (no archive change).
  void Delete(std::int32_t index);

  static std::uint32_t StringCrc32(const std::string& bytes);
  static std::string ToZipName(const std::string& path);
  static std::string ToDiskName(const std::string& path);
  std::int32_t IndexOfName(const std::string& name) const;

  // Loading.
  void LoadDirectory(Stream& stream);
  bool LocateEndRecord(Stream& stream);
  bool ReadCentralDirectory(Stream& stream);
  // Reads the local header at offset (and its data unless headersOnly). A missing signature, or
  // a header that runs past the end while only headers are read, leaves the record all zero;
  // data (or, when data are wanted, a header) past the end raise EInOutError(100). For an
  // entry with a data descriptor (bit 3) the CRC and sizes come from its central header, and
  // the data are followed by the 16 descriptor bytes.
  void ReadLocalHeader(Stream& stream, std::int64_t offset, TLocalFile& record, bool headersOnly);
  // The same for a known entry, without looking its central header up by offset.
  void ReadEntryLocalHeader(Stream& stream, const TPellumEntriesEntry& entry, TLocalFile& record,
                            bool headersOnly);
  void ReadLocalHeaders(Stream& stream);
  bool ScanLocalHeaders(Stream& stream);
  // Measures the data descriptor of every entry with bit 3 (see DescriptorLength).
  void MeasureDescriptors(Stream& stream);

  // Removing.
  void RemoveEntry(std::int32_t index);
  // Removes the entries at the indices (any order, repeats ignored) with one rewrite.
  void RemoveEntries(std::vector<std::int32_t> indices);

  // Adding.
  TPellumEntriesEntry* AddFile(const std::string& path);
  TPellumEntriesEntry* AddFileAs(const std::string& path, const std::string& entryName);
  TPellumEntriesEntry* AddEntry(const std::string& entryName, std::uint16_t attributes,
                                Stream& data, TDateTime time);
  TPellumEntriesEntry* AddEntryFast(const std::string& entryName, std::uint16_t attributes,
                                    Stream& data, TDateTime time);
  TPellumEntriesEntry* AddEntryRebuild(const std::string& entryName, std::uint16_t attributes,
                                       Stream& data, TDateTime time);
  bool AddParentFolders(const std::string& entryName);
  // Adds many files as one change: folder entries where asked for, same-named entries
  // replaced, and the archive written once (in place, or laid out anew once with RebuildAll
  // or when entries are replaced). Everything a file would be refused for is checked for all of
  // them first. An add cut short at any point leaves the archive as it was or with every file.
  void AddFiles(const std::vector<TBatchFile>& files);
  bool AddFolderPath(const std::string& entryName, std::uint16_t attributes, TDateTime time);

private:
  friend class TPellumEntriesEntry;
  friend class ArchiveWriter;
  void ReadLocalRecord(Stream& stream, std::int64_t offset, TLocalFile& record, bool headersOnly,
                       const TPellumEntriesEntry* entry);
  // After the archive was laid out anew: reloads its directory, or keeps describing what was
  // written when the reload cannot see it.
  void ReloadRewritten(Stream& archive);
  // Sets the archive's change refusal for a directory read from its end record.
  void CheckDescribable(Stream& stream);
  // Adds one entry (and its folders when asked) as one change, in place or laid out anew.
  TPellumEntriesEntry* AddOne(const std::string& entryName, std::uint16_t attributes, Stream& data,
                              TDateTime time, bool rebuild, bool folders);

  TPellum* archive_;
  std::int64_t directoryEnd_ = 0; // where reading the central headers ended
  std::vector<std::unique_ptr<TPellumEntriesEntry>> items_;
};

class TPellum {
public:
  TPellum();
  virtual ~TPellum();
  TPellum(const TPellum&) = delete;
  TPellum& operator=(const TPellum&) = delete;

  virtual void NotifyChange(std::int32_t changeType);

  void CreateArchiveFile(const std::string& path);
  void OpenArchive(const std::string& path);
  void OpenFromFile(const std::string& path);
  void OpenFromStream(std::unique_ptr<Stream> stream);
  void CloseArchive();
  TPellumEntriesEntry* AddFileEntry(const std::string& path);
  // A temporary file for a rebuilt image, beside the archive (in the temporary-files folder
  // when the archive is no file), made exclusively and kept open; removed unless kept.
  std::unique_ptr<TempFile> NewTempFile();
  void CompressProgress(std::int64_t consumed);

  void WriteLocalImage(Stream& target);
  void WriteCentralImage(Stream& target);
  void WriteEndImage(Stream& target);
  void WriteArchiveImage(Stream& target);
  void WriteEmptyArchive(Stream& target);
  static std::string DiskFileName(const std::string& name);
  static std::string DiskFilePath(const std::string& name);

  // Published properties.
  const std::string& GetFileName() const { return FileName; }
  void SetFileName(const std::string& value) { FileName = value; }
  bool GetIsZipFile() const { return IsZipFile; }
  void SetIsZipFile(bool) {}
  TZipSaveMethod GetSaveMethod() const { return SaveMethod; }
  void SetSaveMethod(TZipSaveMethod value) { SaveMethod = value; }
  bool GetStoreRelativePath() const { return StoreRelativePath; }
  void SetStoreRelativePath(bool value) { StoreRelativePath = value; }
  bool GetStoreFolders() const { return StoreFolders; }
  void SetStoreFolders(bool value) { StoreFolders = value; }
  TZipCompressionType GetCompressionType() const { return CompressionType; }
  void SetCompressionType(TZipCompressionType value);
  const TStringList& GetComment();
  void SetComment(const TStringList& value);
  const TStringList& GetFileNames();
  void SetFileNames(const TStringList&) {}
  bool GetUseTempFiles() const { return UseTempFiles; }
  void SetUseTempFiles(bool value) { UseTempFiles = value; }
  TOverwriteAction GetOverwriteAction() const { return OverwriteAction; }
  void SetOverwriteAction(TOverwriteAction value) { OverwriteAction = value; }
  const std::string& GetComponentVersion() const { return ComponentVersion; }
  void SetComponentVersion(const std::string&) {}
  bool GetReadOnly() const { return ReadOnly; }
  void SetReadOnly(bool value) { ReadOnly = value; }
  bool GetApplyAtributes() const { return ApplyAtributes; }
  void SetApplyAtributes(bool value) { ApplyAtributes = value; }
  // Not a stored property: entries added from now on whose name is UTF-8 beyond plain ASCII get
  // general purpose bit 11, so other tools read their names right.
  bool GetMarkUtf8Names() const { return MarkUtf8Names; }
  void SetMarkUtf8Names(bool value) { MarkUtf8Names = value; }
  bool GetActive() const { return IsZipFile; }
  void SetActive(bool value);

  // The deflate implementation and level for new entries. Unset (the default): zlib at the
  // level CompressionType selects. Not stored with the window: whoever wants another sets it.
  const std::optional<CompressorChoice>& GetCompressor() const { return Compressor; }
  void SetCompressor(const std::optional<CompressorChoice>& value) { Compressor = value; }

  // Published events, called only when assigned, with this component as sender.
  TOnDecompressFile OnDecompressFile;
  TOnCompressFile OnCompressFile;
  TOnZipChange OnZipChange;
  TOnZipOpen OnZipOpen;
  TOnAddItem OnAddItem;
  TOnRebuildZip OnRebuildZip;
  TOnRemoveItems OnRemoveItems;
  TOnOverwriteFile OnOverwriteFile;

  // State, readable for callers and tests.
  TPellumEntries& Entries() { return *Entries_; }
  const TEndOfDirectory& GetEndRecord() const { return EndRecord; }
  std::int64_t GetEndRecordPosition() const { return EndRecordPosition; }
  std::int64_t GetCommentPosition() const { return CommentPosition; }
  Stream* GetArchiveStream() const { return ArchiveStream.get(); }
  std::int32_t GetCurrentDataSize() const { return CurrentDataSize; }
  bool GetSuppressChangeEvents() const { return SuppressChangeEvents; }
  // Why the open archive cannot be changed soundly (a zip64 archive, a directory that does not
  // end where its end record begins); empty when it can. Every change raises EPellumRefused
  // with this reason before writing anything.
  const std::string& ChangeRefusal() const { return Refusal; }
  void RefuseUndescribable() const;
  void SetSuppressChangeEvents(bool value) { SuppressChangeEvents = value; }

private:
  friend class TPellumEntries;
  friend class ArchiveWriter;
  friend StreamedArchive WriteSingleEntryArchive(TPellum&, Stream&, const std::string&,
                                                 std::uint16_t, TDateTime, Stream&, std::int64_t);

  // Frees the stream and the entries without an event.
  void ReleaseArchive();
  // The stored comment bytes as they are, cut at the end of the stream.
  std::string RawComment();
  // Writes the local records of the entries at the indices into target, one after another;
  // returns their offsets there.
  std::vector<std::uint32_t> WriteRecords(Stream& target, const std::vector<std::int32_t>& indices);
  // Writes the headers, the end record (filling RebuiltEndRecord and its positions) and the
  // comment into target.
  void WriteDirectory(Stream& target, const std::vector<TCentralDirectoryFile>& headers,
                      const std::string& comment);
  void WriteCentralHeaders(Stream& target, const std::vector<TCentralDirectoryFile>& headers);
  // The end record (filling RebuiltEndRecord and its positions) and the comment.
  void WriteEndWith(Stream& target, const std::string& comment);
  // For an archive that is no file: sets the archive stream's size to the image's and copies
  // the image over it. When the copy fails part way, the former bytes are put back; when even
  // that fails, the image is the only whole copy: it is kept on disk (imageFile, or a temporary
  // file it is saved to) and the error says where.
  void CopyImageOver(Stream& image, TempFile* imageFile);
  [[noreturn]] void KeepImageAndRethrow(Stream& image, TempFile* imageFile);

  // Members, in declaration order.
  std::unique_ptr<TPellumEntries> Entries_;
  bool NamesDirty = true;
  std::int64_t EndRecordPosition = 0;
  TEndOfDirectory EndRecord;
  std::int64_t CommentPosition = 0;
  TStringList CommentLines;
  std::int64_t RebuiltEndRecordPosition = 0;
  std::int64_t RebuiltCommentPosition = 0;
  bool IsZipFile = false;
  std::string FileName;
  TStringList FileNamesList;
  TZipSaveMethod SaveMethod = TZipSaveMethod::FastSave;
  bool StoreRelativePath = true;
  TZipCompressionType CompressionType = TZipCompressionType::ctMaximum;
  std::int32_t CurrentDataSize = 0;
  bool SuppressChangeEvents = false;
  std::vector<std::uint32_t> RebuildOffsets;
  TEndOfDirectory RebuiltEndRecord;
  bool UseTempFiles = false;
  bool StoreFolders = true;
  std::string ComponentVersion = "2.0";
  TOverwriteAction OverwriteAction = TOverwriteAction::oaSkip;
  bool ReadOnly = false;
  bool ApplyAtributes = true;
  std::unique_ptr<Stream> ArchiveStream;
  std::string Refusal;
  bool MarkUtf8Names = false;
  std::optional<CompressorChoice> Compressor;
};

} // namespace vornel
