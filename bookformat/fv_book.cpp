#include "bookformat/fv_book.h"

#include <algorithm>
#include <cstring>

#include "bookformat/coding.h"
#include "bookformat/container.h"

namespace fvx::format {

FvBookBuilder::FvBookBuilder(Options options) : options_(std::move(options)) {
  if (options_.compress) deflater_ = std::make_unique<BlockDeflater>();
}

bool FvBookBuilder::Fail(std::string message) {
  if (error_.empty()) error_ = std::move(message);
  return false;
}

bool FvBookBuilder::Add(std::string_view heading, std::string_view text) {
  if (!error_.empty()) return false;
  if (offsets_.size() >= kMaxFvSubjects) {
    return Fail("a book holds at most " + std::to_string(kMaxFvSubjects) + " subjects");
  }
  if (heading.size() > kMaxFvHeadingBytes) {
    return Fail("subject " + std::to_string(offsets_.size() + 1) + ": the heading has more than " +
                std::to_string(kMaxFvHeadingBytes) + " bytes");
  }
  const uint64_t plain_size = 2 + heading.size() + text.size();
  if (plain_size > kMaxFvSubjectBytes) {
    return Fail("subject " + std::to_string(offsets_.size() + 1) + ": more than " +
                std::to_string(kMaxFvSubjectBytes) + " bytes of heading and text");
  }
  offsets_.push_back(records_.size());
  if (!options_.compress) {
    PutU16(&records_, static_cast<uint16_t>(heading.size()));
    records_ += heading;
    records_ += text;
    return true;
  }
  scratch_.clear();
  PutU16(&scratch_, static_cast<uint16_t>(heading.size()));
  scratch_ += heading;
  scratch_ += text;
  if (!deflater_->ok()) return Fail("cannot start zlib");
  // Room for a stream that does not shrink: stored blocks cost a few bytes
  // per 16 KiB window, far less than this margin.
  const size_t capacity = scratch_.size() + scratch_.size() / 8 + 64;
  const size_t start = records_.size();
  PutU32(&records_, static_cast<uint32_t>(scratch_.size()));
  records_.resize(start + 4 + capacity);
  size_t packed = 0;
  const auto result = deflater_->Compress(
      reinterpret_cast<const uint8_t*>(scratch_.data()), scratch_.size(),
      reinterpret_cast<uint8_t*>(records_.data() + start + 4), capacity, &packed);
  if (result != BlockDeflater::Result::kDone) return Fail("zlib could not compress a subject");
  records_.resize(start + 4 + packed);
  return true;
}

std::optional<std::string> FvBookBuilder::Finish() {
  if (!error_.empty()) return std::nullopt;
  const uint64_t records = offsets_.size() + 1;
  const uint64_t info_start = kFvHeaderSize + kFvEntrySize * records;
  const uint64_t subjects_start = info_start + kFvInfoSize;
  if (subjects_start + records_.size() > UINT32_MAX) {
    Fail("the book would pass 4 GiB, beyond its 32-bit record offsets");
    return std::nullopt;
  }
  std::string out;
  out.reserve(static_cast<size_t>(subjects_start + records_.size()));
  std::string name =
      options_.database_name.empty() ? std::string(kUnnamedDatabase) : options_.database_name;
  name.resize(kDatabaseNameSize - 1, '\0');
  name.resize(kDatabaseNameSize, '\0');
  out += name;
  PutU16(&out, 0);  // attributes
  PutU16(&out, 1);  // version
  for (int i = 0; i < 3; ++i) PutU32(&out, options_.palm_time);
  for (int i = 0; i < 3; ++i) PutU32(&out, 0);  // modification number, app info, sort info
  out.append(kFvType, 4);
  out.append(kFvCreator, 4);
  PutU32(&out, 0);  // unique id seed
  PutU32(&out, 0);  // next record list
  PutU16(&out, static_cast<uint16_t>(records));
  PutU32(&out, static_cast<uint32_t>(info_start));
  PutU32(&out, 0);
  for (uint64_t offset : offsets_) {
    PutU32(&out, static_cast<uint32_t>(subjects_start + offset));
    PutU32(&out, 0);
  }
  PutU16(&out, kFvFormat);
  PutU16(&out, options_.compress ? kFvFlagCompressed : 0);
  PutU32(&out, static_cast<uint32_t>(offsets_.size()));
  PutU32(&out, static_cast<uint32_t>(subjects_start + records_.size()));
  out += records_;
  return out;
}

CFvwBook::CFvwBook() = default;
CFvwBook::~CFvwBook() = default;

bool CFvwBook::Fail(std::string message) {
  error_ = std::move(message);
  return false;
}

bool CFvwBook::Open(const std::string& path) {
  Close();
  error_.clear();
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  if (!file.IsOpen()) {
    return Fail(std::string("cannot open the file: ") + std::strerror(file.LastError()));
  }
  return Open(std::make_unique<FileByteSource>(std::move(file)));
}

bool CFvwBook::Open(std::unique_ptr<ByteSource> source) {
  Close();
  error_.clear();
  source_ = std::move(source);
  bool ok = source_ != nullptr && ReadLayout();
  // Every subject once, so that damage anywhere refuses the whole book.
  for (uint32_t i = 0; ok && i < RecordCount(); ++i) ok = Decode(i, true, nullptr, nullptr);
  if (!ok) {
    if (source_ == nullptr) error_ = "no file";
    Close();
  }
  return ok;
}

void CFvwBook::Close() {
  source_.reset();
  window_.clear();
  window_start_ = 0;
  starts_.clear();
  compressed_ = false;
}

bool CFvwBook::ReadAhead(uint64_t position, void* out, size_t count) {
  if (position >= window_start_ && position - window_start_ <= window_.size() &&
      count <= window_.size() - (position - window_start_)) {
    if (count > 0) std::memcpy(out, window_.data() + (position - window_start_), count);
    return true;
  }
  if (count >= kReadAhead) return source_->ReadAt(position, out, count);
  const uint64_t size = source_->Size();
  if (position > size || count > size - position) return false;
  window_.resize(static_cast<size_t>(std::min<uint64_t>(kReadAhead, size - position)));
  window_start_ = position;
  if (!source_->ReadAt(position, window_.data(), window_.size())) {
    window_.clear();
    return false;
  }
  if (count > 0) std::memcpy(out, window_.data(), count);
  return true;
}

bool CFvwBook::ReadLayout() {
  const uint64_t size = source_->Size();
  uint8_t header[kFvHeaderSize];
  if (size < sizeof header || !source_->ReadAt(0, header, sizeof header)) {
    return Fail("too short for a book header");
  }
  if (std::memcmp(header + 60, kFvType, 4) != 0 || std::memcmp(header + 64, kFvCreator, 4) != 0) {
    return Fail("not an older-generation book (no FVWD FVWC type and creator)");
  }
  const uint32_t records = LoadU16(header + 76);
  if (records == 0) return Fail("the book has no information record");
  const uint64_t entries_end = kFvHeaderSize + uint64_t{kFvEntrySize} * records;
  std::vector<uint8_t> entries(kFvEntrySize * records);
  if (entries_end > size || !source_->ReadAt(kFvHeaderSize, entries.data(), entries.size())) {
    return Fail("the record list passes the end of the file");
  }
  std::vector<uint64_t> offsets(records + 1);
  for (uint32_t i = 0; i < records; ++i) offsets[i] = LoadU32(&entries[kFvEntrySize * i]);
  offsets[records] = size;
  if (offsets[0] < entries_end) return Fail("the first record overlaps the record list");
  for (uint32_t i = 0; i < records; ++i) {
    if (offsets[i + 1] < offsets[i]) {
      return Fail("record " + std::to_string(i) +
                  " ends before it starts or passes the end of the file");
    }
  }
  uint8_t info[kFvInfoSize];
  if (offsets[1] - offsets[0] < kFvInfoSize || !source_->ReadAt(offsets[0], info, sizeof info)) {
    return Fail("the information record is too short");
  }
  if (LoadU16(info) != kFvFormat) {
    return Fail("unknown format " + std::to_string(LoadU16(info)) + " (this reader knows 1)");
  }
  const uint16_t flags = LoadU16(info + 2);
  if ((flags & ~kFvFlagCompressed) != 0) return Fail("unknown flags in the information record");
  if (LoadU32(info + 4) != records - 1) {
    return Fail("the information record counts " + std::to_string(LoadU32(info + 4)) +
                " subjects, the record list " + std::to_string(records - 1));
  }
  if (LoadU32(info + 8) != size) {
    return Fail("the book should have " + std::to_string(LoadU32(info + 8)) +
                " bytes, the file has " + std::to_string(size));
  }
  compressed_ = (flags & kFvFlagCompressed) != 0;
  starts_.assign(offsets.begin() + 1, offsets.end());
  return true;
}

bool CFvwBook::Read(uint32_t index, std::string* heading, std::string* text) {
  std::string_view h, t;
  if (!Decode(index, false, &h, &t)) return false;
  heading->assign(h);
  text->assign(t);
  return true;
}

bool CFvwBook::Decode(uint32_t index, bool check_only, std::string_view* heading,
                      std::string_view* text) {
  if (!IsOpen() || index >= RecordCount()) return Fail("no such subject");
  const uint64_t start = starts_[index];
  const uint64_t length = starts_[index + 1] - start;
  auto where = [index] { return "subject " + std::to_string(index + 1) + ": "; };
  size_t plain_size = 0;
  if (compressed_) {
    uint8_t head[4];
    if (length < sizeof head || !ReadAhead(start, head, sizeof head)) {
      return Fail(where() + "record too short");
    }
    const uint64_t packed_size = length - sizeof head;
    const uint32_t expected = LoadU32(head);
    if (expected < 2) return Fail(where() + "no heading length");
    if (expected > kMaxFvSubjectBytes || expected > packed_size * kMaxFvInflateRatio) {
      return Fail(where() + "claims " + std::to_string(expected) + " bytes, more than it can hold");
    }
    packed_.resize(static_cast<size_t>(packed_size));
    plain_.resize(expected);
    if (!ReadAhead(start + sizeof head, packed_.data(), packed_.size())) {
      return Fail(where() + "cannot be read");
    }
    if (!inflater_) inflater_ = std::make_unique<BlockInflater>();
    if (!inflater_->ok()) return Fail("cannot start zlib");
    if (!inflater_->InflateExact(packed_.data(), packed_.size(), plain_.data(), expected)) {
      return Fail(where() + "damaged compressed data");
    }
    plain_size = expected;
  } else {
    if (length > kMaxFvSubjectBytes) {
      return Fail(where() + "more than " + std::to_string(kMaxFvSubjectBytes) + " bytes");
    }
    // Checking a plain subject needs only its heading length.
    plain_size = static_cast<size_t>(length);
    plain_.resize(check_only ? std::min<size_t>(plain_size, 2) : plain_size);
    if (!ReadAhead(start, plain_.data(), plain_.size())) return Fail(where() + "cannot be read");
  }
  if (plain_size < 2) return Fail(where() + "no heading length");
  const size_t heading_size = LoadU16(plain_.data());
  if (heading_size > plain_size - 2) {
    return Fail(where() + "the heading passes the end of the record");
  }
  if (check_only) return true;
  const char* bytes = reinterpret_cast<const char*>(plain_.data());
  *heading = std::string_view(bytes + 2, heading_size);
  *text = std::string_view(bytes + 2 + heading_size, plain_size - 2 - heading_size);
  return true;
}

}  // namespace fvx::format
