#pragma once

// What the packer knows of the archives it wrote: for each archive of Upload/, the size and two
// checksums of the exact bytes written. A later build may keep an archive only when its bytes
// are still these; the content checks alone cannot show that the deflate data are the ones a
// fresh pack makes (another level or tool gives other bytes for the same content).
//
// The record lives beside Upload/ ("Upload.reuse" in the working folder), never inside the set
// that is uploaded. It is a cache: a missing, foreign or damaged record only means that every
// file is packed afresh.

#include "zip/Compressor.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace vornel {

inline constexpr const char* ReuseRecordFileName = "Upload.reuse";

// The identity of an archive's bytes.
struct ArchiveDigest {
  std::int64_t Size = 0;
  std::uint32_t Crc32 = 0;
  std::uint32_t Adler32 = 0;

  bool operator==(const ArchiveDigest&) const = default;
};

// Reads the whole file in blocks; nothing when it cannot be read.
std::optional<ArchiveDigest> DigestFile(const std::string& path);

class ReuseRecord {
public:
  // Keys are archive paths relative to Upload/, "/"-separated ("system/engine.dll.zip").
  using Entries = std::map<std::string, ArchiveDigest>;

  // The record at path; empty when it is missing, unreadable, damaged, or was written for
  // another compressor (the first line names the format, the compressor, its version and its
  // level, all of which decide the deflate bytes).
  static ReuseRecord Load(const std::string& path, const CompressorChoice& compressor = {});

  const ArchiveDigest* Find(const std::string& archive) const;
  void Set(const std::string& archive, const ArchiveDigest& digest);
  void Erase(const std::string& archive) { entries_.erase(archive); }
  const Entries& All() const { return entries_; }

  // Writes the record to a temporary file of its own beside path and renames it over path, so a
  // failure never leaves half a record. Raises the input/output error when it cannot be written.
  void Save(const std::string& path, const CompressorChoice& compressor = {}) const;

  // The first line of a record written by this build of the program with that compressor.
  static std::string Header(const CompressorChoice& compressor = {});

private:
  Entries entries_;
};

} // namespace vornel
