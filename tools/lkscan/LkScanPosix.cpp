// lkscan's entry point on Linux: it examines a Windows installation below --root, from a rescue
// system where the installation does not run. The running Linux system is nothing to examine.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "system/HibernationFile.h"
#include "system/offline/OfflineSystemAccess.h"
#include "system/posix/PosixFileStore.h"
#include "system/posix/PosixFileSystem.h"
#include "tools/ConsoleTexts.h"
#include "tools/lkscan/LkScan.h"
#include "tools/lkscan/PosixOutputFile.h"
#if LK_HAVE_IMAGE
#include "system/image/ImageSurvey.h"
#endif
#include "trojan/TrojanNames.h"

namespace {

// What the registry layer says about hives that Windows did not close cleanly: notes for the
// logs replayed, skipped entries for logs that could not be. shown turns a hive's host path into
// the name the user knows.
void AddHiveStates(const lk::OfflineSystemAccess& system,
                   const std::function<std::string(const std::string&)>& shown,
                   const std::function<std::string(const std::string&)>& windowsPath,
                   std::vector<lk::ScanNote>* notes, std::vector<lk::ScanSkipped>* skipped) {
  for (const auto& hive : system.DirtyHiveStates()) {
    if (notes != nullptr && !hive.logsApplied.empty()) {
      notes->push_back(
          {"registry", lk::console_texts::Fill(lk::lkscan_texts::kHiveReplayed,
                                               {shown(hive.hostPath), hive.logsApplied})});
    }
    if (skipped != nullptr && !hive.logFailure.empty()) {
      skipped->push_back({windowsPath(hive.hostPath),
                          lk::console_texts::Fill(lk::lkscan_texts::kHiveNotReplayed,
                                                  {shown(hive.hostPath), hive.logFailure})});
    }
  }
}

#if LK_HAVE_IMAGE
// A field of /proc/self/mountinfo as the kernel writes it: space, tab, newline and backslash are
// octal escapes ("\\040"), so a mount point such as "/media/user/Windows 10" compares as itself.
std::string MountInfoField(const std::string& field) {
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto octal = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
    if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      text.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                       (field[i + 3] - '0')));
      i += 3;
    } else {
      text.push_back(field[i]);
    }
  }
  return text;
}

// The block device (or, for ntfs-3g over an image file, the file) of the NTFS mount whose mount
// point is root, from /proc/self/mountinfo (ntfs-3g shows as fuseblk, the kernel's drivers as
// ntfs3 or ntfs); nothing for other mounts.
std::optional<std::string> NtfsMountSource(const std::string& root) {
  std::error_code failed;
  const std::filesystem::path mountPoint = std::filesystem::canonical(root, failed);
  if (failed) return std::nullopt;
  std::ifstream table("/proc/self/mountinfo");
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::vector<std::string> parts;
    for (std::string part; fields >> part;) parts.push_back(part);
    const auto separator = std::find(parts.begin(), parts.end(), "-");
    if (parts.size() < 5 || separator == parts.end() || parts.end() - separator < 3) continue;
    if (MountInfoField(parts[4]) != mountPoint.string()) continue;
    const std::string& type = *(separator + 1);
    const std::string source = MountInfoField(*(separator + 2));
    if ((type == "fuseblk" || type == "ntfs3" || type == "ntfs" || type == "fuse.ntfs-3g" ||
         type == "fuse") &&
        source.rfind('/', 0) == 0) {
      return source;
    }
  }
  return std::nullopt;
}

// Whether the NTFS volume mounted at root carries the dirty flag (false when it cannot be told:
// another file system, or a device this process may not read).
bool MountedVolumeIsDirty(const std::string& root) {
  const std::optional<std::string> source = NtfsMountSource(root);
  if (!source) return false;
  std::string error;
  const std::shared_ptr<lk::DiskImage> device = lk::DiskImage::Open(*source, &error);
  if (!device || lk::NtfsVolume::Classify(*device, 0) != lk::BootSectorKind::Ntfs) return false;
  const std::shared_ptr<lk::NtfsVolume> volume = lk::NtfsVolume::Open(device, 0, &error);
  return volume && volume->IsDirty();
}
// The note for a dirty NTFS volume.
lk::ScanNote DirtyVolumeNote() { return {"volume", std::string(lk::lkscan_texts::kDirtyVolume)}; }

#endif

// The note for a hibernated installation, or nothing.
void AddHibernationNote(lk::FileSystem& files, std::vector<lk::ScanNote>& notes) {
  std::string why;
  switch (lk::ReadHibernationState(files, &why)) {
    case lk::HibernationState::Hibernated:
      notes.push_back({"hibernation", lk::HibernationRemedy()});
      break;
    case lk::HibernationState::Unreadable:
      notes.push_back(
          {"hibernation", lk::console_texts::Fill(lk::lkscan_texts::kHibernationUnknown, {why})});
      break;
    case lk::HibernationState::NotHibernated:
      break;
  }
}

// The installation whose system drive is mounted at the root folder: its registry from the hive
// files, its files through the POSIX layer rooted at the same folder.
class OfflineScanTarget final : public lk::ScanTarget {
 public:
  OfflineScanTarget(std::unique_ptr<lk::OfflineSystemAccess> system, const std::string& root)
      : system_(std::move(system)), files_(root), store_(files_) {}

  lk::SystemAccess& System() override { return *system_; }
  lk::FileSystem& Files() override { return files_; }
  lk::FileStore& Store() override { return store_; }

  // A hive file is rewritten as a whole: the journal keeps the untouched file first, and a hive
  // that could not be kept is not written. A restore keeps nothing (it writes back what a
  // removal kept).
  void BeforeChanges(lk::RemovalJournal* journal) override {
    if (journal == nullptr) {
      system_->SetBeforeFirstHiveWrite([](const std::string&) { return true; });
      return;
    }
    system_->SetBeforeFirstHiveWrite([this, journal](const std::string& hostPath) {
      return journal->KeepBackup(WindowsPathOf(hostPath)).ok;
    });
  }
  // A host path below the drive's folder is the drive's own path ("C:\\ProgramData\\..."); any
  // other host path stays one, to be walked from '/'. A drive path is taken as it is.
  std::string FolderPath(const std::string& given) override {
    const bool drivePath = given.size() >= 2 && given[1] == ':';
    if (given.empty() || drivePath || given.front() == '\\') return given;
    std::error_code failed;
    const std::filesystem::path host = std::filesystem::absolute(given, failed).lexically_normal();
    const std::filesystem::path root =
        std::filesystem::absolute(system_->Root(), failed).lexically_normal();
    if (failed) return given;
    const std::filesystem::path relative = host.lexically_relative(root);
    if (relative.empty() || *relative.begin() == "..") {
      std::string path = host.string();
      while (path.size() > 1 && path.back() == '/') path.pop_back();
      return path;
    }
    std::string path = "C:";
    for (const auto& part : relative) {
      if (part != "." && !part.empty()) path += "\\" + part.string();
    }
    return path.size() == 2 ? path + "\\" : path;
  }
  std::vector<lk::ScanNote> Notes() override {
    std::vector<lk::ScanNote> notes;
    AddHiveStates(
        *system_, [](const std::string& path) { return path; },
        [this](const std::string& path) { return WindowsPathOf(path); }, &notes, nullptr);
    AddHibernationNote(files_, notes);
#if LK_HAVE_IMAGE
    if (MountedVolumeIsDirty(system_->Root())) notes.push_back(DirtyVolumeNote());
#endif
    return notes;
  }
  std::string WhyChangesAreRefused() override {
    std::string why;
    if (lk::ReadHibernationState(files_, &why) != lk::HibernationState::Hibernated) return {};
    return std::string(lk::lkscan_texts::kHibernatedRefusal);
  }
  std::string WhyRemovalIsUnsafe() override {
    std::string windowsKey(lk::names::kWindowsKey);
    std::string wow32Key = windowsKey;
    wow32Key.insert(std::string_view("SOFTWARE\\").size(), "Wow6432Node\\");
    return system_->CheckChanges(lk::names::kServiceName, {{lk::RegistryView::Native, windowsKey},
                                                           {lk::RegistryView::Native, wow32Key}});
  }
  std::vector<lk::ScanSkipped> Unexamined() override {
    std::vector<lk::ScanSkipped> skipped;
    AddHiveStates(
        *system_, [](const std::string& path) { return path; },
        [this](const std::string& path) { return WindowsPathOf(path); }, nullptr, &skipped);
    return skipped;
  }

 private:
  // "C:\Windows\System32\config\SYSTEM" for a host path below the drive's folder.
  std::string WindowsPathOf(const std::string& hostPath) const {
    const std::filesystem::path relative =
        std::filesystem::path(hostPath).lexically_relative(system_->Root());
    std::string path = "C:";
    for (const auto& part : relative) path += "\\" + part.string();
    return path;
  }

  std::unique_ptr<lk::OfflineSystemAccess> system_;
  lk::PosixFileSystem files_;
  lk::PosixFileStore store_;
};

#if LK_HAVE_IMAGE
// An installation on a disk image: read through the image layer, never changed.
class ImageScanTarget final : public lk::ScanTarget {
 public:
  explicit ImageScanTarget(std::unique_ptr<lk::ImageInstallation> installation)
      : installation_(std::move(installation)) {}

  lk::SystemAccess& System() override { return installation_->System(); }
  lk::FileSystem& Files() override { return installation_->Files(); }
  lk::FileStore& Store() override { return installation_->System().Store(); }
  std::vector<lk::ScanNote> Notes() override {
    std::vector<lk::ScanNote> notes;
    if (installation_->Volume().IsDirty()) notes.push_back(DirtyVolumeNote());
    AddHiveStates(
        installation_->System().Registry(), [this](const std::string& path) { return Shown(path); },
        [this](const std::string& path) { return Shown(path); }, &notes, nullptr);
    AddHibernationNote(installation_->Files(), notes);
    return notes;
  }
  std::vector<lk::ScanSkipped> Unexamined() override {
    std::vector<lk::ScanSkipped> skipped;
    AddHiveStates(
        installation_->System().Registry(), [this](const std::string& path) { return Shown(path); },
        [this](const std::string& path) { return Shown(path); }, nullptr, &skipped);
    return skipped;
  }
  std::string WhyChangesAreRefused() override {
    return std::string(lk::lkscan_texts::kImageRefusal);
  }

 private:
  // A hive copy's host path as the volume names the file ("C:\Windows\System32\config\X").
  std::string Shown(const std::string& hostPath) const {
    const std::string& root = installation_->HiveRoot();
    if (hostPath.rfind(root, 0) != 0) return hostPath;
    std::string path = "C:" + hostPath.substr(root.size());
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    return path;
  }

  std::unique_ptr<lk::ImageInstallation> installation_;
};

std::vector<lk::ImageContents> SurveyImages(const std::optional<std::string>& image,
                                            std::optional<int> partition) {
  std::vector<lk::ImageContents> contents;
  const std::vector<std::string> paths =
      image ? std::vector<std::string>{*image} : lk::WholeBlockDevices();
  for (const std::string& path : paths) {
    lk::SurveyedImage survey = lk::SurveyImage(path, partition);
    lk::ImageContents disk;
    disk.image = path;
    disk.errors = std::move(survey.errors);
    for (lk::SurveyedVolume& found : survey.volumes) {
      lk::ImageVolume volume;
      volume.volume.partition = found.partition;
      volume.volume.offset = found.offset;
      volume.volume.size = found.size;
      volume.volume.filesystem = found.filesystem;
      volume.volume.label = found.label;
      volume.volume.serial = found.serial;
      volume.device = found.device;
      volume.windows = found.windows;
      volume.build = found.build;
      volume.bitlocker = found.bitlocker;
      volume.hibernated = found.hibernated;
      volume.dirty = found.dirty;
      volume.examinable = found.examinable;
      volume.reason = found.reason;
      if (found.installation) {
        volume.target = std::make_unique<ImageScanTarget>(std::move(found.installation));
      }
      disk.volumes.push_back(std::move(volume));
    }
    contents.push_back(std::move(disk));
  }
  return contents;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const lk::LkScanHost host {
    [](const std::optional<std::string>& root,
       std::string* error) -> std::unique_ptr<lk::ScanTarget> {
      if (!root) {
        *error = lk::lkscan_texts::kNoRunningWindows;
        return nullptr;
      }
      std::unique_ptr<lk::OfflineSystemAccess> system = lk::OfflineSystemAccess::Open(*root, error);
      if (!system) return nullptr;
      return std::make_unique<OfflineScanTarget>(std::move(system), *root);
    },
        std::cout, std::cerr, isatty(STDERR_FILENO) == 1, lk::CreatePosixOutputFile, nullptr,
        nullptr,
#if LK_HAVE_IMAGE
        SurveyImages,
#else
        nullptr,
#endif
  };
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int code = lk::RunLkScan(args, host);
  std::cout.flush();
  return code;
}
