#include "tools/lkscan/PosixOutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/ConsoleTexts.h"

namespace lk {

namespace {

std::string ErrorText(int code) { return std::strerror(code); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Owns the descriptor and the temporary name until the rename has put the file in its place.
class PosixOutputFile final : public OutputFile {
 public:
  PosixOutputFile(std::string path, std::string temporary, int fd)
      : path_(std::move(path)), temporary_(std::move(temporary)), fd_(fd) {}
  ~PosixOutputFile() override {
    if (fd_ >= 0) close(fd_);
    if (!committed_) unlink(temporary_.c_str());
  }

  bool Write(std::string_view bytes) override {
    while (!bytes.empty() && fd_ >= 0) {
      const ssize_t written = write(fd_, bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        failure_ = written < 0 ? errno : EIO;
        return false;
      }
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return failure_ == 0 && fd_ >= 0;
  }

  bool Commit(std::string* error) override {
    if (failure_ != 0 || fd_ < 0) {
      *error = temporary_ + ": " + ErrorText(failure_ != 0 ? failure_ : EBADF);
      return false;
    }
    if (fsync(fd_) != 0) {
      *error = temporary_ + ": " + ErrorText(errno);
      return false;
    }
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
      *error = temporary_ + ": " + ErrorText(errno);
      return false;
    }
    if (rename(temporary_.c_str(), path_.c_str()) != 0) {
      *error = path_ + ": " + ErrorText(errno);
      return false;
    }
    committed_ = true;
    const int folder = open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
      static_cast<void>(fsync(folder));
      close(folder);
    }
    return true;
  }

 private:
  std::string path_;
  std::string temporary_;
  int fd_;
  int failure_ = 0;
  bool committed_ = false;
};

}  // namespace

std::unique_ptr<OutputFile> CreatePosixOutputFile(const std::string& path, std::string* error) {
  if (path.empty() || path.back() == '/') {
    *error = console_texts::Fill(lkscan_texts::kNoFileName, {path});
    return nullptr;
  }
  std::string pattern = path + ".tmp-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = path + ": " + ErrorText(errno);
    return nullptr;
  }
  return std::make_unique<PosixOutputFile>(path, std::string(name.data()), fd);
}

}  // namespace lk
