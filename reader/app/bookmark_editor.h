// The bookmark editor: lists the open book's bookmarks; deletes and renames
// them after asking.
#pragma once

#include <QByteArray>
#include <QDialog>

class QListWidget;

namespace fvx::reader {
class Document;
}

namespace fvx::reader::app {

class BookmarkEditor : public QDialog {
  Q_OBJECT

 public:
  BookmarkEditor(Document* document, const QByteArray& charset, QWidget* parent = nullptr);

  // Acting on the list (the buttons call these; tests too).
  bool DeleteSelected();
  bool RenameCurrent(const QString& name);

 private:
  void Fill();

  Document* document_;
  QByteArray charset_;
  QListWidget* list_ = nullptr;
};

}  // namespace fvx::reader::app
