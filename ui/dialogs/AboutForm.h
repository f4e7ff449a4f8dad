#pragma once
// The About window: the program's icon and name in a logo frame, its version and build number,
// the build date in local time with its zone, and the maker's web site as a link that opens in
// the browser. Enter and Escape close it.
#include <QFrame>

#include "ui/FormBase.h"

class QLabel;

namespace trawlex {

// The program's icon with its name to the right of it, centred on the icon.
class TfaAppLogo : public QFrame {
  Q_OBJECT
 public:
  explicit TfaAppLogo(QWidget* parent = nullptr);
  // Shows the icon and the name; the frame takes the icon's height.
  void SetUp();

  QLabel* imgAppIcon = nullptr;
  QLabel* lblAppName = nullptr;
};

class TfmAbout : public TfmNMDialog {
  Q_OBJECT
 public:
  explicit TfmAbout(QWidget* owner = nullptr);

  bool UseTopLeftOnly() const override { return true; }

  // Shows `site` as the maker's web site (the build's address at creation); an empty one is
  // shown as missing, without a link.
  void SetSiteAddress(const QString& site);

  TfaAppLogo* faAppLogo = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* lblBuildDate = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* lblDevweb = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void lblDevwebClick();
  // The key whose press this window saw; only its release closes the window, so the release
  // of the Enter that chose "About" in the menu does not close it at once.
  int FKeyDown = 0;
};

// "2.1.0  Build 57" for a four-part version; empty when the version has fewer parts.
QString AboutVersionText(const std::vector<int32_t>& version);
// The build time (seconds since 1970 in UTC) in local standard time, in the locale's date and
// time form, followed by the zone: "07/12/2026 13:05 (GMT +1)".
QString BuildDateText(long long buildTimeUtc);

}  // namespace trawlex
