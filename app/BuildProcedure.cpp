#include "app/BuildProcedure.h"

#include "app/BuildPaths.h"
#include "app/Manifest.h"
#include "app/PackFile.h"
#include "app/PellumSetup.h"
#include "app/Settings.h"
#include "app/TreeWalk.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "zip/Pellum.h"

#include <unistd.h>

namespace vornel {

namespace {

// One build from start to end. Everything it opens lives in this object or in the steps it
// calls, so an error releases every file on the way out.
class BuildRun {
public:
  BuildRun(Packer& packer, BuildView& view, const BuildOptions& options)
      : packer_(packer), view_(view), options_(options) {
    ConfigurePellum1(pellum_);
  }

  BuildOutcome Run(const std::string& cleanRoot, const std::string& workDir) {
    const std::string root = NormaliseCleanRoot(cleanRoot);
    if (root.empty())
      return Refuse("No clean folder was given");
    const auto found = FindFile(root);
    if (!found)
      return Refuse("The clean folder \"" + root + "\" does not exist");
    if ((found->Attributes & attr::Directory) == 0 || !DirectoryExists(root))
      return Refuse("\"" + root + "\" is not a folder");

    const std::string uploadDir = JoinPath(workDir, UploadFolderName);
    WalkScope scope{root, CanonicalPath(root), "", packer_.CustomName};
    const std::string canonicalUpload = CanonicalUploadDir(workDir);
    // Packing the output folder into itself would grow it without end.
    if (IsSameOrInside(scope.CanonicalRoot, canonicalUpload))
      return Refuse("The clean folder \"" + root + "\" lies inside the output folder \"" +
                    uploadDir + "\"");
    if (IsSameOrInside(canonicalUpload, scope.CanonicalRoot))
      scope.SkipDir = canonicalUpload;
    if (::access(root.c_str(), R_OK | X_OK) != 0)
      return Refuse("The clean folder \"" + root + "\" cannot be read");
    if (ListDirectory(root).empty())
      return Refuse("The clean folder \"" + root + "\" is empty");

    const CleanTree tree = WalkCleanTree(scope);
    CreateDir(uploadDir); // an existing folder is fine and is kept as it is
    MirrorFolders(tree, uploadDir);
    packer_.FileCount = tree.FileCount;
    packer_.SelfFound = tree.SelfFound ? 1 : 0;
    if (packer_.SelfFound != 1)
      return Refuse(packer_.CustomName + " not found in \"clean\" directory");
    if (StopRequested())
      return BuildOutcome::Stopped;

    ManifestWriter manifest(JoinPath(uploadDir, ManifestFileName));
    manifest.Start();
    PackSelfFile(root, uploadDir, manifest);
    const std::string settings = SettingsPathIn(workDir);
    manifest.AppendMisc(ReadServer(settings), ReadModHost(settings), packer_.FileCount - 1);
    view_.SetProgressMax(packer_.FileCount);
    if (!PackFolder(tree, root, uploadDir, manifest)) {
      view_.ResetProgress();
      return BuildOutcome::Stopped;
    }
    view_.ResetProgress();
    view_.ShowMessage("Done." + std::to_string(packer_.FileCount) + " files packed.");
    return BuildOutcome::Done;
  }

private:
  BuildOutcome Refuse(const std::string& message) {
    view_.ShowMessage(message);
    return BuildOutcome::Refused;
  }

  bool StopRequested() const {
    return options_.StopRequested != nullptr && options_.StopRequested->load();
  }

  // The self file is always taken from the clean root, whichever copy the walk met.
  void PackSelfFile(const std::string& root, const std::string& uploadDir,
                    ManifestWriter& manifest) {
    const std::string& name = packer_.CustomName;
    const PackedFile packed =
        PackOneFile(pellum_, JoinPath(root, name), JoinPath(uploadDir, name + ".zip"), name);
    manifest.AppendSelf(name, packed.Crc, packed.ArchiveSize);
    view_.StepProgress(name);
  }

  // The second pass: every file of the first walk, in its order. False when stopped early.
  bool PackFolder(const CleanTree& tree, const std::string& root, const std::string& uploadDir,
                  ManifestWriter& manifest) {
    for (const std::string& relative : tree.Files) {
      if (StopRequested())
        return false;
      const PackedFile packed = PackOneFile(pellum_, JoinPath(root, relative),
                                            JoinPath(uploadDir, relative) + ".zip", relative);
      manifest.AppendFile(packer_.FileNumber, ManifestPath(packed.RelativePath), packed.Crc,
                          packed.ArchiveSize);
      view_.StepProgress(relative);
      ++packer_.FileNumber;
    }
    return true;
  }

  Packer& packer_;
  BuildView& view_;
  const BuildOptions& options_;
  TPellum pellum_;
};

} // namespace

void Packer::ResetBuildValues() {
  FileCount = 0;
  FileNumber = 1;
  SelfFound = 0;
}

BuildOutcome Packer::Build(const std::string& cleanRoot, const std::string& workDir,
                           BuildView& view, const BuildOptions& options) {
  view.SetTreeEnabled(false);
  BuildOutcome outcome;
  try {
    outcome = BuildRun(*this, view, options).Run(cleanRoot, workDir);
  } catch (...) {
    ResetBuildValues();
    view.SetTreeEnabled(true);
    throw;
  }
  ResetBuildValues();
  view.SetTreeEnabled(true);
  return outcome;
}

} // namespace vornel
