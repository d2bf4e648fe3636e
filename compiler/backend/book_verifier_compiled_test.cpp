// The verifier against books the compiler wrote, then damaged on purpose.
#include "bookformat/book_verifier.h"

#include <gtest/gtest.h>

#include "bookformat/blockstore/block_store.h"
#include "bookformat/coding.h"
#include "bookformat/sections.h"
#include "bookformat/stream_writer.h"
#include "bookformat/testing/sample_book.h"
#include "compiler/app/testing/compile_for_test.h"
#include "platform/file.h"
#include "platform/scratch_file.h"
#include "platform/sha1.h"

namespace fvx::compiler {
namespace {

using format::BookCheck;
using format::InspectBook;
using format::VerifyBook;

std::string ReadFile(const std::string& path) {
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  std::string bytes(static_cast<size_t>(file.Size().value_or(0)), '\0');
  if (!file.ReadAt(0, bytes.data(), bytes.size())) return "";
  return bytes;
}

// An anchor belongs to every subject of its owner's heading, so the shorter
// namesake lists a position past its own text; that book is sound.
TEST(BookVerifierTest, AnchorsSharedWithANamesakeVerify) {
  for (const char* source : {"<new>Ariel\n<new>Ariel\na<a name=x>\n",
                             "<new>Ariel\n<new>Ariel\nsome text<a name=>\n"}) {
    testing::CompiledBook book = testing::CompileSource(source);
    ASSERT_TRUE(book.ok) << source;
    BookCheck check;
    EXPECT_TRUE(VerifyBook(book.book_path, &check)) << check.problem << " for " << source;
  }
}

// A tool may later append a 'D' section with a slot table and move the end
// of book past it. The seal still covers exactly the integrity area to the
// end of 'I': bytes after it may change freely, the last byte of 'I' may not.
// The slot table itself is walked.
TEST(BookVerifierTest, ASlotTableAddedLaterKeepsTheSealAndIsChecked) {
  for (const char* meta : {"", "<meta> hugefile=yes </meta>\n"}) {
    testing::CompiledBook book =
        testing::CompileSource(meta + testing::GeneratedSource(10, 20, 3));
    ASSERT_TRUE(book.ok);
    BookCheck compiled;
    ASSERT_TRUE(InspectBook(book.book_path, &compiled));
    const format::BookLayout& layout = compiled.layout;
    const format::OffsetWidth width = layout.width();
    const uint64_t w = format::OffsetBytes(width);
    const uint64_t sealed = layout.SealedEnd();
    const std::string stream =
        ReadFile(book.book_path).substr(layout.container.stream_start, sealed);

    // 'D', next, table; slot 0 counts two slots: a bookmark and a free one.
    auto with_slots = [&](uint32_t used, uint32_t bookmark_subject) {
      const uint64_t table = sealed + 1 + 2 * w;
      const uint64_t end = table + 3 * 64;
      std::string bytes = stream;
      format::PutU8(&bytes, 'D');
      format::PutOff(&bytes, end, width);
      format::PutOff(&bytes, table, width);
      std::string slots(3 * 64, '\0');
      std::string field;
      format::PutU32(&field, used);
      slots.replace(0, 4, field);
      slots[64] = 1;
      field.clear();
      format::PutU32(&field, bookmark_subject);
      format::PutU32(&field, 0);
      slots.replace(65, 8, field + "mark");
      bytes += slots;
      std::string end_field;
      format::PutOff(&end_field, end, width);
      bytes.replace(layout.IntegrityAreaPosition() - 5 * 4 - w, w, end_field);
      return bytes;
    };
    auto verify = [&](const std::string& bytes, BookCheck* check) {
      const std::string path =
          format::testing::WriteTemporaryFile(format::testing::ContainerFor(bytes), "slots");
      const bool ok = VerifyBook(path, check);
      std::remove(path.c_str());
      return ok;
    };

    BookCheck check;
    const std::string good = with_slots(2, 3);
    ASSERT_TRUE(verify(good, &check)) << check.problem;
    EXPECT_TRUE(check.digest_ok);
    EXPECT_EQ(check.book_id, compiled.book_id);
    ASSERT_TRUE(check.layout.bookmarks.has_value());

    std::string outside = good;
    outside[sealed + 1 + 2 * w + 2 * 64 + 9] = 'x';  // the free slot's payload
    EXPECT_TRUE(verify(outside, &check)) << check.problem;
    std::string inside = good;
    inside[sealed - 1] = 'x';  // the information block's last byte
    EXPECT_FALSE(verify(inside, &check));
    EXPECT_NE(check.problem.find("digest"), std::string::npos) << check.problem;

    EXPECT_FALSE(verify(with_slots(2, 10), &check));
    EXPECT_NE(check.problem.find("bookmark slot 1 names subject 10"), std::string::npos)
        << check.problem;
    EXPECT_FALSE(verify(with_slots(5, 3), &check));
    EXPECT_NE(check.problem.find("slot table counts 5 slots"), std::string::npos) << check.problem;
  }
}

// A compiled book whose 'F' index is replaced by the bytes given, the 'I'
// section copied after it and the book sealed again.
std::string WithIndex(const format::BookLayout& layout, const std::string& stream,
                      const std::string& index) {
  platform::File file = platform::CreateScratchFile("fvxindex");
  format::StreamWriter writer(&file);
  writer.SetOffsetWidth(layout.width());
  const format::SearchIndexSection& old = *layout.search_index;
  EXPECT_TRUE(writer.WriteBytes(stream.data(), old.place.position));
  format::SearchIndexSection section = old;
  format::SectionPatches patches;
  format::CBlockStore store(format::kContentBlockSize, &writer);
  uint64_t table = 0;
  EXPECT_TRUE(format::WriteSection(writer, section, &patches) &&
              store.Append(index.data(), index.size()) && store.WriteBlockTable(&table) &&
              writer.PatchOff(patches.table_at[format::SearchIndexSection::kIndexTable], table) &&
              format::FinishSection(writer, patches));
  const format::SectionPlace& info = layout.info.place;
  EXPECT_TRUE(writer.WriteBytes(stream.data() + info.position, info.next - info.position));
  EXPECT_TRUE(writer.Flush());
  std::string bytes(static_cast<size_t>(writer.Position()), '\0');
  EXPECT_TRUE(file.ReadAt(0, bytes.data(), bytes.size()));
  std::string end;
  format::PutOff(&end, bytes.size(), layout.width());
  const uint64_t area = layout.IntegrityAreaPosition();
  bytes.replace(area - 5 * 4 - end.size(), end.size(), end);
  bytes.replace(area, 20, std::string(20, '\0'));
  const platform::Sha1Digest digest = platform::ComputeSha1(std::string_view(bytes).substr(area));
  bytes.replace(area, 20, std::string(digest.begin(), digest.end()));
  return bytes;
}

// The reader opens only the segments an index marks: a key that a subject
// holds but its segment does not list hides that subject from a search.
TEST(BookVerifierTest, AnIndexThatMissesAKeyIsFound) {
  testing::CompiledBook book = testing::CompileSource(
      testing::GeneratedSource(40, 20, 4) + "<new>Short\nab <b>x</b> qz" + "\xFF" + "7\n");
  ASSERT_TRUE(book.ok);
  BookCheck check;
  ASSERT_TRUE(InspectBook(book.book_path, &check));
  const format::BookLayout layout = check.layout;
  const format::SearchIndexSection& f = *layout.search_index;
  const std::string stream =
      ReadFile(book.book_path).substr(layout.container.stream_start, layout.SealedEnd());
  testing::BookReaderForTest reader;
  ASSERT_TRUE(reader.Open(book.book_path));
  const size_t keys_at = (f.segment_count + 1) * 4;
  const size_t maps_at = keys_at + size_t{f.key_count} * 3;
  const std::string index =
      reader.Store(f.index_table, layout.header.content_block_size)
          .substr(0, maps_at + size_t{f.key_count} * (f.segment_count / 8) + 1);

  auto verify = [&](const std::string& new_index) {
    const std::string path = format::testing::WriteTemporaryFile(
        format::testing::ContainerFor(WithIndex(layout, stream, new_index)), "index");
    const bool ok = VerifyBook(path, &check);
    std::remove(path.c_str());
    return ok;
  };
  ASSERT_TRUE(verify(index)) << check.problem;  // the rebuilt book itself is sound

  // The one-byte key "x" (in the last subject, inside <b>) unmarked.
  const size_t x = index.substr(keys_at, maps_at - keys_at).find(std::string("x\0\0", 3));
  ASSERT_NE(x, std::string::npos);
  ASSERT_EQ(x % 3, 0u);
  std::string unmarked = index;
  const size_t map_bytes = f.segment_count / 8;
  for (size_t i = 0; i < map_bytes; ++i) unmarked[maps_at + x / 3 * map_bytes + i] = 0;
  EXPECT_FALSE(verify(unmarked));
  EXPECT_NE(check.problem.find("subject 40 holds the key \"x\""), std::string::npos) << check.problem;

  // Segments that stop short of the last subject.
  std::string short_starts = index;
  short_starts.replace(f.segment_count * 4, 4, std::string("\0\0\0\x05", 4));
  EXPECT_FALSE(verify(short_starts));
  EXPECT_FALSE(check.problem.empty());
}

TEST(BookVerifierTest, DamageIsFoundAndNamed) {
  testing::CompiledBook book = testing::CompileSource(testing::GeneratedSource(60, 40, 5));
  ASSERT_TRUE(book.ok);
  const std::string good = ReadFile(book.book_path);
  BookCheck check;
  ASSERT_TRUE(VerifyBook(book.book_path, &check)) << check.problem;
  ASSERT_TRUE(InspectBook(book.book_path, &check));
  const format::BookLayout layout = check.layout;
  const uint64_t base = layout.container.stream_start;

  struct Case {
    const char* what;
    uint64_t offset;  // in the file
    const char* expect;
  };
  const Case cases[] = {
      {"a byte of the text store", base + layout.texts.place.position + 40, "digest"},
      {"the digest itself", base + layout.IntegrityAreaPosition() + 3, "digest"},
      {"the subject count (outside the digest)", base + 17, ""},
      {"the anchor count", base + 21, ""},
  };
  for (const Case& c : cases) {
    std::string bad = good;
    bad[c.offset] = static_cast<char>(bad[c.offset] ^ 0x5A);
    const std::string path = format::testing::WriteTemporaryFile(bad, "damaged");
    EXPECT_FALSE(VerifyBook(path, &check)) << c.what;
    EXPECT_FALSE(check.problem.empty()) << c.what;
    EXPECT_NE(check.problem.find(c.expect), std::string::npos) << c.what << ": " << check.problem;
    std::remove(path.c_str());
  }
  for (size_t cut : {size_t{10}, size_t{100}, good.size() / 2, good.size() - 70}) {
    const std::string path = format::testing::WriteTemporaryFile(good.substr(0, cut), "cut");
    EXPECT_FALSE(VerifyBook(path, &check)) << cut;
    std::remove(path.c_str());
  }
  EXPECT_FALSE(VerifyBook(book.folder + "/missing.fvx", &check));
  EXPECT_EQ(check.status, format::OpenStatus::kNotABook);
}

}  // namespace
}  // namespace fvx::compiler
