// fvx fv-pack FOLDER -o BOOK.fv [--compress]: makes an older-generation
// book from a folder of record files, for tests and for migrating content.
//
// Each regular file of FOLDER is one record, taken in the byte order of the
// file names; hidden files (".name") and subfolders are left out, and so is
// the output itself when it lies in FOLDER. A file's first line (without
// its LF, and without a CR before that) is the record's heading; every byte
// after that LF is the record's text, formatting codes included as they are.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "bookformat/container.h"
#include "bookformat/fv_book.h"
#include "platform/file.h"
#include "tools/fvx/command.h"

namespace fvx::tool {
namespace {

namespace fs = std::filesystem;

int Usage(const char* problem) {
  std::fprintf(stderr, "fvx fv-pack: %s\nusage: fvx fv-pack FOLDER -o BOOK.fv [--compress]\n",
               problem);
  return kExitUsage;
}

bool ReadWholeFile(const std::string& path, std::string& out, std::string& problem) {
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  std::optional<uint64_t> size = file.IsOpen() ? file.Size() : std::nullopt;
  if (size && *size > format::kMaxFvSubjectBytes) {
    problem = "more than " + std::to_string(format::kMaxFvSubjectBytes) + " bytes";
    return false;
  }
  out.resize(size.value_or(0));
  if (!size || (!out.empty() && !file.ReadAt(0, out.data(), out.size()))) {
    problem = std::strerror(file.LastError() ? file.LastError() : EIO);
    return false;
  }
  return true;
}

int RunFvPack(const std::vector<std::string>& args) {
  std::string folder, output;
  bool compress = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o") {
      if (i + 1 >= args.size()) return Usage("-o needs a file name");
      output = args[++i];
    } else if (args[i] == "--compress") {
      compress = true;
    } else if (!args[i].empty() && args[i][0] == '-') {
      return Usage(("unknown option " + args[i]).c_str());
    } else if (folder.empty()) {
      folder = args[i];
    } else {
      return Usage("only one folder may be given");
    }
  }
  if (folder.empty() || output.empty()) return Usage("a folder and -o BOOK.fv are needed");

  std::error_code error;
  std::vector<fs::path> files;
  fs::directory_iterator it(folder, error), end;
  if (error) {
    std::fprintf(stderr, "fvx fv-pack: cannot list %s: %s\n", folder.c_str(),
                 error.message().c_str());
    return kExitFailed;
  }
  for (; it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code entry_error;
    if (!it->is_regular_file(entry_error) || entry_error) continue;
    if (fs::equivalent(it->path(), output, entry_error)) continue;
    files.push_back(it->path());
  }
  if (error) {
    std::fprintf(stderr, "fvx fv-pack: cannot list %s: %s\n", folder.c_str(),
                 error.message().c_str());
    return kExitFailed;
  }
  if (files.empty()) {
    std::fprintf(stderr, "fvx fv-pack: %s holds no record files\n", folder.c_str());
    return kExitFailed;
  }
  std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
    return a.filename().string() < b.filename().string();
  });

  format::FvBookBuilder builder(
      {format::DatabaseName(output), format::PalmTime(std::time(nullptr)), compress});
  std::string bytes, problem;
  for (const fs::path& file : files) {
    if (!ReadWholeFile(file.string(), bytes, problem)) {
      std::fprintf(stderr, "fvx fv-pack: %s: %s\n", file.c_str(), problem.c_str());
      return kExitFailed;
    }
    const size_t line_end = std::min(bytes.find('\n'), bytes.size());
    std::string_view heading(bytes.data(), line_end);
    if (!heading.empty() && heading.back() == '\r') heading.remove_suffix(1);
    const std::string_view text =
        line_end < bytes.size() ? std::string_view(bytes).substr(line_end + 1) : std::string_view();
    if (!builder.Add(heading, text)) {
      std::fprintf(stderr, "fvx fv-pack: %s: %s\n", file.c_str(), builder.error().c_str());
      return kExitFailed;
    }
  }
  std::optional<std::string> book = builder.Finish();
  if (!book) {
    std::fprintf(stderr, "fvx fv-pack: %s\n", builder.error().c_str());
    return kExitFailed;
  }
  platform::File out = platform::File::Open(output, platform::File::Mode::kCreateTruncate);
  if (!out.IsOpen() || !out.Write(book->data(), book->size())) {
    std::fprintf(stderr, "fvx fv-pack: cannot write %s: %s\n", output.c_str(),
                 std::strerror(out.LastError() ? out.LastError() : EIO));
    if (out.IsOpen()) {
      out.Close();
      std::remove(output.c_str());
    }
    return kExitFailed;
  }
  std::printf("%s: %zu records%s, %zu bytes\n", output.c_str(), builder.subject_count(),
              compress ? " (compressed)" : "", book->size());
  return kExitOk;
}

}  // namespace

// Registered by hand: the command's name has a "-", which FVX_COMMAND's
// identifier cannot.
const CommandRegistrar fvx_command_fv_pack(
    {"fv-pack", "fv-pack FOLDER -o BOOK.fv [--compress]",
     "make an older-generation book (.fv) from a folder with one file per record", RunFvPack});

}  // namespace fvx::tool
