#include "compiler/frontend/parser.h"

#include <cmath>

#include "compiler/frontend/char_class.h"
#include "compiler/frontend/colour.h"

namespace fvx::compiler {
namespace {

std::string Folded(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(FoldAsciiCase(static_cast<unsigned char>(c)));
  return out;
}

// Numbers of meta values are doubles truncated to whole numbers; out-of-range
// values saturate rather than wrap.
uint32_t ToU32(double value) {
  if (!(value > 0)) return 0;
  if (value >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(value);
}

}  // namespace

const TagRecord::Property* TagRecord::Find(std::string_view property) const {
  for (const Property& p : properties) {
    if (CompareFolded(p.name, property) == 0) return &p;
  }
  return nullptr;
}

CParser::CParser(CompileContext& context, WorkDatabase& db, platform::File& text_spill)
    : context_(context),
      db_(db),
      spill_(text_spill),
      lexer_(context, recorder_),
      categories_(context, db),
      selections_(context, db, categories_) {}

bool CParser::Parse(CSourceReader& reader, bool replace_leading_underscores) {
  lexer_.Start(&reader, replace_leading_underscores);
  state_ = 0;
  context_.BeginProgress(reader.TotalSize());
  const int new_token = KeywordToken(Keyword::k_new);
  bool reached_end = false;
  while (context_.IsRunning() && !context_.parse_failed()) {
    Token token = lexer_.Next(state_);
    // A cancel cuts the token short: it is no token to act on (a Bad one
    // would otherwise read as a malformed tag).
    if (lexer_.cancelled()) break;
    context_.SetPosition(token.line, token.column);
    const Transition* transition = nullptr;
    if (token.code == kTokenBad) {
      transition = FindTransition(state_, kTokenBad);
      if (transition == nullptr) {
        Fail();
        break;
      }
    } else if (token.code == kTokenEnd) {
      reached_end = !lexer_.cancelled();
      break;
    } else {
      if (token.code == kTokenWord) {
        if (std::optional<Keyword> keyword = FindKeyword(token.text)) {
          int code = KeywordToken(*keyword);
          if (FindTransition(state_, code) != nullptr) token.code = code;
        }
      }
      transition = FindTransition(state_, token.code);
      if (transition == nullptr) transition = FindTransition(state_, kTokenAny);
      if (transition == nullptr) {
        context_.ParseError(true, MessageId::kUnexpectedToken, "%s", {token.text});
        break;
      }
    }
    if (token.code == new_token) {
      next_line_ = token.line;
      next_column_ = token.column;
    }
    int next = transition->next;
    if (transition->action != Action::kNone) {
      context_.SetProgress(reader.Position());
      RunAction(transition->action, token, next);
    }
    state_ = next;
  }
  if (lexer_.cancelled() || !context_.IsRunning() || context_.parse_failed()) return false;
  if (reached_end && !IsFinalState(state_)) {
    context_.ParseError(true, MessageId::kUnexpectedEndOfFile);
    return false;
  }
  return true;
}

void CParser::RunAction(Action action, const Token& token, int& next) {
  switch (action) {
    case Action::kNone:
      break;
    case Action::kCompilingSubjects:
      context_.Report(false, Level::kInformation, MessageId::kCompilingSubjects);
      break;
    case Action::kBeginSubject:
      BeginSubject();
      break;
    case Action::kNewTagSyntaxError:
      context_.Report(true, Level::kError, MessageId::kNewTagSyntax);
      BeginSubject();
      break;
    case Action::kOpenSubject:
      if (have_subject_) {
        if (!CheckRequiredOfSubjectEnding()) return;
        if (!WriteSubject()) return;
      }
      OpenSubject(token.text);
      break;
    case Action::kEntityStart:
      EntityStart();
      break;
    case Action::kOpenTagA:
    case Action::kOpenTag:
      OpenTag(token);
      break;
    case Action::kMalformed:
      MalformedTag();
      break;
    case Action::kMalformedEntityStart:
      MalformedTag();
      EntityStart();
      break;
    case Action::kEntity:
      Entity(token.text);
      break;
    case Action::kCloseTag:
      CloseTag(next);
      break;
    case Action::kAddPropertyName:
      AddPropertyName(token.text, next);
      break;
    case Action::kSetPropertyValue:
      SetPropertyValue(token.text);
      break;
    case Action::kClosingTag:
      ClosingTag(token.text);
      break;
    case Action::kCommentStart:
      recorder_.CutToTagStart();
      recorder_.SetRecording(false);
      break;
    case Action::kBeginSimpleLink:
      BeginSimpleLink();
      break;
    case Action::kSimpleLinkText:
      break;  // the text is in the recorder already
    case Action::kEmptyLink:
      context_.Report(true, Level::kWarning, MessageId::kEmptyLink);
      simple_link_empty_ = true;
      break;
    case Action::kSimpleLinkNotClosed:
      context_.Report(true, Level::kWarning, MessageId::kSimpleLinkNotClosed);
      break;
    case Action::kEndSimpleLink:
      EndSimpleLink();
      break;

    case Action::kMetaSelectKey:
      MetaSelectKey(token);
      break;
    case Action::kMetaYes:
      MetaBoolean(true);
      break;
    case Action::kMetaNo:
      MetaBoolean(false);
      break;
    case Action::kMetaColour:
      MetaColour(token.text);
      break;
    case Action::kMetaText:
      MetaText(token.text);
      break;
    case Action::kMetaNumber:
      MetaNumber(token.number);
      break;
    case Action::kMetaYear:
    case Action::kMetaMonth:
    case Action::kMetaDay:
      MetaDate(action, token.number);
      break;

    case Action::kCatdefBegin:
      categories_.BeginDeclaration();
      break;
    case Action::kCatdefName:
      categories_.DeclareName(token.text);
      break;
    case Action::kCatParameter:
      categories_.SelectParameter(token.text);
      break;
    case Action::kCatYes:
      categories_.SetSelectedBit(true);
      break;
    case Action::kCatNo:
      categories_.SetSelectedBit(false);
      break;
    case Action::kCatNumber:
      categories_.SetLimit(token.number);
      break;
    case Action::kCatValueItem:
      categories_.AddDefinedValue(token.text);
      break;
    case Action::kCatPremod:
      categories_.SetPreModifier(token.text);
      break;
    case Action::kCatPostmod:
      categories_.SetPostModifier(token.text);
      break;
    case Action::kCatPrecision:
      categories_.SetPrecision(token.number);
      break;

    case Action::kCatsetBegin:
      // The whole assignment leaves the stored text.
      recorder_.CutToTagStart();
      recorder_.SetRecording(false);
      categories_.BeginAssignment();
      break;
    case Action::kCatsetCategory:
      categories_.SelectCategory(token.text);
      break;
    case Action::kCatsetValue:
      categories_.AssignValue(token.text, subject_count_);
      break;
    case Action::kCatsetSyntaxError:
      context_.Report(true, Level::kError, MessageId::kCatsetSyntax);
      break;

    case Action::kSelectionName:
      selections_.Name(token.text);
      break;
    case Action::kBeginQuery:
      selections_.BeginQuery();
      break;
    case Action::kQueryOpen:
      selections_.Open();
      break;
    case Action::kQueryNot:
      selections_.Not();
      break;
    case Action::kQueryCategory:
      selections_.Category(token.text);
      break;
    case Action::kQueryLess:
      selections_.SetComparison(CQueryItem::kLess);
      break;
    case Action::kQueryGreater:
      selections_.SetComparison(CQueryItem::kGreater);
      break;
    case Action::kQueryEqual:
      selections_.SetComparison(CQueryItem::kEqual);
      break;
    case Action::kQueryLessEqual:
      selections_.SetComparison(CQueryItem::kLessEqual);
      break;
    case Action::kQueryGreaterEqual:
      selections_.SetComparison(CQueryItem::kGreaterEqual);
      break;
    case Action::kQueryNotEqual:
      selections_.SetComparison(CQueryItem::kNotEqual);
      break;
    case Action::kQueryValue:
      selections_.Value(token.text);
      break;
    case Action::kQueryClose:
      selections_.Close();
      break;
    case Action::kQueryAnd:
      selections_.And();
      break;
    case Action::kQueryOr:
      selections_.Or();
      break;
    case Action::kEndQuery:
      selections_.EndQuery();
      break;
  }
}

// --- Subjects -----------------------------------------------------------------

void CParser::BeginSubject() {
  // "<new" was recorded into the subject before; it is no text of it.
  recorder_.CutToTagStart();
  recorder_.SetRecording(false);
}

void CParser::OpenSubject(const std::string& heading) {
  ++subject_count_;
  heading_ = heading;
  subject_line_ = next_line_;
  subject_column_ = next_column_;
  have_subject_ = true;
  recorder_.Clear();
  recorder_.SetRecording(false);
  recorder_.SetSkipNewLines(properties_.skip_new_lines);
  categories_.BeginSubject();
}

bool CParser::CheckRequiredOfSubjectEnding() {
  if (const CCategoryDef* missing = categories_.MissingRequired()) {
    context_.ParseError(true, MessageId::kRequiredCategoryMissing, "%s:%s",
                        {missing->name, heading_});
    return false;
  }
  return true;
}

const CCategoryDef* CParser::MissingRequiredInLast() const {
  return subject_count_ > 0 ? categories_.MissingRequired() : nullptr;
}

bool CParser::WriteSubject() {
  const std::string& text = recorder_.text();
  uint64_t offset = spill_offset_;
  if (!text.empty() && !spill_.WriteAt(offset, text.data(), text.size())) {
    Fail();
    return false;
  }
  if (!insert_para_.Prepare(db_.handle(),
                            "INSERT INTO tbl_Para(ROWID,Heading,TextOffsetH,TextOffsetL,"
                            "TextLength,Flags,Line,Column) VALUES(?,?,?,?,?,0,?,?)")) {
    Fail();
    return false;
  }
  insert_para_.BindInt(1, subject_count_);
  insert_para_.BindText(2, heading_);
  insert_para_.BindInt(3, static_cast<int64_t>(offset >> 32));
  insert_para_.BindInt(4, static_cast<int64_t>(offset & 0xFFFFFFFFu));
  insert_para_.BindInt(5, static_cast<int64_t>(text.size()));
  insert_para_.BindInt(6, subject_line_);
  insert_para_.BindInt(7, subject_column_);
  if (insert_para_.Run() != SQLITE_DONE) {
    Fail();
    return false;
  }
  spill_offset_ += text.size();
  recorder_.Clear();
  return true;
}

bool CParser::FinishLastSubject() {
  if (!have_subject_) return true;
  have_subject_ = false;
  return WriteSubject();
}

// --- Simple links ---------------------------------------------------------------

void CParser::BeginSimpleLink() {
  recorder_.CutToTagStart();
  simple_link_start_ = recorder_.size();
  simple_link_empty_ = false;
}

void CParser::EndSimpleLink() {
  recorder_.CutToTagStart();
  recorder_.SetRecording(false);
  size_t start = simple_link_start_ < recorder_.size() ? simple_link_start_ : recorder_.size();
  if (simple_link_empty_ || start == recorder_.size()) return;
  TagRecord link;
  link.name = "a";
  link.line = tag_.line;
  link.column = tag_.column;
  link.properties.push_back({"href", recorder_.text().substr(start), true});
  std::string element;
  if (!HandleLink(std::move(link), element)) return;
  recorder_.InsertAt(start, element);
  recorder_.BeginElement(kElementLinkEnd);
  recorder_.EndElement();
}

// --- Document properties ----------------------------------------------------------

void CParser::MetaSelectKey(const Token& token) {
  if (token.code >= kTokenKeywordBase) meta_key_ = Keyword(token.code - kTokenKeywordBase);
}

void CParser::MetaBoolean(bool value) {
  switch (meta_key_) {
    case Keyword::k_sortfile:
      properties_.sort_file = value;
      properties_.sort_file_given = true;
      break;
    case Keyword::k_sortcats:
      properties_.sort_categories = value;
      break;
    case Keyword::k_skipnewlines:
      properties_.skip_new_lines = value;
      recorder_.SetSkipNewLines(value);
      break;
    case Keyword::k_hugefile:
      properties_.huge_file = value;
      break;
    default:
      break;
  }
}

void CParser::MetaColour(const std::string& text) {
  uint32_t colour = 0;
  if (!ParseColour(text, colour)) {
    context_.ParseError(true, MessageId::kBadColorValue, "%s", {text});
    return;
  }
  switch (meta_key_) {
    case Keyword::k_bkcolor:
      properties_.background_colour = colour;
      break;
    case Keyword::k_text:
      properties_.text_colour = colour;
      break;
    case Keyword::k_link:
      properties_.link_colour = colour;
      break;
    case Keyword::k_vlink:
      properties_.visited_link_colour = colour;
      break;
    default:
      break;
  }
}

bool CParser::RegisterPicture(uint32_t& row, const std::string& path, const Token& token) {
  if (path.empty() || row != 0) return true;  // the first path of a key stays
  if (!insert_image_.Prepare(db_.handle(),
                             "INSERT INTO tbl_Images(Src,Flags,ResizeWidth,ResizeHeight,Line,"
                             "Column) VALUES(?,?,?,?,?,?)")) {
    Fail();
    return false;
  }
  insert_image_.BindText(1, path);
  insert_image_.BindInt(2, 0);
  insert_image_.BindInt(3, 0);
  insert_image_.BindInt(4, 0);
  insert_image_.BindInt(5, token.line);
  insert_image_.BindInt(6, token.column);
  if (insert_image_.Run() != SQLITE_DONE) {
    Fail();
    return false;
  }
  row = static_cast<uint32_t>(sqlite3_last_insert_rowid(db_.handle()));
  return true;
}

void CParser::MetaText(const std::string& text) {
  Token position;
  position.line = context_.line();
  position.column = context_.column();
  switch (meta_key_) {
    case Keyword::k_charset:
      if (!text.empty()) properties_.charset = text;
      break;
    case Keyword::k_optimizeimagesfor: {
      std::string folded = Folded(text);
      if (folded == "palm") {
        properties_.picture_target = CDocumentProperties::kPictureTargetPalm;
      } else if (folded == "ppc") {
        properties_.picture_target = CDocumentProperties::kPictureTargetPpc;
      } else {
        Fail();
      }
      break;
    }
    case Keyword::k_bktile:
      RegisterPicture(properties_.background_picture, text, position);
      break;
    case Keyword::k_frontcover:
      RegisterPicture(properties_.front_cover_picture, text, position);
      break;
    case Keyword::k_backcover:
      RegisterPicture(properties_.back_cover_picture, text, position);
      break;
    case Keyword::k_title:
      properties_.title = text;
      break;
    case Keyword::k_author:
      properties_.author = text;
      break;
    case Keyword::k_createdby:
      properties_.created_by = text;
      break;
    case Keyword::k_url:
      properties_.url = text;
      break;
    case Keyword::k_frontcovertitle:
      properties_.front_cover_title = text;
      break;
    case Keyword::k_backcovertitle:
      properties_.back_cover_title = text;
      break;
    default:
      break;
  }
}

void CParser::MetaNumber(double number) {
  uint32_t value = ToU32(std::trunc(number));
  // The version halves hold 16 bits, the other numbers 32: a larger value
  // is kept at the most the field holds, with the warning other numbers give.
  const bool half_word =
      meta_key_ == Keyword::k_majorversion || meta_key_ == Keyword::k_minorversion;
  const double field_max = half_word ? 65535.0 : 4294967295.0;
  if (std::trunc(number) > field_max) {
    context_.ParseError(false, MessageId::kNumericalOverflow);
    value = static_cast<uint32_t>(field_max);
  }
  switch (meta_key_) {
    case Keyword::k_maximagewidth:
    case Keyword::k_maximageheight: {
      bool width = meta_key_ == Keyword::k_maximagewidth;
      if (value > 0 && value < 50) {
        value = 50;
        // Fatal in level, but the parse goes on with the raised limit.
        context_.Report(true, Level::kFatal,
                        width ? MessageId::kMaxImageWidthTooSmall : MessageId::kMaxImageHeightTooSmall,
                        "%d", {value});
      }
      (width ? properties_.max_picture_width : properties_.max_picture_height) = value;
      break;
    }
    case Keyword::k_publicationyear:
      properties_.publication_year = value;
      break;
    case Keyword::k_foliolibcat:
      properties_.library_category = value;
      break;
    case Keyword::k_majorversion:
      properties_.version = (properties_.version & 0x0000FFFFu) | ((value & 0xFFFFu) << 16);
      break;
    case Keyword::k_minorversion:
      properties_.version = (properties_.version & 0xFFFF0000u) | (value & 0xFFFFu);
      break;
    default:
      break;
  }
}

void CParser::MetaDate(Action part, double number) {
  uint32_t value = ToU32(std::trunc(number));
  if (part == Action::kMetaYear) {
    if (value < 1) {
      Fail();
      return;
    }
    date_year_ = value;
  } else if (part == Action::kMetaMonth) {
    if (value < 1 || value > 12) {
      context_.ParseError(true, MessageId::kBadMonth, "%d", {value});
      return;
    }
    date_month_ = value;
  } else {
    if (value < 1 || value > 31) {
      context_.ParseError(true, MessageId::kBadDay, "%d", {value});
      return;
    }
    properties_.creation_date = (date_year_ << 16) | (date_month_ << 8) | value;
  }
}

}  // namespace fvx::compiler
