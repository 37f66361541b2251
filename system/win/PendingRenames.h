#pragma once
// The list of file operations Windows carries out at its next start: the REG_MULTI_SZ value
// PendingFileRenameOperations of the session manager's key, which MoveFileExW with
// MOVEFILE_DELAY_UNTIL_REBOOT appends to.
//
// The list is a sequence of pairs, each a source and a target text with their NULs: the source
// in the form "\??\C:\folder\file" that MoveFileExW records, the target empty for a deletion
// (or "!"-prefixed for a rename that replaces). A final NUL ends the list. PendingRenames works
// on the stored bytes and changes only what it removes: every other pair, and whatever follows
// the list's end, keeps its bytes. A pair whose target is missing (the data breaks off) is not a
// pair and stays as it is.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace lk {

// The name MoveFileExW records for a path: the full path with "\??\" before it ("\??\UNC\" for
// a network path), as the system's own conversion makes it.
[[nodiscard]] std::wstring NtPathOf(const std::wstring& path);

class PendingRenames {
 public:
  explicit PendingRenames(std::vector<BYTE> stored);

  // Removes every deletion (a pair with an empty target) whose source names ntPath, compared
  // without regard to case, with or without the "\??\" before it; true when one was removed.
  // Renames of the same source stay.
  [[nodiscard]] bool RemoveDeletionsOf(std::wstring_view ntPath);

  // The value's bytes as they are now.
  [[nodiscard]] const std::vector<BYTE>& Data() const noexcept { return data_; }
  // No pair is left: the value can go.
  [[nodiscard]] bool IsEmpty() const;

 private:
  struct Pair {
    std::size_t begin = 0;  // byte offsets into data_, the end after the target's NUL
    std::size_t end = 0;
    std::wstring source;
    bool deletes = false;
  };
  // The pairs of data_, and the offset where the list's end (or the unparsable rest) starts.
  [[nodiscard]] std::vector<Pair> Parse(std::size_t& tail) const;

  std::vector<BYTE> data_;
};

}  // namespace lk
