#pragma once
// The entries of a pop-up menu seen as a list of strings: entry i is the caption of the menu's
// i-th item, its object slot the item's integer tag. Every new item gets the list's click
// handler. Captions are shown as they are ("&" is no access-key marker here). As a line list
// it binds to a string-list configuration element.
#include <QMenu>
#include <QString>
#include <functional>

#include "config/CfgBindings.h"

namespace trawlex {

class TMenuStrings : public ICfgStrings {
 public:
  TMenuStrings(QMenu* menu, std::function<void(QAction*)> onClick);

  int Count() const;
  QString Get(int index) const;
  // Raises "List index out of bounds (%d)" outside 0..Count.
  void Insert(int index, const QString& caption);
  void Add(const QString& caption) { Insert(Count(), caption); }
  void Delete(int index);
  void Clear();
  // The first entry equal to `caption` without regard to letter case, or -1.
  int IndexOf(const QString& caption) const;
  void Move(int from, int to);
  int GetObject(int index) const;
  void PutObject(int index, int tag);
  QAction* Item(int index) const;
  // The entry of a menu item, or -1.
  int IndexOfItem(const QAction* item) const;

  TStrings GetLines() const override;
  void SetLines(const TStrings& lines) override;

  // The caption an item shows for `text` and back.
  static QString MenuCaption(const QString& text);
  static QString CaptionText(const QAction* item);

 private:
  void CheckIndex(int index, int limit) const;
  QMenu* FMenu;
  std::function<void(QAction*)> FOnClick;
};

}  // namespace trawlex
