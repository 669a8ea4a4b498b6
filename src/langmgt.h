#ifndef LANGMGT_H
#define LANGMGT_H

#include <QObject>
#include <QVariantMap>

// Translations of texts that come from the note service (its error texts),
// read from ":/lang.txt".
class CLangMgt : public QObject
{
    Q_OBJECT

public:
    explicit CLangMgt(QObject *parent = nullptr);

    QString getLangString(const QString &str);

    // Parses the contents of a language table: the members of a JSON object
    // without the enclosing braces. Anything that does not parse gives an empty map.
    static QVariantMap parseLangTable(const QByteArray &data);

    QString m_strLang;
    QVariantMap m_mapLang;

public slots:
    void init();
};

// The one language manager of the process, set by start-up.
extern CLangMgt *g_pLangMgt;

#endif // LANGMGT_H
