#include "notemgt.h"
#include "settings.h"
#include "startup.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtQuickTest>

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
        Startup::registerTypes();
        m_pSettings = std::make_unique<CSettings>(QStringLiteral("Greyfen Software"),
                                                  QStringLiteral("kelpo-qmltest"));
        g_pSettings = m_pSettings.get();
        // A data folder of this run: test runs in parallel never share a local.db.
        m_pNoteMgt = std::make_unique<CNoteMgt>(m_dir.filePath(QStringLiteral("data")), 60000);
        engine->rootContext()->setContextProperty(QStringLiteral("noteMgt"), m_pNoteMgt.get());
        engine->rootContext()->setContextProperty(QStringLiteral("settings"), m_pSettings.get());
    }

    void cleanupTestCase()
    {
        m_pNoteMgt.reset();
        g_pSettings = nullptr;
        m_pSettings.reset();
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CSettings> m_pSettings;
    std::unique_ptr<CNoteMgt> m_pNoteMgt;
};

QUICK_TEST_MAIN_WITH_SETUP(kelpo, Setup)
#include "tst_qml.moc"
