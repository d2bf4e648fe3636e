// One book the server serves: the file it opened (kept open, so a book
// replaced on disk is read whole from the old file until the shelf swaps in
// the new one), what the library page shows of it, and a pool of documents.
//
// A BookDocument keeps per-reader state (the current subject, result lists,
// hits) and is not safe to share between threads, so a request borrows a
// whole document and gives it back when done. Documents are opened on
// demand, at most max_documents of them; a request that finds none free
// waits for one.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "reader/book_document.h"

namespace fvx::server {

// What tells one version of a file from the next on the same path.
struct FileSignature {
  dev_t device = 0;
  ino_t inode = 0;
  uint64_t size = 0;
  int64_t modified_ns = 0;
  bool operator==(const FileSignature&) const = default;
};

std::optional<FileSignature> SignatureOfPath(const std::string& path);
std::optional<FileSignature> SignatureOfDescriptor(int fd);

class ServedBook {
 public:
  // A document on loan; gives it back on destruction.
  class Lease {
   public:
    Lease(ServedBook* book, std::unique_ptr<reader::BookDocument> document)
        : book_(book), document_(std::move(document)) {}
    ~Lease();
    Lease(Lease&&) = default;
    Lease& operator=(Lease&&) = delete;
    reader::BookDocument& operator*() const { return *document_; }
    reader::BookDocument* operator->() const { return document_.get(); }
    explicit operator bool() const { return document_ != nullptr; }

   private:
    ServedBook* book_;
    std::unique_ptr<reader::BookDocument> document_;
  };

  // Opens the file and one document on it; null (and *why) when the file is
  // not a readable book.
  static std::shared_ptr<ServedBook> Open(const std::string& path, std::string slug,
                                          size_t max_documents, std::string* why);

  // A document reset to the whole subject list; empty when none could be
  // opened (the book became unreadable).
  Lease Borrow();

  const std::string& slug() const { return slug_; }
  const std::string& path() const { return path_; }
  const std::string& file_name() const { return file_name_; }
  const FileSignature& signature() const { return signature_; }
  int descriptor() const { return file_.Descriptor(); }
  const std::string& title() const { return title_; }
  const std::string& author() const { return author_; }
  const std::string& book_id() const { return book_id_; }
  const std::string& charset() const { return charset_; }
  uint32_t subject_count() const { return subject_count_; }
  std::optional<uint32_t> front_cover_picture() const { return front_cover_picture_; }
  std::optional<uint32_t> back_cover_picture() const { return back_cover_picture_; }
  size_t documents_opened() const;

 private:
  ServedBook() = default;
  std::unique_ptr<reader::BookDocument> OpenDocument() const;
  void GiveBack(std::unique_ptr<reader::BookDocument> document);

  std::string slug_, path_, file_name_;
  platform::File file_;
  FileSignature signature_;
  std::string title_, author_, book_id_, charset_;
  uint32_t subject_count_ = 0;
  std::optional<uint32_t> front_cover_picture_, back_cover_picture_;

  size_t max_documents_ = 1;
  mutable std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<reader::BookDocument>> idle_;
  size_t opened_ = 0;  // lent and idle
};

}  // namespace fvx::server
