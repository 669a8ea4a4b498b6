#include "startup.h"

#include "fittedimages.h"
#include "iconprovider.h"
#include "notelistmodel.h"
#include "notemgt.h"
#include "notepictures.h"
#include "settings.h"
#include "syncstatus.h"
#include "textformat.h"

#include <QCoreApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickView>
#include <QTranslator>

#include <memory>

namespace Startup {

QString langKey(const QString &strLocaleName)
{
    return strLocaleName.toLower();
}

bool installTranslation(QCoreApplication &app, QTranslator &translator, const QString &strLangKey)
{
    if (!translator.load(QStringLiteral("kelpo_") + strLangKey, QStringLiteral(":/")))
        return false;
    app.installTranslator(&translator);
    return true;
}

std::vector<std::unique_ptr<QTranslator>> installQtTranslations(QCoreApplication &app,
                                                                const QLocale &locale)
{
    std::vector<std::unique_ptr<QTranslator>> lstTranslators;
    // "qt" brings qtbase's texts with it; Qt Quick's dialogs have catalogues of their own.
    for (const char *pCatalogue : {"qt", "qtdeclarative", "qtquickcontrols"}) {
        auto pTranslator = std::make_unique<QTranslator>();
        if (!pTranslator->load(locale,
                               QLatin1String(pCatalogue),
                               QStringLiteral("_"),
                               QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
            continue;
        app.installTranslator(pTranslator.get());
        lstTranslators.push_back(std::move(pTranslator));
    }
    return lstTranslators;
}

void applyLocale(CSettings &settings, const QString &strLangKey)
{
    settings.setLang(strLangKey);
    settings.setShowLunar(strLangKey == QLatin1String("zh_cn"));
}

void registerTypes()
{
    qmlRegisterType<CNoteMgt>("NoteMgt", 1, 0, "NoteMgt");
    qmlRegisterType<CSettings>("NoteMgt", 1, 0, "Settings");
    // The editor's bold, italic and lists.
    qmlRegisterType<CTextFormat>("NoteMgt", 1, 0, "TextFormat");
    // Pictures no wider than the editor's text.
    qmlRegisterType<CFittedImages>("NoteMgt", 1, 0, "FittedImages");
    qmlRegisterType<CNotePictures>("NoteMgt", 1, 0, "NotePictures");
    qmlRegisterType<CNoteListModel>("NoteMgt", 1, 0, "NoteListModel");
    // The sync state shown in the main view (noteMgt.syncStatus).
    qmlRegisterType<CSyncStatus>("NoteMgt", 1, 0, "SyncStatus");
}

void addImageProviders(QQmlEngine &engine)
{
    if (!engine.imageProvider(QStringLiteral("icon")))
        engine.addImageProvider(QStringLiteral("icon"), new CIconProvider);
}

std::unique_ptr<QQuickView> createWindow(CNoteMgt &noteMgt,
                                         CSettings &settings,
                                         const QList<QPair<QString, QObject *>> &lstExtra)
{
    auto pView = std::make_unique<QQuickView>();
    addImageProviders(*pView->engine());
    for (const auto &extra : lstExtra)
        pView->rootContext()->setContextProperty(extra.first, extra.second);
    pView->rootContext()->setContextProperty(QStringLiteral("noteMgt"), &noteMgt);
    pView->rootContext()->setContextProperty(QStringLiteral("settings"), &settings);
    pView->setSource(QUrl(QStringLiteral("qrc:/qml/main.qml")));
    pView->setResizeMode(QQuickView::SizeRootObjectToView);
    pView->setTitle(QStringLiteral("Kelpo"));
    // The icon is drawn from its SVG at several sizes: done once the first frame is on
    // screen, so that it does not hold the window back.
    QQuickView *pWindow = pView.get();
    auto pConnection = std::make_shared<QMetaObject::Connection>();
    *pConnection = QObject::connect(
        pWindow,
        &QQuickWindow::frameSwapped,
        pWindow,
        [pWindow, pConnection] {
            QObject::disconnect(*pConnection);
            pWindow->setIcon(QIcon(QStringLiteral(":/kelpo.svg")));
        },
        Qt::QueuedConnection);
    QObject::connect(pView->engine(),
                     &QQmlEngine::quit,
                     QCoreApplication::instance(),
                     &QCoreApplication::quit);
    return pView;
}

} // namespace Startup
