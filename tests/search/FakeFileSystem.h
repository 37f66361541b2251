#pragma once
// An in-memory file system for the searcher and stream search tests: directories yield their
// entries in the scripted order, files hold their bytes as pieces over a zero background (so a
// file of 5 GiB costs nothing), and failures are scripted per file: open refused with a Windows
// error code, a read that fails at or after an offset, a read that throws; and per directory: a
// directory that cannot be read (its enumerations end at once with a scripted error), an entry
// that the enumeration yields with an error (set through Entry). A file may tell the gaps between
// its pieces as holes, and counts the bytes read from it. A missing directory's
// enumerations end with error 3.
//
// Paths are Windows paths; look-ups ignore ASCII case, as on the target system.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "system/FileSystem.h"

namespace lk::test {

inline std::string FoldPath(std::string_view path) {
  std::string folded(path);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  while (!folded.empty() && folded.back() == '\\') folded.pop_back();
  return folded;
}

// Windows-style name matching: '*' any run, '?' one character, without regard to case; "*.*"
// also fits names without a dot.
inline bool FitsMask(std::string_view name, std::string_view mask) {
  if (mask == "*.*") return true;
  const std::string n = FoldPath(name);
  const std::string m = FoldPath(mask);
  std::size_t ni = 0, mi = 0, starM = std::string::npos, starN = 0;
  while (ni < n.size()) {
    if (mi < m.size() && (m[mi] == '?' || m[mi] == n[ni])) {
      ++ni;
      ++mi;
    } else if (mi < m.size() && m[mi] == '*') {
      starM = mi++;
      starN = ni;
    } else if (starM != std::string::npos) {
      mi = starM + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (mi < m.size() && m[mi] == '*') ++mi;
  return mi == m.size();
}

struct FakeFile {
  std::int64_t size = 0;
  std::vector<std::pair<std::int64_t, std::string>> pieces;  // bytes over zeros
  std::uint32_t openError = 0;                               // refuse opening with this code
  std::int64_t readErrorFrom = -1;  // reads reaching this offset fail (error 23)
  bool throwOnRead = false;
  std::int64_t reportedSize = -2;  // -2: the real size
  // Tells its holes (everything outside the pieces) as a sparse file's layer does.
  bool tellsHoles = false;
  mutable std::int64_t bytesRead = 0;  // by every reader, holes included

  // The pieces merged into data extents [begin, end), in order.
  [[nodiscard]] std::vector<std::pair<std::int64_t, std::int64_t>> Extents() const {
    std::vector<std::pair<std::int64_t, std::int64_t>> extents;
    for (const auto& [at, bytes] : pieces) {
      if (!bytes.empty()) extents.emplace_back(at, at + static_cast<std::int64_t>(bytes.size()));
    }
    std::sort(extents.begin(), extents.end());
    std::vector<std::pair<std::int64_t, std::int64_t>> merged;
    for (const auto& extent : extents) {
      if (!merged.empty() && extent.first <= merged.back().second) {
        merged.back().second = std::max(merged.back().second, extent.second);
      } else {
        merged.push_back(extent);
      }
    }
    return merged;
  }

  void Put(std::int64_t offset, std::string bytes) {
    const std::int64_t end = offset + static_cast<std::int64_t>(bytes.size());
    if (end > size) size = end;
    pieces.emplace_back(offset, std::move(bytes));
  }
};

class FakeFileSystem : public FileSystem {
 public:
  struct OpenCall {
    std::string path;
    FileShare share;
  };

  // Adds a directory (and its parents' entries for it); returns its folded key.
  void AddDirectory(std::string_view path, std::uint32_t extraAttributes = 0) {
    const std::string key = FoldPath(path);
    dirs_.try_emplace(key);
    const std::size_t slash = key.rfind('\\');
    if (slash == std::string::npos) return;
    const std::string parent = std::string(path).substr(0, slash);
    DirectoryEntry entry;
    entry.name = std::string(path.substr(slash + 1));
    while (!entry.name.empty() && entry.name.back() == '\\') entry.name.pop_back();
    entry.attributes = file_attribute::kDirectory | extraAttributes;
    AddEntry(parent, entry);
  }

  // Adds a directory link (a junction) at path that leads to target.
  void AddLink(std::string_view path, std::string_view target) {
    AddDirectory(path, file_attribute::kReparsePoint);
    links_[FoldPath(path)] = FoldPath(target);
  }

  // Adds a file with content; returns its record for scripting failures.
  FakeFile& AddFile(std::string_view path, std::string content = {},
                    std::uint32_t attributes = file_attribute::kArchive) {
    const std::string p(path);
    const std::size_t slash = p.rfind('\\');
    DirectoryEntry entry;
    entry.name = p.substr(slash + 1);
    entry.attributes = attributes;
    entry.size = static_cast<std::int64_t>(content.size());
    entry.creationTime = entry.lastAccessTime = entry.lastWriteTime = kDefaultTime;
    FakeFile& file = files_[FoldPath(path)];
    file = FakeFile{};
    if (!content.empty()) file.Put(0, std::move(content));
    AddEntry(p.substr(0, slash), entry);
    return file;
  }

  DirectoryEntry& Entry(std::string_view path) {
    const std::string p(path);
    const std::size_t slash = p.rfind('\\');
    for (DirectoryEntry& e : dirs_.at(FoldPath(p.substr(0, slash)))) {
      if (FoldPath(e.name) == FoldPath(p.substr(slash + 1))) return e;
    }
    throw std::out_of_range("no entry " + p);
  }

  FakeFile& File(std::string_view path) { return files_.at(FoldPath(path)); }

  std::unique_ptr<ReadableFile> OpenForReading(std::string_view path, FileShare share,
                                               std::uint32_t* error) override {
    opened.push_back({std::string(path), share});
    auto it = files_.find(FoldPath(path));
    std::uint32_t code = 0;
    if (it == files_.end()) {
      code = 2;  // ERROR_FILE_NOT_FOUND
    } else if (it->second.openError != 0) {
      code = it->second.openError;
    } else {
      return std::make_unique<Reader>(it->second);
    }
    if (error != nullptr) *error = code;
    return nullptr;
  }

  // Enumerating the directory fails with error (0 lifts the refusal).
  void RefuseDirectory(std::string_view path, std::uint32_t error) {
    refused_[FoldPath(path)] = error;
  }

  std::unique_ptr<DirectoryEnumeration> EnumerateDirectory(std::string_view directory,
                                                           std::string_view pattern) override {
    enumerated.push_back(std::string(directory) + "|" + std::string(pattern));
    std::vector<DirectoryEntry> fitting;
    const std::string key = ResolveLinks(FoldPath(directory));
    if (auto refused = refused_.find(key); refused != refused_.end() && refused->second != 0) {
      return std::make_unique<Enumeration>(std::move(fitting), refused->second);
    }
    auto it = dirs_.find(key);
    if (it == dirs_.end()) return std::make_unique<Enumeration>(std::move(fitting), 3);
    {
      DirectoryEntry dot;
      dot.attributes = file_attribute::kDirectory;
      for (const char* name : {".", ".."}) {
        dot.name = name;
        if (FitsMask(dot.name, pattern)) fitting.push_back(dot);
      }
      for (const DirectoryEntry& e : it->second) {
        if (FitsMask(e.name, pattern)) fitting.push_back(e);
      }
    }
    return std::make_unique<Enumeration>(std::move(fitting));
  }

  // One hour east of UTC.
  std::int64_t ToLocalFileTime(std::int64_t utcTicks) override { return utcTicks + kHour; }

  static constexpr std::int64_t kHour = 36'000'000'000;
  static constexpr std::int64_t kDefaultTime = 133'000'000'000'000'000;

  std::vector<OpenCall> opened;
  std::vector<std::string> enumerated;  // "directory|pattern"

 private:
  class Reader : public ReadableFile {
   public:
    explicit Reader(const FakeFile& file) : file_(file) {}
    std::int64_t Size() override {
      return file_.reportedSize == -2 ? file_.size : file_.reportedSize;
    }
    ReadResult ReadAt(std::int64_t offset, void* buffer, std::size_t length) override {
      if (file_.throwOnRead) throw std::runtime_error("device went away");
      if (offset < 0) return {0, 87};  // ERROR_INVALID_PARAMETER
      const std::int64_t end =
          std::min<std::int64_t>(file_.size, offset + static_cast<std::int64_t>(length));
      if (file_.readErrorFrom >= 0 && end > file_.readErrorFrom) return {0, 23};
      if (offset >= end) return {0, 0};
      auto* out = static_cast<char*>(buffer);
      const auto count = static_cast<std::size_t>(end - offset);
      file_.bytesRead += static_cast<std::int64_t>(count);
      std::memset(out, 0, count);
      for (const auto& [at, bytes] : file_.pieces) {
        const std::int64_t pieceEnd = at + static_cast<std::int64_t>(bytes.size());
        const std::int64_t from = std::max(at, offset);
        const std::int64_t to = std::min(pieceEnd, end);
        if (from >= to) continue;
        std::memcpy(out + (from - offset), bytes.data() + (from - at),
                    static_cast<std::size_t>(to - from));
      }
      return {count, 0};
    }

    std::int64_t DataFrom(std::int64_t offset) override {
      if (!file_.tellsHoles) return offset;
      for (const auto& [begin, end] : file_.Extents()) {
        if (offset < end) return std::max(begin, offset);
      }
      return std::max(file_.size, offset);
    }

    std::int64_t HoleFrom(std::int64_t offset) override {
      if (!file_.tellsHoles) return file_.size;
      for (const auto& [begin, end] : file_.Extents()) {
        if (offset < begin) return offset;
        if (offset < end) return end;
      }
      return std::min(offset, file_.size);
    }

   private:
    const FakeFile& file_;
  };

  class Enumeration : public DirectoryEnumeration {
   public:
    explicit Enumeration(std::vector<DirectoryEntry> entries, std::uint32_t error = 0)
        : entries_(std::move(entries)), error_(error) {}
    bool Next(DirectoryEntry& entry) override {
      if (next_ >= entries_.size()) return false;
      entry = entries_[next_++];
      return true;
    }
    std::uint32_t Error() const override { return error_; }

   private:
    std::vector<DirectoryEntry> entries_;
    std::uint32_t error_;
    std::size_t next_ = 0;
  };

  std::string ResolveLinks(std::string path) const {
    for (int hop = 0; hop < 64; ++hop) {
      bool changed = false;
      for (const auto& [link, target] : links_) {
        if (path == link || path.starts_with(link + "\\")) {
          path = target + path.substr(link.size());
          changed = true;
          break;
        }
      }
      if (!changed) break;
    }
    return path;
  }

  void AddEntry(const std::string& dir, const DirectoryEntry& entry) {
    std::vector<DirectoryEntry>& entries = dirs_[FoldPath(dir)];
    for (DirectoryEntry& e : entries) {
      if (FoldPath(e.name) == FoldPath(entry.name)) {
        e = entry;
        return;
      }
    }
    entries.push_back(entry);
  }

  std::map<std::string, std::vector<DirectoryEntry>> dirs_;
  std::map<std::string, FakeFile> files_;
  std::map<std::string, std::string> links_;
  std::map<std::string, std::uint32_t> refused_;
};

}  // namespace lk::test
