// PPMessageBox: the message box through which both windowed programs show
// every message. The body is a rich-text (HTML subset) fragment; the box may
// carry a "Do not show again" check box whose answer is remembered in the
// registry, and a count-down that presses the default button.
//
// Usage:
//   fvx::ui::MessageBoxParams p;
//   p.owner = this;
//   p.text = "<h3>Search completed.</h3><br><hr><br>No subjects were found.";
//   p.style = fvx::ui::kMbIconInformation;  // 64: information icon, OK
//   int button = fvx::ui::PPMessageBox(p);  // 1 OK, 2 Cancel, 6 Yes, 7 No ...
// or the shorthand both programs use:
//   fvx::ui::AppMessageBox(this, text, 52);  // exclamation, Yes/No
//
// Remembered answers (style bit kMbRemember and a value prefix): the value
// "<prefix><number>" under HKEY_CURRENT_USER
// "Software\<company>\<program file name>\PPMessageBox" (without a company:
// "Software\<program file name>\PPMessageBox"). A non-zero value there is
// returned at once and no box is shown.
//
// Tests set a hook (SetMessageBoxHook) that answers in place of the user.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>

class QMessageBox;
class QWidget;

namespace fvx::platform {
class Registry;
}

namespace fvx::ui {

// The usual button, icon and default-button flags.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbOkCancel = 0x1;
inline constexpr uint32_t kMbAbortRetryIgnore = 0x2;
inline constexpr uint32_t kMbYesNoCancel = 0x3;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbRetryCancel = 0x5;
inline constexpr uint32_t kMbCancelTryContinue = 0x6;
inline constexpr uint32_t kMbTypeMask = 0xF;
inline constexpr uint32_t kMbIconError = 0x10;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconExclamation = 0x30;
inline constexpr uint32_t kMbIconInformation = 0x40;
inline constexpr uint32_t kMbIconMask = 0xF0;
inline constexpr uint32_t kMbDefaultButtonMask = 0xF00;  // 0x000, 0x100, 0x200, 0x300
inline constexpr uint32_t kMbHelp = 0x4000;
inline constexpr uint32_t kMbRight = 0x80000;
// Extension bits.
inline constexpr uint32_t kMbRemember = 0x01000000;
inline constexpr uint32_t kMbAddToRemembered = 0x02000000;
inline constexpr uint32_t kMbEnglishCaptions = 0x20000000;
inline constexpr uint32_t kMbNoSound = 0x40000000;

// Button identifiers (what the box returns).
enum ButtonId : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdAbort = 3,
  kIdRetry = 4,
  kIdIgnore = 5,
  kIdYes = 6,
  kIdNo = 7,
  kIdHelp = 9,
  kIdTryAgain = 10,
  kIdContinue = 11,
  kIdSkip = 14,
  kIdSkipAll = 15,
  kIdIgnoreAll = 16,
  kIdYesToAll = 19,
  kIdNoToAll = 20,
  kIdReport = 21,
  kIdLess = 30,
  kIdMore = 31,
};
inline constexpr int kCheckBoxCaptionId = -1;
inline constexpr int kCountDownCaptionId = -2;

// The built-in English caption of a button id (or of kCheckBoxCaptionId,
// kCountDownCaptionId); empty for an unknown id.
QString BuiltInCaption(int button_id);
// The string-table id of a caption, 0 for an unknown id.
int CaptionStringId(int button_id);

// A program's string table, consulted for captions unless kMbEnglishCaptions
// is set; an empty answer falls back to the English caption.
using StringTable = std::function<QString(int string_id)>;
void SetStringTable(StringTable table);

struct MessageBoxParams {
  QWidget* owner = nullptr;  // none: the active window
  QString caption;           // empty: the owner's title, else "Error"
  std::string value_prefix;  // remembered answers; empty: none
  std::string company;
  int value_number = 0;
  QString text;         // HTML subset
  uint32_t style = 0;   // kMb* flags
  QString second_text;  // optional further text, behind "More >>"
  int countdown_seconds = 0;  // above 0: the default button is pressed then
  platform::Registry* registry = nullptr;  // null: the process-wide registry
};

// Shows the box (unless an answer is remembered); returns the button id.
int PPMessageBox(const MessageBoxParams& params);

// The shorthand of both programs: caption "Folivox3", built-in English
// captions, no remembered answer.
int AppMessageBox(QWidget* owner, const QString& text, uint32_t style,
                  const QString& second_text = {});

// The remembered answer's key and value name for these parameters.
QString RememberedAnswerKey(const std::string& company);
QString RememberedAnswerValueName(const MessageBoxParams& params);

// Test hook: called with the built box instead of running it; returns the id
// of the button "pressed" (it may tick the check box first). nullptr: none.
using MessageBoxHook = std::function<int(QMessageBox* box)>;
void SetMessageBoxHook(MessageBoxHook hook);
// Called in place of the beep (tests count it); nullptr: QApplication::beep.
void SetBeepHook(std::function<void(uint32_t icon_bits)> hook);

}  // namespace fvx::ui
