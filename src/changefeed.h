#ifndef CHANGEFEED_H
#define CHANGEFEED_H

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

class CSyncHost;
class CSyncEngine;
struct CRequestResult;

// Brings every note of the account here in the background, and afterwards only what
// changed: follows the service's sequence of changes (get_note_changes).
//
// A run reads the position kept in local.db for this user, account and service: the
// cursor, the change number up to which everything is here. It then walks the changes
// above the cursor from the latest downwards, a page at a time; the latest change number
// of the first answer is the walk's top. Each page's new notes are stored together with
// the position reached (walk_top, walk_before) in one transaction, so that a restart goes
// on where the last stored page ended and never skips a note. When the walk reaches the
// cursor, the top becomes the new cursor. Notes that already exist here are compared as
// any other copy of the service's. Small texts come with the pages; larger ones are
// fetched one note at a time after the walk, the latest first. The next page is asked for
// while the current one is compared and stored; it is handled only after that. With the
// cursor the service names a note and its number; sent back, they let the service tell
// that its database was put back from an older copy (then everything is compared again).
class CChangeFeed : public QObject
{
    Q_OBJECT

public:
    CChangeFeed(CSyncHost &host, CSyncEngine &engine, QObject *parent = nullptr);

    // Result types handled here.
    static QStringList resultTypes();
    bool handle(CRequestResult &result);
    // A failed request of one of those types: the run ends; the next one starts again from
    // the position stored.
    void handleError(CRequestResult &result);

    // Starts a run unless one is under way (then another follows it).
    void run();
    // Forgets the run under way (another login).
    void reset();
    bool isRunning() const { return m_state != State::Idle; }

    // Notes per page, and the largest text that comes with a page.
    static constexpr int kPageSize = 500;
    static constexpr int kContentLimit = 64 * 1024;

signals:
    // nDone of nTotal notes of the walk are stored here.
    void progress(int nDone, int nTotal);
    // The run has reached the latest change (its texts may still be on their way).
    void finished();

private:
    enum class State { Idle, ReadingPosition, Fetching, Comparing, Storing };

    QVariantMap context(const QString &strType, const QVariantMap &mapData) const;
    void fetchPage();
    // Asks for the page below nBefore while the current one is being stored.
    void fetchAhead(qint64 nBefore);
    void comparePage(const QVariantMap &mapReply);
    void pageStored(CRequestResult &r);
    // After a walk over the whole account: the notes here that it did not bring.
    void lookUpUnwalked();
    void stop();

    CSyncHost &m_host;
    CSyncEngine &m_engine;
    State m_state = State::Idle;
    bool m_bAgain = false;
    int m_nGeneration = 0;
    int m_nRun = 0;
    // The page asked for ahead: its "before" (0: none), and its answer once it is here.
    qint64 m_nAheadBefore = 0;
    bool m_bAheadArrived = false;
    QVariantMap m_mapAhead;
    QString m_strServiceUrl;
    int m_nServerUserId = 0;
    qint64 m_nCursor = 0;
    // The note the service named with the cursor, and with the walk's top (see
    // Protocol::Field::kCheckUuid): sent with every request, so that the service tells
    // when its history is no longer the one followed.
    QString m_strCheckUuid;
    qint64 m_nCheckChange = 0;
    QString m_strTopCheckUuid;
    qint64 m_nTopCheckChange = 0;
    qint64 m_nTop = 0;
    qint64 m_nBefore = 0;
    int m_nDone = 0;
    int m_nTotal = 0;
    // A walk over the whole account (from the first change, or again after the service's
    // database was put back): the notes it brought. Those here that it did not bring are
    // notes the service lacks (written there after the copy it was put back from): each is
    // looked up at the service, and sent again when it is not there.
    bool m_bWholeWalk = false;
    QSet<QString> m_setWalked;
    QSet<QString> m_setWalkedDone;
};

#endif // CHANGEFEED_H
