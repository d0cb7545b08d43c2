#include "cli/ProgressBar.h"

#include <algorithm>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vornel::cli {

namespace {

std::size_t TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    return size.ws_col;
  return 80;
}

// Best effort: a terminal that cannot take the bar must not end the build.
void WriteToTerminal(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (wrote <= 0)
      return;
    done += static_cast<std::size_t>(wrote);
  }
}

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

} // namespace

std::string ProgressLine(std::int32_t position, std::int32_t maximum, const std::string& label,
                         std::size_t width) {
  constexpr std::int32_t BarCells = 24;
  const std::int32_t shownMax = std::max(maximum, position);
  const std::int32_t filled =
      shownMax > 0
          ? static_cast<std::int32_t>(static_cast<std::int64_t>(position) * BarCells / shownMax)
          : 0;
  std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(BarCells - filled), '.') + "] " +
                     std::to_string(position) + "/" + std::to_string(shownMax);
  if (!label.empty())
    line += " " + Printable(label);
  // One column spare, so that the cursor never wraps to the next line.
  const std::size_t room = width > 1 ? width - 1 : 1;
  if (line.size() > room)
    line = line.substr(0, room);
  return line;
}

ProgressBar::ProgressBar(bool quiet) : enabled_(!quiet && ::isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() {
  Clear();
}

void ProgressBar::SetMax(std::int32_t maximum) {
  maximum_ = maximum;
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
  if (!enabled_)
    return;
  WriteToTerminal("\r" + ProgressLine(position_, maximum_, label_, TerminalWidth()) + "\033[K");
  drawn_ = true;
}

} // namespace vornel::cli
