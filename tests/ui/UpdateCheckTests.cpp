// The check for updates against a small HTTP server on 127.0.0.1 that the test runs itself:
// the verdict and its box for each kind of first line, the download page opened only on Yes,
// every failure in the error box, and a request that never blocks the window and gives up in
// time.
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include "ui/Action.h"
#include "ui/Application.h"
#include "ui/search/SearchWindow.h"
#include "ui/services/ShellServices.h"
#include "ui/UiTestUtil.h"
#include "ui/services/UpdateCheck.h"

using namespace trawlex;
using namespace trawlex::uitest;

namespace {

// Answers every request with one status and body, or never answers at all.
class TVersionServer : public QObject {
 public:
  TVersionServer(QByteArray status, QByteArray body, bool answers = true)
      : FStatus(std::move(status)), FBody(std::move(body)), FAnswers(answers) {
    FServer.listen(QHostAddress::LocalHost, 0);
    connect(&FServer, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* s = FServer.nextPendingConnection()) {
        ++Connections;
        connect(s, &QTcpSocket::readyRead, s, [this, s] {
          FRequest += s->readAll();
          if (!FAnswers || !FRequest.contains("\r\n\r\n")) return;
          Paths << FRequest.split(' ').value(1);
          s->write("HTTP/1.1 " + FStatus + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                   QByteArray::number(FBody.size()) + "\r\nConnection: close\r\n\r\n" + FBody);
          s->disconnectFromHost();
        });
      }
    });
  }
  QString Site() const { return QStringLiteral("http://127.0.0.1:%1/").arg(FServer.serverPort()); }
  int Connections = 0;
  QList<QByteArray> Paths;

 private:
  QTcpServer FServer;
  QByteArray FStatus, FBody, FRequest;
  bool FAnswers;
};

// An HTTPS server on 127.0.0.1 with a certificate made for the test; Ca() is that certificate.
class TTlsVersionServer : public QObject {
 public:
  explicit TTlsVersionServer(const QByteArray& body) {
    const QString cert = FDir.filePath(QStringLiteral("cert.pem")), key = FDir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.setStandardOutputFile(QProcess::nullDevice());
    openssl.setStandardErrorFile(QProcess::nullDevice());
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1",
                   "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert});
    openssl.waitForFinished(30000);
    QFile certFile(cert), keyFile(key);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) return;
    FCa = QSslCertificate(&certFile, QSsl::Pem);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(FCa);
    tls.setPrivateKey(QSslKey(&keyFile, QSsl::Ec, QSsl::Pem));
    FServer.setSslConfiguration(tls);
    FServer.listen(QHostAddress::LocalHost, 0);
    connect(&FServer, &QTcpServer::pendingConnectionAvailable, this, [this, body] {
      while (QTcpSocket* s = FServer.nextPendingConnection()) {
        connect(s, &QTcpSocket::readyRead, s, [s, body] {
          if (!s->readAll().contains("\r\n\r\n")) return;
          s->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                   "\r\nConnection: close\r\n\r\n" + body);
          s->disconnectFromHost();
        });
      }
    });
  }
  QString Site() const { return QStringLiteral("https://127.0.0.1:%1/").arg(FServer.serverPort()); }
  const QSslCertificate& Ca() const { return FCa; }

 private:
  QTemporaryDir FDir;
  QSslServer FServer;
  QSslCertificate FCa;
};

// A site where nothing listens.
QString RefusingSite() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const quint16 port = probe.serverPort();
  probe.close();
  return QStringLiteral("http://127.0.0.1:%1/").arg(port);
}

const std::vector<int32_t> kOwn{1, 4, 0, 0};

}  // namespace

class TUpdateCheckTests : public QObject {
  Q_OBJECT

 public:
  // The application every window of these tests belongs to.
  TApp App;

 private slots:
  void cleanup() {
    DeleteAllWindows(App);
    App.SetShell(nullptr);
  }

  void VerdictAndBox_data() {
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("answer");  // the button pressed in the box
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("opened");  // the download page was opened
    const QString own = QStringLiteral("This program is version: 1.4.0.0\nLatest available version: ");
    const int yes = QMessageBox::Yes, no = QMessageBox::No, ok = QMessageBox::Ok;
    QTest::newRow("missing-part-counts-as-equal")
        << QByteArray("200 OK") << QByteArray("1.4\r\n") << ok << "Information" << own + "1.4\n\nNo download needed" << false;
    QTest::newRow("newer-yes") << QByteArray("200 OK") << QByteArray("1.4.0.1\nnotes") << yes << "Confirm"
                               << own + "1.4.0.1\n\nDownload Latest version?" << true;
    QTest::newRow("newer-no") << QByteArray("200 OK") << QByteArray("2.0\rrest") << no << "Confirm"
                              << own + "2.0\n\nDownload Latest version?" << false;
    QTest::newRow("byte-order-mark-is-not-part-of-the-line")
        << QByteArray("200 OK") << QByteArray("\xEF\xBB\xBF" "1.5\r\n") << no << "Confirm"
        << own + "1.5\n\nDownload Latest version?" << false;
    QTest::newRow("older") << QByteArray("200 OK") << QByteArray("1.3.9") << ok << "Information"
                           << own + "1.3.9\n\nNo download needed" << false;
    QTest::newRow("text-after-the-number-stops-parsing")
        << QByteArray("200 OK") << QByteArray("1.5 beta\n") << ok << "Information"
        << own + "1.5 beta\n\nNo download needed" << false;
    QTest::newRow("not-a-version-shown-as-received")
        << QByteArray("200 OK") << QByteArray("<html>  x") << ok << "Information"
        << own + "<html>  x\n\nNo download needed" << false;
    QTest::newRow("empty-body") << QByteArray("200 OK") << QByteArray() << ok << "Error"
                                << "The version file %1trawlexversion.txt is empty." << false;
    QTest::newRow("not-found") << QByteArray("404 Not Found") << QByteArray("gone") << ok << "Error"
                               << "Could not check for updates: Error transferring %1trawlexversion.txt - "
                                  "server replied: Not Found"
                               << false;
    QTest::newRow("too-large") << QByteArray("200 OK") << QByteArray(200 * 1024, '9') << ok << "Error"
                               << "The answer from %1trawlexversion.txt is larger than 64 KiB, so it is not a "
                                  "version file."
                               << false;
  }
  void VerdictAndBox() {
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, body);
    QFETCH(int, answer);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(bool, opened);
    TRecordingShell shell;
    App.SetShell(&shell);
    TVersionServer server(status, body);
    QObject owner;
    auto* check = new TUpdateCheck(&owner, App.Shell(), server.Site(), kOwn);
    QString shownTitle, shownText;
    AnswerMessageBox(QMessageBox::StandardButton(answer), &shownTitle, &shownText);
    QSignalSpy finished(check, &TUpdateCheck::Finished);
    check->Start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(shownTitle, title);
    QCOMPARE(shownText, text.replace(QStringLiteral("%1"), server.Site()));
    QCOMPARE(server.Paths, QList<QByteArray>{"/trawlexversion.txt"});
    QCOMPARE(shell.Calls, opened ? QStringList{"open " + server.Site() + "download.php?item=trawlexsetup.zip"} : QStringList{});
    QVERIFY(!QApplication::overrideCursor());
  }

  void RefusedConnectionIsReported() {
    QObject owner;
    auto* check = new TUpdateCheck(&owner, App.Shell(), RefusingSite(), kOwn);
    QString title, text;
    AnswerMessageBox(QMessageBox::Ok, &title, &text);
    QSignalSpy finished(check, &TUpdateCheck::Finished);
    check->Start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(text, QStringLiteral("Could not check for updates: Connection refused"));
  }

  void HttpsAddressWorks() {
    QVERIFY(QSslSocket::supportsSsl());
    TTlsVersionServer server("1.4.0.1\n");
    QVERIFY(!server.Ca().isNull());
    QObject owner;
    auto* check = new TUpdateCheck(&owner, App.Shell(), server.Site(), kOwn);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates({server.Ca()});
    check->SetTlsConfiguration(tls);
    QString title, text;
    AnswerMessageBox(QMessageBox::No, &title, &text);
    QSignalSpy finished(check, &TUpdateCheck::Finished);
    check->Start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(title, QStringLiteral("Confirm"));
    QVERIFY2(text.contains(QStringLiteral("Latest available version: 1.4.0.1")), qPrintable(text));
  }

  // The window goes on while the server keeps silent; the action stays disabled and a second
  // request is never sent; after the time limit the error box says so and all is as before.
  void SilentServerNeitherBlocksTheWindowNorWaitsForever() {
    TVersionServer server("200 OK", "9.9", false);
    QPointer<TfmSearch> w = TfmGeneric::CreateUnbound<TfmSearch>(nullptr, App);
    w->show();
    QElapsedTimer clock;
    clock.start();
    CheckForUpdates(w, App.Shell(), server.Site(), 1500);
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY(UpdateCheckRunning(w));
    QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);
    RunLoop(500);
    QVERIFY(ticks >= 5);  // the event loop kept running
    w->acCheckForUpdates->Update();
    QVERIFY(!w->acCheckForUpdates->isEnabled());
    QVERIFY(!w->acCheckForUpdates->Execute());
    QString title, text;
    AnswerMessageBox(QMessageBox::Ok, &title, &text);
    QTRY_VERIFY_WITH_TIMEOUT(!UpdateCheckRunning(w), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(title, QStringLiteral("Error"), 5000);
    QVERIFY(clock.elapsed() >= 1500);
    QCOMPARE(text, QStringLiteral("No answer from 127.0.0.1 within 1.5 seconds, so the check for updates gave up."));
    QCOMPARE(server.Connections, 1);
    QVERIFY(!QApplication::overrideCursor());
    w->acCheckForUpdates->Update();
    QVERIFY(w->acCheckForUpdates->isEnabled());
  }

  // A window closed while its check waits: no box, no busy cursor left behind.
  void OwnerGoneWhileWaitingLeavesNothingBehind() {
    TVersionServer server("200 OK", "9.9", false);
    auto* owner = new QObject;
    auto* check = new TUpdateCheck(owner, App.Shell(), server.Site(), kOwn, 500);
    check->Start();
    QTRY_COMPARE(server.Connections, 1);
    delete owner;
    RunLoop(800);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!QApplication::overrideCursor());
  }

  void BuildWithoutSiteSaysSo() {
    QPointer<TfmSearch> w = TfmGeneric::CreateUnbound<TfmSearch>(nullptr, App);
    w->show();
    QString title, text;
    AnswerMessageBox(QMessageBox::Ok, &title, &text);
    CheckForUpdates(w, App.Shell(), QString());
    QCOMPARE(title, QStringLiteral("Information"));
    QCOMPARE(text, QStringLiteral("This build of Trawlex was given no web site address, so it cannot check for updates."));
    QVERIFY(!UpdateCheckRunning(w));
  }
};

int main(int argc, char** argv) {
  TTrawlexApplication app(argc, argv);
  TUpdateCheckTests tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "UpdateCheckTests.moc"
