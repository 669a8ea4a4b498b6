// Child process of tst_dbmgt's crash test: writes notes through CDbMgt as fast as the
// store takes them and prints the UUID of every note whose result has arrived, one per
// line, until it is killed.
#include "dbmgt.h"

#include <QCoreApplication>
#include <QHash>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: dbmgt_crash_writer <folder> <count>\n");
        return 2;
    }
    const QString strDir = QString::fromLocal8Bit(argv[1]);
    const int nCount = QString::fromLocal8Bit(argv[2]).toInt();

    CDbMgt dbMgt(strDir);
    QHash<QString, QString> hashNoteByRequest;
    QObject::connect(&dbMgt, &CDbMgt::dataReceived, &app, [&](const QVariant &result) {
        const QVariantMap mapResult = result.toMap();
        const QString strNote = hashNoteByRequest.take(
            mapResult.value(QStringLiteral("uuid")).toString());
        if (mapResult.contains(QStringLiteral("error"))) {
            std::fprintf(stderr,
                         "error %s\n",
                         qPrintable(mapResult.value(QStringLiteral("error")).toString()));
            return;
        }
        std::printf("%s\n", qPrintable(strNote));
        std::fflush(stdout);
        if (hashNoteByRequest.isEmpty())
            app.quit();
    });

    const QString strBody = QString(1000, QLatin1Char('x'));
    for (int i = 0; i < nCount; ++i) {
        const QString strNote = QStringLiteral("{00000000-0000-0000-0000-%1}")
                                    .arg(i, 12, 10, QLatin1Char('0'));
        const QVariantMap mapNote{{QStringLiteral("uuid"), strNote},
                                  {QStringLiteral("title"), QStringLiteral("note %1").arg(i)},
                                  {QStringLiteral("content"), strBody},
                                  {QStringLiteral("set_at"), QStringLiteral("2024-01-01 00:00:00")}};
        hashNoteByRequest.insert(dbMgt.insertNoteItem(mapNote), strNote);
    }
    return app.exec();
}
