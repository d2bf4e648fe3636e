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

struct Tables {
  // The transitions of each state, in table order; a state has at most a
  // few dozen, so a scan is as quick as any hash and keeps no pointers.
  std::array<std::vector<Transition>, kMaxState> by_state;
  std::array<LexerMode, kMaxState> modes{};
  Tables() {
    for (const TransitionSource& source : kGrammar) {
      std::optional<int> token = ParseTokenName(source.token);
      if (!token || source.state < 0 || source.state >= kMaxState) continue;  // the grammar test names it
      std::vector<Transition>& list = by_state[source.state];
      // The first line for a (state, token) pair wins, as it would when read
      // from the top of the table.
      bool seen = false;
      for (const Transition& t : list) seen = seen || t.token == *token;
      if (!seen) list.push_back(Transition{source.state, *token, source.next, source.action});
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
  static const std::unordered_map<std::string_view, Keyword> index = [] {
    std::unordered_map<std::string_view, Keyword> map;
    for (size_t i = 0; i < kKeywordTexts.size(); ++i) map.emplace(kKeywordTexts[i], Keyword(i));
    return map;
  }();
  // Every keyword is lower-case ASCII of at most 20 letters; fold into a
  // small buffer rather than a new string for every word of the source.
  constexpr size_t kLongest = 20;
  if (word.empty() || word.size() > kLongest) return std::nullopt;
  char folded[kLongest];
  for (size_t i = 0; i < word.size(); ++i) {
    folded[i] = static_cast<char>(FoldAsciiCase(static_cast<unsigned char>(word[i])));
  }
  auto it = index.find(std::string_view(folded, word.size()));
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
  if (state < 0 || state >= kMaxState) return nullptr;
  for (const Transition& t : GetTables().by_state[state]) {
    if (t.token == token) return &t;
  }
  return nullptr;
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
