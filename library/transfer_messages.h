// The reader's messages about handheld transfers (HTML fragments for the
// rich-text message box), shared by the transfer windows and fvx send.
#pragma once

#include <string>
#include <string_view>

namespace fvx::library {

enum TransferMessageId : int {
  kMsgTransferToPalmCaption = 61222,
  kMsgPalmScheduled = 61223,
  kMsgPalmFailed = 61224,
  kMsgTransferToPpcCaption = 61225,
  kMsgCardDetailsFailed = 61226,
  kMsgPpcFailed = 61227,
  kMsgPpcDone = 61228,
};

// The stored text of a message id; empty for an id that is not one of these.
std::string_view TransferMessageText(int id);

// A message as terminal text: headings and breaks become lines, rules and
// other tags vanish, the quotes some stored texts carry are dropped.
std::string MessagePlainText(std::string_view html);

}  // namespace fvx::library
