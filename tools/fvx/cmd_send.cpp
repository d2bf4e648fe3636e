// fvx send BOOK --device FOLDER [--card]
// fvx send BOOK --palm USERS-FOLDER --user NAME [--card]
// The reader's transfers to a handheld without a window: the Pocket PC is a
// folder (its mount point), the Palm install queue a folder of HotSync
// users. Progress goes to a terminal, the reader's closing message to
// stdout (success) or stderr (failure).
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "library/folder_device_link.h"
#include "library/folder_install_aide.h"
#include "library/install_on_palm.h"
#include "library/pocket_pc_link.h"
#include "library/transfer_messages.h"
#include "tools/fvx/command.h"

namespace fvx::tool {
namespace {

constexpr char kUsage[] =
    "usage: fvx send BOOK --device FOLDER [--card]\n"
    "       fvx send BOOK --palm USERS-FOLDER --user NAME [--card]\n";

struct SendOptions {
  std::string book;
  std::string device;
  std::string palm;
  std::string user;
  bool user_given = false;
  bool card = false;
};

bool Parse(const std::vector<std::string>& args, SendOptions* options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "--device" && has_value) {
      options->device = args[++i];
    } else if (arg == "--palm" && has_value) {
      options->palm = args[++i];
    } else if (arg == "--user" && has_value) {
      options->user = args[++i];
      options->user_given = true;
    } else if (arg == "--card") {
      options->card = true;
    } else if (!arg.empty() && arg[0] != '-' && options->book.empty()) {
      options->book = arg;
    } else {
      return false;
    }
  }
  if (options->book.empty() || options->device.empty() == options->palm.empty()) return false;
  return options->palm.empty() ? !options->user_given : options->user_given;
}

int Finish(bool ok, int success_id, int failure_id) {
  std::string text =
      library::MessagePlainText(library::TransferMessageText(ok ? success_id : failure_id));
  std::fputs(text.c_str(), ok ? stdout : stderr);
  return ok ? kExitOk : kExitFailed;
}

int SendToPocketPc(const SendOptions& options) {
  const bool terminal = ::isatty(2) != 0;
  auto status = [terminal](const char* text) {
    if (terminal) std::fprintf(stderr, "\r\033[2K%s", text);
  };
  library::FolderDeviceLink device(options.device);
  library::PocketPcLink link(device);
  std::string card;
  if (options.card) {
    status("Requesting storage card info...");
    std::vector<std::string> cards;
    if (!link.ListStorageCards(&cards) || cards.empty()) {
      status("");
      std::fputs(
          library::MessagePlainText(library::TransferMessageText(library::kMsgCardDetailsFailed))
              .c_str(),
          stderr);
    } else {
      card = cards.front();
    }
  }
  status("Connecting with PPC...");
  link.SetProgressListener([terminal](int percentage) {
    if (terminal) std::fprintf(stderr, "\r\033[2KTransferring %d%%...", percentage);
  });
  bool ok = link.CopyFile(options.book, card, true, nullptr);
  status("");
  return Finish(ok, library::kMsgPpcDone, library::kMsgPpcFailed);
}

int SendToPalm(const SendOptions& options) {
  library::FolderInstallAide aide(options.palm);
  bool ok = library::InstallOnPalm(aide, options.book, options.user, options.card);
  return Finish(ok, library::kMsgPalmScheduled, library::kMsgPalmFailed);
}

int RunSend(const std::vector<std::string>& args) {
  SendOptions options;
  if (!Parse(args, &options)) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  return options.palm.empty() ? SendToPocketPc(options) : SendToPalm(options);
}

}  // namespace

FVX_COMMAND(send, "send BOOK (--device FOLDER | --palm USERS-FOLDER --user NAME) [--card]",
            "copy a book to a Pocket PC folder or queue it for a Palm user's next HotSync",
            RunSend);

}  // namespace fvx::tool
