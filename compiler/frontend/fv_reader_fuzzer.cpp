// libFuzzer target over older-generation books: arbitrary bytes opened as
// an ".fv" file and, when they open, read to the end through the converting
// reader with single reads, push-backs and runs mixed as the lexer mixes
// them. The bytes also go through the formatting-code conversion directly,
// since most inputs are no book at all. Any crash, hang or outsized
// allocation is a finding.
//
// A mutated book almost never keeps its file-length field right, so each
// input is tried a second time with that field set to the input's size, to
// let the fuzzer reach the records behind the layout checks.
//
//   fvx fv-pack FOLDER -o seeds/a.fv [--compress]     -- seeds
//   fvx_fv_reader_fuzzer corpus seeds -max_total_time=300
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "bookformat/coding.h"
#include "compiler/frontend/converting_source_reader.h"

namespace {

using fvx::compiler::CConvertingSourceReader;

void ReadThrough(const std::string& bytes, uint8_t pattern) {
  CConvertingSourceReader reader;
  if (!reader.Open(std::make_unique<fvx::format::MemoryByteSource>(bytes))) return;
  std::array<bool, 256> stop{};
  stop['<'] = stop['&'] = stop['\n'] = true;
  std::string run;
  uint64_t steps = 0;
  uint64_t total = 0;
  for (;;) {
    const int step = (pattern >> (steps++ % 8)) & 1;
    if (reader.AtEnd()) break;
    if (step == 0) {
      unsigned char c;
      bool pushed_back;
      if (!reader.Read(c, pushed_back)) break;
      if ((steps % 3) == 0) reader.PushBack();
      ++total;
    } else {
      run.clear();
      total += reader.ReadRun(stop, 1 + steps % 200, run);
      unsigned char c;
      bool pushed_back;
      if (!reader.Read(c, pushed_back)) break;
      ++total;
    }
    (void)reader.Line();
    (void)reader.Column();
    (void)reader.Position();
  }
  if (reader.Position() > reader.TotalSize() || reader.failed()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string converted;
  fvx::compiler::AppendConvertedText(bytes.substr(0, std::min(bytes.size(), bytes.find('\0'))),
                                     converted);
  const uint8_t pattern = size > 0 ? data[size - 1] : 0;
  ReadThrough(bytes, pattern);
  // The same with the information record's file length made to fit.
  if (size >= fvx::format::kFvHeaderSize + fvx::format::kFvEntrySize) {
    const uint64_t info = fvx::format::LoadU32(data + fvx::format::kFvHeaderSize);
    if (info + fvx::format::kFvInfoSize <= size) {
      std::string fixed = bytes;
      fvx::format::StoreU32(reinterpret_cast<uint8_t*>(&fixed[info + 8]),
                            static_cast<uint32_t>(size));
      if (fixed != bytes) ReadThrough(fixed, pattern);
    }
  }
  return 0;
}
