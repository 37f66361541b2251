#pragma once
// The compiled form of a search expression: a postfix program kept in a Segment, an ordered list
// of cells that each hold a 32-bit integer or a text.
//
// Instructions: opTerm takes two cells (the integer 0, then the term text); opAnd, opOr, opNear and
// opNot take one cell each (1, 2, 3, 4). The empty program stands for the empty expression.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lk {

enum class OpCode : std::int32_t { Term = 0, And = 1, Or = 2, Near = 3, Not = 4 };

using Cell = std::variant<std::int32_t, std::string>;

// An ordered, growable list of cells.
class Segment {
 public:
  void AddInteger(std::int32_t value) { cells_.emplace_back(value); }
  void AddText(std::string_view text) { cells_.emplace_back(std::string(text)); }
  void Clear() noexcept { cells_.clear(); }

  [[nodiscard]] bool Empty() const noexcept { return cells_.empty(); }
  [[nodiscard]] std::size_t Count() const noexcept { return cells_.size(); }
  [[nodiscard]] const Cell& operator[](std::size_t index) const { return cells_[index]; }
  [[nodiscard]] bool IsText(std::size_t index) const {
    return std::holds_alternative<std::string>(cells_[index]);
  }
  [[nodiscard]] std::int32_t Integer(std::size_t index) const {
    return std::get<std::int32_t>(cells_[index]);
  }
  [[nodiscard]] const std::string& Text(std::size_t index) const {
    return std::get<std::string>(cells_[index]);
  }

  friend bool operator==(const Segment&, const Segment&) = default;

 private:
  std::vector<Cell> cells_;
};

// A compiled expression: the instructions above, in postfix order.
class SearchExpression : public Segment {
 public:
  void AddTerm(std::string_view text) {
    AddInteger(static_cast<std::int32_t>(OpCode::Term));
    AddText(text);
  }
  void AddOperator(OpCode op) { AddInteger(static_cast<std::int32_t>(op)); }
};

// One instruction a line: "opTerm TEXT", "opAnd", "opOr", "opNear", "opNot"; each line ends with
// a line feed. Cells that do not form an instruction are written as "?".
[[nodiscard]] std::string DumpExpression(const SearchExpression& expression);

}  // namespace lk
