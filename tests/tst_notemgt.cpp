#include "langmgt.h"
#include "notemgt.h"
#include "settings.h"
#include "sqlbuilder.h"

#include <QImage>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <cstdio>
#include <unistd.h>

namespace {

// Generous: the machine may be busy with other builds.
const int kTimeout = 20000;

QString operator""_s(const char *str, size_t nSize)
{
    return QString::fromUtf8(str, int(nSize));
}

// Makes a file that this process cannot write: by its mode, or for root (whom modes do not
// stop) by the file system's immutable flag. False when neither can be had here.
bool setWritable(const QString &strFile, bool bWritable)
{
    if (::geteuid() != 0)
        return QFile::setPermissions(strFile,
                                     bWritable ? QFile::ReadOwner | QFile::WriteOwner
                                               : QFile::ReadOwner);
    return QProcess::execute("chattr"_s, {bWritable ? "-i"_s : "+i"_s, strFile}) == 0;
}

// A stand-in for the note service on 127.0.0.1: records the endpoint of every post and
// answers each with the JSON body set for that endpoint ("{}" by default).
class CFakeService : public QTcpServer
{
public:
    QStringList m_lstEndpoints;
    QList<QByteArray> m_lstBodies;
    QMap<QString, QByteArray> m_mapReply;

    CFakeService()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *pSocket = nextPendingConnection()) {
                connect(pSocket, &QTcpSocket::disconnected, pSocket, &QObject::deleteLater);
                connect(pSocket, &QTcpSocket::readyRead, this, [this, pSocket] { onRead(pSocket); });
            }
        });
    }

private:
    QHash<QTcpSocket *, QByteArray> m_hashBuffer;

    void onRead(QTcpSocket *pSocket)
    {
        QByteArray &buffer = m_hashBuffer[pSocket];
        buffer += pSocket->readAll();
        const int nHeaderEnd = buffer.indexOf("\r\n\r\n");
        if (nHeaderEnd < 0)
            return;
        int nLength = 0;
        for (const QByteArray &line : buffer.left(nHeaderEnd).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                nLength = line.mid(15).trimmed().toInt();
        }
        if (buffer.size() < nHeaderEnd + 4 + nLength)
            return;
        const QByteArray path = buffer.left(buffer.indexOf('\n')).split(' ').value(1);
        const QString strEndpoint = QString::fromUtf8(path.mid(path.lastIndexOf('/') + 1));
        m_lstEndpoints << strEndpoint;
        m_lstBodies << buffer.mid(nHeaderEnd + 4, nLength);
        m_hashBuffer.remove(pSocket);
        const QByteArray body = m_mapReply.value(strEndpoint, QByteArrayLiteral("{}"));
        pSocket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                       + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        pSocket->disconnectFromHost();
    }
};

// Replaces a time within the last minute by "<now>", so that maps holding the current
// time compare with fixed expectations.
void maskNow(QVariantMap &map)
{
    for (const char *key : {"updated_at", "created_at", "log_at", "date"}) {
        const QString strKey = QLatin1String(key);
        const QDateTime dt = QDateTime::fromString(map.value(strKey).toString(),
                                                   QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        if (dt.isValid() && qAbs(dt.secsTo(QDateTime::currentDateTime())) < 60)
            map.insert(strKey, QStringLiteral("<now>"));
    }
}

QString show(const QVariant &var)
{
    return QString::fromUtf8(QJsonDocument::fromVariant(var).toJson(QJsonDocument::Compact));
}

#define COMPARE_MAP(actual, expected) \
    QVERIFY2((actual) == (expected), \
             qPrintable(QStringLiteral("\n   Actual: %1\n Expected: %2") \
                            .arg(show(actual), show(expected))))

} // namespace

class TestNoteMgt : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dirSettings;
    QTemporaryDir m_dirFiles;
    std::unique_ptr<CSettings> m_pSettings;
    std::unique_ptr<CLangMgt> m_pLangMgt;
    CFakeService m_service;
    std::unique_ptr<QTemporaryDir> m_pDataDir;
    std::unique_ptr<CNoteMgt> m_pNoteMgt;

    CNoteMgt &makeNoteMgt()
    {
        m_pNoteMgt = std::make_unique<CNoteMgt>(m_pDataDir->path(), 60000);
        return *m_pNoteMgt;
    }

    // Every result of the store that was queued so far has been handled.
    void roundTrip(CNoteMgt &nm)
    {
        QSignalSpy spy(&nm.m_dbMgt, &CDbMgt::dataReceived);
        const QString strUuid = nm.m_dbMgt.getUser(0);
        QVERIFY(!strUuid.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(spy.cbegin(),
                                             spy.cend(),
                                             [&](const QList<QVariant> &args) {
                                                 return args.value(0)
                                                            .toMap()
                                                            .value(QStringLiteral("uuid"))
                                                            .toString()
                                                        == strUuid;
                                             }),
                                 kTimeout);
    }

    // No request is pending and every queued store write (the log) has run.
    void drain(CNoteMgt &nm)
    {
        QTRY_VERIFY2_WITH_TIMEOUT(nm.m_mapRequest.isEmpty(),
                                  qPrintable(show(nm.m_mapRequest)),
                                  kTimeout);
        roundTrip(nm);
        QVERIFY(nm.m_mapRequest.isEmpty());
    }

    // Shuts the note manager down and reads what the store wrote to a table.
    QList<QVariantMap> closeAndRead(const QString &strSql)
    {
        if (m_pNoteMgt) {
            drain(*m_pNoteMgt);
            m_pNoteMgt.reset();
        }
        QList<QVariantMap> lst;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                        QStringLiteral("reader"));
            db.setDatabaseName(QDir(m_pDataDir->path()).filePath(QStringLiteral("local.db")));
            if (db.open()) {
                QSqlQuery query(db);
                query.exec(strSql);
                while (query.next()) {
                    QVariantMap row;
                    for (int i = 0; i < query.record().count(); ++i)
                        row.insert(query.record().fieldName(i), query.value(i));
                    lst << row;
                }
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("reader"));
        return lst;
    }

    QList<QVariantMap> closeAndReadLog()
    {
        QList<QVariantMap> lst = closeAndRead(
            QStringLiteral("SELECT log_type, error, result, user_id, log_at FROM log"));
        for (QVariantMap &row : lst)
            maskNow(row);
        return lst;
    }

    // The dataReceived maps of one type.
    static QList<QVariantMap> received(const QSignalSpy &spy, const QString &strType)
    {
        QList<QVariantMap> lst;
        for (const QList<QVariant> &args : spy) {
            const QVariantMap map = args.value(0).toMap();
            if (map.value(QStringLiteral("type")).toString() == strType)
                lst << map;
        }
        return lst;
    }

    // Saves a note as the editor does and returns it as the list receives it.
    QVariantMap saveNote(CNoteMgt &nm, const QVariantMap &mapEditor)
    {
        QSignalSpy spy(&nm, &CNoteMgt::appendNoteItemToList);
        nm.upateNoteItem(mapEditor);
        if (!spy.wait(kTimeout) && spy.isEmpty())
            return {};
        return spy.first().value(0).toMap();
    }

    QList<QVariantMap> dayList(CNoteMgt &nm, const QDate &dt)
    {
        QSignalSpy spy(&nm, &CNoteMgt::dataReceived);
        nm.getNoteListByDay(dt);
        QList<QVariantMap> lst;
        if (!QTest::qWaitFor(
                [&] { return !received(spy, QStringLiteral("note_list_by_day")).isEmpty(); },
                kTimeout))
            return lst;
        for (const QVariant &row : received(spy, QStringLiteral("note_list_by_day"))
                                       .first()
                                       .value(QStringLiteral("result"))
                                       .toList())
            lst << row.toMap();
        return lst;
    }

    QString file(const QString &strName) const { return m_dirFiles.filePath(strName); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dirSettings.isValid());
        QVERIFY(m_dirFiles.isValid());
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dirSettings.path());
        m_pSettings = std::make_unique<CSettings>(QStringLiteral("Greyfen Software"),
                                                  QStringLiteral("notemgt-test"));
        m_pLangMgt = std::make_unique<CLangMgt>();
        g_pSettings = m_pSettings.get();
        g_pLangMgt = m_pLangMgt.get();
        QVERIFY(m_service.listen(QHostAddress::LocalHost, 0));
        g_pSettings->setServerUrl(
            QStringLiteral("http://127.0.0.1:%1/mobile/").arg(m_service.serverPort()));

        // Pictures in both formats and shapes, and a file that is no picture.
        struct Picture
        {
            const char *name;
            int w;
            int h;
            const char *format;
        };
        for (const Picture &p : {Picture{"wide.png", 1000, 400, "PNG"},
                                 Picture{"tall.png", 400, 1000, "PNG"},
                                 Picture{"square.png", 300, 300, "PNG"},
                                 Picture{"small.png", 120, 80, "PNG"},
                                 Picture{"wide.jpg", 1000, 400, "JPEG"}}) {
            QImage image(p.w, p.h, QImage::Format_RGB32);
            image.fill(QColor(30, 120, 200));
            QVERIFY(image.save(file(QLatin1String(p.name)), p.format));
        }
        QFile text(file(QStringLiteral("notes.png")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("this is plain text, not a picture\n");
        text.close();
        QVERIFY(QDir(m_dirFiles.path()).mkdir(QStringLiteral("folder.png")));
    }

    void init()
    {
        m_pDataDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_pDataDir->isValid());
        m_service.m_lstEndpoints.clear();
        m_service.m_lstBodies.clear();
        m_service.m_mapReply.clear();
        g_pSettings->setAutoLogin(false);
    }

    void cleanup()
    {
        m_pNoteMgt.reset();
        m_pDataDir.reset();
    }

    void cleanupTestCase()
    {
        g_pSettings = nullptr;
        g_pLangMgt = nullptr;
    }

    // ---- requests and their contexts ----

    void requestContexts_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QVariantMap>("data");
        QTest::addColumn<bool>("hasDate");

        const QDate dt(2016, 3, 5);
        const QString strDay = QStringLiteral("2016-03-05");
        const QString strUuid = QStringLiteral("{5b0c3c43-2a56-4b8e-9a6e-6b5ef0b1f001}");
        QTest::newRow("getNoteListByDay")
            << "getNoteListByDay"_s
            << "note_list_by_day"_s << QVariantMap{{"date"_s, strDay}} << false;
        QTest::newRow("getNoteListByMonth")
            << "getNoteListByMonth"_s
            << "get_note_list_by_month"_s << QVariantMap{{"date"_s, dt}} << false;
        QTest::newRow("getNoteListByOffset, defaults")
            << "getNoteListByOffset()"_s
            << "get_note_list_by_offset"_s
            << QVariantMap{{"offset"_s, 0}, {"search_string"_s, QString()}, {"number"_s, 50}}
            << false;
        QTest::newRow("getNoteListByOffset, page and search")
            << "getNoteListByOffset(20)"_s
            << "get_note_list_by_offset"_s
            << QVariantMap{{"offset"_s, 20}, {"search_string"_s, "it's 100%"_s}, {"number"_s, 50}}
            << false;
        QTest::newRow("getDayNoteCount")
            << "getDayNoteCount"_s
            << "day_note_count"_s << QVariantMap{{"date"_s, strDay}} << false;
        QTest::newRow("getDayNoteCountByMonth")
            << "getDayNoteCountByMonth"_s
            << "day_note_count_by_month"_s << QVariantMap{{"date"_s, strDay}} << false;
        QTest::newRow("getNoteItem") << "getNoteItem"_s
                                     << "get_note_item"_s << QVariantMap{{"id"_s, 3}} << false;
        QTest::newRow("deleteNoteItem")
            << "deleteNoteItem"_s
            << "delete_note_item"_s << QVariantMap{{"uuid"_s, strUuid}} << true;
        QTest::newRow("replaceNoteItem, default field")
            << "replaceNoteItem"_s
            << "replace_note_item"_s
            << QVariantMap{{"data"_s,
                            QVariantMap{{"uuid"_s, strUuid}, {"set_at"_s, "2016-03-05 00:00:00"_s}}},
                           {"field"_s, "uuid"_s}}
            << true;
        QTest::newRow("refreshNoteItem")
            << "refreshNoteItem"_s
            << "refresh_note_item"_s << QVariantMap{{"uuid"_s, strUuid}} << true;
    }

    // Each operation queues one request and keeps its context until the result is handled.
    void requestContexts()
    {
        QFETCH(QString, op);
        QFETCH(QString, type);
        QFETCH(QVariantMap, data);
        QFETCH(bool, hasDate);

        CNoteMgt &nm = makeNoteMgt();
        QCoreApplication::processEvents(); // init
        QVERIFY(nm.m_mapRequest.isEmpty());
        const QDate dt(2016, 3, 5);
        // Called by name, as QML calls them, so that default arguments are exercised.
        bool bOk = false;
        if (op == QLatin1String("getNoteListByDay"))
            bOk = QMetaObject::invokeMethod(&nm, "getNoteListByDay", Q_ARG(QDate, dt));
        else if (op == QLatin1String("getNoteListByMonth"))
            bOk = QMetaObject::invokeMethod(&nm, "getNoteListByMonth", Q_ARG(QDate, dt));
        else if (op == QLatin1String("getNoteListByOffset()"))
            bOk = QMetaObject::invokeMethod(&nm, "getNoteListByOffset");
        else if (op == QLatin1String("getNoteListByOffset(20)"))
            bOk = QMetaObject::invokeMethod(&nm,
                                            "getNoteListByOffset",
                                            Q_ARG(int, 20),
                                            Q_ARG(QString, QStringLiteral("it's 100%")));
        else if (op == QLatin1String("getDayNoteCount"))
            bOk = QMetaObject::invokeMethod(&nm, "getDayNoteCount", Q_ARG(QDate, dt));
        else if (op == QLatin1String("getDayNoteCountByMonth"))
            bOk = QMetaObject::invokeMethod(&nm, "getDayNoteCountByMonth", Q_ARG(QDate, dt));
        else if (op == QLatin1String("getNoteItem"))
            bOk = QMetaObject::invokeMethod(&nm, "getNoteItem", Q_ARG(int, 3));
        else if (op == QLatin1String("deleteNoteItem") || op == QLatin1String("refreshNoteItem"))
            bOk = QMetaObject::invokeMethod(&nm,
                                            op.toLatin1().constData(),
                                            Q_ARG(QString, data.value("uuid"_s).toString()));
        else if (op == QLatin1String("replaceNoteItem"))
            bOk = QMetaObject::invokeMethod(&nm,
                                            "replaceNoteItem",
                                            Q_ARG(QVariantMap, data.value("data"_s).toMap()));
        QVERIFY(bOk);

        QCOMPARE(nm.m_mapRequest.size(), 1);
        QVariantMap mapContext = nm.m_mapRequest.first().toMap();
        QCOMPARE(mapContext.value("type"_s).toString(), type);
        COMPARE_MAP(mapContext.value("data"_s).toMap(), data);
        QCOMPARE(mapContext.value("user_id"_s), QVariant(0));
        maskNow(mapContext);
        QCOMPARE(mapContext.contains("date"_s), hasDate);
        if (hasDate)
            QCOMPARE(mapContext.value("date"_s).toString(), QStringLiteral("<now>"));

        drain(nm);
        const QList<QVariantMap> lstLog = closeAndReadLog();
        QVERIFY(!lstLog.isEmpty());
        COMPARE_MAP(lstLog.first(),
                    (QVariantMap{{"log_type"_s, type},
                                 {"error"_s, QString()},
                                 {"result"_s, "sucess"_s},
                                 {"user_id"_s, 0},
                                 {"log_at"_s, "<now>"_s}}));
    }

    void requestsThatGetNoAnswer_data()
    {
        QTest::addColumn<QString>("op");
        QTest::newRow("note id 0") << "getNoteItem(0)"_s;
        QTest::newRow("empty note uuid to delete") << "deleteNoteItem(\"\")"_s;
        QTest::newRow("empty note uuid to refresh") << "refreshNoteItem(\"\")"_s;
        QTest::newRow("empty map to replace") << "replaceNoteItem({})"_s;
        QTest::newRow("server month while logged out") << "downloadNoteListByMonth"_s;
        QTest::newRow("server note while logged out") << "downloadNoteItem"_s;
        QTest::newRow("blank uuid to download") << "downloadNoteItem(\" \")"_s;
        QTest::newRow("upload while logged out") << "uploadNoteItem"_s;
        QTest::newRow("server page while logged out") << "syncDownloadNoteList"_s;
        QTest::newRow("timers while logged out") << "timers"_s;
    }

    // A request that was refused (empty UUID) is never kept: nothing would remove it.
    void requestsThatGetNoAnswer()
    {
        QFETCH(QString, op);
        CNoteMgt &nm = makeNoteMgt();
        QSignalSpy spy(&nm, &CNoteMgt::dataReceived);
        const QString strUuid = createUuidString();
        if (op == QLatin1String("getNoteItem(0)"))
            nm.getNoteItem(0);
        else if (op == QLatin1String("deleteNoteItem(\"\")"))
            nm.deleteNoteItem(QString());
        else if (op == QLatin1String("refreshNoteItem(\"\")"))
            nm.refreshNoteItem(QString());
        else if (op == QLatin1String("replaceNoteItem({})"))
            nm.replaceNoteItem({});
        else if (op == QLatin1String("downloadNoteListByMonth"))
            nm.downloadNoteListByMonth(QDate(2016, 3, 5));
        else if (op == QLatin1String("downloadNoteItem"))
            nm.downloadNoteItem(strUuid);
        else if (op == QLatin1String("downloadNoteItem(\" \")"))
            nm.downloadNoteItem(QStringLiteral(" "));
        else if (op == QLatin1String("uploadNoteItem"))
            nm.uploadNoteItem({{"uuid"_s, strUuid}, {"content"_s, "x"_s}});
        else if (op == QLatin1String("syncDownloadNoteList"))
            nm.syncDownloadNoteList();
        else if (op == QLatin1String("timers")) {
            nm.onTimeOutDownloadNote();
            nm.onTimeOutUploadNote();
        }
        QVERIFY2(nm.m_mapRequest.isEmpty(), qPrintable(show(nm.m_mapRequest)));
        roundTrip(nm);
        QCOMPARE(spy.count(), 0);
        QVERIFY(m_service.m_lstEndpoints.isEmpty());
    }

    // ---- saving notes ----

    // A new note gets a fresh UUID and creation time, is listed, counted, and survives
    // a restart.
    void saveNewNote()
    {
        CNoteMgt &nm = makeNoteMgt();
        QSignalSpy spy(&nm, &CNoteMgt::dataReceived);
        const QString strContent = QStringLiteral("<p>Walked to the <b>harbour</b> &amp; back</p>");
        const QVariantMap mapNote = saveNote(nm,
                                             {{"uuid"_s, QString()},
                                              {"set_at"_s, "2016-03-05"_s},
                                              {"content"_s, strContent}});
        QVERIFY(!mapNote.isEmpty());
        const QString strUuid = mapNote.value("uuid"_s).toString();
        QCOMPARE(strUuid.size(), 38);
        QVERIFY(strUuid.startsWith(QLatin1Char('{')));
        QVERIFY(mapNote.value("id"_s).toInt() > 0);
        QVariantMap mapMasked = mapNote;
        maskNow(mapMasked);
        QCOMPARE(mapMasked.value("created_at"_s).toString(), QStringLiteral("<now>"));
        QCOMPARE(mapMasked.value("updated_at"_s).toString(), QStringLiteral("<now>"));
        QCOMPARE(mapNote.value("set_at"_s).toString(), QStringLiteral("2016-03-05"));
        QCOMPARE(mapNote.value("title"_s).toString(),
                 QStringLiteral("Walked to the harbour & back"));
        QCOMPARE(mapNote.value("md5"_s).toString(), md5Hex(strContent));
        QCOMPARE(mapNote.value("content_size"_s).toInt(), strContent.toUtf8().size());

        // The day's count follows the new note.
        QTRY_COMPARE_WITH_TIMEOUT(received(spy, "day_note_count"_s).size(), 1, kTimeout);
        COMPARE_MAP(received(spy, "day_note_count"_s).first(),
                    (QVariantMap{{"type"_s, "day_note_count"_s},
                                 {"result"_s,
                                  QVariantMap{{"set_at"_s, "2016-03-05 00:00:00"_s},
                                              {"note_count"_s, "1"_s}}}}));
        drain(nm);

        m_pNoteMgt.reset();
        CNoteMgt &nmAgain = makeNoteMgt();
        const QList<QVariantMap> lst = dayList(nmAgain, QDate(2016, 3, 5));
        QCOMPARE(lst.size(), 1);
        QCOMPARE(lst.first().value("uuid"_s).toString(), strUuid);
        QCOMPARE(lst.first().value("content"_s).toString(), strContent);
        QCOMPARE(lst.first().value("title"_s).toString(),
                 QStringLiteral("Walked to the harbour & back"));
        QCOMPARE(lst.first().value("set_at"_s).toString(), QStringLiteral("2016-03-05"));
    }

    // An edited note is found by its UUID (or its id) and changed in place.
    void saveExistingNote_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("type");
        QTest::newRow("by uuid") << "uuid"_s
                                 << "replace_note_item"_s;
        QTest::newRow("by id") << "id"_s
                               << "update_note_item"_s;
    }

    void saveExistingNote()
    {
        QFETCH(QString, key);
        QFETCH(QString, type);
        CNoteMgt &nm = makeNoteMgt();
        const QVariantMap mapFirst = saveNote(nm,
                                              {{"uuid"_s, QString()},
                                               {"set_at"_s, "2016-03-05"_s},
                                               {"content"_s, "<p>first</p>"_s}});
        QVERIFY(!mapFirst.isEmpty());
        drain(nm);

        QSignalSpy spy(&nm, &CNoteMgt::dataReceived);
        QSignalSpy spyAppend(&nm, &CNoteMgt::appendNoteItemToList);
        nm.upateNoteItem({{key, mapFirst.value(key)},
                          {"set_at"_s, "2016-03-05 18:30:00"_s},
                          {"content"_s, "<p>second &lt;take&gt;</p>"_s}});
        QCOMPARE(nm.m_mapRequest.size(), 1);
        QCOMPARE(nm.m_mapRequest.first().toMap().value("type"_s).toString(), type);
        QTRY_COMPARE_WITH_TIMEOUT(spyAppend.count(), 1, kTimeout);
        const QVariantMap mapNote = spyAppend.first().value(0).toMap();
        QCOMPARE(mapNote.value(key), mapFirst.value(key));
        QCOMPARE(mapNote.value("title"_s).toString(), QStringLiteral("second <take>"));
        QCOMPARE(mapNote.value("set_at"_s).toString(), QStringLiteral("2016-03-05"));
        QTRY_COMPARE_WITH_TIMEOUT(received(spy, "day_note_count"_s).size(), 1, kTimeout);
        QCOMPARE(received(spy, "day_note_count"_s)
                     .first()
                     .value("result"_s)
                     .toMap()
                     .value("note_count"_s)
                     .toString(),
                 QStringLiteral("1"));
        drain(nm);

        const QList<QVariantMap> lst = dayList(nm, QDate(2016, 3, 5));
        QCOMPARE(lst.size(), 1);
        QCOMPARE(lst.first().value("uuid"_s), mapFirst.value("uuid"_s));
        QCOMPARE(lst.first().value("content"_s).toString(),
                 QStringLiteral("<p>second &lt;take&gt;</p>"));
    }

    // A note that arrives with a UUID the store does not know yet is added, made now (the
    // editor's second try of a new note whose first save failed).
    void saveNoteWithUnknownUuid()
    {
        CNoteMgt &nm = makeNoteMgt();
        const QString strUuid = createUuidString();
        const QVariantMap mapNote = saveNote(nm,
                                             {{"uuid"_s, strUuid},
                                              {"set_at"_s, "2016-03-07"_s},
                                              {"content"_s, "<p>from elsewhere</p>"_s}});
        QCOMPARE(mapNote.value("uuid"_s).toString(), strUuid);
        drain(nm);
        const QList<QVariantMap> lst = dayList(nm, QDate(2016, 3, 7));
        QCOMPARE(lst.size(), 1);
        QCOMPARE(lst.first().value("uuid"_s).toString(), strUuid);
        QCOMPARE(lst.first().value("created_at"_s).toString(),
                 lst.first().value("updated_at"_s).toString());
    }

    // replaceNoteItem keeps {"data"_s, "field"_s} as its context; the list still gets the note.
    void replaceNoteItemAppendsTheNote()
    {
        CNoteMgt &nm = makeNoteMgt();
        QSignalSpy spyAppend(&nm, &CNoteMgt::appendNoteItemToList);
        const QString strUuid = createUuidString();
        nm.replaceNoteItem({{"uuid"_s, strUuid},
                            {"set_at"_s, "2016-03-06 00:00:00"_s},
                            {"title"_s, QString()},
                            {"content"_s, "<p>Replaced</p>"_s}});
        QTRY_COMPARE_WITH_TIMEOUT(spyAppend.count(), 1, kTimeout);
        const QVariantMap mapNote = spyAppend.first().value(0).toMap();
        QCOMPARE(mapNote.value("uuid"_s).toString(), strUuid);
        QCOMPARE(mapNote.value("title"_s).toString(), QStringLiteral("Replaced"));
        QCOMPARE(mapNote.value("set_at"_s).toString(), QStringLiteral("2016-03-06"));
        drain(nm);
    }

    // A note listed without its text is stored at once and its text is asked for.
    void insertNoteWhoseTextIsOnTheServer()
    {
        CNoteMgt &nm = makeNoteMgt();
        nm.m_netMgt.setLoginInfo(5, QStringLiteral("token"));
        QSignalSpy spyAppend(&nm, &CNoteMgt::appendNoteItemToList);
        const QString strUuid = createUuidString();
        nm.insertNoteItem({{"id"_s, 99},
                           {"uuid"_s, strUuid},
                           {"title"_s, "Letter"_s},
                           {"content_size"_s, 1200},
                           {"md5"_s, "0123456789abcdef0123456789abcdef"_s},
                           {"set_at"_s, "2016-03-08 09:15:00"_s}});
        QList<QVariantMap> lstTypes;
        for (const QVariant &var : nm.m_mapRequest)
            lstTypes << var.toMap();
        QCOMPARE(lstTypes.size(), 2);
        const auto it = std::find_if(lstTypes.cbegin(), lstTypes.cend(), [](const QVariantMap &m) {
            return m.value("type"_s).toString() == QLatin1String("download_note_item");
        });
        QVERIFY(it != lstTypes.cend());
        COMPARE_MAP(it->value("data"_s).toMap(), (QVariantMap{{"note_uuid"_s, strUuid}}));

        QTRY_COMPARE_WITH_TIMEOUT(spyAppend.count(), 1, kTimeout);
        const QVariantMap mapNote = spyAppend.first().value(0).toMap();
        QVERIFY(mapNote.value("id"_s).toInt() > 0);
        QVERIFY(mapNote.value("id"_s).toInt() != 99);
        QCOMPARE(mapNote.value("title"_s).toString(), QStringLiteral("Letter"));
        QTRY_VERIFY_WITH_TIMEOUT(m_service.m_lstEndpoints.contains(QStringLiteral("get_note_item")),
                                 kTimeout);
        drain(nm);
        const QList<QVariantMap> lst = dayList(nm, QDate(2016, 3, 8));
        QCOMPARE(lst.size(), 1);
        QCOMPARE(lst.first().value("content"_s).toString(), QString());
        QCOMPARE(lst.first().value("content_size"_s).toString(), QStringLiteral("1200"));
    }

    // While logged in at the service, every change goes there as soon as it is stored:
    // a new or edited note as a replacement, a deletion as an update.
    void changesAreSentToTheService()
    {
        CNoteMgt &nm = makeNoteMgt();
        nm.m_nUserId = 1;
        nm.m_nServerId = 5;
        nm.m_dbMgt.setUserId(1);
        nm.m_netMgt.setLoginInfo(5, QStringLiteral("token"));
        const QVariantMap mapNote = saveNote(nm,
                                             {{"uuid"_s, QString()},
                                              {"set_at"_s, "2016-03-05"_s},
                                              {"content"_s, "<p>one</p>"_s}});
        QTRY_COMPARE_WITH_TIMEOUT(m_service.m_lstEndpoints,
                                  QStringList{"replace_note_item"_s},
                                  kTimeout);
        saveNote(nm,
                 {{"uuid"_s, mapNote.value("uuid"_s)},
                  {"set_at"_s, "2016-03-05"_s},
                  {"content"_s, "two"_s}});
        QTRY_COMPARE_WITH_TIMEOUT(m_service.m_lstEndpoints,
                                  (QStringList{"replace_note_item"_s, "replace_note_item"_s}),
                                  kTimeout);
        nm.deleteNoteItem(mapNote.value("uuid"_s).toString());
        QTRY_COMPARE_WITH_TIMEOUT(m_service.m_lstEndpoints,
                                  (QStringList{"replace_note_item"_s,
                                               "replace_note_item"_s,
                                               "update_note_item"_s}),
                                  kTimeout);
        drain(nm);
    }

    // Notes of the service's answers whose members have the wrong type or form never
    // touch a local note, whether they come in a month list or alone.
    // A note made here is stored with the time that the views are told: the store's own
    // reading of the clock, taken a moment later, could fall into the next second.
    void newNoteStoredWithTheTimeTheViewsAreTold()
    {
        CNoteMgt &nm = makeNoteMgt();
        // The store's clock a second ahead of the note manager's, as a second boundary
        // between the two readings makes it.
        nm.m_dbMgt.setClock([&nm]() {
            return QDateTime::fromString(nm.m_clock.now(), "yyyy-MM-dd hh:mm:ss"_s)
                .addSecs(1)
                .toString("yyyy-MM-dd hh:mm:ss"_s);
        });
        const QVariantMap mapNote = saveNote(nm,
                                             {{"uuid"_s, QString()},
                                              {"set_at"_s, "2016-03-05"_s},
                                              {"content"_s, "<p>new</p>"_s}});
        QVERIFY(!mapNote.value("updated_at"_s).toString().isEmpty());
        drain(nm);
        const QList<QVariantMap> lst = dayList(nm, QDate(2016, 3, 5));
        QCOMPARE(lst.size(), 1);
        QCOMPARE(lst.first().value("updated_at"_s), mapNote.value("updated_at"_s));
    }

    void malformedServiceNotesLeaveNotesAlone_data()
    {
        QTest::addColumn<QByteArray>("members"); // of the note object, besides id and uuid
        QTest::newRow("types wrong")
            << QByteArray(R"("user_id":5,"updated_at":true,"content":12345,"set_at":"2016-03-05")");
        QTest::newRow("time of a form no service writes") << QByteArray(
            R"("user_id":5,"updated_at":"2099-01-01T00:00:01 UTC","content":"evil",)"
            R"("set_at":"2016-03-05 00:00:00","md5":"0123456789abcdef0123456789abcdef",)"
            R"("content_size":4)");
        QTest::newRow("deleted is not 0 or 1")
            << QByteArray(R"("user_id":5,"updated_at":"2099-01-01 00:00:00","deleted":"yes",)"
                          R"("set_at":"2016-03-05 00:00:00")");
    }

    void malformedServiceNotesLeaveNotesAlone()
    {
        QFETCH(QByteArray, members);
        CNoteMgt &nm = makeNoteMgt();
        nm.m_nUserId = 1;
        nm.m_nServerId = 5;
        nm.m_dbMgt.setUserId(1);
        const QVariantMap mapNote = saveNote(nm,
                                             {{"uuid"_s, QString()},
                                              {"set_at"_s, "2016-03-05"_s},
                                              {"content"_s, "<p>mine</p>"_s}});
        drain(nm);
        const QByteArray note = "{\"id\":42,\"uuid\":\""
                                + mapNote.value("uuid"_s).toString().toUtf8() + "\"," + members
                                + "}";
        m_service.m_mapReply.insert("get_note_list_by_month"_s, "{\"notes\":[" + note + "]}");
        m_service.m_mapReply.insert("get_note_item"_s, note);
        nm.m_netMgt.setLoginInfo(5, QStringLiteral("token"));
        nm.downloadNoteListByMonth(QDate(2016, 3, 1));
        nm.downloadNoteItem(mapNote.value("uuid"_s).toString());
        QTRY_VERIFY_WITH_TIMEOUT(m_service.m_lstEndpoints.contains("get_note_item"_s), kTimeout);
        drain(nm);
        const QList<QVariantMap> lst = dayList(nm, QDate(2016, 3, 5));
        QCOMPARE(lst.size(), 1);
        QCOMPARE(lst.first().value("content"_s).toString(), QStringLiteral("<p>mine</p>"));
        QCOMPARE(lst.first().value("updated_at"_s), mapNote.value("updated_at"_s));
    }

    // ---- handlers ----

    void deleteNote()
    {
        CNoteMgt &nm = makeNoteMgt();
        const QVariantMap mapNote = saveNote(nm,
                                             {{"uuid"_s, QString()},
                                              {"set_at"_s, "2016-03-05"_s},
                                              {"content"_s, "<p>gone soon</p>"_s}});
        drain(nm);
        QSignalSpy spy(&nm, &CNoteMgt::dataReceived);
        QSignalSpy spyRemove(&nm, &CNoteMgt::removeNoteItemToList);
        nm.deleteNoteItem(mapNote.value("uuid"_s).toString());
        QTRY_COMPARE_WITH_TIMEOUT(received(spy, "delete_note_item"_s).size(), 1, kTimeout);
        COMPARE_MAP(received(spy, "delete_note_item"_s).first(),
                    (QVariantMap{{"type"_s, "delete_note_item"_s}, {"result"_s, "success"_s}}));
        QCOMPARE(spyRemove.count(), 1);
        QCOMPARE(spyRemove.first().value(0).toString(), mapNote.value("uuid"_s).toString());
        // Then the day's count, re-read through the deleted note's day.
        QTRY_COMPARE_WITH_TIMEOUT(received(spy, "day_note_count"_s).size(), 1, kTimeout);
        COMPARE_MAP(received(spy, "day_note_count"_s).first(),
                    (QVariantMap{{"type"_s, "day_note_count"_s},
                                 {"result"_s,
                                  QVariantMap{{"set_at"_s, "2016-03-05"_s}, {"note_count"_s, 0}}}}));
        drain(nm);
        QVERIFY(dayList(nm, QDate(2016, 3, 5)).isEmpty());
    }

    void countsAndLists()
    {
        CNoteMgt &nm = makeNoteMgt();
        for (const char *day : {"2016-03-05", "2016-03-05", "2016-03-31", "2016-04-01"})
            saveNote(nm,
                     {{"uuid"_s, QString()},
                      {"set_at"_s, QLatin1String(day)},
                      {"content"_s, "<p>x</p>"_s}});
        drain(nm);

        QSignalSpy spy(&nm, &CNoteMgt::dataReceived);
        nm.getDayNoteCountByMonth(QDate(2016, 3, 20));
        nm.getDayNoteCount(QDate(2016, 3, 5));
        nm.getNoteListByDay(QDate(2016, 3, 31));
        nm.getNoteListByOffset(0, QString());
        drain(nm);

        COMPARE_MAP(received(spy, "day_note_count_by_month"_s).value(0),
                    (QVariantMap{
                        {"type"_s, "day_note_count_by_month"_s},
                        {"result"_s,
                         QVariantMap{{"date"_s, "2016-03-20"_s},
                                     {"result"_s,
                                      QVariantList{QVariantMap{{"set_at"_s, "2016-03-05 00:00:00"_s},
                                                               {"note_count"_s, "2"_s}},
                                                   QVariantMap{{"set_at"_s, "2016-03-31 00:00:00"_s},
                                                               {"note_count"_s, "1"_s}}}}}}}));
        COMPARE_MAP(received(spy, "day_note_count"_s).value(0),
                    (QVariantMap{{"type"_s, "day_note_count"_s},
                                 {"result"_s,
                                  QVariantMap{{"set_at"_s, "2016-03-05 00:00:00"_s},
                                              {"note_count"_s, "2"_s}}}}));
        const QVariantMap mapDay = received(spy, "note_list_by_day"_s).value(0);
        QCOMPARE(mapDay.value("date"_s).toString(), QStringLiteral("2016-03-31"));
        QCOMPARE(mapDay.value("result"_s).toList().size(), 1);
        QCOMPARE(mapDay.value("result"_s).toList().first().toMap().value("title"_s).toString(),
                 QStringLiteral("x"));
        const QVariantMap mapPage = received(spy, "get_note_list_by_offset"_s).value(0);
        QCOMPARE(mapPage.value("offset"_s), QVariant(0));
        QCOMPARE(mapPage.value("search_string"_s), QVariant(QString()));
        const QVariantList lstPage = mapPage.value("result"_s).toList();
        QCOMPARE(lstPage.size(), 4);
        QCOMPARE(lstPage.first().toMap().value("set_at"_s).toString(), QStringLiteral("2016-04-01"));
        QCOMPARE(lstPage.first().toMap().value("title"_s).toString(), QStringLiteral("x"));
    }

    // ---- comparing a local note with the server's copy ----

    void compareItem_data()
    {
        QTest::addColumn<QVariantMap>("server");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("endpoints");
        QTest::addColumn<QVariantMap>("local"); // fields of the local note afterwards
        // The text of the conflict copy that keeps the losing local change; empty: none.
        QTest::addColumn<QString>("copy");

        const QString strOld = QStringLiteral("<p>old</p>");
        const QString strServer = QStringLiteral("<p>server</p>");
        const QString strLater = QStringLiteral("2099-01-01 00:00:00");
        QTest::newRow("local newer")
            << QVariantMap{{"id"_s, 42},
                           {"updated_at"_s, "2016-01-01 00:00:00"_s},
                           {"content"_s, strOld},
                           {"md5"_s, md5Hex(strOld)}}
            << 1 << QStringList{"replace_note_item"_s}
            << QVariantMap{{"content"_s, "<p>local</p>"_s}, {"server_id"_s, "42"_s}} << QString();
        QTest::newRow("server newer, other text")
            << QVariantMap{{"id"_s, 42},
                           {"updated_at"_s, strLater},
                           {"title"_s, "Server"_s},
                           {"set_at"_s, "2016-03-05 00:00:00"_s},
                           {"content"_s, strServer},
                           {"md5"_s, md5Hex(strServer)},
                           {"content_size"_s, strServer.size()}}
            << -1 << QStringList()
            << QVariantMap{{"content"_s, strServer},
                           {"server_id"_s, "42"_s},
                           {"updated_at"_s, strLater},
                           {"title"_s, "Server"_s},
                           {"md5"_s, md5Hex(strServer)}}
            << QStringLiteral("<p>local</p>");
        // (The local note's title, as the list shows it, is its first line: "local".)
        QTest::newRow("server newer, same text")
            << QVariantMap{{"id"_s, 42},
                           {"updated_at"_s, strLater},
                           {"title"_s, "local"_s},
                           {"md5"_s, md5Hex(QStringLiteral("<p>local</p>"))},
                           {"content_size"_s, 12}}
            << -1 << QStringList()
            << QVariantMap{{"content"_s, "<p>local</p>"_s},
                           {"server_id"_s, "42"_s},
                           {"updated_at"_s, strLater},
                           {"md5"_s, md5Hex(QStringLiteral("<p>local</p>"))}}
            << QString();
        // A title is writing too: the losing change's title is kept in a copy.
        QTest::newRow("server newer, same text, other title")
            << QVariantMap{{"id"_s, 42},
                           {"updated_at"_s, strLater},
                           {"title"_s, "Server"_s},
                           {"md5"_s, md5Hex(QStringLiteral("<p>local</p>"))},
                           {"content_size"_s, 12}}
            << -1 << QStringList()
            << QVariantMap{{"content"_s, "<p>local</p>"_s},
                           {"server_id"_s, "42"_s},
                           {"updated_at"_s, strLater},
                           {"title"_s, "Server"_s},
                           {"md5"_s, md5Hex(QStringLiteral("<p>local</p>"))}}
            << QStringLiteral("<p>local</p>");
        QTest::newRow("server newer, text not sent")
            << QVariantMap{{"id"_s, 42},
                           {"updated_at"_s, strLater},
                           {"title"_s, "Server"_s},
                           {"md5"_s, md5Hex(strServer)},
                           {"content_size"_s, strServer.size()}}
            << -1 << QStringList{"get_note_item"_s}
            << QVariantMap{{"content"_s, "<p>local</p>"_s},
                           {"server_id"_s, ""_s},
                           {"md5"_s, md5Hex(QStringLiteral("<p>local</p>"))}}
            << QStringLiteral("<p>local</p>");
        QTest::newRow("same time, server note without uuid")
            << QVariantMap{{"id"_s, 42}, {"uuid"_s, ""_s}, {"updated_at"_s, "<local>"_s}} << 0
            << QStringList{"update_note_item"_s}
            << QVariantMap{{"content"_s, "<p>local</p>"_s}, {"server_id"_s, "42"_s}} << QString();
    }

    // The later side wins; the local text is never given up before a newer one is here,
    // and a change made here that never reached the service and loses is kept as a copy.
    void compareItem()
    {
        QFETCH(QVariantMap, server);
        QFETCH(int, result);
        QFETCH(QStringList, endpoints);
        QFETCH(QVariantMap, local);
        QFETCH(QString, copy);

        CNoteMgt &nm = makeNoteMgt();
        saveNote(nm,
                 {{"uuid"_s, QString()},
                  {"set_at"_s, "2016-03-05"_s},
                  {"content"_s, "<p>local</p>"_s}});
        drain(nm);
        const QVariantMap mapLocal = dayList(nm, QDate(2016, 3, 5)).value(0);
        QVERIFY(!mapLocal.isEmpty());
        if (!server.contains("uuid"_s))
            server.insert("uuid"_s, mapLocal.value("uuid"_s));
        if (server.value("updated_at"_s) == "<local>"_s)
            server.insert("updated_at"_s, mapLocal.value("updated_at"_s));

        nm.m_netMgt.setLoginInfo(5, QStringLiteral("token"));
        QCOMPARE(nm.compareItem(mapLocal, server), result);
        QTRY_COMPARE_WITH_TIMEOUT(m_service.m_lstEndpoints, endpoints, kTimeout);
        if (!endpoints.isEmpty() && endpoints.first() != "get_note_item"_s)
            QVERIFY(m_service.m_lstBodies.first().contains(
                mapLocal.value("uuid"_s).toString().toUtf8()));
        drain(nm);

        QVariantMap mapAfter;
        QList<QVariantMap> lstCopies;
        for (const QVariantMap &map : dayList(nm, QDate(2016, 3, 5))) {
            if (map.value("uuid"_s) == mapLocal.value("uuid"_s))
                mapAfter = map;
            else
                lstCopies << map;
        }
        QCOMPARE(mapAfter.value("uuid"_s), mapLocal.value("uuid"_s));
        QCOMPARE(lstCopies.size(), copy.isEmpty() ? 0 : 1);
        if (!copy.isEmpty()) {
            QCOMPARE(lstCopies.first().value("content"_s).toString(), copy);
            QVERIFY(lstCopies.first().value("title"_s).toString().startsWith("Conflict copy, "_s));
            // The same loss found again leaves one copy.
            QCOMPARE(nm.compareItem(mapLocal, server), result);
            drain(nm);
            QCOMPARE(dayList(nm, QDate(2016, 3, 5)).size(), 2);
        }
        for (auto it = local.cbegin(); it != local.cend(); ++it)
            QCOMPARE(mapAfter.value(it.key()).toString(), it.value().toString());
        if (!local.contains("updated_at"_s))
            QCOMPARE(mapAfter.value("updated_at"_s), mapLocal.value("updated_at"_s));
    }

    // ---- the dispatcher's framework and error path ----

    void errors_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QVariantMap>("result");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("message");

        QTest::newRow("store error")
            << "day_note_count"_s << QVariantMap{{"error"_s, "no such table: note(SELECT 1)"_s}}
            << "no such table: note(SELECT 1)"_s << QString();
        QTest::newRow("trimmed") << "day_note_count_by_month"_s
                                 << QVariantMap{{"error"_s, "  \n disk I/O error \t"_s}}
                                 << "disk I/O error"_s << QString();
        QTest::newRow("hidden in the reply")
            << "download_note_list_by_month"_s
            << QVariantMap{{"error"_s, ""_s},
                           {"result"_s, QVariantMap{{"error"_s, "Server is busy."_s}}}}
            << "Server is busy."_s << QString();
        QTest::newRow("top-level error first")
            << "forgot_pwd"_s
            << QVariantMap{{"error"_s, "Connection refused"_s},
                           {"result"_s, QVariantMap{{"error"_s, "other"_s}}}}
            << "Connection refused"_s << QString();
        QTest::newRow("day list shows it")
            << "note_list_by_day"_s << QVariantMap{{"error"_s, "database is locked"_s}}
            << "database is locked"_s
            << "database is locked"_s;
        QTest::newRow("a failed save is reported")
            << "insert_note_item"_s << QVariantMap{{"error"_s, "database or disk is full"_s}}
            << "database or disk is full"_s
            << "The note could not be saved: database or disk is full"_s;
        QTest::newRow("a failed removal is reported")
            << "delete_note_item"_s << QVariantMap{{"error"_s, "database or disk is full"_s}}
            << "database or disk is full"_s
            << "The note could not be removed: database or disk is full"_s;
    }

    void errors()
    {
        QFETCH(QString, type);
        QFETCH(QVariantMap, result);
        QFETCH(QString, error);
        QFETCH(QString, message);

        CNoteMgt &nm = makeNoteMgt();
        QSignalSpy spy(&nm, &CNoteMgt::dataReceived);
        QSignalSpy spyError(&nm, &CNoteMgt::showError);
        QSignalSpy spyAppend(&nm, &CNoteMgt::appendNoteItemToList);
        QSignalSpy spyRemove(&nm, &CNoteMgt::removeNoteItemToList);
        const QString strUuid = createUuidString();
        nm.m_mapRequest.insert(strUuid,
                               QVariantMap{{"type"_s, type},
                                           {"data"_s,
                                            QVariantMap{{"date"_s, "2016-03-05"_s},
                                                        {"uuid"_s, createUuidString()},
                                                        {"set_at"_s, "2016-03-05 00:00:00"_s}}},
                                           {"user_id"_s, 0}});
        result.insert("uuid"_s, strUuid);
        nm.onDataReceived(result);

        QCOMPARE(spy.count(), 1);
        COMPARE_MAP(spy.first().value(0).toMap(),
                    (QVariantMap{{"type"_s, type}, {"error"_s, error}}));
        QCOMPARE(spyError.count(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty())
            QCOMPARE(spyError.first().value(0).toString(), message);
        QCOMPARE(spyAppend.count(), 0);
        QCOMPARE(spyRemove.count(), 0);
        QVERIFY(nm.m_mapRequest.isEmpty());

        const QList<QVariantMap> lstLog = closeAndReadLog();
        QCOMPARE(lstLog.size(), 1);
        COMPARE_MAP(lstLog.first(),
                    (QVariantMap{{"log_type"_s, type},
                                 {"error"_s, error},
                                 {"result"_s, "fail"_s},
                                 {"user_id"_s, 0},
                                 {"log_at"_s, "<now>"_s}}));
    }

    // An expired token is renewed quietly; the failed request is let go.
    void expiredTokenIsRenewed()
    {
        CNoteMgt &nm = makeNoteMgt();
        nm.m_strUserName = QStringLiteral("alice");
        nm.m_strPwd = md5Hex(QStringLiteral("secret"));
        QSignalSpy spy(&nm, &CNoteMgt::dataReceived);
        const QString strUuid = createUuidString();
        nm.m_mapRequest.insert(strUuid,
                               QVariantMap{{"type"_s, "download_note_item"_s}, {"user_id"_s, 0}});
        nm.onDataReceived(
            QVariantMap{{"uuid"_s, strUuid},
                        {"result"_s, QVariantMap{{"error"_s, "LOGIN TOKEN IS WRONG."_s}}}});
        QCOMPARE(spy.count(), 0);
        QVERIFY(!nm.m_mapRequest.contains(strUuid));
        QCOMPARE(nm.m_mapRequest.size(), 1);
        QCOMPARE(nm.m_mapRequest.first().toMap().value("type"_s).toString(),
                 QStringLiteral("login_server_again"));
        QVERIFY(nm.m_timerLoginServer.isActive());
        QTRY_COMPARE_WITH_TIMEOUT(m_service.m_lstEndpoints, QStringList{"login"_s}, kTimeout);
        const QList<QVariantMap> lstLog = closeAndReadLog();
        QCOMPARE(lstLog.size(), 1); // the renewal's own answer only
        QCOMPARE(lstLog.first().value("log_type"_s).toString(),
                 QStringLiteral("login_server_again"));
    }

    // Results nobody waits for leave no trace.
    void unknownResultsAreDropped()
    {
        CNoteMgt &nm = makeNoteMgt();
        QSignalSpy spy(&nm, &CNoteMgt::dataReceived);
        nm.onDataReceived(QVariantMap{{"uuid"_s, createUuidString()},
                                      {"type"_s, "data"_s},
                                      {"result"_s, QVariantList{}}});
        nm.onDataReceived(QVariantMap{{"type"_s, "data"_s}, {"error"_s, "boom"_s}});
        nm.onDataReceived(QVariant());
        QCOMPARE(spy.count(), 0);
        QVERIFY(nm.m_mapRequest.isEmpty());
        QVERIFY(closeAndReadLog().isEmpty());
    }

    // A result for a user who has logged out in the meantime is dropped.
    void resultOfAnotherUserIsDropped()
    {
        CNoteMgt &nm = makeNoteMgt();
        QCoreApplication::processEvents();
        nm.m_nUserId = 3;
        nm.getDayNoteCount(QDate(2016, 3, 5));
        QCOMPARE(nm.m_mapRequest.first().toMap().value("user_id"_s), QVariant(3));
        QSignalSpy spy(&nm, &CNoteMgt::dataReceived);
        nm.logout();
        drain(nm);
        QCOMPARE(received(spy, "day_note_count"_s).size(), 0);
        // The logout reloads the first page of the list, as any change of user does.
        QCOMPARE(received(spy, "get_note_list_by_offset"_s).size(), 1);
        QCOMPARE(received(spy, "get_note_list_by_offset"_s).first().value("offset"_s), QVariant(0));
        const QList<QVariantMap> lstLog = closeAndReadLog();
        QCOMPARE(lstLog.size(), 1);
        QCOMPARE(lstLog.first().value("log_type"_s).toString(),
                 QStringLiteral("get_note_list_by_offset"));
    }

    void loginNameOnlyWhileLoggedIn()
    {
        CNoteMgt &nm = makeNoteMgt();
        QSignalSpy spy(&nm, &CNoteMgt::userIdChanged);
        nm.loginAtLocal(QStringLiteral("alice"), md5Hex(QStringLiteral("wrong")));
        drain(nm);
        QCOMPARE(nm.property("isLogin").toBool(), false);
        QCOMPARE(nm.property("loginName").toString(), QString());
        QCOMPARE(spy.count(), 0);
    }

    // ---- the store fails ----

    // Every save says how it went, to the user and to the editor that waits for it; a
    // store that cannot be opened is said once for the reads, and every time for a save.
    void storeFailuresAreSaidForEverySave_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("failures");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("notice");
        QTest::addColumn<int>("others");

        QTest::newRow("Kelpo open twice on one diary")
            << "locked"_s << 3 << "Kelpo is already open on this diary. Close the other window"_s
            << "Notes cannot be read or saved: Kelpo is already open on this diary."_s << 1;
        QTest::newRow("a folder in the file's place")
            << "folder"_s << 3
            << "). Check that it is a file Kelpo may read and write, in a folder that exists"_s
            << "Notes cannot be read or saved: "_s << 1;
        QTest::newRow("file deleted while open")
            << "deleted"_s << 1 << "local.db was deleted while Kelpo was running"_s
            << "Kelpo has written it again from the copy it had open"_s << 1;
        QTest::newRow("file replaced while open")
            << "replaced"_s << 1 << "local.db was replaced by another file"_s
            << "The notes Kelpo had open were kept in "_s << 1;
        // Reads go on; only the saves fail.
        QTest::newRow("read-only file")
            << "read-only"_s << 3 << "local.db cannot be written. Allow writing to it"_s
            << QString() << 0;
        // Said at start, then by the reads that meet a damaged page, then by every save.
        QTest::newRow("damaged file")
            << "damaged"_s << 3 << "local.db is damaged. Copy what you wrote"_s
            << "is damaged: some notes may not be readable"_s << 2;
    }

    void storeFailuresAreSaidForEverySave()
    {
        QFETCH(QString, setup);
        QFETCH(int, failures);
        QFETCH(QString, reason);
        QFETCH(QString, notice);
        QFETCH(int, others);

        const QString strDbFile = QDir(m_pDataDir->path()).filePath("local.db"_s);
        std::unique_ptr<CNoteMgt> pFirst;
        int nBefore = 0;
        if (setup == "locked"_s) {
            pFirst = std::make_unique<CNoteMgt>(m_pDataDir->path(), 60000);
            drain(*pFirst);
        } else if (setup == "folder"_s) {
            QVERIFY(QDir(m_pDataDir->path()).mkdir("local.db"_s));
        } else if (setup == "read-only"_s || setup == "damaged"_s) {
            // A diary with enough notes that the note table spans many pages.
            {
                CNoteMgt &nmBefore = makeNoteMgt();
                QSignalSpy spyStored(&nmBefore, &CNoteMgt::noteSaved);
                for (int i = 0; i < 40; ++i)
                    nmBefore.saveNoteItem(
                        {{"uuid"_s, QString()},
                         {"set_at"_s, "2016-03-%1"_s.arg(1 + i % 28, 2, 10, QLatin1Char('0'))},
                         {"content"_s,
                          "<p>%1</p>"_s.arg(QString(4000, QLatin1Char('a' + i % 26)))}});
                QTRY_COMPARE_WITH_TIMEOUT(spyStored.count(), 40, kTimeout);
                nBefore = 40;
                drain(nmBefore);
                m_pNoteMgt.reset();
            }
            if (setup == "damaged"_s) {
                QFile file(strDbFile);
                QVERIFY(file.open(QIODevice::ReadWrite));
                QVERIFY(file.size() > 16 * 4096);
                // Every page after the first few: the tables' roots stay, their leaves are gone.
                for (qint64 nPos = 4 * 4096; nPos < file.size(); nPos += 4096) {
                    file.seek(nPos);
                    file.write(QByteArray(4096, '\xa5'));
                }
            } else if (!setWritable(strDbFile, false)) {
                QSKIP("no way to make a file read-only here (chattr is missing or not allowed)");
            }
        }
        const auto restoreWritable = qScopeGuard([&] {
            if (setup == "read-only"_s)
                setWritable(strDbFile, true);
        });
        CNoteMgt &nm = makeNoteMgt();
        QSignalSpy spyError(&nm, &CNoteMgt::showError);
        QSignalSpy spyAppend(&nm, &CNoteMgt::appendNoteItemToList);
        QSignalSpy spySaved(&nm, &CNoteMgt::noteSaved);
        QSignalSpy spyFailed(&nm, &CNoteMgt::noteSaveFailed);
        nm.getDayNoteCountByMonth(QDate(2016, 3, 5));
        nm.getNoteListByDay(QDate(2016, 3, 5));
        nm.getNoteListByOffset();
        drain(nm);
        if (setup == "deleted"_s) {
            QVERIFY(QFile::remove(strDbFile));
        } else if (setup == "replaced"_s) {
            const QString strOther = m_pDataDir->filePath("other.db"_s);
            QVERIFY(QFile::copy(strDbFile, strOther));
            QVERIFY(::rename(QFile::encodeName(strOther).constData(),
                             QFile::encodeName(strDbFile).constData())
                    == 0);
        }

        QStringList lstSaves;
        for (int i = 0; i < 3; ++i) {
            const int nDone = spySaved.count() + spyFailed.count();
            lstSaves << nm.saveNoteItem({{"uuid"_s, QString()},
                                         {"set_at"_s, "2016-03-05"_s},
                                         {"content"_s, "<p>save %1</p>"_s.arg(i)}});
            QTRY_COMPARE_WITH_TIMEOUT(spySaved.count() + spyFailed.count(), nDone + 1, kTimeout);
        }
        QCOMPARE(spyFailed.count(), failures);
        QCOMPARE(spySaved.count(), 3 - failures);
        QCOMPARE(spyAppend.count(), 3 - failures);
        // The saves that failed are the first ones, each said with its reason.
        QStringList lstMessages;
        for (int i = 0; i < failures; ++i) {
            QCOMPARE(spyFailed.at(i).value(0).toString(), lstSaves.at(i));
            const QString strMessage = spyFailed.at(i).value(1).toString();
            QVERIFY2(strMessage.startsWith("The note could not be saved: "_s),
                     qPrintable(strMessage));
            QVERIFY2(strMessage.contains(reason), qPrintable(strMessage));
            QVERIFY2(!strMessage.contains("INSERT"_s) && !strMessage.contains("SELECT"_s),
                     qPrintable(strMessage));
            lstMessages << strMessage;
        }
        QStringList lstShown;
        for (const QList<QVariant> &args : spyError)
            lstShown << args.value(0).toString();
        for (const QString &strMessage : qAsConst(lstMessages))
            QVERIFY2(lstShown.contains(strMessage), qPrintable(lstShown.join("\n"_s)));
        // The others: the reads' failure, the notice of a lost or damaged file.
        QCOMPARE(lstShown.size(), failures + others);
        QVERIFY2(notice.isEmpty()
                     || std::any_of(lstShown.cbegin(),
                                    lstShown.cend(),
                                    [&](const QString &str) { return str.contains(notice); }),
                 qPrintable(lstShown.join("\n"_s)));

        if (pFirst) {
            // The other window is closed: the very next save is stored.
            pFirst.reset();
            const QString strNote = nm.saveNoteItem({{"uuid"_s, QString()},
                                                     {"set_at"_s, "2016-03-05"_s},
                                                     {"content"_s, "<p>now</p>"_s}});
            QTRY_COMPARE_WITH_TIMEOUT(spySaved.count(), 1, kTimeout);
            QCOMPARE(spySaved.first().value(0).toString(), strNote);
        }
        // Nothing reported saved is missing.
        drain(nm);
        const int nSaved = spySaved.count();
        if (setup == "damaged"_s)
            return; // nothing was reported saved, and the file can no longer be read whole
        if (setup == "read-only"_s)
            QVERIFY(setWritable(strDbFile, true));
        QCOMPARE(closeAndRead("SELECT uuid FROM note"_s).size(), nBefore + nSaved);
    }

    // A note larger than the service takes is kept, and the user is told it will not sync.
    void oversizedNoteIsKeptWithAWarning()
    {
        CNoteMgt &nm = makeNoteMgt();
        drain(nm);
        QSignalSpy spyError(&nm, &CNoteMgt::showError);
        QSignalSpy spySaved(&nm, &CNoteMgt::noteSaved);
        const QString strBig = "<p>"_s
                               + QString(int(CPictureLoader::kMaxNoteBytes), QLatin1Char('x'))
                               + "</p>"_s;
        nm.saveNoteItem(
            {{"uuid"_s, QString()}, {"set_at"_s, "2016-03-05"_s}, {"content"_s, strBig}});
        QTRY_COMPARE_WITH_TIMEOUT(spySaved.count(), 1, kTimeout);
        QCOMPARE(spyError.count(), 1);
        QCOMPARE(spyError.first().value(0).toString(),
                 "This note is larger than the note service takes (30 MB): it is kept on this "
                 "computer but cannot be synchronised."_s);
        nm.saveNoteItem(
            {{"uuid"_s, QString()}, {"set_at"_s, "2016-03-05"_s}, {"content"_s, "<p>small</p>"_s}});
        QTRY_COMPARE_WITH_TIMEOUT(spySaved.count(), 2, kTimeout);
        QCOMPARE(spyError.count(), 1);
    }

    // A change of the note that the editor saves is told to it even when a sync has
    // queued many writes of other notes before it.
    void saveIsConfirmedForItsOwnNote()
    {
        CNoteMgt &nm = makeNoteMgt();
        drain(nm);
        QSignalSpy spySaved(&nm, &CNoteMgt::noteSaved);
        for (int i = 0; i < 50; ++i)
            nm.replaceNoteItem({{"uuid"_s, createUuidString()},
                                {"set_at"_s, "2016-03-06 00:00:00"_s},
                                {"content"_s, "<p>from the service %1</p>"_s.arg(i)}});
        const QString strNote = nm.saveNoteItem(
            {{"uuid"_s, QString()}, {"set_at"_s, "2016-03-05"_s}, {"content"_s, "<p>mine</p>"_s}});
        QTRY_COMPARE_WITH_TIMEOUT(spySaved.count(), 1, kTimeout);
        QCOMPARE(spySaved.first().value(0).toString(), strNote);
        QCOMPARE(spySaved.first().value(1).toMap().value("set_at"_s).toString(), "2016-03-05"_s);
    }

    // ---- pictures ----

    void readFile2Base64_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("asUrl");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("width");

        QTest::newRow("landscape limited by its width") << "wide.png"_s << true << 200 << 500;
        QTest::newRow("portrait limited by its height") << "tall.png"_s << true << 500 << 200;
        QTest::newRow("square kept") << "square.png"_s << true << 300 << 300;
        QTest::newRow("small kept") << "small.png"_s << true << 80 << 120;
        QTest::newRow("JPEG, own bytes") << "wide.jpg"_s << true << 200 << 500;
        QTest::newRow("plain path") << "square.png"_s << false << 300 << 300;
        QTest::newRow("not a picture: refused") << "notes.png"_s << true << -1 << -1;
        QTest::newRow("missing file") << "missing.png"_s << true << -1 << -1;
        QTest::newRow("a folder") << "folder.png"_s << true << -1 << -1;
    }

    void readFile2Base64()
    {
        QFETCH(QString, name);
        QFETCH(bool, asUrl);
        QFETCH(int, height);
        QFETCH(int, width);

        CNoteMgt &nm = makeNoteMgt();
        const QString strPath = file(name);
        const QString strArg = asUrl ? QUrl::fromLocalFile(strPath).toString() : strPath;
        const QString strTag = nm.readFile2Base64(strArg);
        if (height < 0) {
            QCOMPARE(strTag, QString());
            return;
        }
        QFile f(strPath);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString strExpected
            = QStringLiteral("<img height=\"%1\" width=\"%2\" src=\"data:image/png;base64,%3\"")
                  .arg(height)
                  .arg(width)
                  .arg(QString::fromLatin1(f.readAll().toBase64()));
        QCOMPARE(strTag, strExpected);
    }

    void attachmentsDoNothing()
    {
        CNoteMgt &nm = makeNoteMgt();
        QSignalSpy spy(&nm, &CNoteMgt::dataReceived);
        QVERIFY(QMetaObject::invokeMethod(&nm, "getAttachment", Q_ARG(int, 4)));
        QVERIFY(QMetaObject::invokeMethod(&nm, "saveAttachment"));
        QVERIFY(QMetaObject::invokeMethod(&nm, "delAttachment"));
        QVERIFY(nm.m_mapRequest.isEmpty());
        roundTrip(nm);
        QCOMPARE(spy.count(), 0);
    }

    // ---- note records ----

    void prepareNoteItem_data()
    {
        QTest::addColumn<QVariantMap>("input");
        QTest::addColumn<QVariantMap>("output");

        const QString strAbc = md5Hex(QStringLiteral("abc"));
        QTest::newRow("day with time") << QVariantMap{{"set_at"_s, "2016-03-05 14:20:00"_s}}
                                       << QVariantMap{{"set_at"_s, "2016-03-05 00:00:00"_s}};
        QTest::newRow("bare day") << QVariantMap{{"set_at"_s, "2016-03-05"_s}}
                                  << QVariantMap{{"set_at"_s, "2016-03-05 00:00:00"_s}};
        QTest::newRow("content gets its digest")
            << QVariantMap{{"content"_s, "abc"_s}}
            << QVariantMap{{"content"_s, "abc"_s}, {"content_size"_s, 3}, {"md5"_s, strAbc}};
        QTest::newRow("size in bytes") << QVariantMap{{"content"_s, QStringLiteral("日记")}}
                                       << QVariantMap{{"content"_s, QStringLiteral("日记")},
                                                      {"content_size"_s, 6},
                                                      {"md5"_s, md5Hex(QStringLiteral("日记"))}};
        QTest::newRow("a given digest is kept")
            << QVariantMap{{"content"_s, "abc"_s}, {"md5"_s, "given"_s}, {"content_size"_s, 3}}
            << QVariantMap{{"content"_s, "abc"_s}, {"md5"_s, "given"_s}, {"content_size"_s, 3}};
        QTest::newRow("emptied content") << QVariantMap{{"content"_s, ""_s},
                                                        {"title"_s, "old"_s},
                                                        {"md5"_s, strAbc},
                                                        {"content_size"_s, 3}}
                                         << QVariantMap{{"content"_s, ""_s},
                                                        {"title"_s, ""_s},
                                                        {"md5"_s, QVariant()},
                                                        {"content_size"_s, 0},
                                                        {"updated_at"_s, "<now>"_s}};
        QTest::newRow("title without content") << QVariantMap{{"title"_s, "t"_s}}
                                               << QVariantMap{{"content"_s, ""_s},
                                                              {"title"_s, ""_s},
                                                              {"md5"_s, QVariant()},
                                                              {"content_size"_s, 0},
                                                              {"updated_at"_s, "<now>"_s}};
        QTest::newRow("text still on the server")
            << QVariantMap{{"title"_s, "t"_s}, {"content_size"_s, 120}, {"md5"_s, "m"_s}}
            << QVariantMap{{"title"_s, "t"_s}, {"content_size"_s, 120}, {"md5"_s, "m"_s}};
        QTest::newRow("no content, no title")
            << QVariantMap{{"uuid"_s, "u"_s}} << QVariantMap{{"uuid"_s, "u"_s}};
    }

    void prepareNoteItem()
    {
        QFETCH(QVariantMap, input);
        QFETCH(QVariantMap, output);
        CNoteMgt &nm = makeNoteMgt();
        nm.prepareNoteItem(input);
        maskNow(input);
        if (output.contains("md5"_s) && !output.value("md5"_s).isValid()) {
            QVERIFY(input.value("md5"_s).isNull());
            input.insert("md5"_s, QVariant());
        }
        COMPARE_MAP(input, output);
    }

    void convertServerItem_data()
    {
        QTest::addColumn<QVariantMap>("input");
        QTest::addColumn<int>("userId");
        QTest::addColumn<QVariantMap>("output");

        const QString strUuid = QStringLiteral("{5b0c3c43-2a56-4b8e-9a6e-6b5ef0b1f001}");
        QTest::newRow("foreign keys dropped")
            << QVariantMap{{"id"_s, 7}, {"user_id"_s, 3}, {"uuid"_s, strUuid}, {"deleted"_s, 1}}
            << 12 << QVariantMap{{"user_id"_s, 12}, {"server_id"_s, 7}, {"uuid"_s, strUuid}};
        QTest::newRow("every note field") << QVariantMap{{"id"_s, 8},
                                                         {"set_at"_s, "2016-03-05 00:00:00"_s},
                                                         {"title"_s, "T"_s},
                                                         {"content"_s, "<p>c</p>"_s},
                                                         {"content_size"_s, 8},
                                                         {"md5"_s, "m"_s},
                                                         {"created_at"_s, "2016-03-05 10:00:00"_s},
                                                         {"updated_at"_s, "2016-03-06 10:00:00"_s},
                                                         {"uuid"_s, strUuid},
                                                         {"classify"_s, "x"_s}}
                                          << 2
                                          << QVariantMap{{"user_id"_s, 2},
                                                         {"server_id"_s, 8},
                                                         {"set_at"_s, "2016-03-05 00:00:00"_s},
                                                         {"title"_s, "T"_s},
                                                         {"content"_s, "<p>c</p>"_s},
                                                         {"content_size"_s, 8},
                                                         {"md5"_s, "m"_s},
                                                         {"created_at"_s, "2016-03-05 10:00:00"_s},
                                                         {"updated_at"_s, "2016-03-06 10:00:00"_s},
                                                         {"uuid"_s, strUuid}};
        QTest::newRow("no id") << QVariantMap{{"title"_s, "T"_s}} << 0
                               << QVariantMap{{"user_id"_s, 0}, {"title"_s, "T"_s}};
    }

    void convertServerItem()
    {
        QFETCH(QVariantMap, input);
        QFETCH(int, userId);
        QFETCH(QVariantMap, output);
        CNoteMgt &nm = makeNoteMgt();
        nm.convertServerItem(input, userId);
        COMPARE_MAP(input, output);
    }

    void fillDisplayFields_data()
    {
        QTest::addColumn<QVariantMap>("input");
        QTest::addColumn<QVariantMap>("output");

        const QString strHtml = QStringLiteral(
            "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\"><html><head><style "
            "type=\"text/css\">p { margin: 0; }</style></head><body><p>Tom &amp; Jerry "
            "&lt;3&gt; <b>bold</b>&nbsp;caf&eacute;</p></body></html>");
        QTest::newRow("title from markup and entities")
            << QVariantMap{{"content"_s, strHtml},
                           {"title"_s, ""_s},
                           {"set_at"_s, "2016-03-05 00:00:00"_s}}
            << QVariantMap{{"content"_s, strHtml},
                           {"title"_s, QStringLiteral("Tom & Jerry <3> bold café")},
                           {"set_at"_s, "2016-03-05"_s}};
        const QString strLong = QString(60, QLatin1Char('a'));
        QTest::newRow("title of 50 characters")
            << QVariantMap{{"content"_s, strLong}}
            << QVariantMap{{"content"_s, strLong}, {"title"_s, QString(50, QLatin1Char('a'))}};
        QTest::newRow("own title kept") << QVariantMap{{"content"_s, "<p>body</p>"_s},
                                                       {"title"_s, "Mine"_s},
                                                       {"set_at"_s, "2016-03-05"_s}}
                                        << QVariantMap{{"content"_s, "<p>body</p>"_s},
                                                       {"title"_s, "Mine"_s},
                                                       {"set_at"_s, "2016-03-05"_s}};
        const QString strPicture = QStringLiteral(
            "<img height=\"1\" width=\"1\" src=\"data:image/png;base64,iVBORw0KGgo=\">");
        // Listed as a picture, not as a blank row.
        QTest::newRow("only a picture")
            << QVariantMap{{"content"_s, strPicture}, {"title"_s, ""_s}}
            << QVariantMap{{"content"_s, strPicture}, {"title"_s, "[Picture]"_s}};
        const QString strPictures = strPicture + "<p> </p>"_s + strPicture;
        QTest::newRow("pictures and blanks")
            << QVariantMap{{"content"_s, strPictures}}
            << QVariantMap{{"content"_s, strPictures}, {"title"_s, "[Picture]"_s}};

        QTest::newRow("no content")
            << QVariantMap{{"set_at"_s, "2016-03-05 12:00:00"_s}, {"title"_s, ""_s}}
            << QVariantMap{{"set_at"_s, "2016-03-05"_s}, {"title"_s, ""_s}};
    }

    void fillDisplayFields()
    {
        QFETCH(QVariantMap, input);
        QFETCH(QVariantMap, output);
        CNoteMgt &nm = makeNoteMgt();
        nm.fillDisplayFields(input);
        COMPARE_MAP(input, output);

        // The list form treats every entry alike.
        QVariantList lst{input, input};
        nm.fillDisplayFieldsOfList(lst);
        QCOMPARE(lst, (QVariantList{output, output}));
    }

    // ---- timers ----

    void midnightTimer()
    {
        CNoteMgt &nm = makeNoteMgt();
        QSignalSpy spy(&nm, &CNoteMgt::currentDateChanged);
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 0);
        QVERIFY(nm.m_timerNextDay.isActive());
        const QDateTime dtNow = QDateTime::currentDateTime();
        const qint64 nExpected = dtNow.msecsTo(QDateTime(dtNow.date().addDays(1), QTime(0, 0, 5)));
        QVERIFY2(qAbs(nm.m_timerNextDay.interval() - nExpected) < 2000,
                 qPrintable(QString::number(nm.m_timerNextDay.interval())));

        nm.onTimeOutNextDay();
        QCOMPARE(spy.count(), 1);
        QVERIFY(nm.m_timerNextDay.isActive());
        QVERIFY(qAbs(nm.m_timerNextDay.interval() - nExpected) < 2000);

        for (QTimer *pTimer : {&nm.m_timerDownloadNote,
                               &nm.m_timerUploadNote,
                               &nm.m_timerLoginServer,
                               &nm.m_timerSync}) {
            QCOMPARE(pTimer->interval(), 60000);
            QVERIFY(!pTimer->isActive());
        }
        QCOMPARE(CNoteMgt().m_timerSync.interval(), 60000);
    }
};

QTEST_MAIN(TestNoteMgt)
#include "tst_notemgt.moc"
