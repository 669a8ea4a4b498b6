#include "settings.h"

#include "kelpolog.h"

#include <QByteArray>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

CSettings *g_pSettings = nullptr;

namespace {
const QString kInitType = QStringLiteral("m_nInitType");
const QString kFirstDay = QStringLiteral("m_nFirstDay");
const QString kWithTitle = QStringLiteral("m_bWithTitle");
const QString kAutoLogin = QStringLiteral("m_bAutoLogin");
const QString kUserName = QStringLiteral("m_strUserName");
const QString kPwd = QStringLiteral("m_strPwd");
const QString kServerUrl = QStringLiteral("m_strServerUrl");

const QString kPwdPrefix = QStringLiteral("~?=&");
const QString kPwdSuffix = QStringLiteral("]%;:");

constexpr int kFirstCopyrightYear = 2016;
} // namespace

CSettings::CSettings(QString strOrganization, QString strApplication, QObject *parent)
    : QSettings(QSettings::IniFormat, QSettings::UserScope, strOrganization, strApplication, parent)
{
    makePrivate();
    read();
}

CSettings::CSettings(QObject *parent)
    : QSettings(parent)
{
    makePrivate();
    read();
}

// The file holds the scrambled password: only its owner may read it, and its folder is
// closed to others before the file is first written. Later saves keep the file's mode.
void CSettings::makePrivate()
{
    const QFileInfo info(fileName());
    const QString strDir = info.absolutePath();
    if (!QDir().mkpath(strDir))
        qCWarning(lcApp) << "cannot create the settings folder" << strDir;
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
    if (!QFile::setPermissions(strDir, owner | QFile::ExeOwner))
        qCWarning(lcApp) << "cannot make the settings folder private:" << strDir;
    if (info.exists() && !QFile::setPermissions(info.absoluteFilePath(), owner))
        qCWarning(lcApp) << "cannot make the settings file private:" << info.absoluteFilePath();
}

CSettings::~CSettings()
{
    write();
}

QString CSettings::defaultServerUrl()
{
    return QStringLiteral("http://127.0.0.1:8420/mobile/");
}

// The password is wrapped in fixed marks, then Base64 and hexadecimal encoded.
// Bytes are UTF-8 (the local 8-bit encoding of every supported desktop), so a
// password in any script survives a C locale too.
QString CSettings::scramblePwd(const QString &strPwd)
{
    if (strPwd.isEmpty())
        return QString();
    const QByteArray bytes = (kPwdPrefix + strPwd + kPwdSuffix).toUtf8();
    return QString::fromUtf8(bytes.toBase64().toHex());
}

QString CSettings::unscramblePwd(const QString &strStored)
{
    if (strStored.isEmpty())
        return QString();
    QByteArray bytes = QByteArray::fromBase64(QByteArray::fromHex(strStored.toUtf8()));
    const int nZero = bytes.indexOf('\0');
    if (nZero >= 0)
        bytes.truncate(nZero);
    const QString str = QString::fromUtf8(bytes);
    if (str.length() > kPwdPrefix.length() + kPwdSuffix.length())
        return str.mid(kPwdPrefix.length(),
                       str.length() - kPwdPrefix.length() - kPwdSuffix.length());
    return str;
}

void CSettings::read()
{
    m_nInitType = value(kInitType, 0).toInt();
    m_nFirstDay = value(kFirstDay, 0).toInt();
    m_bWithTitle = value(kWithTitle, false).toBool();
    m_bAutoLogin = value(kAutoLogin, false).toBool();
    m_strUserName = value(kUserName, QString()).toString();
    m_strPwd = unscramblePwd(value(kPwd, QString()).toString());
    m_strServerUrl = value(kServerUrl, defaultServerUrl()).toString();
    m_mapStored = storedValues();
}

QVariantMap CSettings::storedValues() const
{
    return {{kInitType, m_nInitType},
            {kFirstDay, m_nFirstDay},
            {kWithTitle, m_bWithTitle},
            {kAutoLogin, m_bAutoLogin},
            {kUserName, m_strUserName},
            {kPwd, scramblePwd(m_strPwd)},
            {kServerUrl, m_strServerUrl}};
}

void CSettings::write()
{
    // Every key into a new file; else only those changed here since they were read.
    const bool bNewFile = !QFileInfo::exists(fileName());
    const QVariantMap mapNow = storedValues();
    for (auto it = mapNow.cbegin(); it != mapNow.cend(); ++it) {
        if (bNewFile || it.value() != m_mapStored.value(it.key()))
            setValue(it.key(), it.value());
    }
    m_mapStored = mapNow;
    sync();
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
    if (QFile::exists(fileName()) && !QFile::setPermissions(fileName(), owner))
        qCWarning(lcApp) << "cannot make the settings file private:" << fileName();
    if (status() != QSettings::NoError)
        qCWarning(lcApp) << "the settings could not be written to" << fileName();
}

void CSettings::save()
{
    write();
}

int CSettings::getInitType() const
{
    return m_nInitType;
}

void CSettings::setInitType(int nVal)
{
    if (nVal == m_nInitType)
        return;
    m_nInitType = nVal;
    emit initTypeChanged();
}

int CSettings::getFirstDay() const
{
    return m_nFirstDay;
}

void CSettings::setFirstDay(int nVal)
{
    if (nVal == m_nFirstDay)
        return;
    m_nFirstDay = nVal;
    emit firstDayChanged();
}

bool CSettings::getWithTitle() const
{
    return m_bWithTitle;
}

void CSettings::setWithTitle(bool bVal)
{
    if (bVal == m_bWithTitle)
        return;
    m_bWithTitle = bVal;
    emit withTitleChanged();
}

bool CSettings::getShowLunar() const
{
    return m_bShowLunar;
}

void CSettings::setShowLunar(bool bVal)
{
    if (bVal == m_bShowLunar)
        return;
    m_bShowLunar = bVal;
    emit showLunarChanged();
}

bool CSettings::getAutoLogin() const
{
    return m_bAutoLogin;
}

void CSettings::setAutoLogin(bool bVal)
{
    if (bVal == m_bAutoLogin)
        return;
    m_bAutoLogin = bVal;
    emit autoLoginChanged();
}

QString CSettings::getLang() const
{
    return m_strLang;
}

void CSettings::setLang(QString str)
{
    m_strLang = str;
}

QString CSettings::getUserName() const
{
    return m_strUserName;
}

// Clearing the user name or the password forgets the whole remembered login.
void CSettings::setUserName(QString str)
{
    if (str == m_strUserName)
        return;
    m_strUserName = str;
    emit userNameChanged();
    if (str.isEmpty()) {
        setPwd(QString());
        setAutoLogin(false);
    }
}

QString CSettings::getPwd() const
{
    return m_strPwd;
}

void CSettings::setPwd(QString str)
{
    if (str == m_strPwd)
        return;
    m_strPwd = str;
    emit pwdChanged();
    if (str.isEmpty()) {
        setUserName(QString());
        setAutoLogin(false);
    }
}

QString CSettings::getServerUrl() const
{
    return m_strServerUrl;
}

void CSettings::setServerUrl(QString str)
{
    if (str == m_strServerUrl)
        return;
    m_strServerUrl = str;
    emit serverUrlChanged();
}

QString CSettings::getVersion() const
{
    return QStringLiteral("3.0");
}

QString CSettings::getCopyrightString() const
{
    return QStringLiteral("\u00a9%1-%2")
        .arg(kFirstCopyrightYear)
        .arg(qMax(kFirstCopyrightYear, QDate::currentDate().year()));
}

QString CSettings::getCompanyName() const
{
    return QStringLiteral("Greyfen Software");
}
