#include "platform/TempFile.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"

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

} // namespace

TempFile::TempFile(const std::string& target) {
  // A name taken by someone else is tried again; anything else is the reason to report.
  constexpr int Attempts = 100;
  for (int attempt = 1;; ++attempt) {
    path_ = target + "." + RandomLetters(6) + ".tmp";
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
  return path_;
}

} // namespace vornel
