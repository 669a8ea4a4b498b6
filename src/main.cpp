#include "backup.h"
#include "closeguard.h"
#include "commandline.h"
#include "exporter.h"
#include "importer.h"
#include "langmgt.h"
#include "notemgt.h"
#include "settings.h"
#include "startup.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QQuickView>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>

#include <memory>
#include <vector>

namespace {
// The first backup of the day waits until the window is up and the first lists are read.
constexpr int kBackupDelayMs = 20000;
} // namespace

int main(int argc, char *argv[])
{
    // Export, import and restore run without a window, also where there is no display.
    if (CommandLine::runsWithoutWindow(argc, argv) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("Greyfen Software"));
    QGuiApplication::setOrganizationDomain(QStringLiteral("greyfen.example"));
    QGuiApplication::setApplicationName(
        QFileInfo(QCoreApplication::applicationFilePath()).baseName());
    QGuiApplication::setApplicationVersion(QStringLiteral(KELPO_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("example.greyfen.Kelpo"));

    const QString strLang = Startup::langKey(QLocale::system().name());
    QTranslator translator;
    std::vector<std::unique_ptr<QTranslator>> lstQtTranslators;
    // Qt's dialogs speak the interface's language: only where Kelpo has its own texts.
    if (Startup::installTranslation(app, translator, strLang))
        lstQtTranslators = Startup::installQtTranslations(app, QLocale::system());

    const int nCommandLine = CommandLine::run(app);
    if (nCommandLine >= 0)
        return nCommandLine;

    // From here on a request to end (SIGTERM, SIGINT, SIGHUP) ends the program the
    // orderly way, also while the window is still being made.
    CCloseGuard closeGuard(nullptr);

    CLangMgt langMgt;
    langMgt.m_strLang = strLang;
    g_pLangMgt = &langMgt;

    Startup::registerTypes();

    CSettings settings(QGuiApplication::organizationName(), QGuiApplication::applicationName());
    Startup::applyLocale(settings, strLang);
    g_pSettings = &settings;

    // A restore asked for in the last run, before the database is opened.
    const QString strRestoreMessage = CBackup::restorePending(
        QStandardPaths::writableLocation(QStandardPaths::DataLocation));

    CNoteMgt noteMgt;
    CBackup backup(noteMgt.localStore());
    CExporter exporter(noteMgt.localStore());
    CImporter importer(noteMgt.localStore());

    std::unique_ptr<QQuickView> pView
        = Startup::createWindow(noteMgt,
                                settings,
                                {{QStringLiteral("backup"), &backup},
                                 {QStringLiteral("diaryExport"), &exporter},
                                 {QStringLiteral("diaryImport"), &importer}});
    closeGuard.setWindow(pView.get());
    pView->show();

    // One backup a day: shortly after start, and on the first day change while the
    // program runs ...
    QTimer::singleShot(kBackupDelayMs, &backup, &CBackup::backUpIfDue);
    QObject::connect(&noteMgt, &CNoteMgt::currentDateChanged, &backup, &CBackup::backUpIfDue);
    // ... or at the first save, when that comes earlier.
    QObject::connect(&noteMgt, &CNoteMgt::appendNoteItemToList, &backup, &CBackup::backUpIfDue);
    QObject::connect(&backup, &CBackup::backupFailed, &noteMgt, &CNoteMgt::showError);
    if (!strRestoreMessage.isEmpty())
        QTimer::singleShot(0, &noteMgt, [&noteMgt, strRestoreMessage] {
            emit noteMgt.showInfo(strRestoreMessage);
        });

    const int nRet = app.exec();
    pView.reset();
    return nRet;
}
