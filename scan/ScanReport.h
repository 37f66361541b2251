#pragma once
// What a console scan tells its face: findings, actions, entries it could not examine, notes,
// progress and the closing summary. The face renders them (JSON Lines, German text lines, a
// progress line); the scan decides what they say.
//
// The field names follow the JSON Lines record that scripts read; a field that does not apply
// to a record stays empty (no value) and is left out of it.

#include <cstdint>
#include <optional>
#include <string>

namespace lk {

// One observation of a check. check is one of "driver-file", "service", "device", "appinit",
// "library-file", "sweep-library", "sweep-driver".
struct ScanFinding {
  std::string check;
  std::optional<std::string> path;  // a file or device, as Windows names it
  std::optional<std::int64_t> size;
  std::optional<std::string> sha256;
  // Whether the file carries the trojan's characteristic text (known-version files only; no
  // value when the file could not be read).
  std::optional<bool> identified;
  std::optional<std::string> name;  // a service
  std::optional<std::string> key;   // a registry key, "HKLM\..."
  std::optional<std::string> view;  // the registry view: "64" or "32" (64-bit Windows only)
  std::optional<std::string> value;
  std::optional<std::string> data;
};

// One change made (or tried) by a removal or a restore. action is one of "quarantine",
// "delete", "delete-at-restart", "registry-write", "service-stop", "service-delete",
// "restore-file", "restore-registry", "restore-service", "withdraw-delete-at-restart".
struct ScanAction {
  std::string action;
  std::string target;
  bool ok = false;
  std::optional<std::string> error;
};

// Something that could not be examined, and why.
struct ScanSkipped {
  std::string path;
  std::string reason;
};

// Something worth knowing that is neither a finding nor a gap in the scan.
struct ScanNote {
  std::string topic;
  std::string text;
};

struct ScanProgress {
  std::int64_t filesDone = 0;
  std::int64_t filesTotal = 0;
  std::int64_t bytesDone = 0;
  std::string currentFile;
};

// One volume of a disk or disk image, told before what was found on it (lkscan --image).
struct ScanVolume {
  int partition = 0;  // 1-based slot of the partition table; 0: the image is the volume
  std::int64_t offset = 0;
  std::int64_t size = 0;
  std::string filesystem;
  std::optional<std::string> label;
  std::optional<std::string> serial;
};

// Incomplete: nothing was found, but not everything could be examined, so nothing is known to
// be clean.
enum class ScanVerdict : std::uint8_t { Clean, Infected, Suspicious, Incomplete };

struct ScanSummary {
  // A restore examines nothing: its verdict is always Clean and says nothing about the system.
  bool restore = false;
  ScanVerdict verdict = ScanVerdict::Clean;
  std::int64_t filesExamined = 0;
  std::int64_t bytesExamined = 0;
  std::int64_t skipped = 0;
  bool restartRequired = false;
  std::optional<std::string> quarantine;
  int exitCode = 0;
};

class ScanReport {
 public:
  ScanReport() = default;
  ScanReport(const ScanReport&) = delete;
  ScanReport& operator=(const ScanReport&) = delete;
  virtual ~ScanReport() = default;

  virtual void Finding(const ScanFinding& finding) = 0;
  virtual void Action(const ScanAction& action) = 0;
  virtual void Skipped(const ScanSkipped& skipped) = 0;
  virtual void Note(const ScanNote& note) = 0;
  // Often: once per examined file. A face without a progress display ignores it.
  virtual void Progress(const ScanProgress& progress) = 0;
  // Last, once.
  virtual void Summary(const ScanSummary& summary) = 0;
  // Before the records of each volume of a disk image; a face that tells no volumes ignores it.
  virtual void Volume(const ScanVolume& /*volume*/) {}
};

// Hands every record on to another report. A report that watches or changes some of the records
// on their way derives from it and overrides only those.
class ForwardingReport : public ScanReport {
 public:
  explicit ForwardingReport(ScanReport& inner) : inner_(inner) {}

  void Finding(const ScanFinding& finding) override { inner_.Finding(finding); }
  void Action(const ScanAction& action) override { inner_.Action(action); }
  void Skipped(const ScanSkipped& skipped) override { inner_.Skipped(skipped); }
  void Note(const ScanNote& note) override { inner_.Note(note); }
  void Progress(const ScanProgress& progress) override { inner_.Progress(progress); }
  void Summary(const ScanSummary& summary) override { inner_.Summary(summary); }
  void Volume(const ScanVolume& volume) override { inner_.Volume(volume); }

 protected:
  [[nodiscard]] ScanReport& Inner() { return inner_; }

 private:
  ScanReport& inner_;
};

}  // namespace lk
