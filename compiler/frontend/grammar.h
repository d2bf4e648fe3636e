// Token codes, keywords, grammar actions and the tables that drive the
// parser: transitions (grammar.def) and lexer modes (lexer_modes.def).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fvx::compiler {

// Token codes. A punctuation character (and, in a few states, a white-space
// character) is a token whose code is the character itself (0..255).
enum TokenCode : int {
  kTokenQuote = '"',
  kTokenApostrophe = '\'',
  kTokenWord = 256,
  kTokenNumber,
  kTokenHeadingText,
  kTokenBodyTextEnd,
  kTokenBodyTextRest,
  kTokenLinkText,
  kTokenBad,
  kTokenEnd,
  kTokenAny,
  kTokenKeywordBase = 300,  // + index in keywords.def
};

enum class Keyword : int {
#define FVX_KEYWORD(word) k_##word,
#include "compiler/frontend/keywords.def"
#undef FVX_KEYWORD
  kCount
};

inline constexpr int KeywordToken(Keyword k) { return kTokenKeywordBase + static_cast<int>(k); }
// The keyword a word spells (any case), or nullopt.
std::optional<Keyword> FindKeyword(std::string_view word);
const char* KeywordText(Keyword k);

enum class Action : uint8_t {
  kNone,
  kCompilingSubjects,
  kBeginSubject,
  kNewTagSyntaxError,
  kOpenSubject,
  kEntityStart,
  kOpenTagA,
  kOpenTag,
  kMalformed,
  kMalformedEntityStart,
  kEntity,
  kCloseTag,
  kAddPropertyName,
  kSetPropertyValue,
  kClosingTag,
  kCommentStart,
  kBeginSimpleLink,
  kSimpleLinkText,
  kEmptyLink,
  kSimpleLinkNotClosed,
  kEndSimpleLink,
  kMetaSelectKey,
  kMetaYes,
  kMetaNo,
  kMetaColour,
  kMetaText,
  kMetaNumber,
  kMetaYear,
  kMetaMonth,
  kMetaDay,
  kCatdefBegin,
  kCatdefName,
  kCatParameter,
  kCatYes,
  kCatNo,
  kCatNumber,
  kCatValueItem,
  kCatPremod,
  kCatPostmod,
  kCatPrecision,
  kCatsetBegin,
  kCatsetCategory,
  kCatsetValue,
  kCatsetSyntaxError,
  kSelectionName,
  kBeginQuery,
  kQueryOpen,
  kQueryNot,
  kQueryCategory,
  kQueryLess,
  kQueryGreater,
  kQueryEqual,
  kQueryLessEqual,
  kQueryGreaterEqual,
  kQueryNotEqual,
  kQueryValue,
  kQueryClose,
  kQueryAnd,
  kQueryOr,
  kEndQuery,
};

struct Transition {
  int state;
  int token;
  int next;
  Action action;
};

// One line of grammar.def as written, for tests that hold the table
// against its source.
struct TransitionSource {
  int state;
  const char* token;
  int next;
  Action action;
};
const TransitionSource* GrammarSource(size_t& count);

// The token code a grammar.def token name stands for, or nullopt.
std::optional<int> ParseTokenName(std::string_view name);

// The transition of state on token, or nullptr.
const Transition* FindTransition(int state, int token);

// States in which the input may end.
bool IsFinalState(int state);

enum class LexerMode : uint8_t {
  kTagWords,
  kBody,
  kLinkText,
  kHeading,
  kQuoted,
  kSingleQuoted,
  kNumber,
  kUnsignedNumber,
  kComment,
  kSkip,
  kEntity,
  kMinusAware,
  kAttributeValue,
};

LexerMode ModeOfState(int state);

}  // namespace fvx::compiler
