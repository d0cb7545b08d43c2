#pragma once

// A one-line progress bar on standard error for the long verbs (build, verify). It draws only
// when standard error is a terminal, so logs and pipes stay clean.

#include <chrono>
#include <cstdint>
#include <string>

namespace vornel::cli {

class ProgressBar {
public:
  // Draws nothing when quiet or when standard error is not a terminal.
  explicit ProgressBar(bool quiet);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  bool Enabled() const { return enabled_; }
  void SetMax(std::int32_t maximum);
  // The bytes behind all steps; from then on the bar shows bytes done and the time left.
  void SetBytes(std::uint64_t total);
  // The bytes done so far, those of items still under way included; drawn with the next step,
  // or at once when the bar has not been drawn for a while.
  void SetBytesDone(std::uint64_t done);
  // One step done; label names the item just finished.
  void Step(const std::string& label);
  // Removes the bar from the terminal (before a message is printed).
  void Clear();

private:
  void Draw();

  bool enabled_;
  bool drawn_ = false;
  std::int32_t maximum_ = 0;
  std::int32_t position_ = 0;
  std::string label_;
  std::uint64_t bytesTotal_ = 0;
  std::uint64_t bytesDone_ = 0;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point drawnAt_{};
};

// The text of one bar line, fitted to width columns (for tests and Draw).
std::string ProgressLine(std::int32_t position, std::int32_t maximum, const std::string& label,
                         std::size_t width);

// "1.5 MiB", "730 KiB", "12 B".
std::string ShortBytes(std::uint64_t bytes);

// Bytes done and in all, and the estimate of the time left (negative: not known yet).
struct ByteProgress {
  std::uint64_t Done = 0;
  std::uint64_t Total = 0;
  double SecondsLeft = -1;
};

// The same with the bytes and the time left after the count: the largest files go first, so
// the count alone would promise an early end.
std::string ProgressLine(std::int32_t position, std::int32_t maximum, const ByteProgress& bytes,
                         const std::string& label, std::size_t width);

} // namespace vornel::cli
