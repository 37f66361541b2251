#include "search/expression/RefineParser.h"

#include <array>
#include <vector>

namespace lk {
namespace {

// Nonterminals.
enum Symbol { kSearch, kExpr, kTerm };

struct Rule {
  Symbol lhs;
  int length;
};

// Rules 1 to 13, in the order of the grammar.
constexpr std::array<Rule, 14> kRules{{
    {kSearch, 0},  // unused slot 0
    {kSearch, 0},  // 1 search: (empty)
    {kSearch, 1},  // 2 search: expr
    {kExpr, 3},    // 3 expr: expr AND expr
    {kExpr, 3},    // 4 expr: expr '+' expr
    {kExpr, 3},    // 5 expr: expr OR expr
    {kExpr, 3},    // 6 expr: expr '|' expr
    {kExpr, 3},    // 7 expr: term NEAR term
    {kExpr, 2},    // 8 expr: NOT expr
    {kExpr, 3},    // 9 expr: expr '-' expr
    {kExpr, 3},    // 10 expr: '(' expr ')'
    {kExpr, 1},    // 11 expr: term
    {kTerm, 1},    // 12 term: STRING
    {kTerm, 1},    // 13 term: WORD
}};

enum class ActionKind { Error, Shift, Reduce, Accept };

struct Action {
  ActionKind kind;
  int value;  // the state to shift to, or the rule to reduce by
};

constexpr Action Shift(int state) { return {ActionKind::Shift, state}; }
constexpr Action Reduce(int rule) { return {ActionKind::Reduce, rule}; }
constexpr Action kError{ActionKind::Error, 0};
constexpr Action kAccept{ActionKind::Accept, 0};

// States that reduce without looking at the next token.
constexpr int DefaultReduction(int state) {
  switch (state) {
    case 6:
      return 12;
    case 7:
      return 13;
    case 22:
      return 7;
    case 23:
      return 10;
    default:
      return 0;
  }
}

// The start of an operand: NOT, '(' or a term.
constexpr Action OperandAction(int tok) {
  switch (tok) {
    case token::kNot:
      return Shift(4);
    case '(':
      return Shift(5);
    case token::kString:
      return Shift(6);
    case token::kWord:
      return Shift(7);
    default:
      return kError;
  }
}

// After a complete expression: the binary operators.
constexpr Action OperatorShift(int tok) {
  switch (tok) {
    case token::kAnd:
      return Shift(9);
    case '+':
      return Shift(10);
    case token::kOr:
      return Shift(11);
    case '|':
      return Shift(12);
    case '-':
      return Shift(13);
    default:
      return kError;
  }
}

constexpr bool EndsGroup(int tok) { return tok == token::kEnd || tok == ')'; }

Action LookupAction(int state, int tok) {
  switch (state) {
    case 0:
      if (tok == token::kEnd) return Reduce(1);
      return OperandAction(tok);
    case 1:
      return tok == token::kEnd ? kAccept : kError;
    case 2:
      if (tok == token::kEnd) return Reduce(2);
      return OperatorShift(tok);
    case 3:
      if (tok == token::kNear) return Shift(14);
      if (EndsGroup(tok) || OperatorShift(tok).kind == ActionKind::Shift) return Reduce(11);
      return kError;
    case 4:
    case 5:
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:
      return OperandAction(tok);
    case 14:
      if (tok == token::kString) return Shift(6);
      if (tok == token::kWord) return Shift(7);
      return kError;
    case 15:  // NOT expr .
      if (tok == '+' || tok == '-' || tok == '|') return OperatorShift(tok);
      if (tok == token::kAnd || tok == token::kOr || EndsGroup(tok)) return Reduce(8);
      return kError;
    case 16:  // '(' expr . ')'
      if (tok == ')') return Shift(23);
      return OperatorShift(tok);
    case 17:  // expr AND expr .
      if (tok == '+' || tok == '-' || tok == '|') return OperatorShift(tok);
      if (tok == token::kAnd || tok == token::kOr || EndsGroup(tok)) return Reduce(3);
      return kError;
    case 19:  // expr OR expr .
      if (tok == token::kOr || EndsGroup(tok)) return Reduce(5);
      return OperatorShift(tok);
    case 18:  // expr '+' expr .
    case 20:  // expr '|' expr .
    case 21:  // expr '-' expr .
      if (EndsGroup(tok)) return Reduce(state == 18 ? 4 : state == 20 ? 6 : 9);
      return OperatorShift(tok);
    default:
      return kError;
  }
}

int Goto(int state, Symbol symbol) {
  switch (symbol) {
    case kSearch:
      return 1;
    case kTerm:
      return state == 14 ? 22 : 3;
    case kExpr:
      switch (state) {
        case 0:
          return 2;
        case 4:
          return 15;
        case 5:
          return 16;
        case 9:
          return 17;
        case 10:
          return 18;
        case 11:
          return 19;
        case 12:
          return 20;
        case 13:
          return 21;
        default:
          return -1;
      }
  }
  return -1;
}

}  // namespace

void RefineParser::ReportError(const char* message) {
  diagnostics_ += message;
  diagnostics_ += " at line ";
  diagnostics_ += std::to_string(lexer_.LineNumber());
  diagnostics_ += '\n';
}

bool RefineParser::ReadLookahead(int& lookahead, std::string& value) {
  lookahead = lexer_.Scan();
  if (lookahead == token::kScannerError) {
    diagnostics_ += "match stack overflow\n";
    return false;
  }
  value = lexer_.Value();
  return true;
}

void RefineParser::EmitRule(int rule, const std::string& termText) {
  switch (rule) {
    case 3:
    case 4:
      result_.AddOperator(OpCode::And);
      break;
    case 5:
    case 6:
      result_.AddOperator(OpCode::Or);
      break;
    case 7:
      result_.AddOperator(OpCode::Near);
      break;
    case 8:
      result_.AddOperator(OpCode::Not);
      break;
    case 9:
      result_.AddOperator(OpCode::Not);
      result_.AddOperator(OpCode::And);
      break;
    case 12:
    case 13:
      result_.AddTerm(termText);
      break;
    default:
      break;
  }
}

bool RefineParser::Parse() {
  result_.Clear();
  std::vector<int> states;
  states.reserve(kMaxDepth);
  std::string termText;      // value of the last term token shifted
  std::string pendingValue;  // value of the lookahead token
  int lookahead = -1;        // -1: none read yet
  int state = 0;

  const auto abort = [this]() {
    result_.Clear();
    return false;
  };

  for (;;) {
    // Enter the state: push it, unless the stack is full.
    if (states.size() >= kMaxDepth) {
      ReportError("yyparse stack overflow");
      return abort();
    }
    states.push_back(state);

    for (;;) {
      Action action{};
      if (const int rule = DefaultReduction(state); rule != 0) {
        action = Reduce(rule);
      } else {
        if (lookahead < 0 && !ReadLookahead(lookahead, pendingValue)) return abort();
        action = LookupAction(state, lookahead);
      }

      if (action.kind == ActionKind::Error) {
        ReportError("syntax error");
        return abort();
      }
      if (action.kind == ActionKind::Accept) return true;
      if (action.kind == ActionKind::Shift) {
        if (lookahead == token::kWord || lookahead == token::kString) termText = pendingValue;
        lookahead = -1;
        state = action.value;
        break;  // push the new state
      }

      // Reduce: emit the rule's code, pop its right-hand side, go to the next state.
      const int rule = action.value;
      EmitRule(rule, termText);
      states.resize(states.size() -
                    static_cast<std::size_t>(kRules[static_cast<std::size_t>(rule)].length));
      state = Goto(states.back(), kRules[static_cast<std::size_t>(rule)].lhs);
      break;  // push the goto state
    }
  }
}

}  // namespace lk
