#include "ui/dialogs/AboutForm.h"

#include <QApplication>
#include <QDate>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QTime>
#include <QVBoxLayout>

#include "TrawlexBuildInfo.h"
#include "base/TextUtils.h"
#include "base/Version.h"
#include "platform/DateTime.h"
#include "platform/Platform.h"
#include "ui/AppIcon.h"
#include "ui/Application.h"
#include "ui/services/ShellServices.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

namespace {
constexpr int kDesignIconSize = 105;
constexpr int kIconSize = 64;
constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 in days since 1899-12-30
}  // namespace

// ---- Logo frame ------------------------------------------------------------------------------

TfaAppLogo::TfaAppLogo(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("faAppLogo"));
  setFixedSize(320, 123);
  imgAppIcon = new QLabel(this);
  imgAppIcon->setObjectName(QStringLiteral("imgAppIcon"));
  imgAppIcon->setGeometry(9, 9, kDesignIconSize, kDesignIconSize);
  lblAppName = new QLabel(this);
  lblAppName->setObjectName(QStringLiteral("lblAppName"));
  QFont nameFont(QStringLiteral("Tahoma"));
  nameFont.setPixelSize(19);
  lblAppName->setFont(nameFont);
}

void TfaAppLogo::SetUp() {
  const QPixmap picture = AppIcon().pixmap(kIconSize, kIconSize);
  imgAppIcon->setPixmap(picture);
  const int iconHeight = picture.isNull() ? kDesignIconSize : picture.height() / picture.devicePixelRatio();
  const int iconWidth = picture.isNull() ? kDesignIconSize : picture.width() / picture.devicePixelRatio();
  imgAppIcon->setGeometry(imgAppIcon->x(), imgAppIcon->y(), iconWidth, iconHeight);
  lblAppName->setText(QStringLiteral("Trawlex"));
  lblAppName->adjustSize();
  lblAppName->move(imgAppIcon->x() + iconWidth + 12, imgAppIcon->y() + (iconHeight - lblAppName->height()) / 2);
  setFixedHeight(height() + iconHeight - kDesignIconSize);
}

// ---- About window ----------------------------------------------------------------------------

QString AboutVersionText(const std::vector<int32_t>& version) {
  if (version.size() < 4) return {};
  return QString::fromStdString(VersionText(version, 3)) + QStringLiteral("  Build ") + QString::number(version[3]);
}

QString BuildDateText(long long buildTimeUtc) {
  const TDateTime local = UtcToLocal(kUnixEpochDays + static_cast<double>(buildTimeUtc) / SecsPerDay);
  const TDateTimeParts p = DecodeDateTime(local);
  const QLocale locale;
  return locale.toString(QDate(p.Year, p.Month, p.Day), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(QTime(p.Hour, p.Minute, p.Second), QLocale::ShortFormat) + QStringLiteral(" (") +
         QString::fromStdString(TimeZoneText()) + QLatin1Char(')');
}

TfmAbout::TfmAbout(QWidget* owner) : TfmNMDialog(owner) {
  setObjectName(QStringLiteral("fmAbout"));
  setWindowTitle(QStringLiteral("About Trawlex"));

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 12);
  faAppLogo = new TfaAppLogo(central);
  layout->addWidget(faAppLogo);

  auto* grid = new QGridLayout;
  grid->setContentsMargins(16, 0, 16, 0);
  grid->setHorizontalSpacing(12);
  auto addRow = [&](int row, QLabel*& caption, const char* captionName, const QString& captionText, QLabel*& value,
                    const char* valueName, const QString& valueText) {
    caption = new QLabel(captionText, central);
    caption->setObjectName(QString::fromLatin1(captionName));
    value = new QLabel(valueText, central);
    value->setObjectName(QString::fromLatin1(valueName));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(caption, row, 0, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(value, row, 1, Qt::AlignLeft | Qt::AlignTop);
  };
  addRow(0, Label1, "Label1", QStringLiteral("Version:"), lblVersion, "lblVersion", QStringLiteral("-.-.-"));
  addRow(1, Label3, "Label3", QStringLiteral("Build date:"), lblBuildDate, "lblBuildDate", QStringLiteral("00/00/0000"));
  addRow(2, Label2, "Label2", QStringLiteral("Developer website:"), lblDevweb, "lblDevweb", QString());
  grid->setColumnStretch(1, 1);
  layout->addLayout(grid);
  layout->addStretch();
  setCentralWidget(central);

  const QString version = AboutVersionText(ProgramVersion());
  if (!version.isEmpty()) lblVersion->setText(version);
  lblBuildDate->setText(BuildDateText(TRAWLEX_BUILD_TIME_UTC));

  SetSiteAddress(QStringLiteral(TRAWLEX_SITE_ADDRESS));
  faAppLogo->SetUp();
  central->setFocusPolicy(Qt::StrongFocus);
  central->setFocus();
  layout->activate();
  setFixedSize(sizeHint().expandedTo(QSize(294, 0)));
}

void TfmAbout::SetSiteAddress(const QString& site) {
  lblDevweb->removeEventFilter(this);
  QFont font = lblDevweb->font();
  font.setUnderline(!site.isEmpty());
  lblDevweb->setFont(font);
  lblDevweb->setPalette(QPalette());
  if (site.isEmpty()) {
    lblDevweb->setText(QStringLiteral("none given to this build"));
    lblDevweb->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblDevweb->unsetCursor();
    return;
  }
  lblDevweb->setText(site);
  lblDevweb->setTextInteractionFlags(Qt::NoTextInteraction);
  QPalette linkPalette = lblDevweb->palette();
  linkPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
  lblDevweb->setPalette(linkPalette);
  lblDevweb->setCursor(Qt::PointingHandCursor);
  lblDevweb->installEventFilter(this);
}

bool TfmAbout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lblDevweb && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    lblDevwebClick();
    return true;
  }
  return TfmNMDialog::eventFilter(watched, event);
}

void TfmAbout::lblDevwebClick() {
  lblDevweb->setCursor(Qt::BusyCursor);
  QCoreApplication::processEvents();
  if (TApp* app = App()) {
    ShellOpen(app->Shell(), lblDevweb->text());
  } else {
    ShellOpen(*MakeDesktopShell(), lblDevweb->text());
  }
  lblDevweb->setCursor(Qt::PointingHandCursor);
}

void TfmAbout::keyPressEvent(QKeyEvent* event) {
  if (!event->isAutoRepeat()) FKeyDown = event->key();
  TfmNMDialog::keyPressEvent(event);
}

void TfmAbout::keyReleaseEvent(QKeyEvent* event) {
  const int key = event->key();
  const bool closing = !event->isAutoRepeat() && key == FKeyDown &&
                       (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape);
  if (!event->isAutoRepeat()) FKeyDown = 0;
  if (closing) {
    close();
    return;
  }
  TfmNMDialog::keyReleaseEvent(event);
}

}  // namespace trawlex
