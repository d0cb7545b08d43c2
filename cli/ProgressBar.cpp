#include "cli/ProgressBar.h"

#include "platform/Console.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace vornel::cli {

namespace {

// Control characters of a file name would move the cursor; they are shown as "?".
std::string Printable(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F)
      c = '?';
  }
  return shown;
}

std::string ShortDuration(double seconds) {
  const auto whole = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  return text;
}

std::string Fit(std::string line, std::size_t width) {
  // One column spare, so that the cursor never wraps to the next line.
  const std::size_t room = width > 1 ? width - 1 : 1;
  if (line.size() > room)
    line = line.substr(0, room);
  return line;
}

constexpr std::int32_t BarCells = 24;

std::int32_t Filled(std::int32_t position, std::int32_t maximum) {
  const std::int32_t shownMax = std::max(maximum, position);
  return shownMax > 0
             ? static_cast<std::int32_t>(static_cast<std::int64_t>(position) * BarCells / shownMax)
             : 0;
}

std::string Bar(std::int32_t filled) {
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(BarCells - filled), '.') + "] ";
}

std::string Count(std::int32_t position, std::int32_t maximum) {
  return std::to_string(position) + "/" + std::to_string(std::max(maximum, position));
}

} // namespace

std::string ShortBytes(std::uint64_t bytes) {
  static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(units)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
  return text;
}

std::string ProgressLine(std::int32_t position, std::int32_t maximum, const ByteProgress& bytes,
                         const std::string& label, std::size_t width) {
  // The bar fills by bytes: one large file moves it as it is packed.
  const std::uint64_t done = std::min(bytes.Done, bytes.Total);
  std::string line = Bar(bytes.Total > 0 ? static_cast<std::int32_t>(done * BarCells / bytes.Total)
                                         : Filled(position, maximum)) +
                     Count(position, maximum);
  line += ", " + ShortBytes(bytes.Done) + " of " + ShortBytes(bytes.Total);
  if (bytes.SecondsLeft >= 0)
    line += ", " + ShortDuration(bytes.SecondsLeft) + " left";
  if (!label.empty())
    line += " " + Printable(label);
  return Fit(line, width);
}

std::string ProgressLine(std::int32_t position, std::int32_t maximum, const std::string& label,
                         std::size_t width) {
  std::string line = Bar(Filled(position, maximum)) + Count(position, maximum);
  if (!label.empty())
    line += " " + Printable(label);
  return Fit(line, width);
}

ProgressBar::ProgressBar(bool quiet) : enabled_(!quiet && StandardErrorIsTerminal()) {}

ProgressBar::~ProgressBar() {
  Clear();
}

void ProgressBar::SetMax(std::int32_t maximum) {
  maximum_ = maximum;
  Draw();
}

void ProgressBar::SetBytes(std::uint64_t total) {
  bytesTotal_ = total;
  started_ = std::chrono::steady_clock::now();
}

void ProgressBar::SetBytesDone(std::uint64_t done) {
  bytesDone_ = done;
  if (std::chrono::steady_clock::now() - drawnAt_ >= std::chrono::milliseconds(100))
    Draw();
}

void ProgressBar::Step(const std::string& label) {
  ++position_;
  label_ = label;
  Draw();
}

void ProgressBar::Clear() {
  if (!drawn_)
    return;
  WriteToTerminal("\r\033[K");
  drawn_ = false;
}

void ProgressBar::Draw() {
  // Nothing before the count is known: a step against no maximum would draw a full bar.
  if (!enabled_ || maximum_ <= 0)
    return;
  drawnAt_ = std::chrono::steady_clock::now();
  std::string line;
  if (bytesTotal_ == 0) {
    line = ProgressLine(position_, maximum_, label_, TerminalColumns());
  } else {
    ByteProgress bytes{bytesDone_, bytesTotal_, -1};
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started_;
    // A second of history at least, or the first small file promises a minute for a day's work.
    if (bytesDone_ > 0 && elapsed.count() >= 1 && bytesDone_ <= bytesTotal_)
      bytes.SecondsLeft = elapsed.count() * static_cast<double>(bytesTotal_ - bytesDone_) /
                          static_cast<double>(bytesDone_);
    line = ProgressLine(position_, maximum_, bytes, label_, TerminalColumns());
  }
  WriteToTerminal("\r" + line + "\033[K");
  drawn_ = true;
}

} // namespace vornel::cli
