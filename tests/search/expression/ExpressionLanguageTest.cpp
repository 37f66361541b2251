// The expression language: tokens, grouping, compiled cells, limits and diagnostics.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "base/TextCase.h"
#include "search/expression/AnsiCharacters.h"
#include "search/expression/ExpressionCompiler.h"
#include "search/expression/RefineLexer.h"

namespace lk {
namespace {

// The compiled cells of a valid expression, one instruction a line joined by spaces; "invalid"
// when it does not compile.
std::string Cells(std::string_view text, bool matchCase = false) {
  const CompileResult result = CompileExpression(text, matchCase);
  if (!result.valid) return "invalid";
  std::string dump = DumpExpression(result.expression);
  std::string out;
  for (char c : dump) out += c == '\n' ? ';' : c;
  return out;
}

TEST(ExpressionGrouping, AndBindsTighterThanOr) {
  EXPECT_EQ(Cells("P OR Q AND R"), "opTerm P;opTerm Q;opTerm R;opAnd;opOr;");
  EXPECT_EQ(Cells("P AND Q OR R"), "opTerm P;opTerm Q;opAnd;opTerm R;opOr;");
}

TEST(ExpressionGrouping, AndAndOrGroupFromTheLeft) {
  EXPECT_EQ(Cells("P AND Q AND R"), "opTerm P;opTerm Q;opAnd;opTerm R;opAnd;");
  EXPECT_EQ(Cells("P OR Q OR R"), "opTerm P;opTerm Q;opOr;opTerm R;opOr;");
}

TEST(ExpressionGrouping, NotBindsTighterThanAndAndOr) {
  EXPECT_EQ(Cells("NOT P AND Q"), "opTerm P;opNot;opTerm Q;opAnd;");
  EXPECT_EQ(Cells("NOT P OR Q"), "opTerm P;opNot;opTerm Q;opOr;");
  EXPECT_EQ(Cells("P OR NOT Q AND R"), "opTerm P;opTerm Q;opNot;opTerm R;opAnd;opOr;");
  EXPECT_EQ(Cells("NOT NOT P"), "opTerm P;opNot;opNot;");
}

TEST(ExpressionGrouping, PlusMinusPipeTakeThePrimaryBeforeAndEverythingAfter) {
  EXPECT_EQ(Cells("P | Q AND R"), "opTerm P;opTerm Q;opTerm R;opAnd;opOr;");
  EXPECT_EQ(Cells("P AND Q | R"), "opTerm P;opTerm Q;opTerm R;opOr;opAnd;");
  EXPECT_EQ(Cells("P AND Q | R OR S"), "opTerm P;opTerm Q;opTerm R;opTerm S;opOr;opOr;opAnd;");
  EXPECT_EQ(Cells("NOT P | Q"), "opTerm P;opTerm Q;opOr;opNot;");
  EXPECT_EQ(Cells("P - Q - R"), "opTerm P;opTerm Q;opTerm R;opNot;opAnd;opNot;opAnd;");
  EXPECT_EQ(Cells("P - Q"), "opTerm P;opTerm Q;opNot;opAnd;");
  EXPECT_EQ(Cells("P + Q"), Cells("P AND Q"));
  EXPECT_EQ(Cells("P | Q"), Cells("P OR Q"));
  EXPECT_EQ(Cells("(P | Q) AND R"), "opTerm P;opTerm Q;opOr;opTerm R;opAnd;");
  EXPECT_EQ(Cells("P + Q OR R"), "opTerm P;opTerm Q;opTerm R;opOr;opAnd;");
}

TEST(ExpressionGrouping, NearJoinsTwoSingleTerms) {
  EXPECT_EQ(Cells("P NEAR Q"), "opTerm P;opTerm Q;opNear;");
  EXPECT_EQ(Cells("NOT P NEAR Q"), "opTerm P;opTerm Q;opNear;opNot;");
  EXPECT_EQ(Cells("P NEAR Q AND R"), "opTerm P;opTerm Q;opNear;opTerm R;opAnd;");
  EXPECT_EQ(Cells("P NEAR Q NEAR R"), "invalid");
  EXPECT_EQ(Cells("(P) NEAR Q"), "invalid");
  EXPECT_EQ(Cells("P NEAR (Q)"), "invalid");
  EXPECT_EQ(Cells("P NEAR NOT Q"), "invalid");
}

TEST(ExpressionGrouping, NoImplicitOperatorAndBalancedParentheses) {
  for (const char* bad : {"P Q", "P (Q)", "(P)(Q)", "P AND", "AND P", "(P", "P)", "()", "NOT",
                          "P OR OR Q", "P +", "- P"}) {
    EXPECT_EQ(Cells(bad), "invalid") << bad;
  }
}

TEST(ExpressionCompiledForm, SystemExpressionsCompileToTheirCells) {
  const CompileResult libraries = CompileExpression(
      "(C3PO?r2d2) or (skype and iexplore and firefox and SKYPEVERSION) or KeyBoardClassC", false);
  ASSERT_TRUE(libraries.valid);
  EXPECT_EQ(libraries.expression.Count(), 17u);
  EXPECT_EQ(DumpExpression(libraries.expression),
            "opTerm C3PO?R2D2\nopTerm SKYPE\nopTerm IEXPLORE\nopAnd\nopTerm FIREFOX\nopAnd\n"
            "opTerm SKYPEVERSION\nopAnd\nopOr\nopTerm KEYBOARDCLASSC\nopOr\n");
  const CompileResult drivers = CompileExpression(
      "(C3PO?r2d2) or (skype and iexplore and firefox and SKYPEVERSION) or KeyBoardClassC  or "
      "(K?e?y?B?o?a?r?d?C?l?a?s?s?C?)",
      false);
  ASSERT_TRUE(drivers.valid);
  EXPECT_EQ(drivers.expression.Count(), 20u);
  EXPECT_EQ(DumpExpression(drivers.expression),
            DumpExpression(libraries.expression) + "opTerm K?E?Y?B?O?A?R?D?C?L?A?S?S?C?\nopOr\n");
}

TEST(ExpressionCompiledForm, EmptyAndWhitespaceCompileToNoCells) {
  for (const char* text : {"", "   ", "\t\r\n\f "}) {
    const CompileResult result = CompileExpression(text, false);
    EXPECT_TRUE(result.valid);
    EXPECT_TRUE(result.expression.Empty());
  }
}

TEST(ExpressionScanner, HyphenIsTheMinusOperatorButQuestionMarkIsAWordCharacter) {
  EXPECT_EQ(Cells("C3PO-r2d2"), "opTerm C3PO;opTerm R2D2;opNot;opAnd;");
  EXPECT_EQ(Cells("C3PO?r2d2"), "opTerm C3PO?R2D2;");
}

TEST(ExpressionScanner, WordCharactersFormSingleTerms) {
  EXPECT_EQ(Cells("mfc42ul.dll"), "opTerm MFC42UL.DLL;");
  EXPECT_EQ(Cells("_x_"), "opTerm _X_;");
  EXPECT_EQ(Cells("2011"), "opTerm 2011;");
  EXPECT_EQ(Cells("\xC4nderung", true), "opTerm \xC4nderung;");
  EXPECT_EQ(Cells("\xE4nderung"), "opTerm \xC4NDERUNG;");
  EXPECT_EQ(Cells("a*b"), "opTerm A*B;");
}

TEST(ExpressionScanner, QuotedTermsAreTakenLiterally) {
  EXPECT_EQ(Cells("C:\\x"), "invalid");
  EXPECT_EQ(Cells("'C:\\x'"), "opTerm C:\\X;");
  EXPECT_EQ(Cells("\"a and 'b'\""), "opTerm A AND 'B';");
  EXPECT_EQ(Cells("'and'"), "opTerm AND;");
  EXPECT_EQ(Cells("''"), "opTerm ;");
  EXPECT_EQ(DumpExpression(CompileExpression("'two\nlines'", false).expression),
            "opTerm TWO\nLINES\n");
  EXPECT_EQ(Cells("abc'def'"), "invalid");
  EXPECT_EQ(Cells("'unclosed"), "invalid");
  EXPECT_EQ(Cells("\"unclosed"), "invalid");
}

TEST(ExpressionScanner, KeywordsInAnyCaseButLongerWordsAreTerms) {
  EXPECT_EQ(Cells("P and Q", true), Cells("P AND Q", true));
  EXPECT_EQ(Cells("P And Q", true), Cells("P AND Q", true));
  EXPECT_EQ(Cells("P nEaR Q", true), "opTerm P;opTerm Q;opNear;");
  EXPECT_EQ(Cells("ANDY"), "opTerm ANDY;");
  EXPECT_EQ(Cells("ANDROID OR ORDER"), "opTerm ANDROID;opTerm ORDER;opOr;");
}

TEST(ExpressionScanner, StrayCharactersAndVerticalTabAreSyntaxErrors) {
  EXPECT_EQ(Cells("P , Q"), "invalid");
  EXPECT_EQ(Cells("P\vQ"), "invalid");
  EXPECT_EQ(Cells("P \\ Q"), "invalid");
  EXPECT_EQ(Cells("P\tAND\rQ\f"), "opTerm P;opTerm Q;opAnd;");
}

TEST(ExpressionScanner, TextEndsAtTheFirstNul) {
  EXPECT_EQ(Cells(std::string_view("P OR Q\0 AND (", 13)), "opTerm P;opTerm Q;opOr;");
}

TEST(ExpressionScanner, CaseOfTermsDoesNotMatterWhenMatchCaseIsOff) {
  EXPECT_EQ(Cells("Skype"), Cells("sKYPE"));
  EXPECT_EQ(Cells("Skype", true), "opTerm Skype;");
  // 0xFF upper-cases to 0x9F, which is not a word character.
  EXPECT_EQ(Cells("ab\xFF"), "invalid");
  EXPECT_EQ(Cells("ab\xFF", true), "opTerm ab\xFF;");
}

TEST(ExpressionLimits, TermValuesAreCutTo255Characters) {
  const std::string word(300, 'W');
  EXPECT_EQ(Cells(word), "opTerm " + std::string(255, 'W') + ";");
  EXPECT_EQ(Cells("'" + std::string(400, 'q') + "'"), "opTerm " + std::string(255, 'Q') + ";");
}

TEST(ExpressionLimits, TheScannerTellsHowLongACutTermWasWritten) {
  RefineLexer lexer(std::string(300, 'W') + " and '" + std::string(255, 'q') + "'");
  ASSERT_EQ(lexer.Scan(), token::kWord);
  EXPECT_EQ(lexer.Value().size(), 255U);
  EXPECT_EQ(lexer.WrittenLength(), 300U);
  ASSERT_EQ(lexer.Scan(), token::kAnd);
  ASSERT_EQ(lexer.Scan(), token::kString);
  EXPECT_EQ(lexer.WrittenLength(), 255U);  // exactly as long as kept: nothing was cut
  EXPECT_EQ(lexer.Scan(), token::kEnd);
}

TEST(ExpressionLimits, UnquotedWordsLongerThan1022CharactersOverflowTheScanner) {
  EXPECT_EQ(Cells(std::string(1022, 'W')), "opTerm " + std::string(255, 'W') + ";");
  const CompileResult result = CompileExpression(std::string(1023, 'W'), false);
  EXPECT_FALSE(result.valid);
  EXPECT_EQ(result.diagnostics, "match stack overflow\n");
  // Quoted terms are not limited that way.
  EXPECT_NE(Cells("'" + std::string(5000, 'W') + "'"), "invalid");
}

std::string Repeat(std::string_view piece, std::size_t count) {
  std::string out;
  out.reserve(piece.size() * count);
  for (std::size_t i = 0; i < count; ++i) out += piece;
  return out;
}

TEST(ExpressionLimits, NestingBeyondTheStateStackIsRejected) {
  // Every open parenthesis holds one entry; the term and the closing parenthesis of the innermost
  // group need two more, the start state one.
  EXPECT_EQ(Cells(Repeat("(", 1021) + "P" + Repeat(")", 1021)), "opTerm P;");
  const CompileResult tooDeep =
      CompileExpression(Repeat("(", 1022) + "P" + Repeat(")", 1022), false);
  EXPECT_FALSE(tooDeep.valid);
  EXPECT_EQ(tooDeep.diagnostics, "yyparse stack overflow at line 1\n");
  // NOT holds one entry each, '+' two (the operand before it and the operator).
  EXPECT_NE(Cells(Repeat("NOT ", 1022) + "P"), "invalid");
  EXPECT_EQ(Cells(Repeat("NOT ", 1023) + "P"), "invalid");
  EXPECT_NE(Cells(Repeat("P + ", 511) + "P"), "invalid");
  EXPECT_EQ(Cells(Repeat("P + ", 512) + "P"), "invalid");
}

TEST(ExpressionLimits, HugeNestingIsRejectedQuickly) {
  for (const std::string& text : {Repeat("(", 100000) + "P" + Repeat(")", 100000),
                                  Repeat("NOT ", 100000) + "P", Repeat("P + ", 100000) + "P"}) {
    const CompileResult result = CompileExpression(text, false);
    EXPECT_FALSE(result.valid);
    EXPECT_NE(result.diagnostics.find("yyparse stack overflow"), std::string::npos);
  }
  // Long flat lists are not nesting.
  const CompileResult flat = CompileExpression(Repeat("P AND ", 100000) + "P", false);
  EXPECT_TRUE(flat.valid);
  EXPECT_EQ(flat.expression.Count(), 100001u * 2 + 100000u);
}

TEST(ExpressionDiagnostics, SyntaxErrorsNameTheLine) {
  const CompileResult first = CompileExpression("P Q", false);
  EXPECT_FALSE(first.valid);
  EXPECT_TRUE(first.expression.Empty());
  EXPECT_EQ(first.diagnostics, "syntax error at line 1\n");
  // The end of input comes after the line feed that ends the text.
  EXPECT_EQ(CompileExpression("P AND", false).diagnostics, "syntax error at line 2\n");
  EXPECT_EQ(CompileExpression("P AND\nQ\nR", false).diagnostics, "syntax error at line 3\n");
}

TEST(AnsiCharacters, SeparatorBytes) {
  for (int b = 0; b <= 0x20; ++b) EXPECT_TRUE(IsWordSeparator(static_cast<std::uint8_t>(b)));
  for (char c : std::string("!#$%&'()*+,-./:;<=>?[\\]^{|}\"@`")) {
    EXPECT_TRUE(IsWordSeparator(static_cast<std::uint8_t>(c))) << c;
  }
  EXPECT_TRUE(IsWordSeparator(0xA6));
  for (const int b :
       {int{'_'}, int{'~'}, 0x7F, int{'a'}, int{'Z'}, int{'0'}, 0x80, 0xA5, 0xA7, 0xFF}) {
    EXPECT_FALSE(IsWordSeparator(static_cast<std::uint8_t>(b))) << b;
  }
}

TEST(AnsiCharacters, FoldingNeverTurnsASeparatorIntoAWordByteOrBack) {
  for (int b = 0; b < 256; ++b) {
    const auto u = UpperWindows1252(static_cast<std::uint8_t>(b));
    EXPECT_EQ(IsWordSeparator(u), IsWordSeparator(static_cast<std::uint8_t>(b))) << b;
  }
}

}  // namespace
}  // namespace lk
