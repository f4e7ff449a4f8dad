// What a screen reader learns of a result list: a list whose entries are list items named by
// their text (a file's path, or a line's number and the line) and described by what the list's
// window tells (for a line, its file and the finds marked for replacing), with the selected one
// marked.
// Entries get their interface when a tool asks for them, so a list of a million entries costs
// nothing until then.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QScrollBar>
#include <map>

#include "ui/lists/ResultList.h"

namespace trawlex {

namespace {

class TResultItemAccessible : public QAccessibleInterface {
 public:
  TResultItemAccessible(TResultList* list, int row) : FList(list), FRow(row) {}
  bool isValid() const override { return FList && FRow < FList->Count(); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return FList ? FList->window()->windowHandle() : nullptr; }
  QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(FList.data()); }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QString text(QAccessible::Text t) const override {
    if (!isValid()) return QString();
    if (t == QAccessible::Name) return FList->ItemText(FRow);
    if (t == QAccessible::Description) return FList->ItemDescription(FRow);
    return QString();
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    if (!isValid()) return {};
    const QWidget* vp = FList->viewport();
    const QRect r(0, (FRow - FList->TopRow()) * FList->ItemHeight(), vp->width(), FList->ItemHeight());
    return QRect(vp->mapToGlobal(r.topLeft()), r.size());
  }
  QAccessible::Role role() const override { return QAccessible::ListItem; }
  QAccessible::State state() const override {
    QAccessible::State s;
    s.selectable = true;
    s.focusable = true;
    if (!isValid()) return s;
    s.selected = FRow == FList->ItemIndex();
    s.focused = s.selected && FList->hasFocus();
    const int top = FList->TopRow();
    s.invisible = FRow < top || FRow > top + FList->viewport()->height() / FList->ItemHeight();
    return s;
  }
  int Row() const { return FRow; }

 private:
  QPointer<TResultList> FList;
  int FRow;
};

class TResultListAccessible : public QAccessibleWidget {
 public:
  explicit TResultListAccessible(TResultList* list) : QAccessibleWidget(list, QAccessible::List) {}
  ~TResultListAccessible() override { Forget(); }
  int childCount() const override { return List()->Count(); }
  QAccessibleInterface* child(int index) const override {
    if (index < 0 || index >= List()->Count()) return nullptr;
    auto it = FItems.find(index);
    if (it == FItems.end()) {
      auto* item = new TResultItemAccessible(List(), index);
      it = FItems.emplace(index, QAccessible::registerAccessibleInterface(item)).first;
    }
    return QAccessible::accessibleInterface(it->second);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    const auto* item = dynamic_cast<const TResultItemAccessible*>(child);
    return item ? item->Row() : -1;
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    return child(List()->RowAt(List()->viewport()->mapFromGlobal(QPoint(x, y))));
  }
  // The entries changed as a whole (a new search, a new order): their interfaces go.
  void Forget() {
    for (const auto& [row, id] : FItems) QAccessible::deleteAccessibleInterface(id);
    FItems.clear();
  }

 private:
  TResultList* List() const { return static_cast<TResultList*>(widget()); }
  mutable std::map<int, QAccessible::Id> FItems;
};

QAccessibleInterface* ResultListFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("trawlex::TResultList") && object && object->isWidgetType())
    return new TResultListAccessible(static_cast<TResultList*>(object));
  return nullptr;
}

}  // namespace

void InstallResultListAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(&ResultListFactory);
    return true;
  }();
  (void)installed;
}

void ForgetResultListEntries(TResultList* list) {
  if (!QAccessible::isActive()) return;
  if (auto* a = dynamic_cast<TResultListAccessible*>(QAccessible::queryAccessibleInterface(list))) a->Forget();
}

}  // namespace trawlex
