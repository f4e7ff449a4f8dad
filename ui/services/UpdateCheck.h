#pragma once
// The check for a newer version: one GET of the version file on the maker's web site, while the
// event loop keeps running (busy cursor on until the answer or the time limit), then the
// verdict in a message box, and the download page opened in the browser when the user wants
// the newer version. Nothing is downloaded or installed by the program itself.
#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <cstdint>
#include <vector>

class QNetworkAccessManager;

namespace trawlex {

class IShellServices;

// The version file and download page under the site address (which ends in "/").
struct TUpdateAddresses {
  QUrl VersionFile;   // site + "trawlexversion.txt"
  QUrl DownloadPage;  // site + "download.php?item=trawlexsetup.zip"
};
TUpdateAddresses UpdateAddresses(const QString& siteAddress);

// What the version file says about the running program.
struct TUpdateVerdict {
  bool Newer = false;  // a newer version is out: offer the download
  QString Message;     // the text of the box, without its closing question or note
};
// Judges the version file's body by its first line (ended by CR LF, CR or LF), compared part by
// part with `own`. An empty body raises an error that names `from`.
TUpdateVerdict JudgeVersionFile(const std::vector<int32_t>& own, const QByteArray& body, const QUrl& from);

class TUpdateCheck : public QObject {
  Q_OBJECT
 public:
  static constexpr int DefaultTimeoutMs = 15000;
  // The largest version file taken; a larger answer is not a version file.
  static constexpr qint64 MaxBodyBytes = 64 * 1024;

  // `shell` opens the download page; it must outlive the check (the application's does).
  TUpdateCheck(QObject* parent, IShellServices& shell, const QString& siteAddress, std::vector<int32_t> ownVersion,
               int timeoutMs = DefaultTimeoutMs);
  // A check still waiting is abandoned without a message; the busy cursor goes off.
  ~TUpdateCheck() override;

  // Sends the request and returns at once; the busy cursor stays on until the answer.
  void Start();
  // True from Start until the answer (or the time limit) has come.
  bool Running() const { return FReply != nullptr; }
  // The TLS settings of the request (the system's by default).
  void SetTlsConfiguration(const QSslConfiguration& tls) { FTls = tls; }

 signals:
  // The check has ended and its message box (if any) has been closed.
  void Finished();

 private:
  void ReplyFinished();
  void ReplyDataArrived();

  IShellServices& FShell;
  TUpdateAddresses FAddresses;
  std::vector<int32_t> FOwnVersion;
  int FTimeoutMs;
  QSslConfiguration FTls = QSslConfiguration::defaultConfiguration();
  QNetworkAccessManager* FManager = nullptr;
  QPointer<QNetworkReply> FReply;
  QTimer FTimer;
  QString FAbortReason;  // why the check gave up before the answer came
  bool FCursorOn = false;
};

// The search window's "Check For Updates": starts a check owned by `owner` against the build's
// web site, unless one of `owner` is running already; a build without a web site address says
// so in an information box.
void CheckForUpdates(QObject* owner, IShellServices& shell);
// The same against `siteAddress` (empty: none), giving up after `timeoutMs`.
void CheckForUpdates(QObject* owner, IShellServices& shell, const QString& siteAddress,
                     int timeoutMs = TUpdateCheck::DefaultTimeoutMs);
// True while a check started by CheckForUpdates for `owner` waits for its answer.
bool UpdateCheckRunning(const QObject* owner);

}  // namespace trawlex
