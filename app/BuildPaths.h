#pragma once

// Where a build reads and writes, and the guards that keep it from walking into its own output.

#include <string>

namespace vornel {

inline constexpr const char* UploadFolderName = "Upload";
inline constexpr const char* ManifestFileName = "updates.lst";
// Beside the upload folder: where a build keeps its unfinished work ("Upload.staging"), and the
// record of what a whole build wrote for verify ("Upload.build").
inline constexpr const char* StagingSuffix = ".staging";
inline constexpr const char* BuildRecordSuffix = ".build";

// The build record that lies beside another file of the working folder (the reuse record).
std::string BuildRecordBeside(const std::string& siblingPath);

// The clean root as the walks use it: absolute (a relative folder is taken from the current
// folder), without a trailing "/" except for the file-system root itself.
std::string NormaliseCleanRoot(const std::string& folder);

// True for what a window's folder tree gives for an item that is no folder on disk ("My
// Computer", the control panel, a library): the shell's name for it, "::{...}".
bool NamesShellItem(const std::string& path);

// The canonical form of a path (symbolic links resolved); empty when the path does not exist.
std::string CanonicalPath(const std::string& path);

// The canonical form of workDir + "/Upload", also before the folder exists (then its parent is
// resolved); empty when not even the parent exists.
std::string CanonicalUploadDir(const std::string& workDir);

// True when inner is outer or lies below it; both canonical.
bool IsSameOrInside(const std::string& inner, const std::string& outer);

// The path relative to the clean root, as the manifest spells it: components joined by "\".
std::string ManifestPath(const std::string& relativePath);

} // namespace vornel
