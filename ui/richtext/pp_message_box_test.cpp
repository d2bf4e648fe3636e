#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "platform/registry.h"
#include "ui/richtext/pp_message_box.h"

namespace fvx::ui {

class PPMessageBoxTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::unique_ptr<platform::Registry> registry_;
  int shown_ = 0;
  int beeps_ = 0;

  MessageBoxParams Remembering(const char* prefix) {
    MessageBoxParams p;
    p.text = QStringLiteral("<h3>Question</h3>Go on?");
    p.style = kMbYesNo | kMbIconQuestion | kMbRemember;
    p.value_prefix = prefix;
    p.value_number = 7;
    p.company = "Calderwick Ltd.";
    p.registry = registry_.get();
    return p;
  }

  static QPushButton* ButtonWithId(QMessageBox* box, int id) {
    return box->findChild<QPushButton*>(QStringLiteral("button_%1").arg(id));
  }

 private slots:
  void init() {
    registry_ = std::make_unique<platform::Registry>(dir_.filePath("registry.db").toStdString());
    shown_ = 0;
    beeps_ = 0;
    SetBeepHook([this](uint32_t) { ++beeps_; });
  }
  void cleanup() {
    SetMessageBoxHook(nullptr);
    SetBeepHook(nullptr);
    SetStringTable(nullptr);
    registry_.reset();
    QFile::remove(dir_.filePath("registry.db"));
  }

  void rememberedAnswerIsReturnedWithoutShowingOrSound() {
    SetMessageBoxHook([this](QMessageBox* box) {
      ++shown_;
      box->checkBox()->setChecked(true);
      return int(kIdYes);
    });
    QCOMPARE(PPMessageBox(Remembering("Ask")), int(kIdYes));
    QCOMPARE(shown_, 1);
    QCOMPARE(beeps_, 1);
    const auto stored = registry_->QueryDword(
        platform::RegistryRoot::kCurrentUser, RememberedAnswerKey("Calderwick Ltd.").toStdString(),
        "Ask7");
    QVERIFY(stored.has_value());
    QCOMPARE(*stored, 6u);

    QCOMPARE(PPMessageBox(Remembering("Ask")), int(kIdYes));
    QCOMPARE(shown_, 1);
    QCOMPARE(beeps_, 1);
  }

  void answerIsNotRememberedWithoutTickOrPrefix() {
    SetMessageBoxHook([this](QMessageBox* box) {
      ++shown_;
      if (box->checkBox()) box->checkBox()->setChecked(false);
      return int(kIdNo);
    });
    QCOMPARE(PPMessageBox(Remembering("Ask")), int(kIdNo));
    QCOMPARE(PPMessageBox(Remembering("Ask")), int(kIdNo));
    QCOMPARE(shown_, 2);

    MessageBoxParams no_prefix = Remembering("");
    bool had_check_box = true;
    SetMessageBoxHook([&](QMessageBox* box) {
      had_check_box = box->checkBox() != nullptr;
      return int(kIdYes);
    });
    QCOMPARE(PPMessageBox(no_prefix), int(kIdYes));
    QVERIFY(!had_check_box);  // nothing to remember the answer under
  }

  void addedBitIsStoredWithTheAnswer() {
    SetMessageBoxHook([](QMessageBox* box) {
      box->checkBox()->setChecked(true);
      return int(kIdNo);
    });
    MessageBoxParams p = Remembering("Plus");
    p.style |= kMbAddToRemembered;
    QCOMPARE(PPMessageBox(p), int(kIdNo));
    SetMessageBoxHook([this](QMessageBox*) { ++shown_; return 0; });
    QCOMPARE(PPMessageBox(p), int(kIdNo) + int(kMbAddToRemembered));
    QCOMPARE(shown_, 0);
  }

  void noSoundBitSilencesTheBeep() {
    SetMessageBoxHook([](QMessageBox*) { return int(kIdOk); });
    MessageBoxParams p;
    p.text = "x";
    p.style = kMbIconError | kMbNoSound;
    p.registry = registry_.get();
    PPMessageBox(p);
    QCOMPARE(beeps_, 0);
    p.style = kMbIconError;
    PPMessageBox(p);
    QCOMPARE(beeps_, 1);
  }

  void captionComesFromOwnerThenError() {
    QWidget owner;
    owner.setWindowTitle("atlas - Folivox3");
    QString seen;
    SetMessageBoxHook([&](QMessageBox* box) {
      seen = box->windowTitle();
      return int(kIdOk);
    });
    MessageBoxParams p;
    p.owner = &owner;
    p.registry = registry_.get();
    PPMessageBox(p);
    QCOMPARE(seen, QStringLiteral("atlas - Folivox3"));
    owner.setWindowTitle(QString());
    PPMessageBox(p);
    QCOMPARE(seen, QStringLiteral("Error"));
    p.caption = "Mine";
    PPMessageBox(p);
    QCOMPARE(seen, QStringLiteral("Mine"));
  }

  void buttonsFollowTheStyle() {
    // 49: exclamation, OK and Cancel; the second default button bit picks Cancel.
    SetMessageBoxHook([](QMessageBox* box) {
      QPushButton* ok = ButtonWithId(box, kIdOk);
      QPushButton* cancel = ButtonWithId(box, kIdCancel);
      if (!ok || !cancel || ok->text() != "OK" || cancel->text() != "Cancel") return -1;
      if (box->defaultButton() != cancel || box->escapeButton() != cancel) return -2;
      if (box->icon() != QMessageBox::Warning) return -3;
      return int(kIdCancel);
    });
    MessageBoxParams p;
    p.style = 49 | 0x100;
    p.registry = registry_.get();
    QCOMPARE(PPMessageBox(p), int(kIdCancel));

    SetMessageBoxHook([](QMessageBox* box) {
      return ButtonWithId(box, kIdCancel) && ButtonWithId(box, kIdTryAgain) &&
                     ButtonWithId(box, kIdContinue)->text() == "Continue"
                 ? 1 : 0;
    });
    p.style = kMbCancelTryContinue;
    QCOMPARE(PPMessageBox(p), 1);
  }

  void stringTableIsUsedUnlessEnglishCaptionsAreAsked() {
    SetStringTable([](int id) { return id == 9007 ? QStringLiteral("Ja") : QString(); });
    QString yes, no;
    SetMessageBoxHook([&](QMessageBox* box) {
      yes = ButtonWithId(box, kIdYes)->text();
      no = ButtonWithId(box, kIdNo)->text();
      return int(kIdYes);
    });
    MessageBoxParams p;
    p.style = kMbYesNo;
    p.registry = registry_.get();
    PPMessageBox(p);
    QCOMPARE(yes, QStringLiteral("Ja"));
    QCOMPARE(no, QStringLiteral("No"));
    p.style |= kMbEnglishCaptions;
    PPMessageBox(p);
    QCOMPARE(yes, QStringLiteral("Yes"));
  }

  void captionTableMatchesTheStringIds() {
    QCOMPARE(BuiltInCaption(kIdMore), QStringLiteral("More >>"));
    QCOMPARE(CaptionStringId(kIdMore), 9010);
    QCOMPARE(BuiltInCaption(kCheckBoxCaptionId), QStringLiteral("Do not show again"));
    QCOMPARE(CaptionStringId(kCountDownCaptionId), 9020);
    QCOMPARE(BuiltInCaption(8), QString());
  }

  void countdownPressesTheDefaultButton() {
    MessageBoxParams p;
    p.style = kMbYesNo | 0x100 | kMbNoSound;
    p.countdown_seconds = 1;
    p.registry = registry_.get();
    QString during;
    QTimer::singleShot(100, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        during = box->defaultButton()->text();
      }
    });
    QCOMPARE(PPMessageBox(p), int(kIdNo));
    QCOMPARE(during, QStringLiteral("No (1 seconds remaining)"));
  }
};

}  // namespace fvx::ui

QTEST_MAIN(fvx::ui::PPMessageBoxTest)
#include "pp_message_box_test.moc"
