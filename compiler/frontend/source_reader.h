// The source reader interface: characters of a source, one at a time, with
// the position for messages. Characters are bytes 0..255.
//
// Call order: Open(path); then Read / PushBack / Line / Column / Position in
// any order; Rewind() starts again; Close() releases the file.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace fvx::compiler {

class CSourceReader {
 public:
  virtual ~CSourceReader() = default;

  // Progress figures: where reading stands and the total, in the reader's
  // own unit (bytes for text sources).
  virtual uint64_t Position() const = 0;
  virtual uint64_t TotalSize() const = 0;
  virtual bool AtEnd() = 0;
  // The next character; pushed_back tells that it was read before and given
  // back. False at the end of the input or on a read error (LastError()
  // tells them apart).
  virtual bool Read(unsigned char& c, bool& pushed_back) = 0;
  // 1-based position of the next character to be read.
  virtual uint32_t Line() const = 0;
  virtual uint32_t Column() const = 0;
  // REQUIRES: a character was read since the last PushBack. Gives it back
  // (one level), restoring the position.
  virtual void PushBack() = 0;
  // Bulk form of Read for long runs of plain text: appends to out the
  // characters up to (not including) the first one for which stop is true,
  // at most max of them, with the same positions as reading them one by
  // one; a run cannot be pushed back (the next Read goes on after it, and
  // the stop character, if one was seen, is read next). Returns how many
  // were read: 0 at a stop character, at the end, or while a pushed-back
  // character waits (Read takes that one). The default reads one at a time.
  virtual size_t ReadRun(const std::array<bool, 256>& stop, size_t max, std::string& out);
  virtual bool Rewind() = 0;
  virtual void Close() = 0;
  [[nodiscard]] virtual bool Open(const std::string& path) = 0;

  // The errno of a failed Open or of the read that ended the input early;
  // 0 when the input simply ended. ECANCELED: a wait was given up because
  // keep_waiting said so.
  virtual int LastError() const { return 0; }
  // Called now and then while the input keeps the reader waiting (a pipe
  // whose writer is slow); returning false gives the wait up.
  void SetWaitCheck(std::function<bool()> keep_waiting) { keep_waiting_ = std::move(keep_waiting); }

 protected:
  bool KeepWaiting() const { return !keep_waiting_ || keep_waiting_(); }

 private:
  std::function<bool()> keep_waiting_;
};

}  // namespace fvx::compiler
