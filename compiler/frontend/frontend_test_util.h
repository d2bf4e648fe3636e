// Runs the front end over a source given as text, for tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "compiler/base/compile_context.h"
#include "compiler/base/test_sinks.h"
#include "compiler/base/work_database.h"
#include "compiler/frontend/parser.h"
#include "compiler/frontend/text_source_reader.h"
#include "platform/scratch_file.h"

namespace fvx::compiler {

inline std::string WriteTempSource(const std::string& text) {
  static int counter = 0;
  std::string path = ::testing::TempDir() + "fvx_src_" + std::to_string(::getpid()) + "_" +
                     std::to_string(counter++) + ".txt";
  std::ofstream out(path, std::ios::binary);
  out << text;
  return path;
}

class FrontEndRun {
 public:
  explicit FrontEndRun(const std::string& source, bool underscores = false,
                       ProgressSink* progress = nullptr)
      : context(&messages, progress, nullptr) {
    path_ = WriteTempSource(source);
    spill = platform::CreateScratchFile("fvxtest");
    EXPECT_TRUE(spill.IsOpen());
    EXPECT_TRUE(db.Open());
    EXPECT_TRUE(db.CreateTables());
    EXPECT_TRUE(db.Begin());
    context.SetRunning(true);
    parser = std::make_unique<CParser>(context, db, spill);
    EXPECT_TRUE(reader.Open(path_));
    parsed = parser->Parse(reader, underscores);
    finished = parser->FinishLastSubject();
    EXPECT_TRUE(db.End());
  }
  ~FrontEndRun() { std::remove(path_.c_str()); }

  // The recorded text of subject n (1-based), read back from the spill file.
  std::string Text(int n) {
    CSqlQuery q(db);
    if (!q.Query("SELECT TextOffsetH,TextOffsetL,TextLength FROM tbl_Para WHERE ROWID = %d", n) ||
        !q.Step()) {
      return "<no subject>";
    }
    uint64_t high = 0, low = 0, length = 0;
    EXPECT_TRUE(q.ColumnUInt(0, high));
    EXPECT_TRUE(q.ColumnUInt(1, low));
    EXPECT_TRUE(q.ColumnUInt(2, length));
    std::string text(length, '\0');
    if (length > 0) {
      EXPECT_TRUE(spill.ReadAt((high << 32) | low, text.data(), length));
    }
    return text;
  }
  std::string Heading(int n) { return Column("SELECT Heading FROM tbl_Para WHERE ROWID = %d", n); }
  // The first column of the first row of a query with one %d.
  std::string Column(const char* sql, int arg = 0) {
    CSqlQuery q(db);
    if (!q.Query(sql, arg) || !q.Step()) return "<no row>";
    return std::string(q.ColumnText(0).value_or("<null>"));
  }
  // Every row of a query, columns joined by "|".
  std::vector<std::string> Rows(const char* sql) {
    std::vector<std::string> rows;
    CSqlQuery q(db);
    if (!q.Query("%s", sql)) return {"<bad query>"};
    while (q.Step()) {
      std::string row;
      for (int i = 0; i < q.column_count(); ++i) {
        if (i > 0) row += "|";
        row += std::string(q.ColumnText(i).value_or(""));
      }
      rows.push_back(row);
    }
    return rows;
  }
  bool Has(Level level, const std::string& text) const { return messages.Has(level, text); }
  std::vector<std::string> Lines() const { return messages.LogLines(); }
  // Every message that is not information.
  std::vector<std::string> Problems() const {
    std::vector<std::string> out;
    for (const auto& [level, text] : messages.lines) {
      if (level != Level::kInformation) out.push_back(LogLine(level, text));
    }
    return out;
  }

  RecordingMessageSink messages;
  CompileContext context;
  WorkDatabase db;
  platform::File spill;
  CTextSourceReader reader;
  std::unique_ptr<CParser> parser;
  bool parsed = false;
  bool finished = false;

 private:
  std::string path_;
};

// Bytes of an element as recorded: 0xFF, u32le length, code, payload.
inline std::string Element(uint8_t code, const std::string& payload = {}) {
  std::string e = "\xFF";
  uint32_t n = static_cast<uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) e.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
  e.push_back(static_cast<char>(code));
  return e + payload;
}

inline std::string U32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return s;
}

inline std::string Z(const std::string& s) { return s + std::string(1, '\0'); }

}  // namespace fvx::compiler
