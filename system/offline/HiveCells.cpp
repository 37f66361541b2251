#include "system/offline/HiveCells.h"

#include <algorithm>
#include <optional>

#include "system/offline/HiveBaseBlock.h"

namespace lk {

namespace {

constexpr std::uint64_t kBins = HiveBaseBlock::kSize;
constexpr std::uint32_t kNone = 0xFFFFFFFFU;
// Field offsets inside a cell, counted from its size field.
constexpr std::size_t kNkSubkeyCount = 4 + 20;
constexpr std::size_t kNkSubkeyList = 4 + 28;
constexpr std::size_t kNkValueCount = 4 + 36;
constexpr std::size_t kNkValueList = 4 + 40;
constexpr std::size_t kNkSecurity = 4 + 44;
constexpr std::size_t kNkClass = 4 + 48;
constexpr std::size_t kNkSize = 76;
constexpr std::size_t kVkSize = 20;

std::string Hex(std::uint64_t offset) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[offset & 0xFU]);
    offset >>= 4U;
  } while (offset != 0);
  return "0x" + text;
}

}  // namespace

HiveCells::HiveCells(std::string_view hive) : hive_(hive) {
  const std::optional<HiveBaseBlock> block = HiveBaseBlock::Parse(hive);
  if (!block) return;
  const std::uint64_t end = std::min<std::uint64_t>(hive.size(), kBins + block->hiveBinsSize);
  std::uint64_t bin = kBins;
  while (bin + 32 <= end && hive.substr(bin, 4) == "hbin") {
    const std::uint32_t binSize = HiveDword(hive, bin + 8);
    if (binSize < 32 || binSize % 4096 != 0 || binSize > end - bin) break;
    std::uint64_t cell = bin + 32;
    while (cell + 4 <= bin + binSize) {
      // A signed size: negative for a used cell.
      const std::uint32_t size = HiveDword(hive, cell);
      const bool used = (size & 0x80000000U) != 0;
      const std::uint64_t length = used ? (std::uint64_t{1} << 32U) - size : size;
      if (length < 8 || length % 4 != 0 || length > bin + binSize - cell) break;
      if (used) used_[cell] = length - 4;
      cell += length;
    }
    bin += binSize;
  }
}

bool HiveCells::Used(std::uint64_t offset, std::size_t size, std::string_view signature) const {
  const auto found = used_.find(offset);
  if (found == used_.end() || found->second < size || found->second < signature.size()) {
    return false;
  }
  return hive_.substr(offset + 4, signature.size()) == signature;
}

std::uint32_t HiveCells::Dword(std::uint64_t offset) const { return HiveDword(hive_, offset); }

// What a change frees: each cell once, each checked as hivex will use it.
class HiveCells::Plan {
 public:
  explicit Plan(const HiveCells& cells) : cells_(cells) {}

  bool Free(std::uint64_t offset, std::size_t size, std::string_view signature,
            std::string_view what) {
    if (!failure_.empty()) return false;
    if (!cells_.Used(offset, size, signature)) {
      failure_ = std::string(what) + " bei " + Hex(offset) + " ist keine belegte Zelle";
      return false;
    }
    if (!freed_.insert(offset).second) {
      failure_ = std::string(what) + " bei " + Hex(offset) + " wäre zweimal freigegeben";
      return false;
    }
    return true;
  }

  // A key's values, their list and their data.
  void Values(std::uint64_t node) {
    const std::uint32_t count = cells_.Dword(node + kNkValueCount);
    if (count == 0) return;
    const std::uint64_t list = kBins + cells_.Dword(node + kNkValueList);
    if (count > (1U << 20U) || !Free(list, std::size_t{count} * 4, {}, "Werteliste")) {
      if (failure_.empty()) failure_ = "unplausible Zahl von Werten bei " + Hex(node);
      return;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint64_t value = kBins + cells_.Dword(list + 4 + std::uint64_t{i} * 4);
      if (!Free(value, kVkSize, "vk", "Wert")) return;
      const std::uint32_t length = cells_.Dword(value + 4 + 4);
      if ((length & 0x80000000U) != 0) continue;  // the data is in the value cell itself
      const std::uint64_t data = kBins + cells_.Dword(value + 4 + 8);
      if (!Free(data, 0, {}, "Daten eines Werts")) return;
    }
  }

  void Tree(std::uint64_t root) {
    std::vector<std::uint64_t> pending{root};
    while (!pending.empty() && failure_.empty()) {
      const std::uint64_t node = pending.back();
      pending.pop_back();
      if (!Free(node, kNkSize, "nk", "Schlüssel")) return;
      if (const std::uint32_t name = cells_.Dword(node + kNkClass); name != kNone) {
        if (!Free(kBins + name, 0, {}, "Klassenname")) return;
      }
      ++security_[kBins + cells_.Dword(node + kNkSecurity)];
      Values(node);
      if (cells_.Dword(node + kNkSubkeyCount) != 0) {
        SubkeyList(kBins + cells_.Dword(node + kNkSubkeyList), pending, true);
      }
    }
    // A security cell is freed, and its neighbours relinked, when the last key using it goes.
    for (const auto& [cell, uses] : security_) {
      if (!failure_.empty()) return;
      if (!cells_.Used(cell, 16, "sk")) {
        failure_ = "Sicherheitszelle bei " + Hex(cell) + " ist keine belegte Zelle";
        return;
      }
      const std::uint32_t references = cells_.Dword(cell + 4 + 12);
      if (uses > references) {
        failure_ = "Sicherheitszelle bei " + Hex(cell) + " wird öfter benutzt als gezählt";
      } else if (uses == references &&
                 (!Free(cell, 16, "sk", "Sicherheitszelle") ||
                  !cells_.Used(kBins + cells_.Dword(cell + 4 + 4), 16, "sk") ||
                  !cells_.Used(kBins + cells_.Dword(cell + 4 + 8), 16, "sk"))) {
        if (failure_.empty()) failure_ = "Nachbarn der Sicherheitszelle bei " + Hex(cell);
      }
    }
  }

  [[nodiscard]] const std::string& Failure() const noexcept { return failure_; }

 private:
  void SubkeyList(std::uint64_t list, std::vector<std::uint64_t>& pending, bool mayIndex) {
    if (!Free(list, 4, {}, "Liste der Unterschlüssel")) return;
    const std::string_view kind = cells_.hive_.substr(list + 4, 2);
    const std::uint32_t count = cells_.Dword(list + 4) >> 16U;
    const bool pairs = kind == "lf" || kind == "lh";
    const std::size_t width = pairs ? 8 : 4;
    if ((!pairs && kind != "li" && kind != "ri") || (kind == "ri" && !mayIndex) ||
        !cells_.Used(list, 4 + std::size_t{count} * width)) {
      failure_ = "Liste der Unterschlüssel bei " + Hex(list) + " ist unbrauchbar";
      return;
    }
    for (std::uint32_t i = 0; i < count && failure_.empty(); ++i) {
      const std::uint64_t child = kBins + cells_.Dword(list + 8 + std::uint64_t{i} * width);
      if (kind == "ri") {
        SubkeyList(child, pending, false);
      } else {
        pending.push_back(child);
      }
    }
  }

  const HiveCells& cells_;
  std::set<std::uint64_t> freed_;
  std::map<std::uint64_t, std::uint32_t> security_;
  std::string failure_;
};

std::string HiveCells::CheckDeleteTree(std::size_t node) const {
  Plan plan(*this);
  plan.Tree(node);
  return plan.Failure();
}

std::string HiveCells::CheckRewriteValues(std::size_t node) const {
  Plan plan(*this);
  if (!Used(node, kNkSize, "nk")) return "Schlüssel bei " + Hex(node) + " ist keine belegte Zelle";
  plan.Values(node);
  return plan.Failure();
}

}  // namespace lk
