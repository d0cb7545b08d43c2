#include "cli/ArchiveOptions.h"
#include "cli/Commands.h"

#include "platform/DateTime.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

namespace vornel::cli {

namespace {

// Entry names come from the archive: control characters are shown as \xNN so that a name can
// neither break the one-line-per-entry format nor send escape sequences to the terminal.
std::string PrintableName(const std::string& name) {
  std::string shown;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

// A DOS value of 0 is what the component writes for a time it cannot represent: shown as an
// all-zero time rather than as whatever date the value would convert to.
std::string FormatTime(const TPellumEntriesEntry& entry) {
  const auto& header = entry.CentralHeader;
  if ((header.LastModFileDate == 0 && header.LastModFileTime == 0) || entry.Timestamp == 0)
    return "0000-00-00 00:00:00";
  const DateTimeFields t = DecodeDateTime(entry.Timestamp);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour,
                t.Minute, t.Second);
  return text;
}

std::string FormatEntry(const TPellumEntriesEntry& entry, const EntryNames& names) {
  const auto& header = entry.CentralHeader;
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(header.Crc32));
  return PrintableName(names.ToShown(header)) + '\t' + std::to_string(header.UncompressedSize) +
         '\t' + std::to_string(header.CompressedSize) + '\t' + crc + '\t' +
         std::to_string(header.CompressionMethod) + '\t' + FormatTime(entry);
}

int ListArchive(const std::string& path, const std::string& codePage) {
  const EntryNames names(codePage);
  TPellum pellum;
  OpenExistingArchive(pellum, path);
  // Built first and written at once: a failure half-way prints no partial listing.
  std::string listing;
  for (std::int32_t i = 0; i < pellum.Entries().Count(); ++i)
    listing += FormatEntry(pellum.Entries()[i], names) + '\n';
  std::cout << listing << std::flush;
  // An encrypted entry is listed right; the other refusals come from records this component
  // cannot fully describe.
  if (!pellum.ChangeRefusal().empty())
    std::cerr << path << ": " << pellum.ChangeRefusal()
              << (pellum.ChangeRefusal().starts_with("encrypted")
                      ? ": the archive cannot be changed\n"
                      : ": this listing may be incomplete or show wrong sizes\n");
  return std::cout ? ExitOk : ExitError;
}

} // namespace

void RegisterListCommand(CLI::App& app, int& exitCode) {
  auto archive = std::make_shared<std::string>();
  auto codePage = std::make_shared<std::string>();
  CLI::App* verb = app.add_subcommand(
      "list", "List the entries: name, size, packed size, CRC-32, method, modification time");
  AddCodePageOption(*verb, *codePage);
  verb->add_option("ARCHIVE", *archive, "The zip archive to list")->required();
  verb->footer("One line per entry, fields separated by a tab. An archive that the other verbs\n"
               "refuse to change (a zip64 archive, a directory that does not end where its end\n"
               "record begins) is listed as far as its records go, with the reason on stderr.\n"
               "Example:\n"
               "  vornel list Upload/bin/game.exe.zip");
  verb->callback([archive, codePage, &exitCode] {
    exitCode = RunGuarded([&] { return ListArchive(*archive, *codePage); });
  });
}

} // namespace vornel::cli
