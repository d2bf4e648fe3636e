// The front end of the compiler: runs the table-driven grammar over a
// source, records every subject's text into the text spill file and
// tbl_Para, and fills the document properties, categories and selections.
//
// Call order (one CParser per compile):
//   REQUIRES: the work database open with its tables and a transaction begun.
//   Parse(reader)            the whole source; false when it failed
//   MissingRequiredInLast()  the required check of the last subject
//   FinishLastSubject()      the last subject to the spill file and tbl_Para
//   then categories().StoreCategories and selections().Evaluate in the
//   preparing stage.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/base/compile_context.h"
#include "compiler/base/document_properties.h"
#include "compiler/base/work_database.h"
#include "compiler/frontend/body_recorder.h"
#include "compiler/frontend/categories.h"
#include "compiler/frontend/grammar.h"
#include "compiler/frontend/lexer.h"
#include "compiler/frontend/selections.h"
#include "compiler/frontend/source_reader.h"
#include "platform/file.h"

namespace fvx::compiler {

// A tag in a body as it was read: its name, position and properties.
struct TagRecord {
  static constexpr size_t kMaxProperties = 7;
  struct Property {
    std::string name;
    std::string value;
    bool has_value = false;
  };
  std::string name;
  uint32_t line = 0;
  uint32_t column = 0;
  std::vector<Property> properties;

  const Property* Find(std::string_view property) const;
};

// Element codes of the recorded text.
enum ElementCode : uint8_t {
  kElementLink = 1,
  kElementLinkEnd = 2,
  kElementNoClosing = 3,
  kElementUnknownTag = 23,
  kElementUnknownClosing = 24,
  kElementPicture = 22,
  kElementLessThan = 27,
  kElementGreaterThan = 28,
  kElementNbsp = 29,
  kElementAmpersand = 30,
  kElementCharacter = 31,
  kElementNamedEntity = 32,
  kElementExternalLink = 34,
  kElementFilterLink = 35,
  kElementLiteral255 = 255,
};

class CParser {
 public:
  CParser(CompileContext& context, WorkDatabase& db, platform::File& text_spill);
  CParser(const CParser&) = delete;
  CParser& operator=(const CParser&) = delete;

  // Parses the whole source. False when a fatal message was reported, the
  // database or the spill file failed, or the compile was cancelled.
  bool Parse(CSourceReader& reader, bool replace_leading_underscores);

  // The first required category that the last subject lacks, or nullptr.
  const CCategoryDef* MissingRequiredInLast() const;
  const std::string& current_heading() const { return heading_; }
  // Writes the last subject. False on a spill-file or database failure.
  bool FinishLastSubject();

  CDocumentProperties& properties() { return properties_; }
  CategoryStore& categories() { return categories_; }
  SelectionStore& selections() { return selections_; }
  uint32_t subject_count() const { return subject_count_; }
  int state() const { return state_; }
  uint64_t spill_size() const { return spill_offset_; }

  // Reads a property number: decimal, or hexadecimal after "#"; a leading
  // "+" or "-" makes it relative (sign is then '+' or '-', else 0).
  static bool ParsePropertyNumber(std::string_view text, int64_t& value, char& sign);
  // Reads an entity's number: decimal digits ("169", "#169"), hexadecimal
  // after "#x"/"#X", or after "#" when the digits include a letter ("#A9").
  static bool ParseEntityNumber(std::string_view text, uint32_t& value);

 private:
  // Runs one action; may change the next state.
  void RunAction(Action action, const Token& token, int& next);
  void Fail() { context_.SetParseFailed(); }

  // Subjects.
  void BeginSubject();
  void OpenSubject(const std::string& heading);
  bool WriteSubject();
  bool CheckRequiredOfSubjectEnding();

  // Tags in bodies.
  void OpenTag(const Token& token);
  void AddPropertyName(const std::string& name, int& next);
  void SetPropertyValue(const std::string& value);
  void CloseTag(int& next);
  void ClosingTag(const std::string& name);
  void MalformedTag();
  void EntityStart();
  void Entity(const std::string& name);
  // The tag handler: false to keep the tag as raw text.
  bool HandleTag(const TagRecord& tag);
  // The link rules: element is the link's element, or empty for an anchor.
  bool HandleLink(TagRecord tag, std::string& element);
  bool HandlePicture(const TagRecord& tag);
  bool InsertLink(const std::string& href, const TagRecord::Property* anchor,
                  const TagRecord& tag, int64_t& row);
  bool InsertAnchor(const std::string& name, const TagRecord& tag);
  static void AppendPassThrough(const TagRecord& tag, std::initializer_list<const char*> consumed,
                                ElementBuilder& element);
  // Property checks; each reports and returns false on failure.
  bool NeedsValue(const TagRecord& tag, const TagRecord::Property& p);
  bool NumberProperty(const TagRecord& tag, const char* name, uint32_t& value, bool& present,
                      char* sign = nullptr);
  bool ChoiceProperty(const TagRecord& tag, const char* name, const char* choices,
                      bool case_sensitive, int& index);

  // Simple links.
  void BeginSimpleLink();
  void EndSimpleLink();

  // Document properties.
  void MetaSelectKey(const Token& token);
  void MetaBoolean(bool value);
  void MetaColour(const std::string& text);
  void MetaText(const std::string& text);
  void MetaNumber(double value);
  void MetaDate(Action part, double value);
  bool RegisterPicture(uint32_t& row, const std::string& path, const Token& token);

  CompileContext& context_;
  WorkDatabase& db_;
  platform::File& spill_;
  BodyRecorder recorder_;
  Lexer lexer_;
  CDocumentProperties properties_;
  CategoryStore categories_;
  SelectionStore selections_;

  int state_ = 0;
  // Subjects: the one being recorded and the "new" tag of the next.
  uint32_t subject_count_ = 0;
  bool have_subject_ = false;
  std::string heading_;
  uint32_t subject_line_ = 0;
  uint32_t subject_column_ = 0;
  uint32_t next_line_ = 0;
  uint32_t next_column_ = 0;
  uint64_t spill_offset_ = 0;

  TagRecord tag_;
  bool ignore_next_value_ = false;
  size_t simple_link_start_ = 0;
  bool simple_link_empty_ = false;

  Keyword meta_key_ = Keyword::kCount;
  uint32_t date_year_ = 0;
  uint32_t date_month_ = 0;

  CachedStatement insert_para_;
  CachedStatement insert_link_;
  CachedStatement insert_anchor_;
  CachedStatement insert_image_;
};

}  // namespace fvx::compiler
