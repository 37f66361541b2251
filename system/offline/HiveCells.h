#pragma once
// The cells of a hive file, as a check of what a change would free before hivex is asked to
// make it. hivex trusts the offsets it frees (a class name, a value's data, a security cell) and
// aborts the whole process on one that is not a used cell; a hostile hive would then stop a
// removal halfway. This walks the same cells first and says why a change is unsafe.
//
// It reads the bytes it is given and nothing else; it judges only what a delete of a key tree or
// a rewrite of a key's values frees or relinks, not whether the rest of the hive is sound.

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace lk {

class HiveCells {
 public:
  // hive: the whole file, base block first. Offsets below are hivex's node handles: offsets in
  // the file.
  explicit HiveCells(std::string_view hive);

  // Why deleting the key at node with every key below it is unsafe; empty when it is safe.
  [[nodiscard]] std::string CheckDeleteTree(std::size_t node) const;
  // Why replacing the values of the key at node is unsafe; empty when it is safe.
  [[nodiscard]] std::string CheckRewriteValues(std::size_t node) const;

 private:
  class Plan;
  // The used cell at offset with at least size bytes of data and the signature, or false.
  [[nodiscard]] bool Used(std::uint64_t offset, std::size_t size,
                          std::string_view signature = {}) const;
  [[nodiscard]] std::uint32_t Dword(std::uint64_t offset) const;

  std::string_view hive_;
  std::map<std::uint64_t, std::size_t> used_;  // offset -> data size of each used cell
};

}  // namespace lk
