// Synchronisation end to end: two computers, each a note manager on its own data folder,
// and the real note service on loopback. Each row of the table is a scenario written as
// steps:
//   "A login" / "A logout"           the account logs in or out on computer A (or B)
//   "A write N1 2026-03-05 text"     a new note N1 through the editor's path
//   "A edit N1 text"                 a new text for N1
//   "A move N1 2026-04-02 text"      N1 moves to another day
//   "A title N1 title"               N1 gets a title, its text unchanged
//   "A delete N1"
//   "A open N1"                      the editor opens N1 as A shows it now...
//   "A save N1 text"                 ...and stores a new text made from that version
//   "A read N1"                      a comparison reads N1 as A holds it now...
//   "A compare N1"                   ...and compares that read with the service's N1 as
//                                    the service holds it now (its answer came late)
//   "A textless N1"                  A gets N1 listed without its text (as a list does)
//   "A sync"                         what the calendar and the timers do: the months of the
//                                    scenario, the upload and the download timer
//   "A list"                         the first page of the note list (starts the paged
//                                    download)
//   "A feed"                         only a run of the account's changes (the minute timer)
//   "S stop" / "S start"             the service goes away and comes back
//   "S backup" / "S restore"         the service's database is copied aside, or put back
//                                    from that copy (all written since is gone there)
//   "expect N1 2026-03-05 text"      N1 is live with that day and text on A, B and the
//                                    service
//   "gone N1"                        N1 is live nowhere
//   "titled N1 title"                N1 has that title on A, B and the service
//   "copy 2026-03-05 text [title]"   one conflict copy of the text on that day, the same
//                                    note everywhere (its title ending with the title)
// The later change of a note wins on every computer, a deletion included.
//   "count A 3"                      A shows 3 live notes
//   "A copies fail" / "A copies work"
//                                    A's diary file refuses to store conflict copies (as
//                                    a full disk would), or stores them again
//   "A login other"                  A logs in as the row's second account
//   "A month 2026-03-01"             the calendar shows a month on A (its comparison only)
//   "other has 0"                    the second account holds no live note at the service
//   "P hold get_note_item"           the proxy holds such requests from now on...
//   "P release" / "P drop"           ...then passes them on in order, or breaks their
//                                    connections before the service sees them
//   "P cut half replace_note_item from-A"
//                                    the connection breaks after the service has written
//                                    the next such request with that text: half its answer
//                                    ("half") or nothing ("none") reaches the computer. A row
//                                    with such a step talks to the service through a proxy.

#include "httpfixture.h"
#include "settings.h"
#include "syncfixture.h"
#include "syncstatus.h"

#include <QScopeGuard>
#include <QTcpSocket>
#include <QTimeZone>

#include <algorithm>
#include <memory>

namespace {
const QList<QDate> g_lstMonths = {QDate(2026, 2, 1), QDate(2026, 3, 1), QDate(2026, 4, 1)};

QList<QDate> daysOfMonths()
{
    QList<QDate> lst;
    for (const QDate &dtMonth : g_lstMonths) {
        for (int i = 0; i < dtMonth.daysInMonth(); ++i)
            lst << dtMonth.addDays(i);
    }
    return lst;
}

// A proxy in front of the service that passes every request on and, once armed, breaks
// the connection of one request after the service has answered it: the change is written,
// its answer is lost on the way back.
class CCuttingProxy
{
public:
    explicit CCuttingProxy(const CServiceProcess &service)
        : m_service(service)
    {
        m_http.responder = [this](const HttpRequest &request) { return pass(request); };
    }

    bool listen() { return m_http.listen(); }
    QString baseUrl() const { return m_http.baseUrl(); }

    // The next request to strEndpoint whose text is strContent loses its answer: all but
    // the first half of its body (bHalf), or all of it.
    void arm(const QString &strEndpoint, const QString &strContent, bool bHalf)
    {
        m_baPath = "/mobile/" + strEndpoint.toUtf8();
        m_baField = "content=" + strContent.toUtf8();
        m_bHalf = bHalf;
        m_bArmed = true;
    }
    bool armed() const { return m_bArmed; }

    // Requests to strEndpoint are held from now on: neither passed on nor answered.
    void hold(const QString &strEndpoint) { m_baHoldPath = "/mobile/" + strEndpoint.toUtf8(); }
    int heldCount() const { return m_lstHeld.size(); }
    // The held requests go on to the service in the order they came, and their answers
    // back (bPass), or their connections break before the service sees them.
    void release(bool bPass)
    {
        m_baHoldPath.clear();
        const QList<int> lstHeld = m_lstHeld;
        m_lstHeld.clear();
        for (int nIndex : lstHeld)
            m_http.answer(nIndex,
                          bPass ? forward(m_http.requests.at(nIndex))
                                : HttpAnswer{QByteArray(), true, false});
    }

private:
    HttpAnswer pass(const HttpRequest &request)
    {
        if (!m_baHoldPath.isEmpty() && request.path == m_baHoldPath) {
            m_lstHeld << m_http.requests.size() - 1;
            return HttpFixture::hold();
        }
        return forward(request);
    }

    HttpAnswer forward(const HttpRequest &request)
    {
        // One request per connection both ways, so that an answer ends with its close.
        QByteArray baHead = request.method + ' ' + request.path + " HTTP/1.1\r\n";
        for (const auto &header : request.headers) {
            if (header.first.compare("Connection", Qt::CaseInsensitive) != 0)
                baHead += header.first + ": " + header.second + "\r\n";
        }
        baHead += "Connection: close\r\n\r\n";
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(m_service.port()));
        if (!socket.waitForConnected(10000))
            return HttpAnswer{QByteArray(), true, false};
        socket.write(baHead + request.body);
        QByteArray baAnswer;
        while (socket.waitForReadyRead(30000))
            baAnswer += socket.readAll();
        baAnswer += socket.readAll();
        if (m_bArmed && request.path == m_baPath && request.fields().contains(m_baField)) {
            m_bArmed = false;
            const int nHead = baAnswer.indexOf("\r\n\r\n") + 4;
            return HttpAnswer{m_bHalf ? baAnswer.left(nHead + (baAnswer.size() - nHead) / 2)
                                      : QByteArray(),
                              true,
                              false};
        }
        return HttpAnswer{baAnswer, true, false};
    }

    const CServiceProcess &m_service;
    HttpFixture m_http;
    QByteArray m_baPath;
    QByteArray m_baField;
    bool m_bHalf = false;
    bool m_bArmed = false;
    QByteArray m_baHoldPath;
    QList<int> m_lstHeld;
};
} // namespace

class TestSync : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CSettings> m_pSettings;
    CServiceProcess m_service;
    std::unique_ptr<CCuttingProxy> m_pProxy;
    int m_nAccount = 0;

    static void sync(CComputer &computer)
    {
        for (const QDate &dt : g_lstMonths)
            computer.mgt().downloadNoteListByMonth(dt);
        QVERIFY(computer.waitIdle());
        computer.invoke("onTimeOutUploadNote");
        QVERIFY(computer.waitIdle());
        computer.invoke("onTimeOutDownloadNote");
        QVERIFY(computer.waitIdle());
    }

    // Live notes of the account at the service, by UUID.
    QMap<QString, QVariantMap> serviceNotes(const QString &strName)
    {
        CServiceClient client(m_service.baseUrl());
        if (!client.login(strName, QStringLiteral("pw")))
            return {};
        QMap<QString, QVariantMap> map;
        const QMap<QString, QVariantMap> mapAll = client.allNotes();
        for (auto it = mapAll.cbegin(); it != mapAll.cend(); ++it) {
            if (it.value().value(QStringLiteral("deleted")).toInt() != 1)
                map.insert(it.key(), it.value());
        }
        return map;
    }

    // A service of its own that takes bodies up to 64 KiB, used by this computer's
    // settings from now on, with the account strName (password "pw") registered.
    bool startSmallService(CServiceProcess &small, const QString &strFile, const QString &strName)
    {
        if (!small.start(m_dir.filePath(strFile),
                         {QStringLiteral("--max-body"), QStringLiteral("64K")}))
            return false;
        g_pSettings->setServerUrl(small.baseUrl());
        return CServiceClient(small.baseUrl())
            .registerUser(strName, QStringLiteral("pw"), strName + "@example.com"_s)
            .value(QStringLiteral("error"))
            .toString()
            .isEmpty();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // KELPO_KEEP_TEST_DIR keeps the folder, the service's log in it, for a look after.
        if (qEnvironmentVariableIsSet("KELPO_KEEP_TEST_DIR")) {
            m_dir.setAutoRemove(false);
            qInfo() << "test folder kept:" << m_dir.path();
        }
        QVERIFY2(setUpSyncEnvironment(m_dir,
                                      m_pSettings,
                                      m_service,
                                      m_dir.filePath(QStringLiteral("service.db"))),
                 "kelpo-server did not start");
        g_pSettings->setServerUrl(m_service.baseUrl());
        m_pProxy = std::make_unique<CCuttingProxy>(m_service);
        QVERIFY(m_pProxy->listen());
    }

    void cleanupTestCase() { g_pSettings = nullptr; }

    void scenario_data()
    {
        QTest::addColumn<QStringList>("steps");
        const QString strLogin = QStringLiteral("A login|B login|");
        auto row = [&](const char *pTag, const QString &strSteps) {
            QTest::newRow(pTag) << strSteps.split(QLatin1Char('|'));
        };
        row("written on A appears on B",
            strLogin + "A write N1 2026-03-05 hello|A sync|B sync|expect N1 2026-03-05 hello"_s);
        row("an edit on B reaches A",
            strLogin
                + "A write N1 2026-03-05 hello|A sync|B sync|B edit N1 changed|B sync|A sync"
                  "|expect N1 2026-03-05 changed"_s);
        row("edits on both while the service is away: the later wins",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|S stop|B edit N1 from-B"
                  "|A edit N1 from-A|S start|B sync|A sync|B sync|expect N1 2026-03-05 from-A"_s);
        row("the earlier edit arriving last still loses",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|S stop|A edit N1 from-A"
                  "|B edit N1 from-B|S start|A sync|B sync|A sync|expect N1 2026-03-05 from-B"_s);
        row("the same text with a newer time",
            strLogin
                + "A write N1 2026-03-05 same|A sync|B sync|B edit N1 same|B sync|A sync"
                  "|expect N1 2026-03-05 same"_s);
        row("a deletion on A disappears on both and never returns",
            strLogin
                + "A write N1 2026-03-05 bye|A write N2 2026-03-06 stay|A sync|B sync"
                  "|A delete N1|A sync|B sync|gone N1|B sync|A sync|gone N1"
                  "|expect N2 2026-03-06 stay"_s);
        row("a deletion on B while the service is away",
            strLogin
                + "A write N1 2026-03-05 bye|A sync|B sync|S stop|B delete N1|S start"
                  "|A sync|B sync|A sync|gone N1"_s);
        // The edit reached the service first, unseen by the deleting computer: its text
        // is kept as a copy.
        row("a deletion after an edit made elsewhere removes the note",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|S stop|A edit N1 edited|B delete N1"
                  "|S start|A sync|B sync|A sync|B sync|gone N1|copy 2026-03-05 edited"
                  "|count A 1|count B 1"_s);
        row("an edit made elsewhere after a deletion brings the note back",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|S stop|B delete N1|A edit N1 late"
                  "|S start|A sync|B sync|A sync|B sync|expect N1 2026-03-05 late"_s);
        row("an edit after a deletion, both reaching the service at once",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|A delete N1|B edit N1 late"
                  "|A sync|B sync|A sync|expect N1 2026-03-05 late"_s);
        // A change made from a version that another computer's change had already
        // replaced at the service: the later one wins, the other text stays as one
        // conflict copy, the same note on every computer.
        row("an edit from an outdated version keeps the edit it replaced as a copy",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|B edit N1 from-B|B sync"
                  "|A edit N1 from-A|A sync|B sync|A sync|B sync|expect N1 2026-03-05 from-A"
                  "|copy 2026-03-05 from-B|count A 2|count B 2"_s);
        row("a deletion from an outdated version keeps the edit it replaced as a copy",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|B edit N1 from-B|B sync"
                  "|A delete N1|A sync|B sync|A sync|B sync|gone N1"
                  "|copy 2026-03-05 from-B|count A 1|count B 1"_s);
        row("a deletion that a comparison finds newer keeps the edit it replaced as a copy",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|B edit N1 from-B|B sync|S stop"
                  "|A delete N1|S start|A month 2026-03-01|A sync|B sync|A sync|B sync|gone N1"
                  "|copy 2026-03-05 from-B|count A 1|count B 1"_s);
        row("edits from the version each had: no copy",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|B edit N1 from-B|B sync|A sync"
                  "|A edit N1 from-A|A sync|B sync|A edit N1 again|A sync|B sync"
                  "|expect N1 2026-03-05 again|count A 1|count B 1"_s);
        row("notes written before the first login are the user's and uploaded",
            "A write N1 2026-03-05 early|A write N2 2026-02-10 earlier|A login|A sync"
            "|B login|B sync|expect N1 2026-03-05 early|expect N2 2026-02-10 earlier"_s);
        row("a note listed without its text is fetched by the download timer",
            "A login|A write N1 2026-03-05 the-text|A sync|S stop|B login|B textless N1"
            "|S start|B login|B sync|expect N1 2026-03-05 the-text"_s);
        row("a note moved to another month: its old month is empty at the service",
            strLogin
                + "A write N1 2026-03-05 moving|A sync|B sync|B move N1 2026-04-02 moving"
                  "|B sync|A sync|expect N1 2026-04-02 moving|count A 1|count B 1"_s);
        // Clocks hours apart and users in other zones: the change made later wins.
        const QString strOffline = "A write N1 2026-03-05 v1|A sync|B sync|S stop"_s;
        row("a clock two hours ahead: the later edit elsewhere wins",
            "A clock 7200 UTC|A login|B login|"_s + strOffline
                + "|A edit N1 from-A|B edit N1 from-B|S start|A sync|B sync|A sync"
                  "|expect N1 2026-03-05 from-B"_s);
        row("a clock two hours ahead: the later deletion elsewhere wins",
            "A clock 7200 UTC|A login|B login|"_s + strOffline
                + "|A edit N1 from-A|B delete N1|S start|A sync|B sync|A sync|B sync"
                  "|gone N1"_s);
        row("a clock three hours behind: its later edit wins",
            "B clock -10800 UTC|A login|B login|"_s + strOffline
                + "|A edit N1 from-A|B edit N1 from-B|S start|B sync|A sync|B sync"
                  "|expect N1 2026-03-05 from-B"_s);
        row("Shanghai and Berlin: the later edit in Berlin wins",
            "A clock 0 Asia/Shanghai|B clock 0 Europe/Berlin|A login|B login|"_s + strOffline
                + "|A edit N1 from-A|B edit N1 from-B|S start|A sync|B sync|A sync"
                  "|expect N1 2026-03-05 from-B"_s);
        row("Berlin and Shanghai: the later edit in Shanghai wins",
            "A clock 0 Europe/Berlin|B clock 0 Asia/Shanghai|A login|B login|"_s + strOffline
                + "|A edit N1 from-A|B edit N1 from-B|S start|B sync|A sync|B sync"
                  "|expect N1 2026-03-05 from-B"_s);
        row("a clock set back while offline: the edit still wins over what it changed",
            "A login|B login|"_s + strOffline
                + "|A clock -10800 UTC|A edit N1 from-A|S start|A sync|B sync"
                  "|expect N1 2026-03-05 from-A"_s);
        // The answer to a change that replaced another computer's text is lost after the
        // service wrote it; the change sent again still keeps that text, once everywhere.
        const QString strLost
            = "A write N1 2026-03-05 v1|A sync|B sync|B edit N1 from-B|B sync"
              "|P cut %1 replace_note_item from-A|A edit N1 from-A|A sync|B sync|A sync|B sync"
              "|expect N1 2026-03-05 from-A|copy 2026-03-05 from-B|count A 2|count B 2"_s;
        row("an edit whose answer breaks off halfway keeps the text it replaced once",
            strLogin + strLost.arg("half"_s));
        row("an edit whose answer never comes keeps the text it replaced once",
            strLogin + strLost.arg("none"_s));
        // The answer to a new note's first upload is lost after the service wrote it, and
        // another computer changes the note before this one sends its next edit.
        row("an edit after a new note's first answer was lost keeps the change made elsewhere",
            strLogin
                + "P cut half replace_note_item v1|A write N1 2026-03-05 v1|B sync"
                  "|B edit N1 from-B|B sync|A edit N1 from-A|A sync|B sync|A sync|B sync"
                  "|expect N1 2026-03-05 from-A|copy 2026-03-05 from-B|count A 2|count B 2"_s);
        // The service's database put back from a backup: a computer that had followed
        // its changes further than the backup reaches still gets those made since.
        row("changes made after the service's database was restored from a backup arrive",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|S backup|A write N2 2026-03-06 two"
                  "|A write N3 2026-03-07 three|B feed|S restore|A write N4 2026-03-08 four"
                  "|A write N5 2026-03-09 five|A write N6 2026-03-10 six|B feed"
                  "|expect N4 2026-03-08 four|expect N5 2026-03-09 five"_s);
        // Notes the service had acknowledged, and lost with the restore: the computer that
        // finds the restore sends again what the service lacks, whatever month it is in.
        row("notes acknowledged between a backup and a restore reach the service again",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|S backup|A write N2 2026-02-10 two"
                  "|A write N3 2026-04-07 three|B feed|S restore|A write N4 2026-03-08 four"
                  "|B feed|expect N2 2026-02-10 two|expect N3 2026-04-07 three"
                  "|expect N4 2026-03-08 four|count A 4|count B 4"_s);
        // The restored service gives a lost note's id to a new note, which is then deleted:
        // the month comparison tells the two apart by their UUIDs, and sends the lost one.
        row("a note lost with a restore is not taken for the note that got its id",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|S backup|A write N2 2026-03-06 two"
                  "|B feed|S restore|A write N3 2026-03-07 three|A delete N3"
                  "|B month 2026-03-01|A month 2026-03-01|expect N2 2026-03-06 two|gone N3"
                  "|count A 2|count B 2"_s);
        // Answers that come late: after another edit of the same note, after a logout, or
        // after a login as someone else.
        row("an edit stored while the one before is on its way: no copy of the one before",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|P hold replace_note_item|A edit N1 e1"
                  "|A edit N1 e2|P release|A sync|B sync|A sync|expect N1 2026-03-05 e2"
                  "|count A 1|count B 1"_s);
        row("an edit whose answer breaks off while logged out goes after the next login",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|P hold replace_note_item|A edit N1 e1"
                  "|A logout|S stop|P drop|S start|A login|A sync|B sync"
                  "|expect N1 2026-03-05 e1"_s);
        row("a look-up answered after a login as someone else sends nothing to that account",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|B move N1 2026-04-02 v1|B sync|S stop"
                  "|A edit N1 secret|S start|P hold get_note_item|A month 2026-03-01|A logout"
                  "|A login other|P release|other has 0|A logout|A login|A sync|B sync|A sync"
                  "|expect N1 2026-03-05 secret"_s);
        // The run of the account's changes finds a pending edit that wins over the
        // service's version: sent with the version it was made from, the edit it replaces
        // is kept.
        row("an offline edit that a run of changes sends keeps the edit it replaced",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|B edit N1 from-B|B sync|S stop"
                  "|A edit N1 from-A|S start|A feed|A sync|B sync|A sync|B sync"
                  "|expect N1 2026-03-05 from-A|copy 2026-03-05 from-B|count A 2|count B 2"_s);
        // The user works on a conflict copy; the same text then loses again in a later
        // conflict. The later loss is a copy of its own, and the copy the user changed
        // keeps the change.
        row("a text that loses twice keeps two copies, and the user's change of the first",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|S stop|A edit N1 from-A"
                  "|B edit N1 from-B|S start|B sync|A sync|B sync|copy 2026-03-05 from-A"
                  "|A copyedit from-A from-A-more|A sync|B sync|copy 2026-03-05 from-A-more"
                  "|S stop|A edit N1 from-A|B edit N1 from-B2|S start|B sync|A sync|B sync"
                  "|A sync|expect N1 2026-03-05 from-B2|copy 2026-03-05 from-A-more"
                  "|copy 2026-03-05 from-A|count A 3|count B 3"_s);
        // A conflict copy that cannot be stored: the text it would keep stays where it
        // is until the copy is stored at a later run.
        row("a copy that cannot be stored leaves the edit that replaced its text pending",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|B edit N1 from-B|B sync"
                  "|A copies fail|A edit N1 from-A|A sync|A copies work|A sync|B sync|A sync"
                  "|B sync|expect N1 2026-03-05 from-A|copy 2026-03-05 from-B|count A 2"
                  "|count B 2"_s);
        row("a copy that cannot be stored leaves the losing text in place",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|S stop|A edit N1 from-A"
                  "|B edit N1 from-B|S start|A copies fail|B sync|A sync|A copies work|A sync"
                  "|B sync|A sync|B sync|expect N1 2026-03-05 from-B|copy 2026-03-05 from-A"
                  "|count A 2|count B 2"_s);
        // The editor stays open while the synchronisation brings another computer's
        // version of its note: what the editor stores is made from what it showed.
        row("an edit made while the note changed elsewhere keeps that change as a copy",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|A open N1|B edit N1 from-B|B sync"
                  "|A sync|A save N1 from-A|A sync|B sync|A sync|B sync"
                  "|expect N1 2026-03-05 from-A|copy 2026-03-05 from-B|count A 2|count B 2"_s);
        row("an edit made while the note was deleted elsewhere brings it back",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|A open N1|B delete N1|B sync|A sync"
                  "|A save N1 from-A|A sync|B sync|expect N1 2026-03-05 from-A|count A 1"
                  "|count B 1"_s);
        // Titles are the user's writing too: a title that loses is kept in a copy's title.
        row("a title changed on both while the service is away: the earlier is kept as a copy",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|S stop|A title N1 title-A"
                  "|B title N1 title-B|S start|B sync|A sync|B sync|A sync|titled N1 title-B"
                  "|copy 2026-03-05 v1 title-A|count A 2|count B 2"_s);
        row("an edit replacing a title changed elsewhere keeps that title in the copy",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|S stop|B title N1 title-B"
                  "|A edit N1 from-A|S start|B sync|A sync|B sync|A sync"
                  "|expect N1 2026-03-05 from-A|copy 2026-03-05 v1 title-B|count A 2"
                  "|count B 2"_s);
        // A save lands between a comparison's read of the note and the write of the
        // service's version that the comparison chose: the comparison never saw that
        // change, and it stays to be compared again (and kept as a copy when it loses).
        const QString strLate = "A write N1 2026-03-05 v1|A sync|B sync|A read N1|S stop"
                                "|A edit N1 from-A|S start|%1|A compare N1|A sync|B sync|A sync"
                                "|B sync|"_s;
        row("an edit saved while a comparison takes a later edit elsewhere is kept",
            strLogin + strLate.arg("B edit N1 from-B"_s)
                + "expect N1 2026-03-05 from-B|copy 2026-03-05 from-A|count A 2|count B 2"_s);
        row("an edit saved while a comparison takes a later deletion elsewhere is kept",
            strLogin + strLate.arg("B delete N1"_s)
                + "gone N1|copy 2026-03-05 from-A|count A 1|count B 1"_s);
        row("an edit from the version the editor showed, unchanged meanwhile: no copy",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|A open N1|A sync|A save N1 from-A"
                  "|A sync|B sync|expect N1 2026-03-05 from-A|count A 1|count B 1"_s);
        row("an edit of a pending edit, unchanged meanwhile, is made from the service's version",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|S stop|A edit N1 offline|A open N1"
                  "|A save N1 from-A|S start|A sync|B sync|A sync|B sync"
                  "|expect N1 2026-03-05 from-A|count A 1|count B 1"_s);
        // A newer version whose text did not come with the run of changes (a large one):
        // fetched on its own, and fetched again when that fails.
        row("a newer large text whose download failed arrives with a later run",
            strLogin
                + "A write N1 2026-03-05 v1|A sync|B sync|B edit N1 big-v2|B sync"
                  "|P hold get_note_item|A feed|S stop|P drop|S start|A feed|A feed"
                  "|expect N1 2026-03-05 big-v2"_s);
        row("the paged download brings notes of months the calendar never showed",
            strLogin
                + "A write N1 2026-03-05 paged|A write N2 2026-01-20 old-month|B list"
                  "|expect N1 2026-03-05 paged|expect N2 2026-01-20 old-month"_s);
    }

    void scenario()
    {
        QFETCH(QStringList, steps);
        const QString strName = QStringLiteral("user%1").arg(++m_nAccount);
        CServiceClient client(m_service.baseUrl());
        QVERIFY(client.registerUser(strName, QStringLiteral("pw"), strName + "@example.com"_s)
                    .value(QStringLiteral("error"))
                    .toString()
                    .isEmpty());

        // A second account, for rows that log in as someone else.
        const QString strOther = strName + QStringLiteral("-other");
        if (steps.join(QLatin1Char('|')).contains("other"_s)) {
            QVERIFY(client.registerUser(strOther, QStringLiteral("pw"), strOther + "@example.com"_s)
                        .value(QStringLiteral("error"))
                        .toString()
                        .isEmpty());
        }

        CComputer a;
        CComputer b;
        QMap<QString, CComputer *> mapComputers{{"A"_s, &a}, {"B"_s, &b}};
        // Both computers have nothing on its way but what the proxy holds.
        auto settle = [&]() {
            if (waitUntil(
                    [&]() {
                        return a.mgt().pendingRequestCount() + b.mgt().pendingRequestCount()
                               <= m_pProxy->heldCount();
                    },
                    30000))
                return true;
            qWarning() << "still waiting for" << a.mgt().pendingRequestTypes()
                       << b.mgt().pendingRequestTypes() << "with" << m_pProxy->heldCount()
                       << "held";
            return false;
        };
        QMap<QString, QString> mapUuid;
        // What the editor of each computer opened, by note.
        QMap<QString, QVariantMap> mapOpened;
        QList<QDate> lstDays = daysOfMonths();
        lstDays << QDate(2026, 1, 20);
        // A row that loses an answer talks to the service through the proxy throughout.
        const bool bProxy = std::any_of(steps.cbegin(), steps.cend(), [](const QString &str) {
            return str.startsWith("P "_s);
        });
        if (bProxy)
            g_pSettings->setServerUrl(m_pProxy->baseUrl());
        auto restore = qScopeGuard([this] { g_pSettings->setServerUrl(m_service.baseUrl()); });

        // A text "big-..." stands for itself followed by a picture's worth of characters.
        auto textOf = [](const QString &strToken) {
            return strToken.startsWith("big-"_s) ? strToken + QString(80 * 1024, QLatin1Char('x'))
                                                 : strToken;
        };
        for (const QString &strStep : qAsConst(steps)) {
            const QStringList lst = strStep.split(QLatin1Char(' '));
            const QString strWho = lst.value(0);
            const QString strVerb = lst.value(1);
            CComputer *pComputer = mapComputers.value(strWho);
            qDebug() << "step:" << strStep;

            if (strWho == QLatin1String("P")) {
                if (strVerb == QLatin1String("cut")) {
                    m_pProxy->arm(lst.value(3), lst.value(4), lst.value(2) == QLatin1String("half"));
                } else if (strVerb == QLatin1String("hold")) {
                    m_pProxy->hold(lst.value(2));
                } else {
                    m_pProxy->release(strVerb == QLatin1String("release"));
                    QVERIFY(settle());
                }
            } else if (strWho == QLatin1String("other")) {
                QCOMPARE(serviceNotes(strOther).size(), lst.value(2).toInt());
            } else if (strWho == QLatin1String("S")) {
                if (strVerb == QLatin1String("stop")) {
                    m_service.stop();
                } else if (strVerb == QLatin1String("start")) {
                    QVERIFY(m_service.restart());
                } else {
                    // The service's database copied aside, or put back from that copy, while
                    // the service is stopped.
                    m_service.stop();
                    const QString strDb = m_dir.filePath(QStringLiteral("service.db"));
                    for (const QString &strSuffix : {""_s, "-wal"_s, "-shm"_s}) {
                        const QString strFrom = strVerb == QLatin1String("backup")
                                                    ? strDb + strSuffix
                                                    : strDb + ".bak"_s + strSuffix;
                        const QString strTo = strVerb == QLatin1String("backup")
                                                  ? strDb + ".bak"_s + strSuffix
                                                  : strDb + strSuffix;
                        QFile::remove(strTo);
                        if (QFile::exists(strFrom))
                            QVERIFY(QFile::copy(strFrom, strTo));
                    }
                    QVERIFY(m_service.restart());
                }
            } else if (strWho == QLatin1String("expect")) {
                const QString strUuid = mapUuid.value(lst.value(1));
                const QString strDay = lst.value(2);
                const QString strText = textOf(lst.value(3));
                for (CComputer *p : {&a, &b}) {
                    const QVariantMap mapNote = p->notesOfDays(lstDays).value(strUuid);
                    QCOMPARE(mapNote.value(QStringLiteral("set_at")).toString(), strDay);
                    QCOMPARE(mapNote.value(QStringLiteral("content")).toString(), strText);
                }
                const QVariantMap mapServer = serviceNotes(strName).value(strUuid);
                QCOMPARE(mapServer.value(QStringLiteral("set_at")).toString().left(10), strDay);
                QCOMPARE(mapServer.value(QStringLiteral("content")).toString(), strText);
            } else if (strWho == QLatin1String("copy")) {
                // One conflict copy of the text on its day, the same note everywhere.
                auto copiesIn = [&](const QMap<QString, QVariantMap> &mapNotes) {
                    QStringList lstFound;
                    for (auto it = mapNotes.cbegin(); it != mapNotes.cend(); ++it) {
                        if (it.value().value(QStringLiteral("deleted")).toInt() != 1
                            && it.value().value(QStringLiteral("content")).toString() == lst.value(2)
                            && it.value().value(QStringLiteral("set_at")).toString().left(10)
                                   == lst.value(1)
                            && it.value()
                                   .value(QStringLiteral("title"))
                                   .toString()
                                   .startsWith("Conflict copy, "_s)
                            && it.value()
                                   .value(QStringLiteral("title"))
                                   .toString()
                                   .endsWith(lst.value(3)))
                            lstFound << it.key();
                    }
                    return lstFound;
                };
                const QStringList lstAtService = copiesIn(serviceNotes(strName));
                QCOMPARE(lstAtService.size(), 1);
                QCOMPARE(copiesIn(a.notesOfDays(lstDays)), lstAtService);
                QCOMPARE(copiesIn(b.notesOfDays(lstDays)), lstAtService);
            } else if (strWho == QLatin1String("titled")) {
                const QString strUuid = mapUuid.value(lst.value(1));
                for (CComputer *p : {&a, &b})
                    QCOMPARE(p->notesOfDays(lstDays).value(strUuid).value("title"_s).toString(),
                             lst.value(2));
                QCOMPARE(serviceNotes(strName).value(strUuid).value("title"_s).toString(),
                         lst.value(2));
            } else if (strWho == QLatin1String("gone")) {
                const QString strUuid = mapUuid.value(lst.value(1));
                QVERIFY(!a.notesOfDays(lstDays).contains(strUuid));
                QVERIFY(!b.notesOfDays(lstDays).contains(strUuid));
                QVERIFY(!serviceNotes(strName).contains(strUuid));
            } else if (strWho == QLatin1String("count")) {
                QCOMPARE(mapComputers.value(lst.value(1))->notesOfDays(lstDays).size(),
                         lst.value(2).toInt());
            } else if (strVerb == QLatin1String("login")) {
                // Waits for the service's answer, whatever it is (it may be away).
                const int nBefore = pComputer->emitted("login_server"_s).size();
                pComputer->mgt().login(lst.value(2) == QLatin1String("other") ? strOther : strName,
                                       QStringLiteral("pw"));
                QTRY_VERIFY_WITH_TIMEOUT(pComputer->emitted("login_server"_s).size() > nBefore,
                                         20000);
                QVERIFY(settle());
            } else if (strVerb == QLatin1String("clock")) {
                // This computer's clock off by seconds, its user in a zone.
                pComputer->setClock(lst.value(2).toLongLong(), QTimeZone(lst.value(3).toUtf8()));
            } else if (strVerb == QLatin1String("logout")) {
                pComputer->mgt().logout();
            } else if (strVerb == QLatin1String("write")) {
                const QString strUuid = pComputer->writeNote(QDate::fromString(lst.value(3),
                                                                               Qt::ISODate),
                                                             lst.value(4));
                QVERIFY(!strUuid.isEmpty());
                mapUuid.insert(lst.value(2), strUuid);
                QVERIFY(pComputer->waitIdle());
            } else if (strVerb == QLatin1String("edit") || strVerb == QLatin1String("move")) {
                const QString strUuid = mapUuid.value(lst.value(2));
                QVariantMap mapNote = pComputer->notesOfDays(lstDays).value(strUuid);
                QVERIFY(!mapNote.isEmpty());
                const QString strDay = strVerb == QLatin1String("move")
                                           ? lst.value(3)
                                           : mapNote.value(QStringLiteral("set_at")).toString();
                pComputer->editNote(strUuid,
                                    QDate::fromString(strDay, Qt::ISODate),
                                    textOf(lst.last()));
                QVERIFY(settle());
            } else if (strVerb == QLatin1String("title")) {
                const QString strUuid = mapUuid.value(lst.value(2));
                const QVariantMap mapNote = pComputer->notesOfDays(lstDays).value(strUuid);
                QVERIFY(!mapNote.isEmpty());
                pComputer->mgt().upateNoteItem({{"uuid"_s, strUuid},
                                                {"set_at"_s, mapNote.value("set_at"_s)},
                                                {"content"_s, mapNote.value("content"_s)},
                                                {"title"_s, lst.value(3)}});
                QVERIFY(settle());
            } else if (strVerb == QLatin1String("compare")) {
                const QVariantMap mapRead = mapOpened.value(strWho + lst.value(2));
                QVERIFY(!mapRead.isEmpty());
                QVERIFY(client.login(strName, QStringLiteral("pw")));
                const QVariantMap mapServer = client.postAsUser(QStringLiteral("get_note_item"),
                                                                {{QStringLiteral("uuid"),
                                                                  mapUuid.value(lst.value(2))}});
                QVERIFY2(mapServer.value(QStringLiteral("id")).toInt() > 0,
                         qPrintable(mapServer.value(QStringLiteral("error")).toString()));
                pComputer->mgt().compareItem(mapRead, mapServer);
                QVERIFY(settle());
            } else if (strVerb == QLatin1String("open") || strVerb == QLatin1String("read")) {
                const QVariantMap mapNote = pComputer->notesOfDays(lstDays).value(
                    mapUuid.value(lst.value(2)));
                QVERIFY(!mapNote.isEmpty());
                mapOpened.insert(strWho + lst.value(2), mapNote);
            } else if (strVerb == QLatin1String("save")) {
                const QVariantMap mapNote = mapOpened.value(strWho + lst.value(2));
                QVERIFY(!mapNote.isEmpty());
                pComputer->editNote(mapUuid.value(lst.value(2)),
                                    QDate::fromString(mapNote.value(QStringLiteral("set_at"))
                                                          .toString()
                                                          .left(10),
                                                      Qt::ISODate),
                                    lst.value(3),
                                    mapNote);
                QVERIFY(pComputer->waitIdle());
            } else if (strVerb == QLatin1String("copyedit")) {
                // The conflict copy holding a text gets another.
                const QMap<QString, QVariantMap> mapNotes = pComputer->notesOfDays(lstDays);
                QString strCopy;
                for (auto it = mapNotes.cbegin(); it != mapNotes.cend(); ++it) {
                    if (it.value().value(QStringLiteral("content")).toString() == lst.value(2)
                        && it.value()
                               .value(QStringLiteral("title"))
                               .toString()
                               .startsWith("Conflict copy, "_s))
                        strCopy = it.key();
                }
                QVERIFY(!strCopy.isEmpty());
                pComputer->editNote(strCopy,
                                    QDate::fromString(mapNotes.value(strCopy)
                                                          .value(QStringLiteral("set_at"))
                                                          .toString()
                                                          .left(10),
                                                      Qt::ISODate),
                                    lst.value(3));
                QVERIFY(pComputer->waitIdle());
            } else if (strVerb == QLatin1String("copies")) {
                QVERIFY(pComputer->execInStore(
                    lst.value(2) == QLatin1String("fail")
                        ? "CREATE TRIGGER refuse_copies BEFORE INSERT ON note"
                          " WHEN NEW.title LIKE 'Conflict copy%'"
                          " BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END"_s
                        : "DROP TRIGGER refuse_copies"_s));
            } else if (strVerb == QLatin1String("delete")) {
                pComputer->mgt().deleteNoteItem(mapUuid.value(lst.value(2)));
                QVERIFY(pComputer->waitIdle());
            } else if (strVerb == QLatin1String("textless")) {
                const QString strUuid = mapUuid.value(lst.value(2));
                pComputer->mgt().insertNoteItem({{QStringLiteral("uuid"), strUuid},
                                                 {QStringLiteral("set_at"), "2026-03-05"_s},
                                                 {QStringLiteral("content_size"), 8}});
                QVERIFY(pComputer->waitIdle());
                QCOMPARE(pComputer->notesOfDay(QDate(2026, 3, 5))
                             .value(0)
                             .toMap()
                             .value(QStringLiteral("content"))
                             .toString(),
                         QString());
            } else if (strVerb == QLatin1String("sync")) {
                // An armed cut must have been used by the time its change is synchronised.
                QVERIFY(!m_pProxy->armed());
                sync(*pComputer);
                if (QTest::currentTestFailed())
                    return;
            } else if (strVerb == QLatin1String("feed")) {
                pComputer->invoke("onTimeOutSync");
                QVERIFY(settle());
            } else if (strVerb == QLatin1String("month")) {
                pComputer->mgt().downloadNoteListByMonth(
                    QDate::fromString(lst.value(2), Qt::ISODate));
                QVERIFY(settle());
            } else if (strVerb == QLatin1String("list")) {
                pComputer->mgt().getNoteListByOffset(0, QString());
                QVERIFY(pComputer->waitIdle());
            } else {
                QFAIL(qPrintable("unknown step "_s + strStep));
            }
        }
    }

    // Changes of a note in a month that no comparison looks at, made while the service
    // is away, reach it with the next upload run: the change waits in the database as
    // pending, whatever month it is in. A deletion too.
    void offlineChangesOfOldMonthsReachTheService_data()
    {
        QTest::addColumn<bool>("deletion");
        QTest::newRow("edit") << false;
        QTest::newRow("deletion") << true;
    }

    void offlineChangesOfOldMonthsReachTheService()
    {
        QFETCH(bool, deletion);
        const QString strName = QStringLiteral("pending%1").arg(deletion ? 2 : 1);
        CServiceClient client(m_service.baseUrl());
        QVERIFY(client.registerUser(strName, QStringLiteral("pw"), strName + "@example.com"_s)
                    .value(QStringLiteral("error"))
                    .toString()
                    .isEmpty());
        CComputer a;
        QVERIFY(a.login(strName, QStringLiteral("pw")));
        const QDate dtOld(2025, 3, 11);
        const QString strUuid = a.writeNote(dtOld, QStringLiteral("a year ago"));
        QVERIFY(!strUuid.isEmpty());
        QVERIFY(a.waitIdle());
        QTRY_COMPARE_WITH_TIMEOUT(serviceNotes(strName).value(strUuid).value("content"_s).toString(),
                                  QStringLiteral("a year ago"),
                                  20000);

        m_service.stop();
        if (deletion)
            a.mgt().deleteNoteItem(strUuid);
        else
            a.editNote(strUuid, dtOld, QStringLiteral("changed offline"));
        QVERIFY(a.waitIdle());
        QVERIFY(m_service.restart());
        // Nothing but the upload timer: no month, no list, no login.
        a.invoke("onTimeOutUploadNote");
        QVERIFY(a.waitIdle());
        QVERIFY(client.login(strName, QStringLiteral("pw")));
        const QVariantMap mapServer = client.allNotes().value(strUuid);
        if (deletion) {
            QCOMPARE(mapServer.value("deleted"_s).toInt(), 1);
        } else {
            QCOMPARE(mapServer.value("content"_s).toString(), QStringLiteral("changed offline"));
        }
        // Acknowledged: the next run sends nothing of it again.
        const int nSent = m_service.countLogLines(deletion ? "update_note_item"_s
                                                           : "replace_note_item"_s);
        a.invoke("onTimeOutUploadNote");
        QVERIFY(a.waitIdle());
        QCOMPARE(m_service.countLogLines(deletion ? "update_note_item"_s : "replace_note_item"_s),
                 nSent);
    }

    // A note the service refuses for good (larger than its limit) is reported once, with
    // its day and title, and not sent again at every run; a change of it is sent again.
    void refusedChangeIsReportedOnce()
    {
        CServiceProcess small;
        const QString strName = QStringLiteral("refused");
        auto restore = qScopeGuard([this] { g_pSettings->setServerUrl(m_service.baseUrl()); });
        QVERIFY(startSmallService(small, QStringLiteral("small.db"), strName));
        CServiceClient client(small.baseUrl());
        CComputer a;
        QVERIFY(a.login(strName, QStringLiteral("pw")));
        const QDate dt(2026, 3, 9);
        const QString strUuid = a.writeNote(dt,
                                            "<p>Holiday</p>"_s
                                                + QString(100 * 1024, QLatin1Char('x')));
        QVERIFY(!strUuid.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(a.errors().size(), 1, 20000);
        const QString strMessage = a.errors().first().at(0).toString();
        QVERIFY2(strMessage.contains("2026-03-09"_s) && strMessage.contains("Holiday"_s),
                 qPrintable(strMessage));
        QVERIFY(a.waitIdle());
        const int nSent = small.countLogLines("replace_note_item"_s);
        for (int i = 0; i < 2; ++i) {
            a.invoke("onTimeOutUploadNote");
            QVERIFY(a.waitIdle());
        }
        QCOMPARE(small.countLogLines("replace_note_item"_s), nSent);
        QCOMPARE(a.errors().size(), 1);

        // Made small enough, it goes.
        a.editNote(strUuid, dt, QStringLiteral("<p>Holiday</p>"));
        QVERIFY(a.waitIdle());
        QVERIFY(client.login(strName, QStringLiteral("pw")));
        QTRY_COMPARE_WITH_TIMEOUT(client.allNotes().value(strUuid).value("content"_s).toString(),
                                  QStringLiteral("<p>Holiday</p>"),
                                  20000);
        QCOMPARE(a.errors().size(), 1);
    }

    // A change the service refused for good stays on this computer: a later change of the
    // same note elsewhere wins, and the refused text is kept as a copy.
    void refusedChangeIsKeptWhenChangedElsewhere()
    {
        CServiceProcess small;
        const QString strName = QStringLiteral("refusedlater");
        auto restore = qScopeGuard([this] { g_pSettings->setServerUrl(m_service.baseUrl()); });
        QVERIFY(startSmallService(small, QStringLiteral("small-later.db"), strName));
        CComputer a;
        CComputer b;
        QVERIFY(a.login(strName, QStringLiteral("pw")));
        QVERIFY(b.login(strName, QStringLiteral("pw")));
        const QDate dt(2026, 3, 9);
        const QString strUuid = a.writeNote(dt, QStringLiteral("<p>first</p>"));
        QVERIFY(!strUuid.isEmpty());
        QVERIFY(a.waitIdle());
        sync(b);
        const QString strLarge = "<p>Holiday</p>"_s + QString(100 * 1024, QLatin1Char('x'));
        a.editNote(strUuid, dt, strLarge);
        QTRY_COMPARE_WITH_TIMEOUT(a.errors().size(), 1, 20000);
        QVERIFY(a.waitIdle());
        b.editNote(strUuid, dt, QStringLiteral("<p>from B</p>"));
        QVERIFY(b.waitIdle());
        sync(a);
        const QMap<QString, QVariantMap> mapNotes = a.notesOfDays({dt});
        QCOMPARE(mapNotes.value(strUuid).value("content"_s).toString(),
                 QStringLiteral("<p>from B</p>"));
        QVERIFY(std::any_of(mapNotes.cbegin(), mapNotes.cend(), [&](const QVariantMap &map) {
            return map.value("content"_s).toString() == strLarge;
        }));
    }

    // The status line says "up to date" only once the changes made here have reached the
    // service: one still on its way keeps it at "synchronising" (quitting then is not safe
    // for another computer, which would not have it yet).
    void statusWaitsForChangesOnTheirWay()
    {
        const QString strName = QStringLiteral("onitsway");
        QVERIFY(CServiceClient(m_service.baseUrl())
                    .registerUser(strName, QStringLiteral("pw"), "onitsway@example.com"_s)
                    .value(QStringLiteral("error"))
                    .toString()
                    .isEmpty());
        g_pSettings->setServerUrl(m_pProxy->baseUrl());
        auto restore = qScopeGuard([this] {
            m_pProxy->release(true);
            g_pSettings->setServerUrl(m_service.baseUrl());
        });
        CComputer a;
        const CSyncStatus *pStatus = a.mgt().syncStatus();
        QVERIFY(a.login(strName, QStringLiteral("pw")));
        QTRY_COMPARE_WITH_TIMEOUT(pStatus->state(), CSyncStatus::UpToDate, 30000);

        m_pProxy->hold(QStringLiteral("replace_note_item"));
        QVERIFY(!a.writeNote(QDate(2026, 3, 21), QStringLiteral("on its way")).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(m_pProxy->heldCount(), 1, 20000);
        // Other answers (a run of changes) come and go meanwhile.
        a.invoke("onTimeOutSync");
        QTRY_COMPARE_WITH_TIMEOUT(a.mgt().pendingRequestCount(), 1, 20000);
        QCOMPARE(pStatus->state(), CSyncStatus::Syncing);
        QVERIFY2(pStatus->text().contains("synchronising"_s), qPrintable(pStatus->text()));

        m_pProxy->release(true);
        QTRY_COMPARE_WITH_TIMEOUT(pStatus->state(), CSyncStatus::UpToDate, 30000);
    }

    // Two edits within one second on two computers: both computers and the service end
    // with the same one of the two texts.
    void editsInTheSameSecond()
    {
        const QString strName = QStringLiteral("samesecond");
        CServiceClient client(m_service.baseUrl());
        QVERIFY(client.registerUser(strName, QStringLiteral("pw"), "same@example.com"_s)
                    .value(QStringLiteral("error"))
                    .toString()
                    .isEmpty());
        CComputer a;
        CComputer b;
        QVERIFY(a.login(strName, QStringLiteral("pw")));
        QVERIFY(b.login(strName, QStringLiteral("pw")));
        const QDate day(2026, 3, 20);
        const QString strUuid = a.writeNote(day, QStringLiteral("first"));
        sync(a);
        sync(b);
        m_service.stop();
        TestClock::held() = true;
        a.editNote(strUuid, day, QStringLiteral("text of A"));
        b.editNote(strUuid, day, QStringLiteral("text of B"));
        QVERIFY(a.waitIdle());
        QVERIFY(b.waitIdle());
        TestClock::held() = false;
        QVERIFY(m_service.restart());
        for (int i = 0; i < 2; ++i) {
            sync(a);
            sync(b);
        }
        const QString strA = a.notesOfDays({day}).value(strUuid).value("content"_s).toString();
        const QString strB = b.notesOfDays({day}).value(strUuid).value("content"_s).toString();
        QVERIFY(strA == "text of A"_s || strA == "text of B"_s);
        QCOMPARE(strB, strA);
        QVERIFY(client.login(strName, QStringLiteral("pw")));
        QCOMPARE(client.allNotes().value(strUuid).value("content"_s).toString(), strA);
    }

    // Server ids belong to one service and one account there. A computer whose notes were
    // uploaded elsewhere must not take another service's notes for its own because their
    // ids happen to be equal: every note keeps its own text, and A's notes are uploaded
    // to the new service.
    void serverIdsBelongToOneService_data()
    {
        QTest::addColumn<bool>("samePort");
        QTest::newRow("another address") << false;
        QTest::newRow("the same address, the account made anew") << true;
    }

    void serverIdsBelongToOneService()
    {
        QFETCH(bool, samePort);
        const QString strName = QStringLiteral("mover");
        const QString strFirst = m_dir.filePath(QStringLiteral("first-%1.db").arg(samePort));
        const QString strSecond = m_dir.filePath(QStringLiteral("second-%1.db").arg(samePort));
        CServiceProcess first;
        QVERIFY(first.start(strFirst));
        QVERIFY(CServiceClient(first.baseUrl())
                    .registerUser(strName, QStringLiteral("pw"), "mover@example.com"_s)
                    .value(QStringLiteral("error"))
                    .toString()
                    .isEmpty());
        g_pSettings->setServerUrl(first.baseUrl());
        CComputer a;
        QVERIFY(a.login(strName, QStringLiteral("pw")));
        const QDate day(2026, 3, 12);
        const QString strA1 = a.writeNote(day, QStringLiteral("a-one"));
        const QString strA2 = a.writeNote(day, QStringLiteral("a-two"));
        sync(a);
        a.mgt().logout();
        QVERIFY(a.waitIdle());

        CServiceProcess second;
        if (samePort) {
            first.stop();
            QVERIFY(second.start(strSecond, {}, first.port()));
        } else {
            QVERIFY(second.start(strSecond));
        }
        CServiceClient client(second.baseUrl());
        if (samePort) {
            // Someone else registers first: the account gets another id.
            QVERIFY(client
                        .registerUser(QStringLiteral("early"),
                                      QStringLiteral("pw"),
                                      "early@example.com"_s)
                        .value(QStringLiteral("error"))
                        .toString()
                        .isEmpty());
        }
        QVERIFY(client.registerUser(strName, QStringLiteral("pw"), "mover@example.com"_s)
                    .value(QStringLiteral("error"))
                    .toString()
                    .isEmpty());
        g_pSettings->setServerUrl(second.baseUrl());
        // Notes at the new service whose ids are those of A's notes at the old one.
        CComputer b;
        QVERIFY(b.login(strName, QStringLiteral("pw")));
        const QString strB1 = b.writeNote(day, QStringLiteral("b-one"));
        const QString strB2 = b.writeNote(day, QStringLiteral("b-two"));
        sync(b);

        QVERIFY(a.login(strName, QStringLiteral("pw")));
        sync(a);
        sync(b);
        sync(a);
        const QMap<QString, QString> mapWanted{{strA1, "a-one"_s},
                                               {strA2, "a-two"_s},
                                               {strB1, "b-one"_s},
                                               {strB2, "b-two"_s}};
        for (CComputer *p : {&a, &b}) {
            const QMap<QString, QVariantMap> mapNotes = p->notesOfDays({day});
            QCOMPARE(mapNotes.size(), 4);
            for (auto it = mapWanted.cbegin(); it != mapWanted.cend(); ++it)
                QCOMPARE(mapNotes.value(it.key()).value(QStringLiteral("content")).toString(),
                         it.value());
        }
        QVERIFY(client.login(strName, QStringLiteral("pw")));
        const QMap<QString, QVariantMap> mapServer = client.allNotes();
        QCOMPARE(mapServer.size(), 4);
        for (auto it = mapWanted.cbegin(); it != mapWanted.cend(); ++it)
            QCOMPARE(mapServer.value(it.key()).value(QStringLiteral("content")).toString(),
                     it.value());
        g_pSettings->setServerUrl(m_service.baseUrl());
    }

    // A note that reached the service without a UUID (an older client wrote it) is given
    // one by the computer that downloads it, and is kept there only once the service has
    // taken the UUID.
    void serviceNoteWithoutUuid()
    {
        const QString strName = QStringLiteral("nouuid");
        CServiceClient client(m_service.baseUrl());
        QVERIFY(client.registerUser(strName, QStringLiteral("pw"), "nouuid@example.com"_s)
                    .value(QStringLiteral("error"))
                    .toString()
                    .isEmpty());
        QVERIFY(client.login(strName, QStringLiteral("pw")));
        const QVariantMap mapStored
            = client.postAsUser(QStringLiteral("replace_note_item"),
                                {{QStringLiteral("set_at"), "2026-03-14 00:00:00"_s},
                                 {QStringLiteral("updated_at"), "2026-03-14 09:00:00"_s},
                                 {QStringLiteral("content"), "without uuid"_s}});
        QVERIFY2(mapStored.value(QStringLiteral("error")).toString().isEmpty(),
                 qPrintable(mapStored.value(QStringLiteral("error")).toString()));
        QVERIFY(client.allNotes().firstKey().startsWith(QLatin1Char('#')));

        CComputer a;
        // The login's list page downloads the newest notes.
        QVERIFY(a.login(strName, QStringLiteral("pw")));
        const QMap<QString, QVariantMap> mapLocal = a.notesOfDays({QDate(2026, 3, 14)});
        QCOMPARE(mapLocal.size(), 1);
        const QString strUuid = mapLocal.firstKey();
        QCOMPARE(strUuid.size(), 38);
        QCOMPARE(mapLocal.first().value(QStringLiteral("content")).toString(),
                 QStringLiteral("without uuid"));
        const QMap<QString, QVariantMap> mapServer = client.allNotes();
        QCOMPARE(mapServer.keys(), QStringList{strUuid});
    }

    // A new computer gets the whole account at the login, without any view asking; later
    // notes, before the next run of the changes, arrive through the note list: its pages
    // fetch the service's notes of the window they cover, a search those that match.
    void pagingAndSearch()
    {
        const QString strName = QStringLiteral("pager");
        CServiceClient client(m_service.baseUrl());
        QVERIFY(client.registerUser(strName, QStringLiteral("pw"), "pager@example.com"_s)
                    .value(QStringLiteral("error"))
                    .toString()
                    .isEmpty());
        CComputer a;
        QVERIFY(a.login(strName, QStringLiteral("pw")));
        auto writeBatch = [&](const QString &strWord, int nFrom, int nCount) {
            // The oldest change of the batch: a note with a word that a search finds.
            const QString strUuid = a.writeNote(QDate(2026, 3, 28),
                                                QStringLiteral("a %1 crossing").arg(strWord));
            for (int i = nFrom; i < nFrom + nCount; ++i) {
                if (a.writeNote(QDate(2026, 3, 1 + i % 25), QStringLiteral("note %1").arg(i))
                        .isEmpty())
                    return QString();
            }
            return strUuid;
        };
        const int nNotes = 120;
        const QString strZebra = writeBatch(QStringLiteral("zebra"), 0, nNotes);
        QVERIFY(!strZebra.isEmpty());
        QVERIFY(a.waitIdle());
        QTRY_COMPARE_WITH_TIMEOUT(client.login(strName, QStringLiteral("pw"))
                                      ? client.allNotes().size()
                                      : -1,
                                  nNotes + 1,
                                  30000);

        CComputer b;
        QVERIFY(b.login(strName, QStringLiteral("pw")));
        QVERIFY(b.waitIdle());
        const QList<QDate> lstDays = daysOfMonths();
        QTRY_COMPARE_WITH_TIMEOUT(b.notesOfDays(lstDays).size(), nNotes + 1, 30000);
        QVERIFY(b.notesOfDays(lstDays).contains(strZebra));

        const QString strYak = writeBatch(QStringLiteral("yak"), nNotes, nNotes);
        QVERIFY(!strYak.isEmpty());
        QVERIFY(a.waitIdle());
        // The first list page fetches the service's notes changed since the oldest one it
        // shows, 50 at a time.
        b.mgt().getNoteListByOffset(0, QString());
        QVERIFY(b.waitIdle());
        QCOMPARE(b.notesOfDays(lstDays).size(), 2 * nNotes + 2);
        QVERIFY(b.notesOfDays(lstDays).contains(strYak));

        // A search fetches what matches at the service: a note that the window no longer
        // covers, changed there while this computer looked elsewhere.
        const QString strQuokka = a.writeNote(QDate(2026, 3, 2), QStringLiteral("a quokka"));
        QVERIFY(!strQuokka.isEmpty());
        QVERIFY(a.waitIdle());
        b.mgt().getNoteListByOffset(0, QStringLiteral("quokka"));
        QVERIFY(b.waitIdle());
        QVERIFY(b.notesOfDays(lstDays).contains(strQuokka));
    }
};

QTEST_MAIN(TestSync)
#include "tst_sync.moc"
