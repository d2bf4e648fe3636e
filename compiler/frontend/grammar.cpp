#include "compiler/frontend/grammar.h"

#include <array>
#include <unordered_map>
#include <vector>

#include "compiler/frontend/char_class.h"

namespace fvx::compiler {
namespace {

constexpr std::array<const char*, static_cast<size_t>(Keyword::kCount)> kKeywordTexts = {
#define FVX_KEYWORD(word) #word,
#include "compiler/frontend/keywords.def"
#undef FVX_KEYWORD
};


constexpr TransitionSource kGrammar[] = {
#define FVX_T(state, token, next, action) {state, token, next, Action::action},
#include "compiler/frontend/grammar.def"
#undef FVX_T
};

struct ModeEntry {
  int state;
  LexerMode mode;
};

constexpr ModeEntry kModes[] = {
#define FVX_MODE(state, mode) {state, LexerMode::mode},
#include "compiler/frontend/lexer_modes.def"
#undef FVX_MODE
};

constexpr int kMaxState = 8192;

uint64_t Key(int state, int token) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(state)) << 32) | static_cast<uint32_t>(token);
}

struct Tables {
  std::unordered_map<uint64_t, Transition> transitions;
  std::array<LexerMode, kMaxState> modes{};
  Tables() {
    transitions.reserve(std::size(kGrammar) * 2);
    for (const TransitionSource& source : kGrammar) {
      std::optional<int> token = ParseTokenName(source.token);
      if (!token) continue;  // a misspelt token; the grammar test names it
      // The first line for a (state, token) pair wins, as it would when read
      // from the top of the table.
      transitions.emplace(Key(source.state, *token),
                          Transition{source.state, *token, source.next, source.action});
    }
    modes.fill(LexerMode::kTagWords);
    for (const ModeEntry& entry : kModes) {
      if (entry.state >= 0 && entry.state < kMaxState) modes[entry.state] = entry.mode;
    }
  }
};

const Tables& GetTables() {
  static const Tables tables;
  return tables;
}

}  // namespace

std::optional<Keyword> FindKeyword(std::string_view word) {
  // Keywords are short; a linear scan with a length check is cheap enough
  // and keeps the table the only source.
  static const std::unordered_map<std::string, Keyword> index = [] {
    std::unordered_map<std::string, Keyword> map;
    for (size_t i = 0; i < kKeywordTexts.size(); ++i) map.emplace(kKeywordTexts[i], Keyword(i));
    return map;
  }();
  if (word.empty() || word.size() > 20) return std::nullopt;
  std::string folded(word);
  for (char& c : folded) c = static_cast<char>(FoldAsciiCase(static_cast<unsigned char>(c)));
  auto it = index.find(folded);
  if (it == index.end()) return std::nullopt;
  return it->second;
}

const char* KeywordText(Keyword k) {
  size_t i = static_cast<size_t>(k);
  return i < kKeywordTexts.size() ? kKeywordTexts[i] : "";
}

const TransitionSource* GrammarSource(size_t& count) {
  count = std::size(kGrammar);
  return kGrammar;
}

std::optional<int> ParseTokenName(std::string_view name) {
  // One punctuation character is that character's token; "a" is a keyword.
  if (name.size() == 1 && IsSourcePunct(static_cast<unsigned char>(name[0]))) {
    return static_cast<unsigned char>(name[0]);
  }
  static const std::pair<const char*, int> kNamed[] = {
      {"Word", kTokenWord},
      {"Number", kTokenNumber},
      {"Quote", kTokenQuote},
      {"Apostrophe", kTokenApostrophe},
      {"HeadingText", kTokenHeadingText},
      {"BodyTextEnd", kTokenBodyTextEnd},
      {"BodyTextRest", kTokenBodyTextRest},
      {"LinkText", kTokenLinkText},
      {"Bad", kTokenBad},
      {"Any", kTokenAny},
  };
  for (const auto& [text, code] : kNamed) {
    if (name == text) return code;
  }
  for (size_t i = 0; i < kKeywordTexts.size(); ++i) {
    if (name == kKeywordTexts[i]) return KeywordToken(Keyword(i));
  }
  return std::nullopt;
}

const Transition* FindTransition(int state, int token) {
  const Tables& tables = GetTables();
  auto it = tables.transitions.find(Key(state, token));
  return it == tables.transitions.end() ? nullptr : &it->second;
}

bool IsFinalState(int state) {
  switch (state) {
    case 0:
    case 201:
    case 202:
    case 203:
    case 5002:
    case 5003:
    case 5004:
      return true;
    default:
      return false;
  }
}

LexerMode ModeOfState(int state) {
  if (state < 0 || state >= kMaxState) return LexerMode::kTagWords;
  return GetTables().modes[state];
}

}  // namespace fvx::compiler
