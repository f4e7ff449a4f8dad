#include "ui/dialogs/TabDisplayDialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "config/CfgElements.h"
#include "engine/TabSettings.h"
#include "ui/Application.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

TfmTabDisplay* TabDisplayDialog = nullptr;

TfmTabDisplay::TfmTabDisplay(QWidget* owner) : TfmNMDialog(owner) {
  setObjectName(QStringLiteral("fmTabDisplay"));
  setWindowTitle(QStringLiteral("Tab display options"));
  resize(247, 158);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  chkExpandTabs = new QCheckBox(QStringLiteral("Expand Tabs in results list"), central);
  chkExpandTabs->setObjectName(QStringLiteral("chkExpandTabs"));
  chkExpandTabs->setChecked(true);
  auto* row = new QHBoxLayout;
  lblSpaces = new QLabel(QStringLiteral("Spaces per tab:"), central);
  lblSpaces->setObjectName(QStringLiteral("lblSpaces"));
  spnSpacesPerTab = new QSpinBox(central);
  spnSpacesPerTab->setObjectName(QStringLiteral("spnSpacesPerTab"));
  spnSpacesPerTab->setRange(TAppSettings::MinSpacesPerTab, TAppSettings::MaxSpacesPerTab);
  spnSpacesPerTab->setValue(1);
  lblSpaces->setBuddy(spnSpacesPerTab);
  row->addWidget(lblSpaces);
  row->addWidget(spnSpacesPerTab);
  row->addStretch(1);
  btnClose = new QPushButton(QStringLiteral("Close"), central);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnClose);
  layout->addWidget(chkExpandTabs);
  layout->addLayout(row);
  layout->addStretch(1);
  layout->addLayout(buttons);
  setCentralWidget(central);

  connect(chkExpandTabs, &QCheckBox::toggled, this, [this] { RunHandler([this] { chkExpandTabsClick(); }); });
  connect(spnSpacesPerTab, &QSpinBox::valueChanged, this, [this] { RunHandler([this] { spnSpacesPerTabChange(); }); });
  connect(btnClose, &QPushButton::clicked, this, &QWidget::close);

  // The stored values; a value that differs from the design state runs its change behaviour.
  if (TAppSettings* s = App() ? App()->Settings() : nullptr) {
    spnSpacesPerTab->setValue(std::clamp(static_cast<int>(s->SpacesPerTab->Value), 1, 100));
    chkExpandTabs->setChecked(s->ExpandTabs->Value);
  } else if (App()) {
    const TTabSettings t = App()->TabDisplay().Get();
    spnSpacesPerTab->setValue(std::clamp(static_cast<int>(t.SpacesPerTab), 1, 100));
    chkExpandTabs->setChecked(t.ExpandTabs);
  }
}

void TfmTabDisplay::chkExpandTabsClick() {
  const bool on = chkExpandTabs->isChecked();
  lblSpaces->setEnabled(on);
  spnSpacesPerTab->setEnabled(on);
  SettingsChanged();
}

void TfmTabDisplay::spnSpacesPerTabChange() { SettingsChanged(); }

void TfmTabDisplay::SettingsChanged() {
  const bool expand = chkExpandTabs->isChecked();
  const int spaces = spnSpacesPerTab->value();
  if (TAppSettings* s = App() ? App()->Settings() : nullptr) {
    s->ExpandTabs->Value = expand;
    s->SpacesPerTab->Value = spaces;
  }
  if (App()) App()->TabDisplay().Set({expand, spaces});
  if (OnSettingsChanged) OnSettingsChanged(*this);
}

void TfmTabDisplay::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  TfmNMDialog::keyPressEvent(event);
}

}  // namespace trawlex
