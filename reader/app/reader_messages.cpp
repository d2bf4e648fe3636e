#include "reader/app/reader_messages.h"

#include "library/transfer_messages.h"
#include "ui/richtext/pp_message_box.h"

namespace fvx::reader::app {
namespace {

struct StringEntry {
  int id;
  const char* text;
};

constexpr StringEntry kStrings[] = {
    {kMsgSearchInProgressCaption, "Search operation in progress."},
    {kMsgSearchInProgress,
     "Folivox3 cant open another document while <br>search operation is in progress. Please "
     "cancel the search and try again. <br>Press the search toolbar button to cancel the search."},
    {kMsgNoSubjectsFound,
     "<h3>No subjects found.</h3><br><hr><br>No subjects were found for the given search "
     "criteria."},
    {kMsgSearchCompleted,
     "<h3>Search completed.</h3><br><hr><br>No subjects were found in the last search."},
    {kMsgAddBookmark, "Add a Bookmark"},
    {kMsgEditBookmarks, "Edit Bookmarks"},
    {kMsgDeleteBookmark, "Are you sure you want to delete the selected bookmark(s) ?"},
    {kMsgRenameBookmark, "Are you sure you want to rename this bookmark ?"},
    {kMsgConversionRequired,
     "<h3>Conversion required</h3><br><hr><br>You are trying to view  an old fvw file. <br> "
     "Please upgrade it to new FVX format before use.<br>Do you want to perform the upgrade "
     "now?"},
};

}  // namespace

QString ReaderString(int id) {
  for (const StringEntry& entry : kStrings) {
    if (entry.id == id) return QString::fromUtf8(entry.text);
  }
  const std::string_view transfer = library::TransferMessageText(id);  // the handheld windows'
  return QString::fromUtf8(transfer.data(), static_cast<qsizetype>(transfer.size()));
}

int ReaderMessageBox(QWidget* owner, int text_id, uint32_t style, int caption_id, int second_id) {
  ui::MessageBoxParams params;
  params.owner = owner;
  params.caption = caption_id ? ReaderString(caption_id) : QStringLiteral("Folivox3");
  params.text = ReaderString(text_id);
  params.style = style | ui::kMbEnglishCaptions;
  if (second_id) params.second_text = ReaderString(second_id);
  return ui::PPMessageBox(params);
}

}  // namespace fvx::reader::app
