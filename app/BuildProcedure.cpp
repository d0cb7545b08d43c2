#include "app/BuildProcedure.h"

#include "app/BuildPaths.h"
#include "app/BuildRecord.h"
#include "app/ComposedPathSet.h"
#include "app/Exclusions.h"
#include "app/Manifest.h"
#include "app/ManifestReader.h"
#include "app/NameRules.h"
#include "app/PackEngine.h"
#include "app/PackFile.h"
#include "app/PellumSetup.h"
#include "app/ReuseCheck.h"
#include "app/ReuseRecord.h"
#include "app/Settings.h"
#include "app/SourceOpen.h"
#include "app/StagedUpload.h"
#include "app/TreeCheck.h"
#include "app/UpdateDiff.h"
#include "app/UploadGuard.h"
#include "app/UploadScan.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/FindFiles.h"
#include "platform/FolderSwap.h"
#include "platform/ObjectPool.h"
#include "platform/Stream.h"
#include "zip/Pellum.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

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
    // Read once at every build, so a changed settings file counts at once and an edit during the
    // build cannot mix two configurations; a bad value stops the build before anything is
    // written.
    std::optional<SettingsFile> loaded;
    try {
      loaded = SettingsFile::Load(SettingsPathIn(workDir));
    } catch (const ESettingsError& error) {
      return Refuse(error.what());
    }
    const SettingsFile& settings = *loaded;
    // A packer made without the self file's name takes it from this reading, and keeps it.
    if (packer_.CustomName.empty())
      packer_.CustomName = settings.String("CustomName", DefaultCustomName);
    for (const std::string& warning : settings.Warnings())
      view_.ShowWarning(warning);
    try {
      compressor_ = ReadCompressor(settings, options_.Compressor, options_.Level);
    } catch (const ECompressorChoice& error) {
      return Refuse(error.what());
    }
    const std::string root = NormaliseCleanRoot(cleanRoot);
    if (root.empty())
      return Refuse("No clean folder was given");
    const auto found = FindFile(root);
    if (!found)
      return Refuse("The clean folder \"" + root + "\" does not exist");
    if ((found->Attributes & attr::Directory) == 0 || !DirectoryExists(root))
      return Refuse("\"" + root + "\" is not a folder");

    const std::string uploadDir = JoinPath(workDir, UploadFolderName);
    WalkScope scope{root, CanonicalPath(root), "", packer_.CustomName, ""};
    const std::string canonicalUpload = CanonicalUploadDir(workDir);
    // Packing the output folder into itself would grow it without end.
    if (IsSameOrInside(scope.CanonicalRoot, canonicalUpload))
      return Refuse("The clean folder \"" + root + "\" lies inside the output folder \"" +
                    uploadDir + "\"");
    if (IsSameOrInside(canonicalUpload, scope.CanonicalRoot))
      scope.SkipDir = canonicalUpload;
    scope.OutputDir = canonicalUpload;
    const std::string canonicalWork = CanonicalPath(workDir);
    const bool workInside = IsSameOrInside(canonicalWork, scope.CanonicalRoot);
    if (workInside) {
      scope.SkipFile = JoinPath(canonicalWork, ReuseRecordFileName);
      scope.OwnSettings = JoinPath(canonicalWork, SettingsFileName);
    }
    if (!CanListFolder(root))
      return Refuse("The clean folder \"" + root + "\" cannot be read");

    std::vector<std::string> patterns = ReadExcludePatterns(settings);
    patterns.insert(patterns.end(), options_.Exclude.begin(), options_.Exclude.end());
    const Exclusions exclude(patterns);
    // Every client needs the updater itself.
    if (const auto by = exclude.Match(packer_.CustomName, false))
      return Refuse(packer_.CustomName + " is left out by the exclusion pattern \"" + *by +
                    "\", but the update set needs it");
    scope.Exclude = &exclude;
    scope.CountExcluded = options_.DryRun;

    try {
      scope.Target = ClientCodePage(options_.CodePage, settings);
      scope.FollowLinks = options_.FollowLinks || ReadFollowLinks(settings);
      reuse_ = options_.Reuse || ReadReuse(settings);
      prune_ = options_.Prune || ReadPrune(settings);
    } catch (const std::invalid_argument& error) {
      return Refuse(error.what());
    } catch (const ESettingsError& error) {
      return Refuse(error.what());
    }
    view_.ShowSettings({packer_.CustomName, ReadServer(settings), ReadModHost(settings),
                        scope.Target.Name(), DescribeCompressor(compressor_), patterns,
                        scope.FollowLinks, reuse_, prune_});
    const CleanTree tree = CheckCleanTree(scope);
    // Told from the walk's own listing, so the clean folder is listed once per build.
    if (tree.RootEmpty)
      return Refuse("The clean folder \"" + root + "\" is empty");
    std::vector<TreeProblem> problems = tree.Problems;
    AddSelfFileProblems(tree, problems);
    for (TreeProblem& problem : CheckUploadTargets(uploadDir, tree))
      problems.push_back(std::move(problem));
    packer_.FileCount = tree.FileCount;
    packer_.SelfFound = tree.SelfFound ? 1 : 0;
    if (!problems.empty()) {
      view_.ShowProblems(problems);
      return BuildOutcome::Refused;
    }
    if (!tree.SelfNamesakeFolders.empty())
      view_.ShowWarning(NamesakeWarning(tree));
    if (workInside)
      view_.ShowWarning("the clean folder \"" + root + "\" " +
                        (canonicalWork == scope.CanonicalRoot
                             ? std::string("is the working folder")
                             : "holds the working folder \"" + workDir + "\"") +
                        ": Upload/ and the build's records there are left out, but anything "
                        "else kept there is published; run vornel in another folder (-C DIR)");
    ShowTreeWarnings(tree);
    markUtf8_ = scope.Target.IsUtf8();
    std::optional<StagedUpload> staged;
    try {
      staged.emplace(LocateUpload(uploadDir));
      if (options_.DryRun)
        return DryRun(root, workDir, staged->Places(), tree);
      staged->Begin(reuse_);
    } catch (const std::runtime_error& refusal) {
      if (dynamic_cast<const EIoError*>(&refusal) != nullptr)
        throw;
      return Refuse(refusal.what());
    }
    // Until the last step, everything is written into the staging folder; the live folder that
    // clients read stays as the last whole build left it.
    live_ = staged->Places().Live;
    const std::string& stagingDir = staged->Places().Staging;
    if (reuse_)
      WeedStaging(stagingDir, tree);
    MirrorFolders(tree, stagingDir);
    if (StopRequested())
      return Stop();
    // What the build will not produce is known from the start; the listing of the live folder's
    // archives (as big as the tree) is not kept while packing, only its folders and other files.
    UploadContents before = ScanUpload(live_);
    const StaleSet stale = FindStaleIn(before, tree);
    before.Archives = {};
    ShowPlan(root, tree);

    recordPath_ = JoinPath(workDir, ReuseRecordFileName);
    // Only a build that may keep archives reads the earlier record before it packs.
    if (reuse_)
      record_ = ReuseRecord::Load(recordPath_, compressor_);
    const std::string server = ReadServer(settings);
    const std::string modHost = ReadModHost(settings);
    ManifestWriter manifest(JoinPath(stagingDir, ManifestFileName));
    manifest.Start();
    bool whole = false;
    try {
      PackSelfFile(root, stagingDir, tree, manifest);
      manifest.AppendMisc(server, modHost, packer_.FileCount - 1);
      view_.SetProgressMax(packer_.FileCount);
      // A stop asked for during the last files stops too: the operator was told it would.
      whole = PackFolder(tree, root, stagingDir, manifest) && !StopRequested();
      manifest.Finish();
      if (whole)
        SaveRecord(true);
    } catch (...) {
      try {
        SaveRecord(false);
      } catch (...) {
        // The build's own error is the one to report; a record left as it was only costs time.
      }
      throw;
    }
    view_.ResetProgress();
    if (!whole) {
      SaveRecord(false);
      return Stop();
    }
    const std::optional<ArchiveDigest> manifestDigest = DigestFile(manifest.Path());
    const std::string cost = UpdateCost(manifest.Path());
    const PublishResult published = staged->Publish(before, KeptFromLive(), stale, prune_);
    if (!published.AtOnce)
      view_.ShowWarning("the new archives were put in place one by one, then updates.lst (" +
                        published.Reason +
                        "); a client that read updates.lst meanwhile may have fetched an archive "
                        "newer than its line");
    if (!published.Leftover.empty())
      view_.ShowWarning("the build is published, but \"" + staged->Places().Staging +
                        "\" could not be removed (" + published.Leftover +
                        "); the next build removes it");
    if (!cost.empty())
      view_.ShowUpdateCost(cost);
    // The set is live from here on: what still fails is told, not made the build's outcome.
    try {
      if (manifestDigest)
        SaveBuildRecord(BuildRecordPathFor(uploadDir),
                        {*manifestDigest, packer_.FileCount - packer_.FileNumber});
    } catch (const std::exception& error) {
      view_.ShowWarning(std::string("the build is published, but its record for verify could "
                                    "not be written (") +
                        error.what() + ")");
    }
    ReportStale(stale, published);
    ShowCounts();
    view_.ShowMessage("Done." + std::to_string(packer_.FileCount) + " files packed.");
    return BuildOutcome::Done;
  }

private:
  // The self file is packed from the root only: a tree with no copy there is refused, and one
  // with copies below it only warned about.
  void AddSelfFileProblems(const CleanTree& tree, std::vector<TreeProblem>& problems) const {
    if (!tree.ClientSelfName.empty())
      return;
    std::string text = packer_.CustomName + " not found in \"clean\" directory";
    if (!tree.SelfNamesakeFolders.empty())
      text += " (it lies only in " + tree.SelfNamesakeFolders.front() + ")";
    problems.push_back({"", text});
  }

  // What the tree holds that the client may not want, and paths that leave little room for the
  // client's install folder.
  void ShowTreeWarnings(const CleanTree& tree) {
    if (!tree.Leftovers.empty()) {
      std::string names;
      for (const std::string& path : tree.Leftovers)
        names += (names.empty() ? "\"" : ", \"") + PrintableName(path) + "\"";
      view_.ShowWarning("the clean folder holds what looks like a build's output or settings, "
                        "not the client's files: " +
                        names + "; it is published with the client (--exclude leaves it out)");
    }
    if (tree.TightestRoom < WantedInstallFolderRoom)
      view_.ShowWarning("\"" + PrintableName(tree.TightestPath) + "\" leaves only " +
                        std::to_string(tree.TightestRoom) +
                        " characters for the client's install folder (Windows paths hold at "
                        "most 259 characters); a client installed in a longer folder cannot "
                        "create it");
  }

  std::string NamesakeWarning(const CleanTree& tree) const {
    std::string folders;
    for (const std::string& folder : tree.SelfNamesakeFolders)
      folders += (folders.empty() ? "" : ", ") + folder;
    return "files named " + packer_.CustomName + " also lie in " + folders +
           "; they are counted in fcount= but not packed";
  }

  BuildOutcome Refuse(const std::string& message) {
    view_.ShowMessage(message);
    return BuildOutcome::Refused;
  }

  // What the build would do, found without writing anything: not the folders, not the
  // manifest, not the record.
  BuildOutcome DryRun(const std::string& root, const std::string& workDir,
                      const UploadPlaces& places, const CleanTree& tree) {
    live_ = places.Live;
    const std::string& stagingDir = places.Staging;
    const ReuseRecord record =
        reuse_ ? ReuseRecord::Load(JoinPath(workDir, ReuseRecordFileName), compressor_)
               : ReuseRecord{};
    DryRunReport report;
    report.ExcludedFiles = tree.ExcludedFiles;
    report.ExcludedFolders = tree.ExcludedFolders;
    const auto plan = [&](const PackTask& task) {
      bool kept = false;
      if (reuse_) {
        try {
          const auto source = OpenCheckedSource(task.RealPath, task.SourcePath, task.Size);
          kept = FindReusable(task, *source, record).Kept.has_value();
        } catch (const std::exception&) {
          // Changed since the check: a real build packs it afresh and reports what is wrong.
        }
      }
      (kept ? report.Keep : report.Pack).push_back({task.RelativePath, task.Size});
    };
    plan(SelfTask(root, stagingDir, tree));
    PackTask task;
    const std::string rootSlash = JoinPath(root, "");
    const std::string uploadSlash = JoinPath(stagingDir, "");
    for (std::size_t i = 0; i < tree.PackCount(); ++i) {
      ComposeTask(tree, rootSlash, uploadSlash, i, task);
      plan(task);
    }
    const StaleSet stale = FindStaleIn(ScanUpload(live_), tree);
    report.StaleArchives = stale.Archives;
    report.StaleFolders = stale.Folders;
    view_.ShowDryRun(report);
    return BuildOutcome::Done;
  }

  BuildOutcome Stop() {
    StopReport report;
    const auto count = [&report](const FileOutcome& outcome) {
      if (outcome.Done)
        ++report.Finished;
    };
    count(selfOutcome_);
    for (const FileOutcome& outcome : outcomes_)
      count(outcome);
    report.Live = live_;
    view_.ShowStopped(report);
    return BuildOutcome::Stopped;
  }

  void ShowPlan(const std::string& root, const CleanTree& tree) {
    std::uint64_t bytes = 0;
    if (const auto self = FindFile(JoinPath(root, packer_.CustomName)))
      bytes = self->Size;
    for (const std::uint64_t size : tree.Sizes())
      bytes += size;
    view_.ShowPlan(static_cast<std::int32_t>(tree.PackCount()) + 1, bytes);
  }

  // The paths of the self file's archive: always the one in the clean root.
  PackTask SelfTask(const std::string& root, const std::string& uploadDir,
                    const CleanTree& tree) const {
    const std::string& name = packer_.CustomName;
    return PackTask{JoinPath(root, name),
                    JoinPath(uploadDir, name + ".zip"),
                    name,
                    tree.SelfSize,
                    tree.ClientSelfName,
                    tree.SelfSourcePath};
  }

  // The paths of file index, composed into task's own strings, which keep their room from one
  // file to the next.
  // root and uploadDir are the folders with their trailing "/" (JoinPath(folder, "")).
  static void ComposeTask(const CleanTree& tree, const std::string& root,
                          const std::string& uploadDir, std::size_t index, PackTask& task) {
    task.RelativePath.clear();
    tree.AppendRelativePath(index, task.RelativePath);
    task.SourcePath.assign(root).append(task.RelativePath);
    task.ZipPath.assign(uploadDir).append(task.RelativePath);
    task.ZipPath += ".zip";
    task.Size = tree.Sizes()[index];
    task.EntryName.clear();
    tree.AppendClientName(index, task.EntryName);
    task.RealPath.clear();
    tree.AppendRealPath(index, task.RealPath);
  }

  // What in Upload/ no file or folder of the tree (or the self file) produces.
  StaleSet FindStaleIn(const UploadContents& contents, const CleanTree& tree) const {
    if (contents.Archives.empty() && contents.Folders.empty())
      return {}; // a first build: nothing to look up
    const ComposedPathSet files(tree.PackCount(), [&tree](std::size_t i, std::string& out) {
      tree.AppendRelativePath(i, out);
    });
    const ComposedPathSet folders(tree.FolderCount(), [&tree](std::size_t i, std::string& out) {
      tree.AppendFolderPath(i, out);
    });
    const std::string selfArchive = packer_.CustomName + ".zip";
    const auto produced = [&](std::string_view archive) {
      constexpr std::string_view suffix = ".zip";
      if (archive == selfArchive)
        return true;
      return archive.size() > suffix.size() && archive.ends_with(suffix) &&
             files.Contains(archive.substr(0, archive.size() - suffix.size()));
    };
    return FindStale(contents, produced,
                     [&folders](std::string_view folder) { return folders.Contains(folder); });
  }

  // Archives and folders of Upload/ that this whole build did not produce.
  void ReportStale(const StaleSet& stale, const PublishResult& published) {
    if (stale.Empty())
      return;
    StaleReport report{static_cast<std::int32_t>(stale.Archives.size()),
                       static_cast<std::int32_t>(stale.Folders.size()), false};
    if (prune_)
      report = {published.PrunedArchives, published.PrunedFolders, true};
    view_.ShowStale(report);
  }

  // What the players download to go from the live set to the one in newManifest; empty for a
  // first build, when nothing is to be downloaded, or when the live manifest cannot be read
  // (the build is not the worse for it).
  std::string UpdateCost(const std::string& newManifest) const {
    try {
      const std::string livePath = JoinPath(live_, ManifestFileName);
      if (!FileExists(livePath))
        return {};
      const UpdateDiff diff = CompareManifests(ParseManifest(ReadWholeFile(livePath)),
                                               ParseManifest(ReadWholeFile(newManifest)));
      return diff.Downloads() > 0 ? DownloadSummary(diff) : std::string();
    } catch (const std::exception&) {
      return {};
    }
  }

  // A stopped build's staging folder holds what it finished; whatever else lies there (archives
  // of files since deleted, a dead build's links, anything not a folder where the tree has one)
  // goes, so that only what this build produces or keeps is published.
  void WeedStaging(const std::string& stagingDir, const CleanTree& tree) const {
    const UploadContents contents = ScanUpload(stagingDir);
    const StaleSet stale = FindStaleIn(contents, tree);
    for (const auto* list : {&stale.Archives, &contents.Temporaries, &contents.Others})
      for (const std::string& path : *list)
        RemoveTree(JoinPath(stagingDir, path));
    for (const std::string& folder : stale.Folders)
      RemoveTree(JoinPath(stagingDir, folder));
    RemoveTree(JoinPath(stagingDir, ManifestFileName));
    std::string folder;
    for (std::size_t i = tree.FolderCount(); i-- > 0;) {
      folder.clear();
      tree.AppendFolderPath(i, folder);
      const std::string path = JoinPath(stagingDir, folder);
      const PathKind kind = KindOfPath(path);
      if (kind != PathKind::Missing && kind != PathKind::Folder)
        RemoveTree(path);
    }
  }

  // The archives a --reuse build keeps from the live folder: the published set links them.
  std::vector<std::string> KeptFromLive() const {
    std::vector<std::string> kept;
    ForEachArchive([&kept](std::string_view key, const FileOutcome& outcome) {
      if (outcome.FromLive)
        kept.emplace_back(key);
    });
    return kept;
  }

  // An archive that may stay: the one a stopped build left in the staging folder, else the live
  // one. A staging archive that does not pass is removed, so that nothing but the kept one can
  // take its place.
  struct Reusable {
    std::optional<KeptArchive> Kept;
    bool FromLive = false;
  };
  Reusable FindReusable(const PackTask& task, SourceFile& source, const ReuseRecord& record) const {
    const std::uint16_t flags = NewEntryFlags(task.EntryName, markUtf8_);
    const ArchiveDigest* recorded = record.Find(RecordKey(task));
    const bool staged = KindOfPath(task.ZipPath) != PathKind::Missing;
    if (staged) {
      if (auto kept = CheckReusable(task, source, flags, recorded))
        return {std::move(kept), false};
      source.SetPosition(0);
    }
    PackTask live = task;
    live.ZipPath = JoinPath(live_, task.RelativePath + ".zip");
    auto kept = CheckReusable(live, source, flags, recorded);
    if (kept && staged && !options_.DryRun)
      DeleteFileAt(task.ZipPath);
    return {std::move(kept), kept.has_value()};
  }

  bool StopRequested() const {
    return options_.StopRequested != nullptr && options_.StopRequested->load();
  }

  // What became of one file's archive; written by the worker that handled it, read by the
  // build's thread once the engine says it is finished (or has ended). Kept for every file to
  // the end of the build, so only what the manifest and the record need.
  struct FileOutcome {
    std::uint32_t Crc = 0;
    std::int32_t ArchiveSize = 0;
    ArchiveDigest Digest;
    bool HasDigest = false;
    bool Attempted = false;
    bool Done = false;
    bool Reused = false;
    bool FromLive = false; // kept from the live folder rather than the staging folder
  };

  static std::string RecordKey(const PackTask& task) { return task.RelativePath + ".zip"; }

  // Keeps the archive when its content was compared with the file (with --reuse), packs the file
  // otherwise, and notes the archive's digest for the next build's record. An error
  // names the file it concerns.
  void PackOrKeep(TPellum& pellum, const PackTask& task, FileOutcome& outcome) const {
    try {
      PackOrKeepFile(pellum, task, outcome);
    } catch (...) {
      RaiseNamingFile(task);
    }
  }

  // Raises the error in flight again naming the file by its path relative to the clean root
  // (`File not found: "data\maps\start.map".`): an error about the source itself names it so,
  // one that names another file (its archive) stays as it is, one that names none gets it added.
  [[noreturn]] static void RaiseNamingFile(const PackTask& task) {
    const std::string relative = task.RelativePath;
    try {
      throw;
    } catch (const EInOutError& error) {
      if (error.Path().empty() || error.Path() == task.SourcePath)
        throw error.WithPath(relative);
      throw;
    } catch (const std::exception& error) {
      const std::string text = error.what();
      if (text.find(task.SourcePath) != std::string::npos ||
          text.find(task.ZipPath) != std::string::npos)
        throw;
      const std::string named = text + ": \"" + relative + "\".";
      if (dynamic_cast<const EFileChanged*>(&error) != nullptr)
        throw EFileChanged(named);
      if (dynamic_cast<const EPellumError*>(&error) != nullptr)
        throw EPellumError(named);
      throw std::runtime_error(named);
    }
  }

  void PackOrKeepFile(TPellum& pellum, const PackTask& task, FileOutcome& outcome) const {
    outcome.Attempted = true;
    // The bytes the component has read of this file, added to the build's count as it goes.
    std::uint64_t counted = 0;
    const auto count = [this, &counted](std::uint64_t consumed) {
      if (consumed > counted) {
        bytesRead_ += consumed - counted;
        counted = consumed;
      }
    };
    pellum.OnCompressFile = [&count, this](TPellum&, std::int32_t consumed, std::int32_t) {
      count(static_cast<std::uint64_t>(std::max(consumed, 0)));
      // With one job the build's own thread packs: it reports from here.
      if (std::this_thread::get_id() == buildThread_) {
        AcknowledgeStop(1);
        ReportBytes(false);
      }
    };
    struct Unhook {
      TPellum& Pellum;
      ~Unhook() { Pellum.OnCompressFile = nullptr; }
    } unhook{pellum};
    PackOrKeepSource(pellum, task, outcome);
    count(task.Size);
  }

  // Says at once that a stop was asked for, while files are still in flight.
  void AcknowledgeStop(std::size_t filesInFlight) const {
    if (!stoppingShown_ && filesInFlight > 0 && StopRequested()) {
      stoppingShown_ = true;
      view_.ShowStopping(filesInFlight);
    }
  }

  // The bytes read so far: at once, or when their time has come (a few times a second, or
  // every few MiB).
  void ReportBytes(bool now) const {
    const auto time = std::chrono::steady_clock::now();
    const std::uint64_t bytes = bytesRead_.load();
    if (!now && time - bytesShownAt_ < PackWaitReport && bytes - bytesShown_ < BytesReportStep)
      return;
    bytesShownAt_ = time;
    bytesShown_ = bytes;
    view_.ShowBytesRead(bytes);
  }

  void PackOrKeepSource(TPellum& pellum, const PackTask& task, FileOutcome& outcome) const {
    pellum.SetMarkUtf8Names(markUtf8_);
    const auto source = OpenCheckedSource(task.RealPath, task.SourcePath, task.Size);
    if (reuse_) {
      Reusable reusable = FindReusable(task, *source, record_);
      if (reusable.Kept) {
        // The live archive's record entry names its own bytes; so does the staging one's.
        Note(reusable.Kept->File, reusable.Kept->Digest, outcome);
        outcome.Reused = true;
        outcome.FromLive = reusable.FromLive;
        return;
      }
      source->SetPosition(0);
    }
    pellum.SetCompressor(compressor_);
    const PackedFile packed = PackOneFile(pellum, *source, task.SourcePath, task.ZipPath,
                                          task.RelativePath, task.EntryName);
    Note(packed, packed.Digest, outcome);
  }

  static void Note(const PackedFile& file, const std::optional<ArchiveDigest>& digest,
                   FileOutcome& outcome) {
    outcome.Crc = file.Crc;
    outcome.ArchiveSize = file.ArchiveSize;
    outcome.HasDigest = digest.has_value();
    if (digest)
      outcome.Digest = *digest;
    outcome.Done = true;
  }

  // The self file is always taken from the clean root, whichever copy the walk met.
  void PackSelfFile(const std::string& root, const std::string& uploadDir, const CleanTree& tree,
                    ManifestWriter& manifest) {
    selfTask_ = SelfTask(root, uploadDir, tree);
    PackOrKeep(pellum_, selfTask_, selfOutcome_);
    manifest.AppendSelf(tree.ClientSelfName, selfOutcome_.Crc, selfOutcome_.ArchiveSize);
    ShowArchive(selfTask_.RelativePath, selfTask_.Size, selfOutcome_);
    ReportBytes(true);
    view_.StepProgress(selfTask_.RelativePath);
  }

  // Lists finished files in tree order and steps the progress once per finished archive.
  class ManifestSink final : public PackSink {
  public:
    ManifestSink(BuildRun& run, ManifestWriter& manifest) : run_(run), manifest_(manifest) {}
    void Listed(std::size_t index) override {
      const FileOutcome& outcome = run_.outcomes_[index];
      path_.clear();
      run_.tree_->AppendClientPath(index, path_);
      manifest_.AppendFile(run_.packer_.FileNumber, path_, outcome.Crc, outcome.ArchiveSize);
      ++run_.packer_.FileNumber;
    }
    void Finished(std::size_t index) override {
      path_.clear();
      run_.tree_->AppendRelativePath(index, path_);
      run_.ShowArchive(path_, run_.tree_->Sizes()[index], run_.outcomes_[index]);
      run_.ReportBytes(true);
      run_.view_.StepProgress(path_);
    }
    void Pulse(std::size_t inFlight) override {
      run_.AcknowledgeStop(inFlight);
      run_.ReportBytes(false);
    }

  private:
    BuildRun& run_;
    ManifestWriter& manifest_;
    std::string path_; // composed for each call, its room kept
  };

  // The second pass: every file of the first walk, listed in its order. False when stopped
  // early.
  bool PackFolder(const CleanTree& tree, const std::string& root, const std::string& uploadDir,
                  ManifestWriter& manifest) {
    tree_ = &tree;
    outcomes_.assign(tree.PackCount(), FileOutcome{});
    ManifestSink sink(*this, manifest);
    const std::string rootSlash = JoinPath(root, "");
    const std::string uploadSlash = JoinPath(uploadDir, "");
    const PackWork work = [&](TPellum& pellum, std::size_t index) {
      // One set of paths per worker, reused from file to file.
      const auto task = tasks_.Take();
      ComposeTask(tree, rootSlash, uploadSlash, index, *task);
      PackOrKeep(pellum, *task, outcomes_[index]);
    };
    return RunPackEngine(tree.Sizes(), options_.Jobs, options_.StopRequested, work, sink);
  }

  // The record for the next build: after a whole build exactly its archives; after a stop or an
  // error the earlier record with this build's changes, as the other archives stay as they were.
  // Written line by line as the archives are gone through, so it holds no copy of the tree.
  void SaveRecord(bool whole) const {
    ReuseRecordWriter next(recordPath_, compressor_);
    if (!whole)
      KeepUntried(next);
    ForEachArchive([&next](std::string_view key, const FileOutcome& outcome) {
      if (outcome.Done && outcome.HasDigest)
        next.Add(key, outcome.Digest);
    });
    next.Commit();
  }

  // The earlier record's entries of the archives this build did not try: they stay as they were.
  void KeepUntried(ReuseRecordWriter& next) const {
    ReuseRecord loaded;
    const ReuseRecord* earlier = &record_;
    if (!reuse_) {
      loaded = ReuseRecord::Load(recordPath_, compressor_);
      earlier = &loaded;
    }
    std::vector<bool> tried(earlier->Size(), false);
    ForEachArchive([&](std::string_view key, const FileOutcome& outcome) {
      if (outcome.Attempted)
        if (const auto index = earlier->IndexOf(key))
          tried[*index] = true;
    });
    for (std::size_t i = 0; i < tried.size(); ++i)
      if (!tried[i])
        next.Add(earlier->Key(i), earlier->Digest(i));
  }

  // Calls visit with each archive's path relative to Upload/ and its outcome, the self file's
  // first.
  template <typename Visit> void ForEachArchive(const Visit& visit) const {
    visit(RecordKey(selfTask_), selfOutcome_);
    std::string key;
    for (std::size_t i = 0; i < outcomes_.size(); ++i) {
      key.clear();
      tree_->AppendRelativePath(i, key);
      key += ".zip";
      visit(key, outcomes_[i]);
    }
  }

  void ShowArchive(const std::string& relativePath, std::uint64_t size,
                   const FileOutcome& outcome) {
    view_.ShowArchive({relativePath, size, outcome.Crc, outcome.ArchiveSize, outcome.Reused});
  }

  void ShowCounts() {
    std::int32_t reused = 0;
    std::int32_t packed = 0;
    const auto count = [&](const FileOutcome& outcome) {
      if (outcome.Done)
        ++(outcome.Reused ? reused : packed);
    };
    count(selfOutcome_);
    for (const FileOutcome& outcome : outcomes_)
      count(outcome);
    view_.ShowArchiveCounts(reused, packed);
  }

  Packer& packer_;
  BuildView& view_;
  const BuildOptions& options_;
  // Progress by bytes: the workers add what they read, the build's thread reports it.
  const std::thread::id buildThread_ = std::this_thread::get_id();
  mutable std::atomic<std::uint64_t> bytesRead_{0};
  mutable std::chrono::steady_clock::time_point bytesShownAt_{};
  mutable std::uint64_t bytesShown_ = 0;
  static constexpr std::uint64_t BytesReportStep = 4 << 20;
  mutable bool stoppingShown_ = false;
  // --reuse and --prune, or the settings' keys "Reuse" and "Prune" of this build's reading.
  bool reuse_ = false;
  bool prune_ = false;
  TPellum pellum_;
  CompressorChoice compressor_;
  std::string recordPath_;
  ReuseRecord record_; // read-only while the engine runs, so workers share it
  PackTask selfTask_;
  FileOutcome selfOutcome_;
  const CleanTree* tree_ = nullptr;   // the files being packed
  std::vector<FileOutcome> outcomes_; // by file, in tree order
  ObjectPool<PackTask> tasks_;
  std::string live_;      // the folder clients read
  bool markUtf8_ = false; // entry names carry bit 11
};

} // namespace

std::string StoppedText(const StopReport& report) {
  const std::int32_t n = report.Finished;
  std::string text = "Build stopped: " + std::to_string(n) + (n == 1 ? " archive" : " archives") +
                     " finished and kept aside";
  return text + (report.Live.empty()
                     ? "; nothing that clients read was changed."
                     : "; \"" + report.Live + "\" is as the last whole build left it.");
}

void Packer::ResetBuildValues() {
  FileCount = 0;
  FileNumber = 1;
  SelfFound = 0;
}

BuildOutcome Packer::Build(const std::string& cleanRoot, const std::string& workDir,
                           BuildView& view, const BuildOptions& options) {
  BuildOutcome outcome;
  try {
    outcome = BuildRun(*this, view, options).Run(cleanRoot, workDir);
  } catch (...) {
    ResetBuildValues();
    throw;
  }
  ResetBuildValues();
  return outcome;
}

} // namespace vornel
