#include "closeguard.h"
#include "langmgt.h"
#include "notemgt.h"
#include "settings.h"
#include "startup.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QQuickView>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("Greyfen Software"));
    QGuiApplication::setOrganizationDomain(QStringLiteral("greyfen.example"));
    QGuiApplication::setApplicationName(
        QFileInfo(QCoreApplication::applicationFilePath()).baseName());

    const QString strLang = Startup::langKey(QLocale::system().name());
    QTranslator translator;
    Startup::installTranslation(app, translator, strLang);

    CLangMgt langMgt;
    langMgt.m_strLang = strLang;
    g_pLangMgt = &langMgt;

    Startup::registerTypes();

    CSettings settings(QGuiApplication::organizationName(), QGuiApplication::applicationName());
    Startup::applyLocale(settings, strLang);
    g_pSettings = &settings;

    CNoteMgt noteMgt;

    std::unique_ptr<QQuickView> pView = Startup::createWindow(noteMgt, settings);
    CCloseGuard closeGuard(pView.get());
    pView->show();
    const int nRet = app.exec();
    pView.reset();
    return nRet;
}
