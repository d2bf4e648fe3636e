#include "compiler/backend/book_writer.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "bookformat/blockstore/block_store.h"
#include "bookformat/book_id.h"
#include "bookformat/byte_source.h"
#include "bookformat/container.h"
#include "bookformat/sections.h"
#include "bookformat/stream_writer.h"
#include "compiler/backend/link_resolver.h"
#include "compiler/backend/search_index.h"
#include "compiler/backend/sort_check.h"
#include "compiler/backend/store_buffer.h"
#include "compiler/backend/subject_text_encoder.h"
#include "compiler/backend/table_sections.h"
#include "platform/paths.h"
#include "platform/replacing_file.h"

namespace fvx::compiler {
namespace {

using format::OffsetWidth;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A heading as section 'S' stores it: bit 7 of the last byte tells whether
// the subject has anchors, with an extra byte where the last character
// already uses bit 7.
void AppendStoredHeading(std::string_view heading, bool has_anchors, std::string* out) {
  out->append(heading);
  if (heading.empty()) {
    if (has_anchors) out->push_back(static_cast<char>(0x80));
    return;
  }
  const auto last = static_cast<uint8_t>(heading.back());
  if (has_anchors) {
    if (last < 0x80) {
      out->back() = static_cast<char>(last | 0x80);
    } else {
      out->push_back(static_cast<char>(0x80));
    }
  } else if (last >= 0x80) {
    out->push_back('\0');
  }
}

size_t StoredHeadingSize(std::string_view heading, bool has_anchors) {
  if (heading.empty()) return has_anchors ? 1 : 0;
  return heading.size() + (static_cast<uint8_t>(heading.back()) >= 0x80 ? 1 : 0);
}

class TextResolver final : public ElementResolver {
 public:
  TextResolver(CLinkResolver& links, const PictureSet& pictures)
      : links_(links), pictures_(pictures) {}
  bool ResolveLink(uint32_t record, ResolvedLink* link) override {
    return links_.ResolveLink(record, link);
  }
  uint32_t PictureIndex(uint32_t record) override { return pictures_.PictureIndex(record); }

 private:
  CLinkResolver& links_;
  const PictureSet& pictures_;
};

// Takes each subject's search keys on a thread of its own while the main
// thread encodes texts and the block store compresses them: the encoding
// leaves a core idle that the keys can use. One consumer, subjects in
// order, so the key lists come out as they would inline.
class KeyFeeder {
 public:
  KeyFeeder(SearchKeyPostings& postings, bool threaded) : postings_(postings) {
    if (threaded) worker_ = std::thread([this] { Work(); });
  }
  ~KeyFeeder() { Finish(); }
  KeyFeeder(const KeyFeeder&) = delete;
  KeyFeeder& operator=(const KeyFeeder&) = delete;

  void Add(uint32_t subject, const std::string& text) {
    if (!worker_.joinable()) {
      postings_.AddSubject(subject, reinterpret_cast<const uint8_t*>(text.data()), text.size());
      return;
    }
    batch_.subjects.push_back(subject);
    batch_.ends.push_back(batch_.text.size() + text.size());
    batch_.text += text;
    if (batch_.text.size() >= kBatchBytes) Push();
  }

  // Waits until every key is in the lists.
  void Finish() {
    if (!worker_.joinable()) return;
    Push();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    work_.notify_one();
    worker_.join();
  }

 private:
  static constexpr size_t kBatchBytes = 1 << 20;
  static constexpr size_t kMaxQueuedBytes = 16 << 20;

  struct Batch {
    std::vector<uint32_t> subjects;
    std::vector<size_t> ends;
    std::string text;
  };

  void Push() {
    if (batch_.subjects.empty()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return queued_bytes_ < kMaxQueuedBytes; });
    queued_bytes_ += batch_.text.size();
    queue_.push_back(std::move(batch_));
    batch_ = Batch{};
    lock.unlock();
    work_.notify_one();
  }

  void Work() {
    for (;;) {
      Batch batch;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        work_.wait(lock, [this] { return done_ || !queue_.empty(); });
        if (queue_.empty()) return;
        batch = std::move(queue_.front());
        queue_.pop_front();
      }
      size_t start = 0;
      const auto* bytes = reinterpret_cast<const uint8_t*>(batch.text.data());
      for (size_t i = 0; i < batch.subjects.size(); ++i) {
        postings_.AddSubject(batch.subjects[i], bytes + start, batch.ends[i] - start);
        start = batch.ends[i];
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        queued_bytes_ -= batch.text.size();
      }
      room_.notify_one();
    }
  }

  SearchKeyPostings& postings_;
  Batch batch_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable room_;
  std::deque<Batch> queue_;
  size_t queued_bytes_ = 0;
  bool done_ = false;
  std::thread worker_;
};

}  // namespace

int AvailableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return std::max(1, CPU_COUNT(&set));
}

// ---------------------------------------------------------------- one run

class CBookWriter::Run {
 public:
  Run(CBookWriter& owner, BookWriteJob& job, bool retry)
      : owner_(owner),
        job_(job),
        context_(job.context),
        retry_(retry),
        writer_(&job.stream),
        threads_(owner.options_.worker_threads > 0 ? owner.options_.worker_threads
                                                   : std::min(8, AvailableProcessors())) {}

  bool Execute() {
    WriterTimings& timings = owner_.timings_;
    timings = WriterTimings{};
    auto start = Clock::now();
    if (!job_.stream.Truncate(0) || !job_.stream.Seek(0)) return false;
    if (!Prepare()) return false;
    timings.prepare = SecondsSince(start);
    start = Clock::now();
    if (!Pictures()) return false;
    timings.pictures = SecondsSince(start);
    ChooseWidth();
    start = Clock::now();
    if (!Header() || !PositionMap()) return false;
    if (!WriteCategorySections(tables_, job_.properties.sort_categories, &category_bytes_)) {
      return false;
    }
    if (!WriteSelectionSection(tables_) || !Headings()) return false;
    if (order_.NeedsLookup() && !Lookup()) return false;
    if (!Positions()) return false;
    timings.tables = SecondsSince(start);
    start = Clock::now();
    if (!Texts()) return false;
    timings.texts = SecondsSince(start);
    if (!ReservedTexts() || !PictureSection()) return false;
    if (!job_.wide_text && !SearchIndex()) return false;
    if (!Information()) return false;
    start = Clock::now();
    if (!Seal()) return false;
    timings.digest = SecondsSince(start);
    return Figures();
  }

  bool overflowed() const { return overflow_ || writer_.overflowed(); }

 private:
  // The offset-width check before each section: a narrow book cannot place
  // a section at or past the narrow limit.
  bool BeforeSection() {
    if (!writer_.ok()) return false;
    if (width_ == OffsetWidth::kNarrow && writer_.Position() >= owner_.options_.narrow_limit) {
      overflow_ = true;
      return false;
    }
    return true;
  }

  const char* Order() const { return order_.OrderColumn(); }

  bool Prepare() {
    const bool huge = job_.properties.huge_file;
    if (!retry_) owner_.user_sort_answer_.reset();
    if (!order_.CheckSortOrder(context_, job_.database, job_.properties, !retry_, huge,
                               &owner_.user_sort_answer_)) {
      return false;
    }
    if (!CountCategories(job_.database, &categories_)) return false;
    if (!DropEmptySelections(context_, job_.database, &selections_)) return false;
    if (!retry_ && !PrepareLinkMaps(job_.database)) return false;
    return CountAnchors(job_.database, &anchors_);
  }

  bool Pictures() {
    pictures_.Clear();
    if (owner_.options_.pictures) return owner_.options_.pictures(job_, &pictures_);
    return ReportUnprocessablePictures();
  }

  // Without an image library no picture can be converted: say so once per
  // picture file, at its first reference, and leave the references empty.
  bool ReportUnprocessablePictures() {
    CSqlQuery query(job_.database);
    if (!query.Query("SELECT Src,MIN(Line),MIN(Column) FROM tbl_Images WHERE Src IS NOT NULL "
                     "GROUP BY Src ORDER BY Src")) {
      return false;
    }
    bool skipping = false;
    bool asked = false;
    while (query.Step()) {
      if (!asked) {
        skipping = context_.SkipPictures();
        asked = true;
      }
      if (skipping) break;
      int64_t line = 0, column = 0;
      (void)query.ColumnInt(1, line);
      (void)query.ColumnInt(2, column);
      context_.Report(false, Level::kWarning, MessageId::kCantProcessPicture, "%d:%d:%s",
                      {line, column, query.ColumnText(0).value_or("")});
    }
    return query.result() == SQLITE_DONE || query.result() == SQLITE_ROW;
  }

  void ChooseWidth() {
    width_ = OffsetWidth::kNarrow;
    if (job_.properties.huge_file) {
      width_ = OffsetWidth::kWide;
    } else if (job_.text_spill.Size().value_or(0) >= owner_.options_.narrow_limit ||
               pictures_.SpillSize() >= owner_.options_.narrow_limit) {
      context_.Report(false, Level::kInformation, MessageId::kSwitchingToHugeMode);
      width_ = OffsetWidth::kWide;
    }
    writer_.SetOffsetWidth(width_);
  }

  bool Header() {
    const CDocumentProperties& p = job_.properties;
    format::HeaderSection header;
    header.version = static_cast<uint8_t>(width_);
    header.character_width = 0;
    header.stored_sorted = 0;
    header.table_block_size = format::kTableBlockSize;
    header.content_block_size = format::kContentBlockSize;
    header.subject_count = order_.subject_count();
    header.wide_heading_offsets = order_.headings_need_wide_offsets() ? 1 : 0;
    header.anchor_count = anchors_;
    header.picture_count = 0;
    header.category_count = categories_;
    header.selection_count = selections_;
    header.background_colour = p.background_colour;
    header.background_tile_picture = format::kNone32;
    header.text_colour = p.text_colour;
    header.link_colour = p.link_colour;
    header.visited_link_colour = p.visited_link_colour;
    header.character_set = p.charset.value_or("");
    header.front_cover_picture = pictures_.PictureIndex(p.front_cover_picture);
    header.front_cover_title = p.front_cover_title.value_or("");
    header.back_cover_picture = pictures_.PictureIndex(p.back_cover_picture);
    header.back_cover_title = p.back_cover_title.value_or("");
    return format::WriteHeader(writer_, header, &header_at_) &&
           writer_.PatchU32(header_at_.next_at, static_cast<uint32_t>(writer_.Position()));
  }

  bool PositionMap() {
    if (!order_.BuildPositionMap(context_, job_.database)) return false;
    return !order_.StoredSorted() || writer_.PatchU8(header_at_.stored_sorted_at, 1);
  }

  bool Headings() {
    context_.Report(false, Level::kInformation, MessageId::kProcessingSubjects);
    std::vector<bool> has_anchors;
    if (!CollectHasAnchors(context_, job_.database, order_.subject_count(), &has_anchors)) {
      return false;
    }
    context_.Report(false, Level::kInformation, MessageId::kFinalizingHeadings);
    if (!BeforeSection()) return false;
    format::HeadingSection section;
    format::SectionPatches patches;
    if (!format::WriteSection(writer_, section, &patches)) return false;

    const OffsetWidth offsets = width_ == OffsetWidth::kWide && order_.headings_need_wide_offsets()
                                    ? OffsetWidth::kWide
                                    : OffsetWidth::kNarrow;
    const uint32_t subjects = order_.subject_count();
    uint64_t table = 0;
    {
      format::CBlockStore store(format::kTableBlockSize, &writer_, 1);
      StoreBuffer out(store);
      auto walk = [&](const std::function<bool(std::string_view, bool)>& each) {
        CSqlQuery query(job_.database);
        if (!query.Query("SELECT ROWID,Heading FROM tbl_Para ORDER BY %s", Order())) return false;
        uint32_t listed = 0;
        while (query.Step()) {
          if (!context_.KeepGoing()) return false;
          int64_t rowid = 0;
          if (!query.ColumnInt(0, rowid) || rowid < 1 || rowid > subjects) return false;
          if (!each(query.ColumnText(1).value_or(""), has_anchors[rowid - 1])) return false;
          ++listed;
        }
        return query.result() == SQLITE_DONE && listed == subjects;
      };
      uint64_t start = 0;
      const bool offsets_ok = walk([&](std::string_view heading, bool anchors) {
        if (!out.PutOff(start, offsets)) return false;
        start += StoredHeadingSize(heading, anchors);
        return true;
      });
      if (!offsets_ok) return false;
      if (offsets == OffsetWidth::kNarrow && start > UINT32_MAX) {
        overflow_ = true;  // only a huge book may widen its heading offsets
        return false;
      }
      if (!out.PutOff(start, offsets)) return false;
      std::string stored;
      const bool bytes_ok = walk([&](std::string_view heading, bool anchors) {
        stored.clear();
        AppendStoredHeading(heading, anchors, &stored);
        return out.PutBytes(stored);
      });
      if (!bytes_ok || !out.Finish() || !store.WriteBlockTable(&table) ||
          !writer_.PatchOff(patches.table_at[format::HeadingSection::kHeadingTable], table)) {
        return false;
      }
    }
    format::CBlockStore anchors(format::kTableBlockSize, &writer_, 1);
    return WriteAnchorStore(context_, job_.database, order_, anchors_, anchors) &&
           anchors.WriteBlockTable(&table) &&
           writer_.PatchOff(patches.table_at[format::HeadingSection::kAnchorTable], table) &&
           format::FinishSection(writer_, patches);
  }

  bool Lookup() {
    format::LookupSection section;
    if (!order_.CountLookupGroups(context_, job_.database, &section.group_count)) return false;
    if (!BeforeSection()) return false;
    format::SectionPatches patches;
    if (!format::WriteSection(writer_, section, &patches)) return false;
    format::CBlockStore store(format::kTableBlockSize, &writer_, 1);
    uint64_t table = 0;
    return order_.WriteLookupStore(context_, job_.database, store) &&
           store.WriteBlockTable(&table) &&
           writer_.PatchOff(patches.table_at[format::LookupSection::kLookupTable], table) &&
           format::FinishSection(writer_, patches);
  }

  bool Positions() {
    text_lengths_.clear();
    std::string flags;
    uint64_t total = 0;
    {
      CSqlQuery query(job_.database);
      if (!query.Query("SELECT TextLength,Flags FROM tbl_Para ORDER BY %s", Order())) return false;
      while (query.Step()) {
        if (!context_.KeepGoing()) return false;
        uint32_t length = 0;
        int64_t flag = 0;
        if (!query.ColumnUInt(0, length)) return false;
        (void)query.ColumnInt(1, flag);
        text_lengths_.push_back(length);
        flags.push_back(static_cast<char>(flag));
        total += length;
      }
      if (query.result() != SQLITE_DONE || text_lengths_.size() != order_.subject_count()) {
        return false;
      }
    }
    if (!BeforeSection()) return false;
    format::PositionSection section;
    section.text_total = total;
    format::SectionPatches patches;
    if (!format::WriteSection(writer_, section, &patches)) return false;
    format::CBlockStore store(format::kTableBlockSize, &writer_, 1);
    StoreBuffer out(store);
    uint64_t start = 0;
    for (uint32_t length : text_lengths_) {
      if (!out.PutOff(start, width_) || !out.PutOff(start, width_)) return false;
      start += length;
    }
    // The end of the list, two reserved pairs and one reserved value.
    for (int i = 0; i < 7; ++i) {
      if (!out.PutOff(total, width_)) return false;
    }
    uint64_t table = 0;
    return out.PutBytes(flags) && out.Finish() && store.WriteBlockTable(&table) &&
           writer_.PatchOff(patches.table_at[format::PositionSection::kPositionTable], table) &&
           format::FinishSection(writer_, patches);
  }

  bool Texts() {
    if (!BeforeSection()) return false;
    const uint64_t begin = writer_.Position();
    format::TextSection section;
    format::SectionPatches patches;
    if (!format::WriteSection(writer_, section, &patches)) return false;
    postings_ = std::make_unique<SearchKeyPostings>(order_.subject_count());
    KeyFeeder keys(*postings_, threads_ > 1);
    CLinkResolver links(context_, job_.database, order_, /*report_problems=*/!retry_);
    TextResolver resolver(links, pictures_);
    format::CBlockStore store(format::kContentBlockSize, &writer_, threads_);
    CSqlQuery query(job_.database);
    if (!query.Query("SELECT TextOffsetH,TextOffsetL,TextLength FROM tbl_Para ORDER BY %s",
                     Order())) {
      return false;
    }
    context_.BeginProgress(order_.subject_count());
    std::string recorded;
    std::string stored;
    uint32_t subject = 0;
    while (query.Step()) {
      if (!context_.KeepGoing()) return false;
      int64_t high = 0, low = 0;
      uint32_t length = 0;
      if (!query.ColumnInt(0, high) || !query.ColumnInt(1, low) || !query.ColumnUInt(2, length) ||
          subject >= text_lengths_.size() || length != text_lengths_[subject]) {
        return false;
      }
      const uint64_t offset =
          (uint64_t{static_cast<uint32_t>(high)} << 32) | static_cast<uint32_t>(low);
      recorded.resize(length);
      if (length > 0 && !job_.text_spill.ReadAt(offset, recorded.data(), length)) return false;
      const auto* bytes = reinterpret_cast<const uint8_t*>(recorded.data());
      stored.clear();
      if (!EncodeSubjectText(bytes, length, resolver, &stored) || stored.size() != length ||
          !store.Append(stored.data(), stored.size())) {
        return false;
      }
      keys.Add(subject, recorded);
      ++subject;
      context_.SetProgress(subject);
    }
    if (query.result() != SQLITE_DONE || subject != order_.subject_count()) return false;
    keys.Finish();
    context_.EndProgress();
    links_processed_ = links.links_processed();
    uint64_t table = 0;
    if (!store.WriteBlockTable(&table) ||
        !writer_.PatchOff(patches.table_at[format::TextSection::kTextTable], table) ||
        !format::FinishSection(writer_, patches)) {
      return false;
    }
    text_bytes_stored_ = writer_.Position() - begin;
    owner_.timings_.key_memory = postings_->MemoryBytes();
    return true;
  }

  bool ReservedTexts() {
    if (!BeforeSection()) return false;
    const uint64_t begin = writer_.Position();
    format::ReservedTextSection section;
    format::SectionPatches patches;
    if (!format::WriteSection(writer_, section, &patches) ||
        !format::FinishSection(writer_, patches)) {
      return false;
    }
    text_bytes_stored_ += writer_.Position() - begin;
    return true;
  }

  bool PictureSection() {
    if (!BeforeSection()) return false;
    const uint64_t begin = writer_.Position();
    format::PictureSection section;
    format::SectionPatches patches;
    if (!format::WriteSection(writer_, section, &patches) ||
        !WritePictureStores(context_, writer_, pictures_, threads_,
                            patches.table_at[format::PictureSection::kDirectoryTable],
                            patches.table_at[format::PictureSection::kDataTable]) ||
        !format::FinishSection(writer_, patches)) {
      return false;
    }
    picture_bytes_stored_ = writer_.Position() - begin;
    return true;
  }

  bool SearchIndex() {
    if (!BeforeSection()) return false;
    const uint64_t section_start = writer_.Position();
    const uint64_t spill_size = job_.text_spill.Size().value_or(0);
    auto keep_going = [this] { return context_.KeepGoing(); };
    auto start = Clock::now();
    const SegmentationTrial trial = [&](uint32_t requested, TrialResult* result) {
      const SegmentPlan plan = MakeSegmentPlan(requested, text_lengths_, spill_size);
      format::CBlockStore measuring(format::kContentBlockSize, nullptr, threads_);
      BlockStoreSink sink(measuring);
      IndexFigures figures;
      if (!postings_->Serialize(plan, sink, &figures, keep_going) || !measuring.Flush()) {
        return false;
      }
      result->segment_count = figures.segment_count;
      result->compressed_bytes = measuring.CompressedBytes();
      result->efficiency = figures.efficiency;
      return true;
    };
    uint32_t segmentation = 0;
    if (!ChooseSegmentation(context_, order_.subject_count(), section_start, trial,
                            &segmentation)) {
      return false;
    }
    owner_.timings_.segmentation = SecondsSince(start);
    start = Clock::now();

    context_.Report(false, Level::kInformation, MessageId::kWritingSearchIndex);
    const SegmentPlan plan = MakeSegmentPlan(segmentation, text_lengths_, spill_size);
    format::SearchIndexSection section;
    section.key_length = kIndexKeyLength;
    section.key_count = postings_->KeyCount();
    section.segment_count = plan.segment_count;
    format::SectionPatches patches;
    if (!format::WriteSection(writer_, section, &patches)) return false;
    format::CBlockStore store(format::kContentBlockSize, &writer_, threads_);
    BlockStoreSink sink(store);
    if (!postings_->Serialize(plan, sink, &index_figures_, keep_going)) return false;
    uint64_t table = 0;
    if (!store.WriteBlockTable(&table) ||
        !writer_.PatchOff(patches.table_at[format::SearchIndexSection::kIndexTable], table) ||
        !format::FinishSection(writer_, patches)) {
      return false;
    }
    index_overhead_ = static_cast<uint32_t>(IndexOverhead(section_start, store.CompressedBytes()));
    postings_.reset();
    owner_.timings_.index = SecondsSince(start);
    return true;
  }

  bool Information() {
    if (!BeforeSection()) return false;
    const CDocumentProperties& p = job_.properties;
    format::InfoSection info;
    info.title = p.title.value_or("");
    info.author = p.author.value_or("");
    info.created_by = p.created_by.value_or("");
    info.url = p.url.value_or("");
    info.version_word = p.version;
    info.creation_date = p.creation_date;
    info.publication_year = p.publication_year;
    info.library_category = p.library_category;
    return format::WriteInfoSection(writer_, info);
  }

  bool Seal() {
    if (!writer_.PatchU32(header_at_.picture_count_at, pictures_.PictureCount()) ||
        !writer_.PatchU32(header_at_.background_tile_at,
                          pictures_.PictureIndex(job_.properties.background_picture)) ||
        !writer_.Flush()) {
      return false;
    }
    sealed_end_ = writer_.Position();
    const format::BorrowedFileByteSource source(&job_.stream);
    platform::Sha1Digest digest;
    if (!format::ComputeStreamDigest(source, 0, header_at_.integrity_area_at, sealed_end_,
                                     header_at_.integrity_area_at, &digest)) {
      return false;
    }
    return writer_.PatchBytes(header_at_.integrity_area_at, digest.data(), digest.size()) &&
           writer_.PatchOff(header_at_.end_of_book_at, sealed_end_) && writer_.Flush();
  }

  bool Figures() {
    CompileStatistics& s = job_.statistics;
    s.subjects = order_.subject_count();
    s.categories = categories_;
    s.category_bytes = category_bytes_;
    s.pictures = pictures_.PictureCount();
    s.picture_bytes_processed = pictures_.bytes_processed;
    s.picture_bytes_stored = picture_bytes_stored_;  // the whole 'P' section
    s.text_bytes_processed = job_.text_spill.Size().value_or(0);
    s.text_bytes_stored = text_bytes_stored_;
    s.filters = selections_;
    s.segmentation = index_figures_.segment_count;
    s.search_overhead_percent = index_overhead_;
    s.search_efficiency_percent = index_figures_.efficiency;
    s.links_processed = links_processed_;
    s.book_size = sealed_end_;
    if (width_ == OffsetWidth::kNarrow && sealed_end_ >= owner_.options_.narrow_limit) {
      overflow_ = true;
      return false;
    }
    return writer_.ok();
  }

  CBookWriter& owner_;
  BookWriteJob& job_;
  CompileContext& context_;
  bool retry_;
  format::StreamWriter writer_;
  int threads_;
  OffsetWidth width_ = OffsetWidth::kNarrow;
  bool overflow_ = false;
  SubjectOrder order_;
  TableJob tables_{context_, job_.database, writer_, order_, [this] { return BeforeSection(); }};
  uint32_t categories_ = 0;
  uint32_t selections_ = 0;
  uint32_t anchors_ = 0;
  PictureSet pictures_;
  format::HeaderPatches header_at_;
  std::vector<uint32_t> text_lengths_;  // recorded (= stored) lengths in stored order
  std::unique_ptr<SearchKeyPostings> postings_;
  uint64_t category_bytes_ = 0;
  uint64_t text_bytes_stored_ = 0;
  uint64_t picture_bytes_stored_ = 0;
  uint32_t links_processed_ = 0;
  IndexFigures index_figures_;
  uint32_t index_overhead_ = 0;
  uint64_t sealed_end_ = 0;
};

// ---------------------------------------------------------------- the back end

CBookWriter::CBookWriter(BookWriterOptions options) : options_(std::move(options)) {}
CBookWriter::~CBookWriter() = default;

bool CBookWriter::WriteBook(BookWriteJob& job, bool retry, bool& overflow) {
  Run run(*this, job, retry);
  const bool ok = run.Execute();
  overflow = !ok && run.overflowed();
  return ok;
}

bool CBookWriter::WrapContainer(BookWriteJob& job, const std::string& output_path) {
  CompileContext& context = job.context;
  const auto start = Clock::now();
  // Unnamed until complete: a compile killed on the way leaves nothing.
  int create_error = 0;
  platform::ReplacingFile output = platform::ReplacingFile::Create(output_path, &create_error);
  if (!output.IsOpen()) {
    context.Report(false, Level::kError, MessageId::kCouldNotCreateOutput, "%d", {create_error});
    context.Report(false, Level::kInformation, MessageId::kReason, "%s",
                   {platform::ErrorText(create_error)});
    return false;
  }
  platform::File& file = output.file();

  format::WrapOptions wrap;
  wrap.output_path = output_path;
  wrap.unix_time = options_.container_time;
  wrap.progress = [&context](uint64_t copied, uint64_t total) {
    (void)total;
    context.SetProgress(copied);
    return context.KeepGoing();
  };
  context.BeginProgress(job.stream.Size().value_or(0));
  const format::WrapResult result = format::WrapContainer(job.stream, file, wrap);
  context.EndProgress();
  int error = result.error;
  bool ok = result.ok();
  if (!ok && result.status == format::WrapStatus::kTooLarge) error = EFBIG;
  if (ok && !output.Commit(&error)) ok = false;
  if (!ok) {
    output.Discard();
    if (result.status != format::WrapStatus::kCancelled) {
      context.Report(false, Level::kError, MessageId::kCouldNotWriteOutput, "%d:%s",
                     {error, platform::ErrorText(error)});
      if (error == EFBIG && result.status != format::WrapStatus::kTooLarge) {
        context.Report(false, Level::kFatal, MessageId::kFileSizeLimit);
      }
    }
    return false;
  }
  timings_.wrap = SecondsSince(start);
  return true;
}

}  // namespace fvx::compiler
