// Messages for scratch files that failed: a full or read-only temporary
// folder, or the process's file-size limit, named as such rather than as a
// failure of whatever stage happened to be writing.
#pragma once

#include "compiler/base/compile_context.h"
#include "platform/file.h"

namespace fvx::compiler {

// Whether a file error is about the place (space, quota, a read-only file
// system, the size limit) rather than about the data being written.
bool IsStorageError(int error);

// A scratch file that could not be made (CreateScratchFile's result).
void ReportScratchCreationFailure(CompileContext& context, const platform::File& refused);

// A scratch file whose read or write failed. True when the error was one of
// the place (IsStorageError) and a message was given.
bool ReportScratchWriteFailure(CompileContext& context, const platform::File& scratch);

}  // namespace fvx::compiler
