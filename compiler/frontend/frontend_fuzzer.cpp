// libFuzzer target over the whole front end: arbitrary bytes as a source go
// through the parse, the last subject's required check and the preparing
// stage (categories stored, selections evaluated, sort order), as
// `fvx compile --check` runs them. Any input may give messages and fail;
// none may crash, leak or hang.
//
// The source lives in one memory file, rewritten for every input, so that
// the real text source reader (blocks, push-back, positions) is exercised
// without touching the disk.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "compiler/app/book_compiler.h"
#include "compiler/frontend/text_source_reader.h"

namespace {

using namespace fvx::compiler;

class DiscardingSink : public MessageSink {
 public:
  void Report(Level, const std::string& text) override { total_ += text.size(); }

 private:
  size_t total_ = 0;
};

// Asks the options once each as a window would; the answers vary with the
// input so that both sides of each are reached.
class InputOptions : public OptionsProvider {
 public:
  explicit InputOptions(uint8_t bits) : bits_(bits) {}
  bool ReplaceLeadingUnderscores() override { return (bits_ & 1) != 0; }
  bool FixedSegmentation(uint32_t&) override { return false; }
  bool ShouldSort(uint32_t) override { return (bits_ & 2) != 0; }
  bool SkipPictures() override { return true; }

 private:
  uint8_t bits_;
};

std::string MemorySourcePath() {
  static int fd = ::memfd_create("fvx_fuzz_source", 0);
  return fd < 0 ? std::string() : "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = MemorySourcePath();
  static const int fd = path.empty() ? -1 : std::stoi(path.substr(path.rfind('/') + 1));
  if (fd < 0 || ::ftruncate(fd, 0) != 0) return 0;
  size_t written = 0;
  while (written < size) {
    ssize_t n = ::pwrite(fd, data + written, size - written, static_cast<off_t>(written));
    if (n <= 0) return 0;
    written += static_cast<size_t>(n);
  }
  DiscardingSink messages;
  InputOptions options(size > 0 ? data[size - 1] : 0);
  CBookCompiler compiler(&messages, nullptr, &options);
  CTextSourceReader reader;
  (void)compiler.Compile(reader, path, path + ".fvx", false, CompileMode::kCheck);
  return 0;
}
