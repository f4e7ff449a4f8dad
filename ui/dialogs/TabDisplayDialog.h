#pragma once
// "Tab display options": one small window for the whole application in which the user decides
// whether tab characters in result lines show as spaces, and how many; the lists of the window
// that opened it last redraw at once (OnSettingsChanged). The values are application-wide
// settings ("Expand tabs", "Spaces Per Tab").
#include <functional>

#include "ui/FormBase.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace trawlex {

class TfmTabDisplay : public TfmNMDialog {
  Q_OBJECT
 public:
  explicit TfmTabDisplay(QWidget* owner = nullptr);

  std::function<void(TfmTabDisplay&)> OnSettingsChanged;

  QCheckBox* chkExpandTabs = nullptr;
  QLabel* lblSpaces = nullptr;
  QSpinBox* spnSpacesPerTab = nullptr;
  QPushButton* btnClose = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void chkExpandTabsClick();
  void spnSpacesPerTabChange();
  void SettingsChanged();
};

// The application's one tab display window, or null while none is open.
extern TfmTabDisplay* TabDisplayDialog;

}  // namespace trawlex
