#include "ui/richtext/pp_message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <map>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace fvx::ui {
namespace {

struct CaptionEntry {
  int id;
  const char* caption;
  int string_id;
};

// One line per button, as the captions are documented.
constexpr CaptionEntry kCaptions[] = {
    {kIdOk, "OK", 9001},
    {kIdCancel, "Cancel", 9002},
    {kIdAbort, "Abort", 9005},
    {kIdRetry, "Retry", 9004},
    {kIdIgnore, "Ignore", 9003},
    {kIdYes, "Yes", 9007},
    {kIdNo, "No", 9008},
    {kIdHelp, "Help", 9006},
    {kIdTryAgain, "Try again", 9015},
    {kIdContinue, "Continue", 9009},
    {kIdSkip, "Skip", 9018},
    {kIdSkipAll, "Skip all", 9019},
    {kIdIgnoreAll, "Ignore all", 9017},
    {kIdYesToAll, "Yes to all", 9013},
    {kIdNoToAll, "No to all", 9014},
    {kIdReport, "Report", 9016},
    {kIdLess, "<< More", 9011},
    {kIdMore, "More >>", 9010},
    {kCheckBoxCaptionId, "Do not show again", 9012},
    {kCountDownCaptionId, "%s (%d seconds remaining)", 9020},
};

const CaptionEntry* FindCaption(int id) {
  for (const CaptionEntry& entry : kCaptions) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

StringTable& TheStringTable() {
  static StringTable table;
  return table;
}
MessageBoxHook& TheHook() {
  static MessageBoxHook hook;
  return hook;
}
std::function<void(uint32_t)>& TheBeepHook() {
  static std::function<void(uint32_t)> hook;
  return hook;
}

QString Caption(int id, uint32_t style) {
  if (!(style & kMbEnglishCaptions) && TheStringTable()) {
    if (const CaptionEntry* entry = FindCaption(id)) {
      QString text = TheStringTable()(entry->string_id);
      if (!text.isEmpty()) return text;
    }
  }
  return BuiltInCaption(id);
}

// The buttons of each MB_ type, in the order they appear.
std::vector<int> ButtonsOf(uint32_t style) {
  std::vector<int> ids;
  switch (style & kMbTypeMask) {
    case kMbOkCancel: ids = {kIdOk, kIdCancel}; break;
    case kMbAbortRetryIgnore: ids = {kIdAbort, kIdRetry, kIdIgnore}; break;
    case kMbYesNoCancel: ids = {kIdYes, kIdNo, kIdCancel}; break;
    case kMbYesNo: ids = {kIdYes, kIdNo}; break;
    case kMbRetryCancel: ids = {kIdRetry, kIdCancel}; break;
    case kMbCancelTryContinue: ids = {kIdCancel, kIdTryAgain, kIdContinue}; break;
    default: ids = {kIdOk}; break;
  }
  if (style & kMbHelp) ids.push_back(kIdHelp);
  return ids;
}

QMessageBox::ButtonRole RoleOf(int id) {
  switch (id) {
    case kIdCancel: case kIdNo: case kIdAbort: return QMessageBox::RejectRole;
    case kIdHelp: return QMessageBox::HelpRole;
    default: return QMessageBox::AcceptRole;
  }
}

QMessageBox::Icon IconOf(uint32_t style) {
  switch (style & kMbIconMask) {
    case kMbIconError: return QMessageBox::Critical;
    case kMbIconQuestion: return QMessageBox::Question;
    case kMbIconExclamation: return QMessageBox::Warning;
    case kMbIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

QWidget* OwnerOf(QWidget* given) {
  if (given) return given;
  QWidget* owner = QApplication::activeModalWidget();
  if (!owner) owner = QApplication::activeWindow();
  return owner;
}

QString ProgramFileName() {
  QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
  return name.isEmpty() ? QStringLiteral("Folivox3") : name;
}

platform::Registry& RegistryOf(const MessageBoxParams& params) {
  return params.registry ? *params.registry : platform::Registry::Default();
}

bool RemembersAnswer(const MessageBoxParams& params) {
  return (params.style & kMbRemember) && !params.value_prefix.empty();
}

}  // namespace

QString BuiltInCaption(int button_id) {
  const CaptionEntry* entry = FindCaption(button_id);
  return entry ? QString::fromLatin1(entry->caption) : QString();
}

int CaptionStringId(int button_id) {
  const CaptionEntry* entry = FindCaption(button_id);
  return entry ? entry->string_id : 0;
}

void SetStringTable(StringTable table) { TheStringTable() = std::move(table); }
void SetMessageBoxHook(MessageBoxHook hook) { TheHook() = std::move(hook); }
void SetBeepHook(std::function<void(uint32_t)> hook) { TheBeepHook() = std::move(hook); }

QString RememberedAnswerKey(const std::string& company) {
  if (company.empty()) return QStringLiteral("Software\\%1\\PPMessageBox").arg(ProgramFileName());
  return QStringLiteral("Software\\%1\\%2\\PPMessageBox")
      .arg(QString::fromStdString(company), ProgramFileName());
}

QString RememberedAnswerValueName(const MessageBoxParams& params) {
  return QStringLiteral("%1%2")
      .arg(QString::fromStdString(params.value_prefix))
      .arg(params.value_number);
}

int PPMessageBox(const MessageBoxParams& params) {
  if (RemembersAnswer(params)) {
    const std::optional<uint32_t> remembered =
        RegistryOf(params).QueryDword(platform::RegistryRoot::kCurrentUser,
                                      RememberedAnswerKey(params.company).toStdString(),
                                      RememberedAnswerValueName(params).toStdString());
    if (remembered && *remembered != 0) return static_cast<int>(*remembered);
  }

  QWidget* owner = OwnerOf(params.owner);
  QString caption = params.caption;
  if (caption.isEmpty() && owner) caption = owner->window()->windowTitle().left(260);
  if (caption.isEmpty()) caption = QStringLiteral("Error");

  QMessageBox box(owner);
  box.setWindowTitle(caption);
  box.setTextFormat(Qt::RichText);
  box.setIcon(IconOf(params.style));
  box.setText((params.style & kMbRight) ? QStringLiteral("<div align=\"right\">%1</div>").arg(params.text)
                                        : params.text);
  if (!params.second_text.isEmpty()) box.setDetailedText(params.second_text);

  std::map<QAbstractButton*, int> ids;
  std::vector<QPushButton*> buttons;
  for (int id : ButtonsOf(params.style)) {
    QPushButton* button = box.addButton(Caption(id, params.style), RoleOf(id));
    button->setObjectName(QStringLiteral("button_%1").arg(id));
    ids[button] = id;
    buttons.push_back(button);
    if (id == kIdCancel) box.setEscapeButton(button);
  }
  if (buttons.size() == 1) box.setEscapeButton(buttons.front());
  const size_t default_index = (params.style & kMbDefaultButtonMask) >> 8;
  QPushButton* default_button = buttons[default_index < buttons.size() ? default_index : 0];
  box.setDefaultButton(default_button);

  if (RemembersAnswer(params)) {
    auto* check = new QCheckBox(Caption(kCheckBoxCaptionId, params.style), &box);
    check->setObjectName(QStringLiteral("do_not_show_again"));
    box.setCheckBox(check);
  }

  QTimer countdown;
  if (params.countdown_seconds > 0) {
    const QString base = default_button->text();
    const QString format = Caption(kCountDownCaptionId, params.style);
    auto left = std::make_shared<int>(params.countdown_seconds);
    auto show_left = [=] {
      QString text = format;
      text.replace(QLatin1String("%s"), base).replace(QLatin1String("%d"), QString::number(*left));
      default_button->setText(text);
    };
    show_left();
    QObject::connect(&countdown, &QTimer::timeout, &box, [=, &countdown] {
      if (--*left <= 0) {
        countdown.stop();
        default_button->click();
        return;
      }
      show_left();
    });
    countdown.start(1000);
  }

  if (!(params.style & kMbNoSound)) {
    if (TheBeepHook()) {
      TheBeepHook()(params.style & kMbIconMask);
    } else {
      QApplication::beep();
    }
  }

  int result = 0;
  if (TheHook()) {
    result = TheHook()(&box);
  } else {
    box.exec();
    auto found = ids.find(box.clickedButton());
    result = found != ids.end() ? found->second : (box.escapeButton() ? ids[box.escapeButton()] : kIdCancel);
  }

  if (RemembersAnswer(params) && box.checkBox() && box.checkBox()->isChecked()) {
    uint32_t value = static_cast<uint32_t>(result);
    if (params.style & kMbAddToRemembered) value += kMbAddToRemembered;
    RegistryOf(params).WriteDword(platform::RegistryRoot::kCurrentUser,
                                  RememberedAnswerKey(params.company).toStdString(),
                                  RememberedAnswerValueName(params).toStdString(), value);
  }
  return result;
}

int AppMessageBox(QWidget* owner, const QString& text, uint32_t style, const QString& second_text) {
  MessageBoxParams params;
  params.owner = owner;
  params.caption = QStringLiteral("Folivox3");
  params.text = text;
  params.style = style | kMbEnglishCaptions;
  params.second_text = second_text;
  params.company = QCoreApplication::organizationName().toStdString();
  return PPMessageBox(params);
}

}  // namespace fvx::ui
