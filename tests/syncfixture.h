#ifndef SYNCFIXTURE_H
#define SYNCFIXTURE_H

// Shared pieces of the end-to-end tests of accounts and synchronisation: the real
// kelpo-server process on a loopback port with its own database, a plain HTTP client
// that looks at the service from outside, and a test clock that never repeats a second.

#include "notemgt.h"
#include "settings.h"
#include "sqlbuilder.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHttpMultiPart>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <atomic>
#include <memory>

// Text literals of the tests: "name"_s.
inline QString operator""_s(const char *pStr, size_t nSize)
{
    return QString::fromUtf8(pStr, int(nSize));
}

// Runs the event loop until the condition holds or the time is up. Unlike
// QTest::qWaitFor it sleeps only while no event is pending, so answers are taken the
// moment they arrive.
template<typename Condition>
bool waitUntil(Condition condition, int nTimeout)
{
    QDeadlineTimer deadline(nTimeout);
    QTimer wake;
    wake.start(20);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Test clock. Every reading of "now" is one second later than the previous one, so two
// changes made by the program never carry the same time, without waiting for real
// seconds to pass. Installed for the whole test process; the kelpo-server of the test
// reads the same clock (its seconds since the epoch are kept in a shared file), so that
// the service and the computers agree on what "now" is.
namespace TestClock {
inline QDateTime base()
{
    return QDateTime(QDate(2026, 3, 1), QTime(8, 0, 0), Qt::UTC);
}
// The mapped file that holds the clock's seconds since the epoch; nullptr until install().
inline std::atomic<qint64> *&shared()
{
    static std::atomic<qint64> *p = nullptr;
    return p;
}
inline QString &path()
{
    static QString str;
    return str;
}
// While held, the clock stands still: changes then share one second.
inline std::atomic<bool> &held()
{
    static std::atomic<bool> b{false};
    return b;
}
// The next reading (and the clock moves on one second, unless held).
inline QDateTime nowDateTime()
{
    std::atomic<qint64> *pClock = shared();
    if (!pClock)
        return base();
    const qint64 n = held() ? pClock->load() : pClock->fetch_add(1);
    return QDateTime::fromSecsSinceEpoch(n, Qt::UTC);
}
inline QString now()
{
    return nowDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}
// Moves the clock on by nSecs seconds.
inline void advance(qint64 nSecs)
{
    if (shared())
        shared()->fetch_add(nSecs);
}
inline void install()
{
    if (!shared()) {
        static QTemporaryDir s_dir;
        static QFile s_file(s_dir.filePath(QStringLiteral("clock")));
        const qint64 nStart = base().toSecsSinceEpoch();
        if (s_file.open(QIODevice::ReadWrite | QIODevice::Truncate)
            && s_file.write(reinterpret_cast<const char *>(&nStart), sizeof nStart) == sizeof nStart
            && s_file.flush()) {
            uchar *pData = s_file.map(0, sizeof(qint64));
            if (pData) {
                shared() = reinterpret_cast<std::atomic<qint64> *>(pData);
                path() = s_file.fileName();
            }
        }
        if (!shared())
            qWarning() << "the test clock cannot be shared with the service";
    }
    setTimeSource(&TestClock::now);
}
} // namespace TestClock

// ---------------------------------------------------------------------------------------
// kelpo-server on 127.0.0.1, on a port chosen by the system (or a given one when it is
// started again after a stop), with its own SQLite database.
class CServiceProcess
{
public:
    ~CServiceProcess() { stop(); }

    bool start(const QString &strDbFile, const QStringList &lstExtra = QStringList(), int nPort = 0)
    {
        stop();
        m_strDbFile = strDbFile;
        m_lstExtra = lstExtra;
        m_process.setProgram(QStringLiteral(KELPO_SERVER_PATH));
        QStringList lstArgs{QStringLiteral("--listen"),
                            QStringLiteral("127.0.0.1:%1").arg(nPort),
                            QStringLiteral("--db"),
                            QStringLiteral("sqlite:") + strDbFile};
        lstArgs << lstExtra;
        // The service keeps the test's time, and takes times without zone as UTC.
        if (!TestClock::path().isEmpty())
            lstArgs << QStringLiteral("--test-clock") << TestClock::path();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
        m_process.setProcessEnvironment(env);
        m_process.setArguments(lstArgs);
        m_process.setStandardErrorFile(strDbFile + QStringLiteral(".log"), QIODevice::Append);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        // The first line on standard output names the address it listens on.
        QElapsedTimer timer;
        timer.start();
        while (!m_process.canReadLine() && timer.elapsed() < 20000) {
            if (m_process.state() != QProcess::Running)
                return false;
            m_process.waitForReadyRead(200);
        }
        if (!m_process.canReadLine())
            return false;
        const QString strLine = QString::fromUtf8(m_process.readLine()).trimmed();
        const QRegularExpressionMatch match = QRegularExpression(QStringLiteral(":(\\d+)\\D*$"))
                                                  .match(strLine);
        m_nPort = match.hasMatch() ? match.captured(1).toInt() : 0;
        return m_nPort > 0;
    }

    // The same database on the same port, after stop().
    bool restart() { return start(m_strDbFile, m_lstExtra, m_nPort); }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    int port() const { return m_nPort; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/mobile/").arg(m_nPort); }

    // Request lines of the service's log that name an endpoint.
    int countLogLines(const QString &strEndpoint) const
    {
        QFile file(m_strDbFile + QStringLiteral(".log"));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        const QRegularExpression re(
            QStringLiteral("\\b%1\\b").arg(QRegularExpression::escape(strEndpoint)));
        int nCount = 0;
        while (!file.atEnd()) {
            if (re.match(QString::fromUtf8(file.readLine())).hasMatch())
                ++nCount;
        }
        return nCount;
    }

private:
    QProcess m_process;
    QString m_strDbFile;
    QStringList m_lstExtra;
    int m_nPort = 0;
};

// ---------------------------------------------------------------------------------------
// A plain client of the service, for setting up accounts and looking at the notes it
// holds, independent of the program's own client. Waits for each answer.
class CServiceClient
{
public:
    explicit CServiceClient(QString strBaseUrl = QString())
        : m_strBaseUrl(std::move(strBaseUrl))
    {}

    void setBaseUrl(const QString &str) { m_strBaseUrl = str; }

    QVariantMap post(const QString &strEndpoint, const QVariantMap &mapFields)
    {
        QHttpMultiPart *pMulti = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        for (auto it = mapFields.cbegin(); it != mapFields.cend(); ++it) {
            QHttpPart part;
            part.setHeader(QNetworkRequest::ContentDispositionHeader,
                           QStringLiteral("form-data; name=\"%1\"").arg(it.key()));
            part.setBody(it.value().toString().toUtf8());
            pMulti->append(part);
        }
        QNetworkRequest request(QUrl(m_strBaseUrl + strEndpoint));
        // No idle connection may keep the service from stopping.
        request.setRawHeader("Connection", "close");
        QNetworkReply *pReply = m_manager.post(request, pMulti);
        pMulti->setParent(pReply);
        QEventLoop loop;
        QObject::connect(pReply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        QVariantMap mapResult;
        if (!pReply->isFinished())
            mapResult.insert(QStringLiteral("error"), QStringLiteral("no answer"));
        else
            mapResult = QJsonDocument::fromJson(pReply->readAll()).toVariant().toMap();
        if (pReply->error() != QNetworkReply::NoError && mapResult.isEmpty())
            mapResult.insert(QStringLiteral("error"), pReply->errorString());
        pReply->deleteLater();
        return mapResult;
    }

    // Registers an account; returns the answer (with "user_id" and "login_token").
    QVariantMap registerUser(const QString &strName, const QString &strPwd, const QString &strEmail)
    {
        return post(QStringLiteral("register_user"),
                    {{QStringLiteral("name"), strName},
                     {QStringLiteral("nickname"), strName},
                     {QStringLiteral("email"), strEmail},
                     {QStringLiteral("pwd"), md5Hex(strPwd)},
                     {QStringLiteral("pwd_org"), strPwd}});
    }

    bool login(const QString &strName, const QString &strPwd)
    {
        const QVariantMap map = post(QStringLiteral("login"),
                                     {{QStringLiteral("name"), strName},
                                      {QStringLiteral("pwd"), md5Hex(strPwd)},
                                      {QStringLiteral("lang"), QStringLiteral("en")},
                                      {QStringLiteral("login_from"), QStringLiteral("TEST")}});
        m_nUserId = map.value(QStringLiteral("user_id")).toInt();
        m_strToken = map.value(QStringLiteral("login_token")).toString();
        return m_nUserId > 0;
    }

    // A request on behalf of the logged-in account.
    QVariantMap postAsUser(const QString &strEndpoint, QVariantMap mapFields)
    {
        mapFields.insert(QStringLiteral("user_id"), m_nUserId);
        mapFields.insert(QStringLiteral("login_token"), m_strToken);
        return post(strEndpoint, mapFields);
    }

    // Every note of the account, tombstones included, by UUID (or by "#id" when it has
    // none), each with its text.
    QMap<QString, QVariantMap> allNotes()
    {
        QMap<QString, QVariantMap> map;
        for (int nOffset = 0;; nOffset += 100) {
            const QVariantMap mapReply = postAsUser(QStringLiteral("get_note_list_by_offset"),
                                                    {{QStringLiteral("limit"), 100},
                                                     {QStringLiteral("offset"), nOffset},
                                                     {QStringLiteral("is_sync"), 1},
                                                     {QStringLiteral("start_time"), QString()},
                                                     {QStringLiteral("end_time"), QString()}});
            const QVariantList lst = mapReply.value(QStringLiteral("notes")).toList();
            for (const QVariant &v : lst) {
                QVariantMap mapNote = v.toMap();
                const QString strUuid = mapNote.value(QStringLiteral("uuid")).toString();
                if (!mapNote.contains(QStringLiteral("content")) && !strUuid.isEmpty())
                    mapNote = postAsUser(QStringLiteral("get_note_item"),
                                         {{QStringLiteral("uuid"), strUuid}});
                map.insert(strUuid.isEmpty() ? QStringLiteral("#")
                                                   + mapNote.value(QStringLiteral("id")).toString()
                                             : strUuid,
                           mapNote);
            }
            if (lst.size() < 100)
                break;
        }
        return map;
    }

    int userId() const { return m_nUserId; }

private:
    QNetworkAccessManager m_manager;
    QString m_strBaseUrl;
    int m_nUserId = 0;
    QString m_strToken;
};

// ---------------------------------------------------------------------------------------
// One computer: a note manager on its own data folder, with what it emitted.
// Runs a statement through a store's own worker and returns the worker's result map once it
// has come (empty when it does not come in time).
inline QVariantMap runInStore(CDbMgt &store, const QString &strSql, const QVariantMap &mapBind = {})
{
    QSignalSpy spy(&store, &CDbMgt::dataReceived);
    const QString strRequest = store.queryPrepared(strSql, mapBind);
    QVariantMap mapResult;
    (void) waitUntil(
        [&]() {
            for (const QList<QVariant> &args : qAsConst(spy)) {
                const QVariantMap map = args.at(0).toMap();
                if (map.value(QStringLiteral("uuid")).toString() == strRequest) {
                    mapResult = map;
                    return true;
                }
            }
            return false;
        },
        30000);
    return mapResult;
}

class CComputer
{
public:
    // nInterval: the interval of the note manager's timers, in ms.
    explicit CComputer(int nInterval = 3600000)
        : m_mgt(m_dir.path(), nInterval)
        , m_spyData(&m_mgt, &CNoteMgt::dataReceived)
        , m_spyInfo(&m_mgt, &CNoteMgt::showInfo)
        , m_spyError(&m_mgt, &CNoteMgt::showError)
        , m_spyUser(&m_mgt, &CNoteMgt::userIdChanged)
    {}

    CNoteMgt &mgt() { return m_mgt; }
    QString dataDir() const { return m_dir.path(); }

    // This computer's clock: the test clock nSkew seconds off, its user in zone.
    void setClock(qint64 nSkew, const QTimeZone &zone)
    {
        m_mgt.clock().setSource([nSkew]() { return TestClock::nowDateTime().addSecs(nSkew); });
        m_mgt.clock().setZone(zone);
    }
    QSignalSpy &errors() { return m_spyError; }
    QSignalSpy &infos() { return m_spyInfo; }
    QSignalSpy &userIds() { return m_spyUser; }

    // The maps emitted with dataReceived of one type, oldest first.
    QList<QVariantMap> emitted(const QString &strType) const
    {
        QList<QVariantMap> lst;
        for (const QList<QVariant> &args : m_spyData) {
            const QVariantMap map = args.at(0).toMap();
            if (map.value(QStringLiteral("type")).toString() == strType)
                lst << map;
        }
        return lst;
    }
    void clearEmitted()
    {
        m_spyData.clear();
        m_spyInfo.clear();
        m_spyError.clear();
        m_spyUser.clear();
    }

    // Calls a slot by name, protected timer slots included.
    void invoke(const char *pSlot) { QMetaObject::invokeMethod(&m_mgt, pSlot); }

    bool idle() const { return m_mgt.pendingRequestCount() == 0; }
    bool waitIdle(int nTimeout = 30000)
    {
        if (waitUntil([this]() { return idle(); }, nTimeout))
            return true;
        qWarning() << "still waiting for" << m_mgt.pendingRequestCount()
                   << "answers:" << m_mgt.pendingRequestTypes();
        return false;
    }

    // Runs a statement on this computer's diary file through its own store (a test's way
    // to make some of the store's writes fail); true when it ran without error.
    bool execInStore(const QString &strSql)
    {
        const QVariantMap mapResult = runInStore(m_mgt.localStore(), strSql);
        if (mapResult.isEmpty() || mapResult.contains(QStringLiteral("error"))) {
            qWarning() << "cannot run" << strSql << mapResult.value(QStringLiteral("error"));
            return false;
        }
        return true;
    }

    // The live notes of one day as the note list shows them.
    QVariantList notesOfDay(const QDate &dt)
    {
        const QString strDay = dt.toString(QStringLiteral("yyyy-MM-dd"));
        const int nBefore = m_spyData.size();
        m_mgt.getNoteListByDay(dt);
        QVariantList lst;
        bool bFound = false;
        (void) waitUntil(
            [&]() {
                for (int i = nBefore; i < m_spyData.size(); ++i) {
                    const QVariantMap map = m_spyData.at(i).at(0).toMap();
                    if (map.value(QStringLiteral("type")).toString()
                            == QLatin1String("note_list_by_day")
                        && map.value(QStringLiteral("date")).toString() == strDay) {
                        lst = map.value(QStringLiteral("result")).toList();
                        bFound = true;
                        return true;
                    }
                }
                return false;
            },
            20000);
        if (!bFound)
            qWarning() << "no note list for" << strDay;
        return lst;
    }

    // uuid -> note, for the live notes of the given days. Asks for every day at once.
    QMap<QString, QVariantMap> notesOfDays(const QList<QDate> &lstDays)
    {
        const int nBefore = m_spyData.size();
        QSet<QString> setWanted;
        for (const QDate &dt : lstDays) {
            setWanted.insert(dt.toString(QStringLiteral("yyyy-MM-dd")));
            m_mgt.getNoteListByDay(dt);
        }
        QMap<QString, QVariantMap> map;
        int nNext = nBefore;
        const bool bAll = waitUntil(
            [&]() {
                for (; nNext < m_spyData.size(); ++nNext) {
                    const QVariantMap mapList = m_spyData.at(nNext).at(0).toMap();
                    if (mapList.value(QStringLiteral("type")).toString()
                            != QLatin1String("note_list_by_day")
                        || !setWanted.remove(mapList.value(QStringLiteral("date")).toString()))
                        continue;
                    for (const QVariant &var : mapList.value(QStringLiteral("result")).toList()) {
                        const QVariantMap mapNote = var.toMap();
                        map.insert(mapNote.value(QStringLiteral("uuid")).toString(), mapNote);
                    }
                }
                return setWanted.isEmpty();
            },
            30000);
        if (!bAll)
            qWarning() << "no note list for" << setWanted;
        return map;
    }

    // Writes a new note through the editor's path; returns its UUID once it is stored.
    QString writeNote(const QDate &dt, const QString &strText)
    {
        QString strUuid;
        QSignalSpy spy(&m_mgt, &CNoteMgt::appendNoteItemToList);
        m_mgt.upateNoteItem({{QStringLiteral("uuid"), QString()},
                             {QStringLiteral("set_at"), dt.toString(QStringLiteral("yyyy-MM-dd"))},
                             {QStringLiteral("content"), strText}});
        if (waitUntil([&]() { return !spy.isEmpty(); }, 20000))
            strUuid = spy.first().at(0).toMap().value(QStringLiteral("uuid")).toString();
        return strUuid;
    }

    // A new text through the editor's path; mapOpened: the note as the editor opened it
    // (its "updated_at" and "md5" are named as the version the change was made from).
    void editNote(const QString &strUuid,
                  const QDate &dt,
                  const QString &strText,
                  const QVariantMap &mapOpened = QVariantMap())
    {
        QVariantMap map{{QStringLiteral("uuid"), strUuid},
                        {QStringLiteral("set_at"), dt.toString(QStringLiteral("yyyy-MM-dd"))},
                        {QStringLiteral("content"), strText}};
        if (!mapOpened.isEmpty()) {
            map.insert(QStringLiteral("opened_at"), mapOpened.value(QStringLiteral("updated_at")));
            map.insert(QStringLiteral("opened_md5"), mapOpened.value(QStringLiteral("md5")));
        }
        m_mgt.upateNoteItem(map);
    }

    // Logs in and waits for the service's answer; true when the service accepted it.
    bool login(const QString &strName, const QString &strPwd)
    {
        const int nBefore = emitted(QStringLiteral("login_server")).size();
        m_mgt.login(strName, strPwd);
        if (!waitUntil([&]() { return emitted(QStringLiteral("login_server")).size() > nBefore; },
                       30000))
            return false;
        const QVariantMap map = emitted(QStringLiteral("login_server")).last();
        if (map.value(QStringLiteral("result")).toString() != QLatin1String("ok"))
            return false;
        // The login brings the whole account: on a busy machine an account of large
        // pictures takes longer than half a minute.
        return waitUntil([&]() { return m_mgt.isLogin() && idle(); }, 120000);
    }

private:
    QTemporaryDir m_dir;
    CNoteMgt m_mgt;
    QSignalSpy m_spyData;
    QSignalSpy m_spyInfo;
    QSignalSpy m_spyError;
    QSignalSpy m_spyUser;
};

// Settings on a folder of the test as the process-wide settings, the test clock, and a
// kelpo-server of the test's own on the database strServiceDb. Returns whether the service
// started.
inline bool setUpSyncEnvironment(const QTemporaryDir &dir,
                                 std::unique_ptr<CSettings> &pSettings,
                                 CServiceProcess &service,
                                 const QString &strServiceDb)
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::IniFormat,
                       QSettings::UserScope,
                       dir.filePath(QStringLiteral("settings")));
    TestClock::install();
    pSettings = std::make_unique<CSettings>(QStringLiteral("Greyfen Software"),
                                            QStringLiteral("kelpo-test"));
    g_pSettings = pSettings.get();
    return service.start(strServiceDb);
}

#endif // SYNCFIXTURE_H
