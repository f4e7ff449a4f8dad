#include "ui/services/UpdateCheck.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "TrawlexBuildInfo.h"
#include "base/Errors.h"
#include "base/TextUtils.h"
#include "base/Version.h"
#include "platform/Platform.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

TUpdateAddresses UpdateAddresses(const QString& siteAddress) {
  const QString product = QStringLiteral("Trawlex").toLower();
  return {QUrl(siteAddress + product + QStringLiteral("version.txt")),
          QUrl(siteAddress + QStringLiteral("download.php?item=") + product + QStringLiteral("setup.zip"))};
}

TUpdateVerdict JudgeVersionFile(const std::vector<int32_t>& own, const QByteArray& body, const QUrl& from) {
  if (body.isEmpty())
    throw ETrawlexError(Fmt("The version file %s is empty.", from.toDisplayString().toStdString()));
  // A byte order mark written by some editors marks the encoding; it is not part of the line.
  const qsizetype start = body.startsWith("\xEF\xBB\xBF") ? 3 : 0;
  qsizetype end = start;
  while (end < body.size() && body[end] != '\r' && body[end] != '\n') ++end;
  const QByteArray line = body.mid(start, end - start);
  const std::vector<int32_t> latest = ParseVersion(std::string_view(line.constData(), line.size()));
  TUpdateVerdict verdict;
  verdict.Newer = CompareIntArrays(own, latest) < 0;
  verdict.Message = QStringLiteral("This program is version: ") + QString::fromStdString(VersionText(own, 1 << 30)) +
                    QStringLiteral("\nLatest available version: ") + QString::fromUtf8(line) + QStringLiteral("\n\n");
  return verdict;
}

TUpdateCheck::TUpdateCheck(QObject* parent, IShellServices& shell, const QString& siteAddress,
                           std::vector<int32_t> ownVersion, int timeoutMs)
    : QObject(parent),
      FShell(shell),
      FAddresses(UpdateAddresses(siteAddress)),
      FOwnVersion(std::move(ownVersion)),
      FTimeoutMs(timeoutMs) {
  FManager = new QNetworkAccessManager(this);
  FTimer.setSingleShot(true);
  FTimer.setTimerType(Qt::PreciseTimer);
  connect(&FTimer, &QTimer::timeout, this, [this] {
    if (!FReply) return;
    FAbortReason = QStringLiteral("No answer from %1 within %2 seconds, so the check for updates gave up.")
                       .arg(FAddresses.VersionFile.host(), QString::number(FTimeoutMs / 1000.0));
    FReply->abort();
  });
}

TUpdateCheck::~TUpdateCheck() {
  FTimer.stop();
  if (FReply) {
    FReply->disconnect(this);
    FReply->abort();
  }
  if (FCursorOn) SetBusyCursor(false);
}

void TUpdateCheck::Start() {
  if (Running()) return;
  QNetworkRequest request(FAddresses.VersionFile);
  request.setSslConfiguration(FTls);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Trawlex/") +
                                                          QString::fromStdString(VersionText(FOwnVersion, 4)));
  FAbortReason.clear();
  SetBusyCursor(true);
  FCursorOn = true;
  FReply = FManager->get(request);
  connect(FReply, &QNetworkReply::readyRead, this, &TUpdateCheck::ReplyDataArrived);
  connect(FReply, &QNetworkReply::finished, this, &TUpdateCheck::ReplyFinished);
  FTimer.start(FTimeoutMs);
}

void TUpdateCheck::ReplyDataArrived() {
  if (FReply && FReply->bytesAvailable() > MaxBodyBytes && FAbortReason.isEmpty()) {
    FAbortReason = QStringLiteral("The answer from %1 is larger than %2 KiB, so it is not a version file.")
                       .arg(FAddresses.VersionFile.toDisplayString(), QString::number(MaxBodyBytes / 1024));
    FReply->abort();
  }
}

void TUpdateCheck::ReplyFinished() {
  FTimer.stop();
  QNetworkReply* reply = FReply;
  if (!reply) return;
  FReply = nullptr;
  reply->deleteLater();
  SetBusyCursor(false);
  FCursorOn = false;

  QString error = FAbortReason;
  TUpdateVerdict verdict;
  if (error.isEmpty() && reply->error() != QNetworkReply::NoError) {
    error = QStringLiteral("Could not check for updates: ") + reply->errorString();
  } else if (error.isEmpty()) {
    try {
      verdict = JudgeVersionFile(FOwnVersion, reply->readAll(), FAddresses.VersionFile);
    } catch (const ETrawlexError& e) {
      error = QString::fromUtf8(e.what());
    }
  }

  // The boxes below run their own event loops, in which this check's owner may go: nothing of
  // the check is used after them but through `self`.
  const QString downloadPage = FAddresses.DownloadPage.toString();
  IShellServices& shell = FShell;
  QPointer<TUpdateCheck> self(this);
  if (!error.isEmpty()) {
    ReportError(error);
  } else if (verdict.Newer) {
    if (AskYesNo(verdict.Message + QStringLiteral("Download Latest version?"))) ShellOpen(shell, downloadPage);
  } else {
    ShowInfo(verdict.Message + QStringLiteral("No download needed"));
  }
  if (self) emit self->Finished();
}

// ---- The search window's check ---------------------------------------------------------------

namespace {
const char* const kCheckName = "UpdateCheck";
}

void CheckForUpdates(QObject* owner, IShellServices& shell) {
  CheckForUpdates(owner, shell, QStringLiteral(TRAWLEX_SITE_ADDRESS));
}

void CheckForUpdates(QObject* owner, IShellServices& shell, const QString& site, int timeoutMs) {
  if (UpdateCheckRunning(owner)) return;
  if (site.isEmpty()) {
    ShowInfo(QStringLiteral("This build of Trawlex was given no web site address, so it cannot check for updates."));
    return;
  }
  auto* check = new TUpdateCheck(owner, shell, site, ProgramVersion(), timeoutMs);
  check->setObjectName(QString::fromLatin1(kCheckName));
  QObject::connect(check, &TUpdateCheck::Finished, check, &QObject::deleteLater);
  check->Start();
}

bool UpdateCheckRunning(const QObject* owner) {
  for (auto* check : owner->findChildren<TUpdateCheck*>(QString::fromLatin1(kCheckName), Qt::FindDirectChildrenOnly))
    if (check->Running()) return true;
  return false;
}

}  // namespace trawlex
