#pragma once

// A one-line progress bar on standard error for the long verbs (build, verify). It draws only
// when standard error is a terminal, so logs and pipes stay clean.

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
};

// The text of one bar line, fitted to width columns (for tests and Draw).
std::string ProgressLine(std::int32_t position, std::int32_t maximum, const std::string& label,
                         std::size_t width);

} // namespace vornel::cli
