#include "commandline.h"

#include "backup.h"
#include "dbmgt.h"
#include "exporter.h"
#include "importer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>

#include <cstring>

namespace CommandLine {

namespace {

QString str(const char *p)
{
    return QString::fromUtf8(p);
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

// The notes written from the command line are those of the user the program last logged
// in (the remembered name), or the notes of nobody.
void selectUser(CDbMgt &store)
{
    const QSettings settings(QSettings::IniFormat,
                             QSettings::UserScope,
                             QCoreApplication::organizationName(),
                             QCoreApplication::applicationName());
    const QString strName = settings.value(str("m_strUserName")).toString().toLower();
    if (strName.isEmpty())
        return;
    QEventLoop loop;
    QString strRequest;
    QObject::connect(&store, &CDbMgt::dataReceived, &loop, [&](const QVariant &data) {
        const QVariantMap mapResult = data.toMap();
        if (mapResult.value(str("uuid")).toString() != strRequest)
            return;
        const int nId
            = mapResult.value(str("result")).toList().value(0).toMap().value(str("id")).toInt();
        if (nId >= 1)
            store.setUserId(nId);
        loop.quit();
    });
    strRequest = store.queryPrepared(str("SELECT id FROM user WHERE name = :name"),
                                     {{str("name"), strName}});
    loop.exec();
}

int runExport(CDbMgt &store, const QCommandLineParser &parser)
{
    CExporter::Format format = CExporter::Format::Markdown;
    if (parser.isSet(str("format"))
        && !CExporter::parseFormat(parser.value(str("format")), &format)) {
        err() << QCoreApplication::translate("CommandLine",
                                             "Unknown format %1: use markdown, html or pdf.")
                     .arg(parser.value(str("format")))
              << Qt::endl;
        return 1;
    }
    QDate dtFrom;
    QDate dtTo;
    for (const char *pOption : {"from", "to"}) {
        if (!parser.isSet(str(pOption)))
            continue;
        const QDate dt = QDate::fromString(parser.value(str(pOption)), Qt::ISODate);
        if (!dt.isValid()) {
            err() << QCoreApplication::translate("CommandLine",
                                                 "%1 is not a day: write it as yyyy-MM-dd.")
                         .arg(parser.value(str(pOption)))
                  << Qt::endl;
            return 1;
        }
        (std::strcmp(pOption, "from") == 0 ? dtFrom : dtTo) = dt;
    }
    selectUser(store);

    CExporter exporter(store);
    QEventLoop loop;
    int nRet = 0;
    QObject::connect(&exporter,
                     &CExporter::finished,
                     &loop,
                     [&](const QString &strTarget, int nNotes) {
                         out() << QCoreApplication::translate("CommandLine",
                                                              "Exported %1 notes to %2.")
                                      .arg(nNotes)
                                      .arg(strTarget)
                               << Qt::endl;
                         loop.quit();
                     });
    QObject::connect(&exporter, &CExporter::failed, &loop, [&](const QString &strError) {
        err() << strError << Qt::endl;
        nRet = 1;
        loop.quit();
    });
    if (!exporter.start(parser.value(str("export")), format, dtFrom, dtTo))
        return 1;
    loop.exec();
    return nRet;
}

int runImport(CDbMgt &store, const QCommandLineParser &parser)
{
    selectUser(store);
    CImporter importer(store);
    QEventLoop loop;
    int nRet = 0;
    QObject::connect(&importer,
                     &CImporter::finished,
                     &loop,
                     [&](int nAdded, int nUpdated, int nUnchanged, const QVariantList &lstBad) {
                         out() << QCoreApplication::translate("CommandLine",
                                                              "Added %1, updated %2, unchanged %3.")
                                      .arg(nAdded)
                                      .arg(nUpdated)
                                      .arg(nUnchanged)
                               << Qt::endl;
                         for (const QVariant &bad : lstBad) {
                             const QVariantMap mapBad = bad.toMap();
                             err() << QCoreApplication::translate("CommandLine", "Left out %1: %2")
                                          .arg(mapBad.value(str("file")).toString(),
                                               mapBad.value(str("reason")).toString())
                                   << Qt::endl;
                         }
                         nRet = lstBad.isEmpty() ? 0 : 2;
                         loop.quit();
                     });
    QObject::connect(&importer, &CImporter::failed, &loop, [&](const QString &strError) {
        err() << strError << Qt::endl;
        nRet = 1;
        loop.quit();
    });
    if (!importer.start(parser.value(str("import"))))
        return 1;
    loop.exec();
    return nRet;
}

} // namespace

bool runsWithoutWindow(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        for (const char *pOption :
             {"--export", "--import", "--restore", "--help", "-h", "--version", "-v"}) {
            const size_t nLength = std::strlen(pOption);
            if (std::strncmp(argv[i], pOption, nLength) == 0
                && (argv[i][nLength] == '\0' || argv[i][nLength] == '='))
                return true;
        }
    }
    return false;
}

int run(QCoreApplication &app, const QString &strDataDir)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::translate("CommandLine",
                                    "Kelpo, a diary. Without options it opens its window."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {str("export"),
         QCoreApplication::translate(
             "CommandLine",
             "Writes the notes into <folder> (for pdf: a file or a folder) and exits."),
         str("folder")},
        {str("from"),
         QCoreApplication::translate("CommandLine", "Exports from this day on (yyyy-MM-dd)."),
         str("day")},
        {str("to"),
         QCoreApplication::translate("CommandLine", "Exports up to this day (yyyy-MM-dd)."),
         str("day")},
        {str("format"),
         QCoreApplication::translate("CommandLine", "markdown (the default), html or pdf."),
         str("format")},
        {str("import"),
         QCoreApplication::translate("CommandLine",
                                     "Reads the notes in <folder> into the diary and exits."),
         str("folder")},
        {str("restore"),
         QCoreApplication::translate("CommandLine",
                                     "Puts the backup <file> in place of the diary and exits; the "
                                     "diary as it was is kept aside."),
         str("file")},
    });
    parser.process(app);

    const int nTasks = int(parser.isSet(str("export"))) + int(parser.isSet(str("import")))
                       + int(parser.isSet(str("restore")));
    if (nTasks == 0)
        return -1;
    if (nTasks > 1) {
        err() << QCoreApplication::translate("CommandLine",
                                             "Give one of --export, --import and --restore.")
              << Qt::endl;
        return 1;
    }

    const QString strDir = strDataDir.isEmpty()
                               ? QStandardPaths::writableLocation(QStandardPaths::DataLocation)
                               : strDataDir;
    if (parser.isSet(str("restore"))) {
        QString strAside;
        const QString strError = CBackup::restore(parser.value(str("restore")),
                                                  QDir(strDir).filePath(str("local.db")),
                                                  &strAside);
        if (!strError.isEmpty()) {
            err() << strError << Qt::endl;
            return 1;
        }
        out() << QCoreApplication::translate("CommandLine", "Restored %1.")
                     .arg(parser.value(str("restore")));
        if (!strAside.isEmpty())
            out() << ' '
                  << QCoreApplication::translate("CommandLine", "The diary as it was is kept as %1.")
                         .arg(strAside);
        out() << Qt::endl;
        return 0;
    }

    CDbMgt store(strDir);
    return parser.isSet(str("export")) ? runExport(store, parser) : runImport(store, parser);
}

} // namespace CommandLine
