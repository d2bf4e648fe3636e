// The reader's string table: user messages by their ids, shown through the
// rich-text message box.
#pragma once

#include <QString>
#include <cstdint>

class QWidget;

namespace fvx::reader::app {

enum MessageId : int {
  kMsgSearchInProgressCaption = 61204,
  kMsgSearchInProgress = 61205,
  kMsgNoSubjectsFound = 61206,
  kMsgSearchCompleted = 61207,
  kMsgAddBookmark = 61210,
  kMsgEditBookmarks = 61211,
  kMsgDeleteBookmark = 61212,
  kMsgRenameBookmark = 61213,
  kMsgConversionRequired = 61229,
};

// The text of a string id; empty for an unknown id.
QString ReaderString(int id);

// The reader's shorthand: the text of text_id, with the text of caption_id
// as the caption when given (else "Folivox3"), and the optional second text.
int ReaderMessageBox(QWidget* owner, int text_id, uint32_t style, int caption_id = 0,
                     int second_id = 0);

}  // namespace fvx::reader::app
