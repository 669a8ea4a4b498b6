#include "backup.h"
#include "exporter.h"
#include "importer.h"
#include "notemgt.h"
#include "settings.h"
#include "startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QQmlContext>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtQuickTest>

// Puts the diary file out of reach and back, for the tests of failing saves: a folder in
// its place cannot be opened, so every request fails until it is mended.
class CStoreFault : public QObject
{
    Q_OBJECT

public:
    explicit CStoreFault(const QString &strDbFile)
        : m_strDbFile(strDbFile)
    {}

    Q_INVOKABLE void breakDiary()
    {
        QFile::remove(m_strDbFile);
        QDir().mkpath(m_strDbFile);
    }
    Q_INVOKABLE void mendDiary() { QDir(m_strDbFile).removeRecursively(); }

private:
    QString m_strDbFile;
};

// Hands the QML tests the real back end: a note manager and settings that live in
// temporary folders, reachable as "noteMgt" and "settings" as in the application.
class Setup : public QObject
{
    Q_OBJECT

public:
    Setup()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }

public slots:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Greyfen Software"));
        QCoreApplication::setOrganizationDomain(QStringLiteral("greyfen.example"));
        Startup::registerTypes();
        Startup::addImageProviders(*engine);
        m_pSettings = std::make_unique<CSettings>(QStringLiteral("Greyfen Software"),
                                                  QStringLiteral("kelpo-qmltest"));
        g_pSettings = m_pSettings.get();
        // No note service: requests to it are refused at once on a loopback port that the
        // system handed out and that nobody listens on any more.
        QTcpServer server;
        if (server.listen(QHostAddress::LocalHost, 0)) {
            const quint16 nPort = server.serverPort();
            server.close();
            m_pSettings->setServerUrl(QStringLiteral("http://127.0.0.1:%1/mobile/").arg(nPort));
        }
        // A data folder of this run: test runs in parallel never share a local.db.
        m_pNoteMgt = std::make_unique<CNoteMgt>(m_dir.filePath(QStringLiteral("data")), 60000);
        engine->rootContext()->setContextProperty(QStringLiteral("noteMgt"), m_pNoteMgt.get());
        engine->rootContext()->setContextProperty(QStringLiteral("settings"), m_pSettings.get());
        m_pBackup = std::make_unique<CBackup>(m_pNoteMgt->localStore());
        m_pExporter = std::make_unique<CExporter>(m_pNoteMgt->localStore());
        m_pImporter = std::make_unique<CImporter>(m_pNoteMgt->localStore());
        engine->rootContext()->setContextProperty(QStringLiteral("backup"), m_pBackup.get());
        engine->rootContext()->setContextProperty(QStringLiteral("diaryExport"), m_pExporter.get());
        engine->rootContext()->setContextProperty(QStringLiteral("diaryImport"), m_pImporter.get());
        m_pStoreFault = std::make_unique<CStoreFault>(
            m_dir.filePath(QStringLiteral("data/local.db")));
        engine->rootContext()->setContextProperty(QStringLiteral("storeFault"), m_pStoreFault.get());
    }

    void cleanupTestCase()
    {
        m_pImporter.reset();
        m_pExporter.reset();
        m_pBackup.reset();
        m_pStoreFault.reset();
        m_pNoteMgt.reset();
        g_pSettings = nullptr;
        m_pSettings.reset();
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CSettings> m_pSettings;
    std::unique_ptr<CNoteMgt> m_pNoteMgt;
    std::unique_ptr<CBackup> m_pBackup;
    std::unique_ptr<CExporter> m_pExporter;
    std::unique_ptr<CImporter> m_pImporter;
    std::unique_ptr<CStoreFault> m_pStoreFault;
};

QUICK_TEST_MAIN_WITH_SETUP(kelpo, Setup)
#include "tst_qml.moc"
