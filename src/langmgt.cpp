#include "langmgt.h"

#include "kelpolog.h"

#include <QFile>
#include <QJsonDocument>
#include <QTimer>

CLangMgt *g_pLangMgt = nullptr;

CLangMgt::CLangMgt(QObject *parent)
    : QObject(parent)
{
    QTimer::singleShot(0, this, &CLangMgt::init);
}

void CLangMgt::init()
{
    QFile file(QStringLiteral(":/lang.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qCDebug(lcApp) << "Fail to open lang.txt";
        return;
    }
    m_mapLang = parseLangTable(file.readAll());
}

QVariantMap CLangMgt::parseLangTable(const QByteArray &data)
{
    QByteArray bytes = data;
    const int nZero = bytes.indexOf('\0');
    if (nZero >= 0)
        bytes.truncate(nZero);
    const QString strJson = QStringLiteral("{%1}").arg(QString::fromUtf8(bytes));
    return QJsonDocument::fromJson(strJson.toUtf8()).toVariant().toMap();
}

QString CLangMgt::getLangString(const QString &str)
{
    if (m_strLang.isEmpty())
        return str;
    const QVariant entry = m_mapLang[m_strLang];
    if (entry.isNull())
        return str;
    const QString strTrans = entry.toMap().value(str).toString();
    return strTrans.isEmpty() ? str : strTrans;
}
