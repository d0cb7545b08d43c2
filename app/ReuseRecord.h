#pragma once

// What the packer knows of the archives it wrote: for each archive of Upload/, the size and two
// checksums of the exact bytes written. A later build may keep an archive only when its bytes
// are still these; the content checks alone cannot show that the deflate data are the ones a
// fresh pack makes (another level or tool gives other bytes for the same content).
//
// The record lives beside Upload/ ("Upload.reuse" in the working folder), never inside the set
// that is uploaded. It is a cache: a missing, foreign or damaged record only means that every
// file is packed afresh.

#include "crc/ArchiveDigest.h"
#include "platform/TempFile.h"
#include "zip/Compressor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornel {

inline constexpr const char* ReuseRecordFileName = "Upload.reuse";

// Every archive's digest, keyed by its path relative to Upload/, "/"-separated
// ("system/engine.dll.zip"). Kept compactly, as a record lists every file of a tree: the keys in
// one buffer, the entries in a sorted array.
class ReuseRecord {
public:
  // The record at path; empty when it is missing, unreadable, damaged, or was written for
  // another compressor (the first line names the format, the compressor, its version and its
  // level, all of which decide the deflate bytes).
  static ReuseRecord Load(const std::string& path, const CompressorChoice& compressor = {});

  const ArchiveDigest* Find(std::string_view archive) const;
  // The entry's position among Size() entries (in key order); nothing when it is not there.
  std::optional<std::size_t> IndexOf(std::string_view archive) const;
  std::string_view Key(std::size_t index) const;
  const ArchiveDigest& Digest(std::size_t index) const { return entries_[index].Digest; }
  std::size_t Size() const { return entries_.size(); }

  void Set(const std::string& archive, const ArchiveDigest& digest);
  void Erase(const std::string& archive);

  // Writes the record to a temporary file of its own beside path and renames it over path, so a
  // failure never leaves half a record. Raises the input/output error when it cannot be written.
  void Save(const std::string& path, const CompressorChoice& compressor = {}) const;

  // The first line of a record written by this build of the program with that compressor.
  static std::string Header(const CompressorChoice& compressor = {});

private:
  struct Entry {
    std::uint32_t KeyStart = 0;
    std::uint32_t KeyLength = 0;
    ArchiveDigest Digest;
  };
  std::string_view Key(const Entry& entry) const;
  void Append(std::string_view archive, const ArchiveDigest& digest);
  void SortKeepingLast();
  std::vector<Entry>::const_iterator LowerBound(std::string_view archive) const;

  std::string keys_;           // every key back to back (erased ones stay until the next load)
  std::vector<Entry> entries_; // sorted by key, each key once
};

// Writes a record line by line, for a build that lists its archives as they come: in blocks to
// a temporary file beside path, renamed over path by Commit. Nothing changes at path when the
// writer goes away without Commit.
class ReuseRecordWriter {
public:
  ReuseRecordWriter(std::string path, const CompressorChoice& compressor);
  void Add(std::string_view archive, const ArchiveDigest& digest);
  void Commit();

private:
  void Flush();

  std::string path_;
  TempFile file_;
  std::string block_;
};

} // namespace vornel
