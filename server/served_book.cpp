#include "server/served_book.h"

#include <sys/stat.h>

#include "bookformat/byte_source.h"
#include "reader/book_charset.h"
#include "server/html_text.h"

namespace fvx::server {
namespace {

std::optional<FileSignature> SignatureOf(const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return std::nullopt;
  FileSignature signature;
  signature.device = info.st_dev;
  signature.inode = info.st_ino;
  signature.size = static_cast<uint64_t>(info.st_size);
  signature.modified_ns =
      static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return signature;
}

// The set the book names, else what its headings tell (as in the reader
// window).
std::string CharsetOf(reader::BookDocument& document) {
  const std::string& named = document.layout().header.character_set;
  return named.empty() ? reader::CharsetFromHeadings(document) : named;
}

}  // namespace

std::optional<FileSignature> SignatureOfPath(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return SignatureOf(info);
}

std::optional<FileSignature> SignatureOfDescriptor(int fd) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return std::nullopt;
  return SignatureOf(info);
}

ServedBook::Lease::~Lease() {
  if (book_ != nullptr && document_ != nullptr) book_->GiveBack(std::move(document_));
}

std::shared_ptr<ServedBook> ServedBook::Open(const std::string& path, std::string slug,
                                             size_t max_documents, std::string* why) {
  std::shared_ptr<ServedBook> book(new ServedBook());
  book->file_ = platform::File::OpenForReading(path);
  if (!book->file_.IsOpen()) {
    *why = platform::ErrorText(book->file_.LastError());
    return nullptr;
  }
  const std::optional<FileSignature> signature = SignatureOfDescriptor(book->file_.Descriptor());
  if (!signature) {
    *why = "not a regular file";
    return nullptr;
  }
  book->signature_ = *signature;
  book->slug_ = std::move(slug);
  book->path_ = path;
  const size_t slash = path.find_last_of("/\\");
  book->file_name_ = slash == std::string::npos ? path : path.substr(slash + 1);
  book->max_documents_ = std::max<size_t>(max_documents, 1);
  std::unique_ptr<reader::BookDocument> document = book->OpenDocument();
  if (!document) {
    *why = "not a readable book";
    return nullptr;
  }
  book->title_ = document->layout().info.title;
  book->author_ = document->layout().info.author;
  book->book_id_ = document->BookId();
  book->subject_count_ = document->SubjectCount();
  book->charset_ = CharsetOf(*document);
  const format::HeaderSection& header = document->layout().header;
  if (document->HasFrontCover() && header.front_cover_picture < document->PictureCount()) {
    book->front_cover_picture_ = header.front_cover_picture;
  }
  if (document->HasBackCover() && header.back_cover_picture < document->PictureCount()) {
    book->back_cover_picture_ = header.back_cover_picture;
  }
  if (book->title_.empty()) book->title_ = book->file_name_;
  book->opened_ = 1;
  book->idle_.push_back(std::move(document));
  return book;
}

std::unique_ptr<reader::BookDocument> ServedBook::OpenDocument() const {
  auto document = std::make_unique<reader::BookDocument>();
  reader::OpenCode code = reader::OpenCode::kOk;
  if (!document->OpenSource(std::make_unique<format::BorrowedFileByteSource>(&file_), path_,
                            &code)) {
    return nullptr;
  }
  // A word index made by "fvx index" (found by the book id) answers
  // searches without reading every candidate subject.
  document->SetWordIndexUse(true);
  return document;
}

ServedBook::Lease ServedBook::Borrow() {
  std::unique_ptr<reader::BookDocument> document;
  {
    std::unique_lock lock(mutex_);
    returned_.wait(lock, [&] { return !idle_.empty() || opened_ < max_documents_; });
    if (!idle_.empty()) {
      document = std::move(idle_.back());
      idle_.pop_back();
    } else {
      ++opened_;  // reserved; opened outside the lock
    }
  }
  if (!document) {
    document = OpenDocument();
    if (!document) {
      std::lock_guard lock(mutex_);
      --opened_;
      returned_.notify_one();
      return Lease(this, nullptr);
    }
  }
  // What an earlier request left behind must not show in this one.
  document->LeaveTree();
  document->ClearResults();
  document->CancelSearch();
  document->ClearHits();
  document->ClearDamage();
  return Lease(this, std::move(document));
}

void ServedBook::GiveBack(std::unique_ptr<reader::BookDocument> document) {
  std::lock_guard lock(mutex_);
  idle_.push_back(std::move(document));
  returned_.notify_one();
}

size_t ServedBook::documents_opened() const {
  std::lock_guard lock(mutex_);
  return opened_;
}

}  // namespace fvx::server
