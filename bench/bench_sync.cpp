// Synchronisation benchmark: the first download of an account of 10 000 notes of about
// 1 KB from kelpo-server on loopback to a fresh profile, beside the time the service alone
// needs to answer the same pages to a plain HTTP client; then the traffic of an up-to-date
// computer over simulated minutes of its timers.
//
//   bench_sync [notes [idle-minutes]]     (default: 10 000 notes, 30 minutes)

#include "changefeed.h"
#include "notemgt.h"
#include "settings.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QHttpMultiPart>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

QString s(const char *p)
{
    return QString::fromUtf8(p);
}

template<typename Condition>
bool waitUntil(Condition condition, int nTimeoutMs)
{
    QDeadlineTimer deadline(nTimeoutMs);
    QTimer wake;
    wake.start(20);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// A plain client of the service: multipart posts, as the application sends them.
class CClient
{
public:
    explicit CClient(QString strBase)
        : m_strBase(std::move(strBase))
    {}

    QNetworkReply *send(const QString &strEndpoint, const QVariantMap &mapFields)
    {
        auto *pMulti = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        QVariantMap map = mapFields;
        if (m_nUserId > 0) {
            map.insert(s("user_id"), m_nUserId);
            map.insert(s("login_token"), m_strToken);
        }
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            QHttpPart part;
            part.setHeader(QNetworkRequest::ContentDispositionHeader,
                           s("form-data; name=\"%1\"").arg(it.key()));
            part.setBody(it.value().toString().toUtf8());
            pMulti->append(part);
        }
        QNetworkReply *pReply = m_manager.post(QNetworkRequest(QUrl(m_strBase + strEndpoint)),
                                               pMulti);
        pMulti->setParent(pReply);
        return pReply;
    }

    // The answer's bytes.
    QByteArray post(const QString &strEndpoint, const QVariantMap &mapFields)
    {
        QNetworkReply *pReply = send(strEndpoint, mapFields);
        waitUntil([&]() { return pReply->isFinished(); }, 60000);
        const QByteArray ba = pReply->readAll();
        pReply->deleteLater();
        return ba;
    }

    QVariantMap postJson(const QString &strEndpoint, const QVariantMap &mapFields)
    {
        return QJsonDocument::fromJson(post(strEndpoint, mapFields)).toVariant().toMap();
    }

    void setLogin(int nUserId, const QString &strToken)
    {
        m_nUserId = nUserId;
        m_strToken = strToken;
    }

private:
    QNetworkAccessManager m_manager;
    QString m_strBase;
    int m_nUserId = 0;
    QString m_strToken;
};

QString md5Hex(const QString &str)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(str.toUtf8(), QCryptographicHash::Md5).toHex());
}

// Requests of the service's log per endpoint.
QMap<QString, int> countRequests(const QString &strLog)
{
    QMap<QString, int> map;
    QFile file(strLog);
    if (!file.open(QIODevice::ReadOnly))
        return map;
    const QRegularExpression re(s("POST /mobile/([a-z_]+) "));
    while (!file.atEnd()) {
        const QRegularExpressionMatch m = re.match(QString::fromUtf8(file.readLine()));
        if (m.hasMatch())
            map[m.captured(1)]++;
    }
    return map;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int nNotes = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10000;
    const int nIdleMinutes = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 30;

    QTemporaryDir dir;
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.filePath(s("settings")));
    CSettings settings(s("Greyfen Software"), s("kelpo-bench"));
    g_pSettings = &settings;

    // The service, alone on its own database.
    QProcess server;
    const QString strLog = dir.filePath(s("server.log"));
    server.setStandardErrorFile(strLog);
    server.start(s(KELPO_SERVER_PATH),
                 {s("--listen"),
                  s("127.0.0.1:0"),
                  s("--db"),
                  s("sqlite:") + dir.filePath(s("s.db"))});
    if (!server.waitForStarted(10000)) {
        std::fprintf(stderr, "kelpo-server did not start\n");
        return 1;
    }
    QDeadlineTimer deadlineStart(20000);
    while (!server.canReadLine() && !deadlineStart.hasExpired()
           && server.state() == QProcess::Running)
        server.waitForReadyRead(200);
    const QRegularExpressionMatch match = QRegularExpression(s(":(\\d+)\\D*$"))
                                              .match(QString::fromUtf8(server.readLine()).trimmed());
    if (!match.hasMatch()) {
        std::fprintf(stderr, "kelpo-server names no port\n");
        return 1;
    }
    const QString strBase = s("http://127.0.0.1:%1/mobile/").arg(match.captured(1));
    settings.setServerUrl(strBase);
    settings.setAutoLogin(false);

    // The account: nNotes notes of about 1 KB, eight requests at a time (not measured).
    CClient client(strBase);
    const QString strPwd = s("bench-pw");
    const QVariantMap mapReg = client.postJson(s("register_user"),
                                               {{s("name"), s("bench")},
                                                {s("nickname"), s("bench")},
                                                {s("email"), s("bench@example.org")},
                                                {s("pwd"), md5Hex(strPwd)},
                                                {s("pwd_org"), strPwd}});
    client.setLogin(mapReg.value(s("user_id")).toInt(), mapReg.value(s("login_token")).toString());
    const QString strFiller = s("<p>%1</p>").arg(QString(960, QLatin1Char('x')));
    QElapsedTimer timer;
    timer.start();
    int nSent = 0;
    int nDone = 0;
    int nFailed = 0;
    while (nDone < nNotes) {
        while (nSent < nNotes && nSent - nDone < 8) {
            const int i = nSent++;
            const QDateTime dt = QDateTime(QDate(2016, 1, 1), QTime(8, 0)).addSecs(qint64(i) * 3600);
            QNetworkReply *pReply = client.send(
                s("replace_note_item"),
                {{s("uuid"), s("{%1-0000-4000-8000-000000000000}").arg(i, 8, 10, QLatin1Char('0'))},
                 {s("set_at"), dt.toString(s("yyyy-MM-dd 00:00:00"))},
                 {s("created_at"), dt.toString(s("yyyy-MM-dd hh:mm:ss"))},
                 {s("updated_at"), dt.toString(s("yyyy-MM-dd hh:mm:ss"))},
                 {s("content"), s("<p>note %1</p>").arg(i) + strFiller}});
            QObject::connect(pReply, &QNetworkReply::finished, pReply, [&, pReply]() {
                if (!QJsonDocument::fromJson(pReply->readAll()).object().contains(s("note_id")))
                    ++nFailed;
                ++nDone;
                pReply->deleteLater();
            });
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    std::printf("account: %d notes of about 1 KB stored in %.1f s (%d failed)\n",
                nNotes,
                timer.elapsed() / 1000.0,
                nFailed);

    // The service alone: the pages a fresh profile asks for, one after the other.
    timer.restart();
    qint64 nBefore = 0;
    int nPages = 0;
    qint64 nBytes = 0;
    do {
        const QByteArray ba = client.post(s("get_note_changes"),
                                          {{s("cursor"), 0},
                                           {s("before"), nBefore},
                                           {s("limit"), CChangeFeed::kPageSize},
                                           {s("content_limit"), CChangeFeed::kContentLimit}});
        nBytes += ba.size();
        nBefore = QJsonDocument::fromJson(ba).object().value(s("before")).toVariant().toLongLong();
        ++nPages;
    } while (nBefore > 0);
    const double dService = timer.nsecsElapsed() / 1e9;
    std::printf("service alone: %d pages, %.1f MB, %.2f s\n", nPages, nBytes / 1e6, dService);

    // A fresh profile logs in; its timers stay out of the way (an hour).
    QTemporaryDir dirProfile;
    double dSync = 0;
    double dTotal = 0;
    {
        CNoteMgt mgt(dirProfile.path(), 3600000);
        QSignalSpy spyIdle(&mgt.syncEngine(), &CSyncEngine::syncIdle);
        QSignalSpy spyProgress(&mgt.syncEngine(), &CSyncEngine::syncProgress);
        QElapsedTimer timerLogin;
        QElapsedTimer timerSync;
        QObject::connect(&mgt, &CNoteMgt::dataReceived, &mgt, [&](const QVariant &var) {
            if (var.toMap().value(s("type")).toString() == QLatin1String("login_server"))
                timerSync.start();
        });
        timerLogin.start();
        mgt.login(s("bench"), strPwd);
        if (!waitUntil([&]() { return !spyIdle.isEmpty(); }, 30 * 60000)) {
            std::fprintf(stderr, "the download did not finish\n");
            return 1;
        }
        dSync = timerSync.nsecsElapsed() / 1e9;
        dTotal = timerLogin.nsecsElapsed() / 1e9;
        std::printf("first sync: %d of %d notes; %.2f s from the login's answer (%.2f s with the "
                    "login), %.2f times the service alone\n",
                    spyProgress.isEmpty() ? 0 : spyProgress.last().at(0).toInt(),
                    spyProgress.isEmpty() ? 0 : spyProgress.last().at(1).toInt(),
                    dSync,
                    dTotal,
                    dSync / dService);

        // Up to date and idle: each simulated minute fires the three timers.
        waitUntil([&]() { return mgt.pendingRequestCount() == 0; }, 60000);
        const QMap<QString, int> mapBefore = countRequests(strLog);
        for (int nMinute = 0; nMinute < nIdleMinutes; ++nMinute) {
            const int nIdle = spyIdle.size();
            QMetaObject::invokeMethod(&mgt, "onTimeOutSync");
            QMetaObject::invokeMethod(&mgt, "onTimeOutDownloadNote");
            QMetaObject::invokeMethod(&mgt, "onTimeOutUploadNote");
            waitUntil([&]() { return spyIdle.size() > nIdle && mgt.pendingRequestCount() == 0; },
                      60000);
        }
        // The service writes its log line after the answer.
        QDeadlineTimer settle(2000);
        while (!settle.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const QMap<QString, int> mapAfter = countRequests(strLog);
        std::printf("idle, %d simulated minutes (per hour):\n", nIdleMinutes);
        for (auto it = mapAfter.cbegin(); it != mapAfter.cend(); ++it) {
            const int nCount = it.value() - mapBefore.value(it.key());
            if (nCount > 0)
                std::printf("  %-24s %6.0f requests\n",
                            qPrintable(it.key()),
                            nCount * 60.0 / nIdleMinutes);
        }
        const qint64 nLast = client.postJson(s("get_note_changes"), {{s("limit"), 1}})
                                 .value(s("last_change"))
                                 .toLongLong();
        const QByteArray baIdle = client.post(s("get_note_changes"),
                                              {{s("cursor"), nLast},
                                               {s("limit"), CChangeFeed::kPageSize},
                                               {s("content_limit"), CChangeFeed::kContentLimit}});
        std::printf("  an up-to-date change query is answered with %d bytes\n", int(baIdle.size()));
    }
    g_pSettings = nullptr;
    server.terminate();
    server.waitForFinished(10000);
    return 0;
}
