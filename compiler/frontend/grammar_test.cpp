#include "compiler/frontend/grammar.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace fvx::compiler {
namespace {

TEST(GrammarTest, EveryLineNamesAKnownTokenAndNoPairRepeats) {
  size_t count = 0;
  const TransitionSource* lines = GrammarSource(count);
  ASSERT_GT(count, 300u);
  std::set<std::pair<int, int>> seen;
  for (size_t i = 0; i < count; ++i) {
    std::optional<int> token = ParseTokenName(lines[i].token);
    ASSERT_TRUE(token.has_value()) << "state " << lines[i].state << " token " << lines[i].token;
    EXPECT_TRUE(seen.insert({lines[i].state, *token}).second)
        << "state " << lines[i].state << " token " << lines[i].token << " twice";
  }
}

TEST(GrammarTest, EveryTargetStateIsFinalOrHasTransitions) {
  size_t count = 0;
  const TransitionSource* lines = GrammarSource(count);
  std::set<int> sources;
  for (size_t i = 0; i < count; ++i) sources.insert(lines[i].state);
  for (size_t i = 0; i < count; ++i) {
    int next = lines[i].next;
    // 4100 reads link text; 6000-range skipped sections are reached by the close-tag step.
    EXPECT_TRUE(sources.count(next) > 0 || IsFinalState(next)) << "dead end " << next;
  }
}

TEST(GrammarTest, SelectedTransitions) {
  auto keyword = [](const char* word) { return KeywordToken(*FindKeyword(word)); };
  const Transition* t = FindTransition(204, keyword("a"));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->next, 3100);
  EXPECT_EQ(t->action, Action::kOpenTagA);
  EXPECT_EQ(FindTransition(204, 'a'), nullptr);
  ASSERT_NE(FindTransition(6300 + 2, keyword("style")), nullptr);
  EXPECT_EQ(FindTransition(6302, keyword("style"))->next, 6303);
  EXPECT_EQ(FindTransition(6103, '>')->next, 202);
  EXPECT_EQ(FindTransition(204, kTokenBad)->action, Action::kMalformed);
  EXPECT_EQ(FindTransition(1, kTokenAny), nullptr);
  EXPECT_EQ(FindTransition(1801, keyword("hugefile"))->next, 1830);
  EXPECT_EQ(FindTransition(6080, keyword("name"))->action, Action::kEndQuery);
}

TEST(GrammarTest, KeywordsIgnoreCase) {
  EXPECT_EQ(FindKeyword("CatDef"), Keyword::k_catdef);
  EXPECT_EQ(FindKeyword("A"), Keyword::k_a);
  EXPECT_FALSE(FindKeyword("catdefs").has_value());
  EXPECT_FALSE(FindKeyword("").has_value());
  EXPECT_STREQ(KeywordText(Keyword::k_backcovertitle), "backcovertitle");
}

TEST(GrammarTest, ModesAndFinalStates) {
  EXPECT_EQ(ModeOfState(202), LexerMode::kBody);
  EXPECT_EQ(ModeOfState(201), LexerMode::kHeading);
  EXPECT_EQ(ModeOfState(4100), LexerMode::kLinkText);
  EXPECT_EQ(ModeOfState(3003), LexerMode::kQuoted);
  EXPECT_EQ(ModeOfState(3005), LexerMode::kSingleQuoted);
  EXPECT_EQ(ModeOfState(117), LexerMode::kNumber);
  EXPECT_EQ(ModeOfState(1843), LexerMode::kUnsignedNumber);
  EXPECT_EQ(ModeOfState(6206), LexerMode::kComment);
  EXPECT_EQ(ModeOfState(7001), LexerMode::kSkip);
  EXPECT_EQ(ModeOfState(205), LexerMode::kEntity);
  EXPECT_EQ(ModeOfState(5004), LexerMode::kMinusAware);
  EXPECT_EQ(ModeOfState(3002), LexerMode::kAttributeValue);
  EXPECT_EQ(ModeOfState(0), LexerMode::kTagWords);
  EXPECT_EQ(ModeOfState(-5), LexerMode::kTagWords);
  EXPECT_EQ(ModeOfState(99999), LexerMode::kTagWords);
  for (int s : {0, 201, 202, 203, 5002, 5003, 5004}) EXPECT_TRUE(IsFinalState(s)) << s;
  for (int s : {1, 200, 204, 205, 3000, 6000, 1801}) EXPECT_FALSE(IsFinalState(s)) << s;
}

}  // namespace
}  // namespace fvx::compiler
