// Randomised convergence of synchronisation: for many seeds, two or three computers of
// one account create, edit, move and delete notes, with random synchronisation steps and
// outages of the service in between; then every computer synchronises until nothing
// changes any more. Afterwards every computer and the service hold the same live notes
// (UUID, day, text); a note whose last change was an edit carries that edit, and a note
// whose last change was a deletion is live nowhere. The test clock gives every change
// its own second, so "last" is the order in which the operations were made.
//
// KELPO_SYNC_SEEDS, KELPO_SYNC_OPS and KELPO_SYNC_FIRST_SEED (defaults 30, 60, 1) set the
// number of seeds, the operations per seed and the first seed.

#include "settings.h"
#include "syncfixture.h"

#include <QRandomGenerator>

#include <memory>

namespace {

const QList<QDate> g_lstDays = {QDate(2026, 2, 26),
                                QDate(2026, 2, 27),
                                QDate(2026, 3, 2),
                                QDate(2026, 3, 3)};
const QList<QDate> g_lstMonths = {QDate(2026, 2, 1), QDate(2026, 3, 1)};

int envInt(const char *pName, int nDefault)
{
    bool bOk = false;
    const int n = qEnvironmentVariableIntValue(pName, &bOk);
    return bOk && n > 0 ? n : nDefault;
}

// What the test expects of a note: the day and text of its last change, or deleted.
struct CExpected
{
    QString strDay;
    QString strText;
    bool bDeleted = false;
};

using Snapshot = QMap<QString, QString>; // uuid -> "day|text"

} // namespace

class TestConvergence : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CSettings> m_pSettings;
    CServiceProcess m_service;
    int m_nCopies = 0;

    static bool syncStep(CComputer &computer, int nKind, const QDate &dtMonth)
    {
        switch (nKind) {
        case 0:
            computer.mgt().downloadNoteListByMonth(dtMonth);
            break;
        case 1:
            computer.invoke("onTimeOutUploadNote");
            break;
        case 2:
            computer.invoke("onTimeOutDownloadNote");
            break;
        default:
            computer.mgt().getNoteListByOffset(0, QString());
            break;
        }
        return computer.waitIdle();
    }

    static bool fullSync(CComputer &computer)
    {
        bool bOk = true;
        for (const QDate &dt : g_lstMonths)
            bOk = syncStep(computer, 0, dt) && bOk;
        for (int nKind = 1; nKind <= 3; ++nKind)
            bOk = syncStep(computer, nKind, QDate()) && bOk;
        return bOk;
    }

    // A conflict copy keeps a change that lost; the snapshot marks it.
    static QString copyMark(const QVariantMap &mapNote)
    {
        return mapNote.value(QStringLiteral("title")).toString().startsWith("Conflict copy, "_s)
                   ? "|copy"_s
                   : QString();
    }

    static Snapshot snapshotOf(CComputer &computer)
    {
        Snapshot snap;
        const QMap<QString, QVariantMap> map = computer.notesOfDays(g_lstDays);
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            snap.insert(it.key(),
                        it.value().value(QStringLiteral("set_at")).toString() + "|"_s
                            + it.value().value(QStringLiteral("content")).toString()
                            + copyMark(it.value()));
        return snap;
    }

    static Snapshot snapshotOf(CServiceClient &client)
    {
        Snapshot snap;
        const QMap<QString, QVariantMap> map = client.allNotes();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (it.value().value(QStringLiteral("deleted")).toInt() == 1)
                continue;
            snap.insert(it.key(),
                        it.value().value(QStringLiteral("set_at")).toString().left(10) + "|"_s
                            + it.value().value(QStringLiteral("content")).toString()
                            + copyMark(it.value()));
        }
        return snap;
    }

    // Runs one seed; returns the number of operations done.
    int runSeed(quint32 nSeed, int nOps)
    {
        QRandomGenerator random(nSeed);
        const QString strName = QStringLiteral("seed%1").arg(nSeed);
        CServiceClient client(m_service.baseUrl());
        if (!client.registerUser(strName, QStringLiteral("pw"), strName + "@example.com"_s)
                 .value(QStringLiteral("error"))
                 .toString()
                 .isEmpty()) {
            qWarning() << "cannot register" << strName;
            return -1;
        }

        const int nComputers = 2 + int(random.bounded(2));
        std::vector<std::unique_ptr<CComputer>> computers;
        QList<bool> lstLoggedIn;
        for (int i = 0; i < nComputers; ++i) {
            computers.push_back(std::make_unique<CComputer>());
            // The last computer may start without a login and write notes of nobody.
            const bool bLogin = i < nComputers - 1 || random.bounded(2) == 0;
            if (bLogin && !computers.back()->login(strName, QStringLiteral("pw"))) {
                qWarning() << "login failed";
                return -1;
            }
            lstLoggedIn << bLogin;
        }

        QMap<QString, CExpected> mapExpected;
        bool bServiceUp = true;
        int nText = 0;
        auto newText = [&]() { return QStringLiteral("s%1-t%2").arg(nSeed).arg(++nText); };

        for (int nOp = 0; nOp < nOps; ++nOp) {
            const int nWho = int(random.bounded(nComputers));
            CComputer &computer = *computers[size_t(nWho)];
            const int nDice = int(random.bounded(100));
            if (nDice < 4) {
                // The service goes away or comes back.
                if (bServiceUp)
                    m_service.stop();
                else if (!m_service.restart())
                    return -1;
                bServiceUp = !bServiceUp;
            } else if (nDice < 8 && !lstLoggedIn.at(nWho)) {
                computer.mgt().login(strName, QStringLiteral("pw"));
                if (!computer.waitIdle())
                    return -1;
                lstLoggedIn[nWho] = true;
            } else if (nDice < 30) {
                const QDate dt = g_lstDays.at(int(random.bounded(g_lstDays.size())));
                const QString strText = newText();
                const QString strUuid = computer.writeNote(dt, strText);
                if (strUuid.isEmpty())
                    return -1;
                mapExpected.insert(strUuid, {dt.toString(Qt::ISODate), strText, false});
                if (!computer.waitIdle())
                    return -1;
            } else if (nDice < 65) {
                // Edits and moves of a note that this computer shows.
                const QStringList lstLive = computer.notesOfDays(g_lstDays).keys();
                if (lstLive.isEmpty())
                    continue;
                const QString strUuid = lstLive.at(int(random.bounded(lstLive.size())));
                CExpected &expected = mapExpected[strUuid];
                const QString strText = newText();
                const QDate dt = nDice < 55 ? QDate::fromString(computer.notesOfDays(g_lstDays)
                                                                    .value(strUuid)
                                                                    .value(QStringLiteral("set_at"))
                                                                    .toString(),
                                                                Qt::ISODate)
                                            : g_lstDays.at(int(random.bounded(g_lstDays.size())));
                computer.editNote(strUuid, dt, strText);
                // The latest change wins, even over a deletion made elsewhere before it.
                expected.strText = strText;
                expected.strDay = dt.toString(Qt::ISODate);
                expected.bDeleted = false;
                if (!computer.waitIdle())
                    return -1;
            } else if (nDice < 75) {
                const QStringList lstLive = computer.notesOfDays(g_lstDays).keys();
                if (lstLive.isEmpty())
                    continue;
                const QString strUuid = lstLive.at(int(random.bounded(lstLive.size())));
                computer.mgt().deleteNoteItem(strUuid);
                mapExpected[strUuid].bDeleted = true;
                if (!computer.waitIdle())
                    return -1;
            } else {
                syncStep(computer,
                         int(random.bounded(4)),
                         g_lstMonths.at(int(random.bounded(g_lstMonths.size()))));
            }
        }

        // Everyone back: the service up, every computer logged in at it.
        if (!bServiceUp && !m_service.restart())
            return -1;
        for (auto &pComputer : computers) {
            if (!pComputer->login(strName, QStringLiteral("pw"))) {
                qWarning() << "login failed after the operations";
                return -1;
            }
        }
        if (!client.login(strName, QStringLiteral("pw")))
            return -1;

        // Synchronise until nothing changes.
        QList<Snapshot> lstPrevious;
        QList<Snapshot> lstNow;
        int nRounds = 0;
        for (; nRounds < 10; ++nRounds) {
            for (auto &pComputer : computers) {
                if (!fullSync(*pComputer))
                    return -1;
            }
            lstNow.clear();
            for (auto &pComputer : computers)
                lstNow << snapshotOf(*pComputer);
            lstNow << snapshotOf(client);
            if (lstNow == lstPrevious)
                break;
            lstPrevious = lstNow;
        }
        if (nRounds == 10)
            qWarning() << "seed" << nSeed << "did not settle";

        // The same live notes everywhere.
        for (int i = 0; i < lstNow.size() - 1; ++i) {
            if (lstNow.at(i) != lstNow.last()) {
                qWarning() << "seed" << nSeed << "computer" << i << lstNow.at(i) << "service"
                           << lstNow.last();
                return -1;
            }
        }
        // Every note is as its last change left it.
        const Snapshot &snap = lstNow.last();
        for (auto it = mapExpected.cbegin(); it != mapExpected.cend(); ++it) {
            const QString strWanted = it.value().strDay + "|"_s + it.value().strText;
            // A conflict copy that was edited afterwards keeps its title.
            QString strFound = snap.value(it.key());
            if (strFound.endsWith("|copy"_s))
                strFound.chop(5);
            if (it.value().bDeleted ? snap.contains(it.key()) : strFound != strWanted) {
                qWarning() << "seed" << nSeed << "note" << it.key() << "deleted"
                           << it.value().bDeleted << "wanted" << strWanted << "found"
                           << snap.value(it.key());
                return -1;
            }
        }
        // Besides them only conflict copies, each of a text written here and each once.
        QSet<QString> setCopied;
        for (auto it = snap.cbegin(); it != snap.cend(); ++it) {
            if (mapExpected.contains(it.key()))
                continue;
            const QStringList lstParts = it.value().split(QLatin1Char('|'));
            const bool bCopy = lstParts.size() == 3 && lstParts.at(2) == "copy"_s
                               && lstParts.at(1).startsWith(QStringLiteral("s%1-t").arg(nSeed));
            if (!bCopy || setCopied.contains(lstParts.at(1))) {
                qWarning() << "seed" << nSeed << "unexpected note" << it.key() << it.value();
                return -1;
            }
            setCopied.insert(lstParts.at(1));
        }
        m_nCopies += setCopied.size();
        return nOps;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(setUpSyncEnvironment(m_dir,
                                      m_pSettings,
                                      m_service,
                                      m_dir.filePath(QStringLiteral("service.db"))),
                 "kelpo-server did not start");
        g_pSettings->setServerUrl(m_service.baseUrl());
    }

    void cleanupTestCase() { g_pSettings = nullptr; }

    void converges()
    {
        const int nSeeds = envInt("KELPO_SYNC_SEEDS", 30);
        const int nOps = envInt("KELPO_SYNC_OPS", 60);
        const quint32 nFirstSeed = quint32(envInt("KELPO_SYNC_FIRST_SEED", 1));
        int nTotal = 0;
        for (quint32 nSeed = nFirstSeed; nSeed < nFirstSeed + quint32(nSeeds); ++nSeed) {
            const int nDone = runSeed(nSeed, nOps);
            QVERIFY2(nDone >= 0, qPrintable(QStringLiteral("seed %1 failed").arg(nSeed)));
            nTotal += nDone;
        }
        qInfo().noquote() << QStringLiteral("%1 seeds, %2 operations, %3 conflict copies")
                                 .arg(nSeeds)
                                 .arg(nTotal)
                                 .arg(m_nCopies);
    }
};

QTEST_MAIN(TestConvergence)
#include "tst_convergence.moc"
