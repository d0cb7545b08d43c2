#include "tests/support/windows/LinuxPeers.h"

#include "platform/windows/WinSupport.h"
#include "tests/support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

namespace vornel::test {

namespace fs = std::filesystem;

namespace {

// Each field as its length in decimal, a line end and its bytes, as the bridge reads them.
void AddField(std::string& message, const std::string& value) {
  message += std::to_string(value.size()) + "\n" + value + "\n";
}

std::optional<std::vector<std::string>> Fields(const std::string& message) {
  std::vector<std::string> fields;
  for (std::size_t at = 0; at < message.size();) {
    const std::size_t end = message.find('\n', at);
    if (end == std::string::npos)
      return std::nullopt;
    const std::size_t size = std::stoul(message.substr(at, end - at));
    if (end + 1 + size > message.size())
      return std::nullopt;
    fields.push_back(message.substr(end + 1, size));
    at = end + 1 + size + 1;
  }
  return fields;
}

} // namespace

std::string LinuxProgram(const std::string& name) {
  const std::optional<std::string> bridge = GetEnv("VORNEL_PEER_BRIDGE");
  const std::optional<std::string> path = GetEnv("VORNEL_PEER_PATH");
  if (!bridge || !path)
    return "";
  // Wine shows the Linux file system as drive Z:.
  std::error_code ignored;
  if (name.starts_with("/"))
    return fs::is_regular_file(FsPath("Z:" + name), ignored) ? name : "";
  if (name.find_first_of("/\\") != std::string::npos)
    return "";
  for (std::size_t start = 0; start <= path->size();) {
    const std::size_t end = std::min(path->find(':', start), path->size());
    const std::string folder = path->substr(start, end - start);
    if (!folder.empty() && fs::is_regular_file(FsPath("Z:" + folder + "/" + name), ignored))
      return folder + "/" + name;
    start = end + 1;
  }
  return "";
}

ProcessResult RunLinuxProgram(const std::vector<std::string>& args, const ProcessOptions& options) {
  static std::atomic<int> made{0};
  const std::string folder = GetEnv("VORNEL_PEER_BRIDGE").value_or("");
  const std::string stem =
      folder + "/" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(made++);
  std::string request;
  AddField(request, options.WorkDir);
  AddField(request, options.Input);
  AddField(request, options.ErrToOut ? "1" : "0");
  AddField(request, std::to_string(options.TimeoutSeconds));
  AddField(request, std::to_string(options.Env.size()));
  for (const auto& [name, value] : options.Env) {
    AddField(request, name);
    AddField(request, value ? "1" : "0");
    AddField(request, value.value_or(""));
  }
  AddField(request, std::to_string(args.size()));
  for (const std::string& arg : args)
    AddField(request, arg);

  ProcessResult result;
  WriteFile(stem + ".part", request);
  std::error_code error;
  fs::rename(FsPath(stem + ".part"), FsPath(stem + ".req"), error);
  if (error) {
    result.Err = "peer bridge: cannot hand over " + stem + ".req: " + error.message();
    return result;
  }
  // The bridge keeps its own time limit; this one only ends a wait for a bridge that is gone.
  const auto giveUp =
      std::chrono::steady_clock::now() +
      std::chrono::seconds(options.TimeoutSeconds > 0 ? options.TimeoutSeconds + 60 : 3600);
  while (!fs::exists(FsPath(stem + ".res"), error)) {
    if (std::chrono::steady_clock::now() > giveUp) {
      result.TimedOut = true;
      result.Err = "peer bridge: no answer to " + stem + ".req";
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const std::string reply = ReadFile(stem + ".res");
  fs::remove(FsPath(stem + ".res"), error);
  const std::optional<std::vector<std::string>> fields = Fields(reply);
  if (!fields || fields->size() != 4) {
    result.Err = "peer bridge: unreadable answer " + stem + ".res (" +
                 std::to_string(reply.size()) + " bytes)";
    return result;
  }
  result.Code = std::stoi((*fields)[0]);
  result.TimedOut = (*fields)[1] == "1";
  result.Out = (*fields)[2];
  result.Err = (*fields)[3];
  return result;
}

} // namespace vornel::test
