#ifndef STARTUP_H
#define STARTUP_H

#include <QString>

#include <QList>
#include <QPair>

#include <memory>
#include <vector>

class QCoreApplication;
class QLocale;
class QObject;
class QQmlEngine;
class QQuickView;
class QTranslator;
class CNoteMgt;
class CSettings;

// The steps of start-up that depend on the system locale and build the window.
namespace Startup {

// "zh_CN" -> "zh_cn": the language key of the translations, the language manager and the settings.
QString langKey(const QString &strLocaleName);

// Loads "kelpo_<key>" from the resource root with the translator's fall-back search
// and installs it on the application when found. Returns whether a file was loaded.
bool installTranslation(QCoreApplication &app, QTranslator &translator, const QString &strLangKey);

// Loads Qt's own texts for the locale from Qt's translations folder (the buttons of the
// system's dialogs, the file dialog of Qt Quick) and installs them; the translators are
// removed again when the returned list is destroyed. Empty when none was found.
std::vector<std::unique_ptr<QTranslator>> installQtTranslations(QCoreApplication &app,
                                                                const QLocale &locale);

// Overwrites the per-run settings: the language, and lunar dates only for "zh_cn".
void applyLocale(CSettings &settings, const QString &strLangKey);

// Creates the window with the context properties, loads the main QML file and titles it.
// lstExtra: further context properties (name, object).
std::unique_ptr<QQuickView> createWindow(CNoteMgt &noteMgt,
                                         CSettings &settings,
                                         const QList<QPair<QString, QObject *>> &lstExtra = {});

// Registers the QML module "NoteMgt" 1.0.
void registerTypes();

// Gives the engine the image providers that the views draw with ("icon").
void addImageProviders(QQmlEngine &engine);

} // namespace Startup

#endif // STARTUP_H
