#include "closeguard.h"
#include "notemgt.h"
#include "settings.h"
#include "startup.h"

#include <QDirIterator>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>

#include <csignal>
#include <QtTest>

namespace {
QStringList g_warnings;
QtMessageHandler g_previousHandler = nullptr;

void collectWarnings(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (type == QtWarningMsg || type == QtCriticalMsg)
        g_warnings << msg;
    g_previousHandler(type, context, msg);
}

struct TsMessage
{
    QString context;
    QString source;
    QString translation;
};

// The translation sources that the build compiles, read back as (context, source, translation).
QList<TsMessage> readTs(const QString &strPath)
{
    QList<TsMessage> list;
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return list;
    QXmlStreamReader xml(&file);
    QString strContext;
    TsMessage msg;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name"))
            strContext = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            msg.source = xml.readElementText();
        else if (xml.name() == QLatin1String("translation")) {
            msg.translation = xml.readElementText();
            msg.context = strContext;
            list << msg;
        }
    }
    return list;
}
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        QStandardPaths::setTestModeEnabled(true);
        Startup::registerTypes();
    }

    void locale_data()
    {
        QTest::addColumn<QString>("localeName");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<bool>("lunar");
        QTest::addColumn<QString>("login"); // "Login" in context ViewNote

        QTest::newRow("zh_CN") << "zh_CN"
                               << "zh_cn" << true << true << QStringLiteral("登录");
        QTest::newRow("ja_JP") << "ja_JP"
                               << "ja_jp" << true << false << QStringLiteral("登录され");
        QTest::newRow("en_US") << "en_US"
                               << "en_us" << false << false << "Login";
        QTest::newRow("zh_TW") << "zh_TW"
                               << "zh_tw" << false << false << "Login";
    }

    void locale()
    {
        QFETCH(QString, localeName);
        QFETCH(QString, lang);
        QFETCH(bool, loaded);
        QFETCH(bool, lunar);
        QFETCH(QString, login);

        QCOMPARE(Startup::langKey(localeName), lang);
        QTranslator translator;
        QCOMPARE(Startup::installTranslation(*QCoreApplication::instance(), translator, lang),
                 loaded);
        QCOMPARE(QCoreApplication::translate("ViewNote", "Login"), login);

        CSettings settings(QStringLiteral("Greyfen Software"), QStringLiteral("startup-") + lang);
        // Lunar dates follow the locale whatever was stored.
        settings.setShowLunar(!lunar);
        QSignalSpy lunarSpy(&settings, &CSettings::showLunarChanged);
        QSignalSpy langSpy(&settings, &CSettings::langChanged);
        Startup::applyLocale(settings, lang);
        QCOMPARE(settings.getLang(), lang);
        QCOMPARE(settings.getShowLunar(), lunar);
        QCOMPARE(lunarSpy.count(), 1);
        QCOMPARE(langSpy.count(), 0);
        QCoreApplication::removeTranslator(&translator);
    }

    // The picture dialog's own buttons follow the interface's language: Qt's catalogues
    // for the locale load beside Kelpo's.
    void qtDialogTexts_data()
    {
        QTest::addColumn<QString>("localeName");
        QTest::addColumn<QString>("cancel");
        QTest::addColumn<QString>("open");
        QTest::newRow("zh_CN") << "zh_CN" << QStringLiteral("取消") << QStringLiteral("打开");
        QTest::newRow("ja_JP") << "ja_JP" << QStringLiteral("キャンセル") << QStringLiteral("開く");
    }

    void qtDialogTexts()
    {
        QFETCH(QString, localeName);
        QFETCH(QString, cancel);
        QFETCH(QString, open);
        {
            const auto lstTranslators = Startup::installQtTranslations(*QCoreApplication::instance(),
                                                                       QLocale(localeName));
            QVERIFY(!lstTranslators.empty());
            QCOMPARE(QCoreApplication::translate("DefaultFileDialog", "Cancel"), cancel);
            QCOMPARE(QCoreApplication::translate("DefaultFileDialog", "Open"), open);
        }
        // Gone with the list.
        QCOMPARE(QCoreApplication::translate("DefaultFileDialog", "Cancel"),
                 QStringLiteral("Cancel"));
    }

    // Every row of the translation table, in every listed context, comes out of the
    // compiled .qm files that the resources carry.
    void compiledTranslations_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::newRow("zh_cn") << "zh_cn";
        QTest::newRow("ja_jp") << "ja_jp";
    }

    void compiledTranslations()
    {
        QFETCH(QString, lang);
        const QList<TsMessage> messages = readTs(
            QStringLiteral(KELPO_SOURCE_DIR "/translations/kelpo_%1.ts").arg(lang));
        QVERIFY(!messages.isEmpty());
        // Every text that a view translates has its row, in the context of its file.
        QSet<QString> setKnown;
        for (const TsMessage &m : messages)
            setKnown << m.context + QLatin1Char('\n') + m.source;
        const QRegularExpression reQsTr(QStringLiteral("qsTr\\(\"((?:[^\"\\\\]|\\\\.)*)\"\\)"));
        QDirIterator it(QStringLiteral(":/qml"), {QStringLiteral("*.qml")});
        int nTexts = 0;
        while (it.hasNext()) {
            QFile file(it.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString strContext = QFileInfo(file.fileName()).completeBaseName();
            const QString strQml = QString::fromUtf8(file.readAll());
            auto matches = reQsTr.globalMatch(strQml);
            while (matches.hasNext()) {
                QString strSource = matches.next().captured(1);
                strSource.replace(QLatin1String("\\\""), QLatin1String("\""));
                ++nTexts;
                QVERIFY2(setKnown.contains(strContext + QLatin1Char('\n') + strSource),
                         qPrintable(strContext + QLatin1String(": ") + strSource));
            }
        }
        QVERIFY(nTexts > 0);

        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(":/kelpo_") + lang + QStringLiteral(".qm")));
        for (const TsMessage &m : messages) {
            QVERIFY2(!m.translation.isEmpty(), qPrintable(m.source));
            QCOMPARE(translator.translate(m.context.toUtf8().constData(),
                                          m.source.toUtf8().constData()),
                     m.translation);
        }
    }

    void compiledTranslationSamples()
    {
        QTranslator zh;
        QVERIFY(zh.load(QStringLiteral(":/kelpo_zh_cn.qm")));
        QCOMPARE(zh.translate("MonthsView", "Sun"), QStringLiteral("日"));
        QCOMPARE(zh.translate("ViewNoteEdit", "Do you sure to remove the note?"),
                 QStringLiteral("确认删除笔记？"));
        QCOMPARE(zh.translate("CNoteMgt", "The mail about modify password is sent to '%1'."),
                 QStringLiteral("修改密码的邮件发送至'%1'。"));
        QTranslator ja;
        QVERIFY(ja.load(QStringLiteral(":/kelpo_ja_jp.qm")));
        QCOMPARE(ja.translate("EditTimeItem", "Hour"), QStringLiteral("時"));
        QCOMPARE(ja.translate("ViewAbout", "Greyfen Software"),
                 QStringLiteral("グレイフェンソフト"));
    }

    // Every QML file of the resources compiles: broken imports and typos show here.
    void qmlFilesCompile()
    {
        QQmlEngine engine;
        QDirIterator it(QStringLiteral(":/qml"), {QStringLiteral("*.qml")});
        int nFiles = 0;
        while (it.hasNext()) {
            const QString strPath = it.next();
            // A singleton is made by the engine for its users, which load it here.
            QFile file(strPath);
            QVERIFY(file.open(QIODevice::ReadOnly));
            if (file.readAll().startsWith("pragma Singleton"))
                continue;
            QQmlComponent component(&engine,
                                    QUrl(QStringLiteral("qrc") + strPath),
                                    QQmlComponent::PreferSynchronous);
            QVERIFY2(!component.isError(), qPrintable(component.errorString()));
            ++nFiles;
        }
        QVERIFY(nFiles >= 34);
    }

    // The window is titled, sized by its root, and main.qml loads without a warning;
    // the note manager's init waits for the event loop, after the window is shown.
    void windowLoadsCleanly()
    {
        CSettings settings(QStringLiteral("Greyfen Software"), QStringLiteral("startup-window"));
        QTemporaryDir dirData;
        QVERIFY(dirData.isValid());
        CNoteMgt noteMgt(dirData.path(), 60000);
        g_warnings.clear();
        g_previousHandler = qInstallMessageHandler(collectWarnings);
        // Put back however the test ends: a failed check returns early.
        const auto restoreHandler = qScopeGuard([] { qInstallMessageHandler(g_previousHandler); });
        std::unique_ptr<QQuickView> pView = Startup::createWindow(noteMgt, settings);
        QCOMPARE(pView->title(), QStringLiteral("Kelpo"));
        QCOMPARE(pView->status(), QQuickView::Ready);
        QVERIFY(pView->rootObject());
        QCOMPARE(pView->resizeMode(), QQuickView::SizeRootObjectToView);
        pView->resize(800, 600);
        pView->show();
        QVERIFY(QTest::qWaitForWindowExposed(pView.get()));
        QTRY_COMPARE(pView->rootObject()->width(), 800.0);
        // The icon follows the first frame.
        QTRY_VERIFY_WITH_TIMEOUT(!pView->icon().isNull(), 20000);
        QTest::qWait(200);
        QVERIFY2(g_warnings.isEmpty(), qPrintable(g_warnings.join(QLatin1Char('\n'))));
    }

    // The real program, started under a given file name, keeps its settings in a file
    // named after it and ends with exit code 0, settings written, when asked to stop.
    void programEndsCleanly_data()
    {
        QTest::addColumn<QString>("exeName");
        QTest::newRow("kelpo") << "kelpo";
        QTest::newRow("another name") << "diary";
    }

    void programEndsCleanly()
    {
        QFETCH(QString, exeName);
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString strExe = home.filePath(exeName);
        QVERIFY(QFile::copy(QStringLiteral(KELPO_BINARY_DIR "/kelpo"), strExe));
        QVERIFY(QFile::setPermissions(strExe, QFile::ExeOwner | QFile::ReadOwner));

        QProcess proc;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        proc.setProcessEnvironment(env);
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.start(strExe, {});
        QVERIFY(proc.waitForStarted());
        // The database is opened once the program listens for requests to end.
        const QString strDb = home.filePath(QStringLiteral(".local/share/Greyfen Software/")
                                            + exeName + QStringLiteral("/local.db"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(strDb), 60000);
        QCOMPARE(proc.state(), QProcess::Running);
        proc.terminate();
        QVERIFY(proc.waitForFinished(20000));
        QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
        QCOMPARE(proc.exitCode(), 0);
        const QString strIni = home.filePath(QStringLiteral(".config/Greyfen Software/") + exeName
                                             + QStringLiteral(".ini"));
        QVERIFY2(QFile::exists(strIni), qPrintable(strIni));
        QSettings ini(strIni, QSettings::IniFormat);
        QVERIFY(ini.contains(QStringLiteral("m_nInitType")));
        QVERIFY(!ini.contains(QStringLiteral("m_bShowLunar")));
    }

    // Asked to end while a modal dialog is open (a file dialog of the options), the program
    // closes the dialog and then the window: the dialog neither blocks closing the window
    // nor keeps the program running on its own.
    void signalClosesModalDialogAndWindow()
    {
        QWindow window;
        window.resize(200, 200);
        window.show();
        QWindow dialog;
        dialog.setTransientParent(&window);
        dialog.setModality(Qt::ApplicationModal);
        dialog.setTitle(QStringLiteral("Export to folder"));
        dialog.resize(100, 100);
        dialog.show();
        QTRY_COMPARE(QGuiApplication::modalWindow(), &dialog);

        CCloseGuard guard(&window);
        ::raise(SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 10000);
        QVERIFY(!dialog.isVisible());
        QVERIFY(!QGuiApplication::modalWindow());
    }

    // The automatic login of the note manager waits for the first pass of the event
    // loop, which comes after the window has been shown.
    void noteMgtInitRunsAfterTheWindowIsShown()
    {
        QTemporaryDir dirData;
        QVERIFY(dirData.isValid());
        CSettings settings(QStringLiteral("Greyfen Software"), QStringLiteral("startup-init"));
        settings.setUserName(QStringLiteral("alice"));
        settings.setPwd(QStringLiteral("secret"));
        settings.setAutoLogin(true);
        // Any post of the login goes to a port of this test, never to a real service.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        settings.setServerUrl(
            QStringLiteral("http://127.0.0.1:%1/mobile/").arg(server.serverPort()));
        CSettings *pPrevious = g_pSettings;
        g_pSettings = &settings;
        QLoggingCategory::setFilterRules(QStringLiteral("kelpo.note.debug=true"));

        static QQuickView *s_pView = nullptr;
        static int s_nLogins = 0;
        static bool s_bShownAtLogin = false;
        s_pView = nullptr;
        s_nLogins = 0;
        g_previousHandler = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &msg) {
                if (msg.contains(QLatin1String("loginAtLocal"))) {
                    ++s_nLogins;
                    s_bShownAtLogin = s_pView && s_pView->isVisible();
                }
                g_previousHandler(type, context, msg);
            });
        // Put back however the test ends: a failed check returns early.
        const auto restore = qScopeGuard([pPrevious] {
            qInstallMessageHandler(g_previousHandler);
            g_pSettings = pPrevious;
        });

        CNoteMgt noteMgt(dirData.path(), 60000);
        std::unique_ptr<QQuickView> pView = Startup::createWindow(noteMgt, settings);
        s_pView = pView.get();
        // Forgotten before the window goes.
        const auto forgetView = qScopeGuard([] { s_pView = nullptr; });
        QCOMPARE(s_nLogins, 0);
        pView->show();
        QCOMPARE(s_nLogins, 0);
        QTRY_COMPARE(s_nLogins, 1);
        QVERIFY(s_bShownAtLogin);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
