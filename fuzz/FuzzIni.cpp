// Fuzz target: the settings lookup on arbitrary ini text. The bytes become settings.ini in a
// scratch folder, and the keys a build reads are looked up through the same calls the build
// makes, plus a few spellings of section and key and small caller buffers.
//
// A lookup never fails: any input gives a value, which holds no zero byte and no line break,
// fits the caller's buffer, and is cut from the same value a larger buffer gets. A build's
// reading of the file either refuses it with the settings error or gives such values, and its
// warnings and yes-or-no keys never fail in another way.

#include "app/BuildProcedure.h"
#include "app/Settings.h"
#include "fuzz/FuzzScratch.h"
#include "platform/Ini.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

const vornel::fuzz::ScratchFolder& Scratch() {
  static const vornel::fuzz::ScratchFolder folder("ini");
  return folder;
}

void Check(bool condition) {
  if (!condition)
    std::abort();
}

void CheckValue(const std::string& value, std::size_t bufferSize) {
  Check(value.size() < bufferSize || (bufferSize == 0 && value.empty()));
  Check(value.find('\0') == std::string::npos);
  Check(value.find('\n') == std::string::npos);
}

void LookUp(const std::string& section, const std::string& key, const std::string& path) {
  const std::string whole = vornel::GetPrivateProfileString(section, key, "default", path);
  CheckValue(whole, 2048);
  for (const std::size_t size : {0, 1, 2, 7}) {
    const std::string cut = vornel::GetPrivateProfileString(section, key, "default", path, size);
    CheckValue(cut, size);
    Check(whole.compare(0, cut.size(), cut) == 0);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = (Scratch().Path() / vornel::SettingsFileName).string();
  vornel::fuzz::WriteBytes(path, std::string(reinterpret_cast<const char*>(data), size));

  CheckValue(vornel::Packer::ReadCustomName(path), 2048);
  try {
    const vornel::SettingsFile settings = vornel::SettingsFile::Load(path);
    for (const std::string& value : {vornel::ReadServer(settings), vornel::ReadModHost(settings)})
      Check(value.find('\0') == std::string::npos && value.find('\n') == std::string::npos);
    settings.Warnings();
    try {
      settings.Flag("FollowLinks");
    } catch (const vornel::ESettingsError&) {
      // A value that is no yes or no: refused by name, as it should be.
    }
  } catch (const vornel::ESettingsError&) {
    // A file that cannot be used (binary data, broken UTF-16): refused by name.
  }
  LookUp("main", "Server", path);
  LookUp(" MAIN ", "server ", path);
  LookUp("main", "", path);
  LookUp("", "", path);
  LookUp("ma]in", "Mod=Host", path);
  return 0;
}
