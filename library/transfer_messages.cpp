#include "library/transfer_messages.h"

#include <cctype>
#include <vector>

namespace fvx::library {
namespace {

struct Message {
  int id;
  std::string_view text;
};

// 61223 and 61224 are stored with their surrounding double quotes.
constexpr Message kMessages[] = {
    {kMsgTransferToPalmCaption, "Transfer to Palm"},
    {kMsgPalmScheduled,
     "\"<h3>File is scheduled to install</h3><br><hr><br>Next time you perform a HotSync "
     "operation,<br>this file will be installed on your handheld.\""},
    {kMsgPalmFailed,
     "\"<h3>Installation failed!</h3><br><hr><br>There was a problem in installing the "
     "file.<br>Please refer to the user manual.\""},
    {kMsgTransferToPpcCaption, "Transfer to PPC"},
    {kMsgCardDetailsFailed,
     "<h3>Failed to retrieve storage card details.</h3><br><hr><br> Please make sure your Pocket "
     "PC is properly connected to PC<br>and the storage card is in the card slot."},
    {kMsgPpcFailed,
     "<h3>Failed to transfer the file.</h3><br><hr><br>\nYou must properly connect your Pocket PC "
     "with the PC <br>and the ActiveSync connection must be working.<br>If the file that you "
     "trying to copy is already there in the Pocket PC,<br>check whether it has been opened by "
     "the Folivox3 Pocket PC.<br>If so, close the Folivox3 Pocket PC version and try to transfer "
     "the file again.\n"},
    {kMsgPpcDone,
     "<h3>Your file is successfully transferred to Pocket PC.</h3><br><hr><br>\nPlease open "
     "Folivox3 Pocket PC version<br>in order to view the file.\n"},
};

std::string LowerTag(std::string_view tag) {
  std::string lower;
  for (char c : tag) {
    if (c == ' ' || c == '/' || c == '>') {
      if (!lower.empty()) break;
      continue;
    }
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower;
}

}  // namespace

std::string_view TransferMessageText(int id) {
  for (const Message& message : kMessages) {
    if (message.id == id) return message.text;
  }
  return {};
}

std::string MessagePlainText(std::string_view html) {
  if (html.size() >= 2 && html.front() == '"' && html.back() == '"') {
    html = html.substr(1, html.size() - 2);
  }
  // Lines as HTML lays them out: line feeds are spaces, <br> and headings
  // end a line.
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < html.size(); ++i) {
    char c = html[i];
    if (c == '<') {
      size_t end = html.find('>', i);
      if (end == std::string_view::npos) break;
      std::string tag = LowerTag(html.substr(i + 1, end - i - 1));
      if (tag == "br" || tag == "h3") lines.emplace_back();
      i = end;
    } else {
      lines.back() += (c == '\n' || c == '\r') ? ' ' : c;
    }
  }
  std::string text;
  bool blank = false;
  for (std::string& line : lines) {
    size_t first = line.find_first_not_of(' ');
    size_t last = line.find_last_not_of(' ');
    std::string trimmed = first == std::string::npos ? "" : line.substr(first, last - first + 1);
    if (trimmed.empty()) {
      blank = !text.empty();
      continue;
    }
    if (blank) text += '\n';
    blank = false;
    text += trimmed + '\n';
  }
  return text;
}

}  // namespace fvx::library
