#include "compiler/base/scratch_report.h"

#include <cerrno>
#include <string>

#include "platform/scratch_file.h"

namespace fvx::compiler {
namespace {

std::string CandidateList() {
  std::string list;
  for (const std::string& folder : platform::TemporaryFolderCandidates()) {
    if (!list.empty()) list += ", ";
    list += folder;
  }
  return list;
}

}  // namespace

bool IsStorageError(int error) {
  return error == ENOSPC || error == EDQUOT || error == EROFS || error == EFBIG;
}

void ReportScratchCreationFailure(CompileContext& context, const platform::File& refused) {
  const std::string folder = platform::TemporaryFolderWithMostSpace();
  if (folder.empty()) {
    context.Report(false, Level::kFatal, MessageId::kNoTemporaryFolder, "%s", {CandidateList()});
    return;
  }
  const int error = refused.LastError() != 0 ? refused.LastError() : EIO;
  context.Report(false, Level::kFatal, MessageId::kScratchFileFailed, "%s:%s",
                 {folder, platform::ErrorText(error)});
}

bool ReportScratchWriteFailure(CompileContext& context, const platform::File& scratch) {
  const int error = scratch.LastError();
  if (!IsStorageError(error)) return false;
  if (error == EFBIG) {
    context.Report(false, Level::kFatal, MessageId::kFileSizeLimit);
    return true;
  }
  std::string folder = platform::ScratchFileFolder(scratch);
  if (folder.empty()) folder = platform::TemporaryFolderWithMostSpace();
  context.Report(false, Level::kFatal, MessageId::kScratchFileFailed, "%s:%s",
                 {folder, platform::ErrorText(error)});
  return true;
}

}  // namespace fvx::compiler
