#pragma once
// Disk images of the Windows-like test installation, made by make_image.py (NTFS filled without
// mounting, GPT or MBR, converted to the formats asked for) in a folder removed afterwards, and
// the digests that show an image was not changed.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "system/Sha256.h"
#include "tests/tools/lkscan/LkScanRun.h"

namespace lk::test {

class ImageFolder {
 public:
  ImageFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "lk-image-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
  }
  ~ImageFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  ImageFolder(const ImageFolder&) = delete;
  ImageFolder& operator=(const ImageFolder&) = delete;

  [[nodiscard]] std::string Path(const std::string& name) const { return root_ + "/" + name; }

  // Makes an image of tree under name with make_image.py's options; returns the path written.
  std::string Make(const std::string& tree, const std::string& name,
                   const std::vector<std::string>& options) const {
    std::string command = "/usr/bin/python3 " + Quoted(LK_MAKE_IMAGE) + " --filler " +
                          Quoted(LK_NTFS_FILL) + " --size-mb 24 --tree " + Quoted(tree) +
                          " --out " + Quoted(Path(name));
    for (const std::string& option : options) command += " " + Quoted(option);
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("make_image.py did not start");
    std::string out;
    char buffer[512];
    std::size_t got = 0;
    while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, got);
    const int status = pclose(pipe);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      throw std::runtime_error("make_image.py failed for " + name);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  // The digest of every file of the folder, by name (the segments of an image included).
  [[nodiscard]] std::vector<std::pair<std::string, std::string>> Digests() const {
    std::vector<std::pair<std::string, std::string>> digests;
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
      std::ifstream in(entry.path(), std::ios::binary);
      Sha256 hash;
      std::vector<char> buffer(1 << 20);
      while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) ||
             in.gcount() > 0) {
        hash.Update(buffer.data(), static_cast<std::size_t>(in.gcount()));
      }
      digests.emplace_back(entry.path().filename().string(), Sha256::Hex(hash.Finish()));
    }
    std::sort(digests.begin(), digests.end());
    return digests;
  }

 private:
  std::string root_;
};

// The records of a run without its volume records: what --root would print for the same tree.
inline std::vector<Json> WithoutVolumes(const ScanRun& run) {
  std::vector<Json> kept;
  for (const Json& record : run.records) {
    if (record.value("type", "") != "volume") kept.push_back(record);
  }
  return kept;
}

}  // namespace lk::test
