#include "platform/TempFile.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "platform/Process.h"

#include <charconv>
#include <random>

namespace vornel {

namespace {

std::string RandomLetters(std::size_t count) {
  static constexpr char Letters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof Letters - 2);
  std::string letters(count, '\0');
  for (char& letter : letters)
    letter = Letters[pick(generator)];
  return letters;
}

constexpr std::size_t LetterCount = 6;
constexpr const char* Suffix = ".tmp";

} // namespace

TempFile::TempFile(const std::string& target) : target_(target) {
  // A name taken by someone else is tried again; anything else is the reason to report.
  constexpr int Attempts = 100;
  for (int attempt = 1;; ++attempt) {
    letters_ = RandomLetters(LetterCount);
    path_ = target + "." + letters_ + "-" + std::to_string(CurrentProcessId()) + Suffix;
    try {
      stream_ = std::make_unique<FileStream>(path_, FileStream::Mode::CreateNew);
      return;
    } catch (const EFCreateError& error) {
      if (!error.AlreadyExists() || attempt == Attempts)
        throw;
    }
  }
}

TempFile::~TempFile() {
  stream_.reset();
  if (!removed_)
    DeleteFileAt(path_);
}

void TempFile::RenameOver(const std::string& target) {
  stream_.reset();
  RenameFile(path_, target);
  removed_ = true;
}

std::string TempFile::Keep() {
  stream_.reset();
  removed_ = true;
  const std::string kept = target_ + "." + letters_ + Suffix;
  try {
    if (!FileExists(kept)) {
      RenameFile(path_, kept);
      return kept;
    }
  } catch (...) {
    // Kept under the name it has; its process id only says who made it.
  }
  return path_;
}

void TempFile::RemoveLeftovers(const std::string& target) {
  const std::string folder = ParentFolder(target);
  const std::string prefix = BareName(target) + ".";
  for (const std::string& name : ListNamesLike(folder, prefix, Suffix)) {
    // letters "-" digits between the prefix and the suffix, nothing else.
    const std::string_view middle(name.data() + prefix.size(),
                                  name.size() - prefix.size() -
                                      std::char_traits<char>::length(Suffix));
    if (middle.size() <= LetterCount + 1 || middle[LetterCount] != '-')
      continue;
    const std::string_view digits = middle.substr(LetterCount + 1);
    std::uint32_t id = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
    if (error != std::errc() || end != digits.data() + digits.size() || ProcessRunning(id))
      continue;
    DeleteFileAt(JoinPath(folder, name));
  }
}

} // namespace vornel
