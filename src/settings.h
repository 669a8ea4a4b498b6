#ifndef SETTINGS_H
#define SETTINGS_H

#include <QSettings>
#include <QVariantMap>

// The user's preferences and remembered login, persisted in the settings store.
// The password is kept in clear in memory and stored scrambled.
class CSettings : public QSettings
{
    Q_OBJECT
    Q_PROPERTY(int initType READ getInitType WRITE setInitType NOTIFY initTypeChanged)
    Q_PROPERTY(int firstDay READ getFirstDay WRITE setFirstDay NOTIFY firstDayChanged)
    Q_PROPERTY(bool withTitle READ getWithTitle WRITE setWithTitle NOTIFY withTitleChanged)
    Q_PROPERTY(bool showLunar READ getShowLunar WRITE setShowLunar NOTIFY showLunarChanged)
    Q_PROPERTY(bool autoLogin READ getAutoLogin WRITE setAutoLogin NOTIFY autoLoginChanged)
    Q_PROPERTY(QString lang READ getLang WRITE setLang NOTIFY langChanged)
    Q_PROPERTY(QString userName READ getUserName WRITE setUserName NOTIFY userNameChanged)
    Q_PROPERTY(QString pwd READ getPwd WRITE setPwd NOTIFY pwdChanged)
    Q_PROPERTY(QString serverUrl READ getServerUrl WRITE setServerUrl NOTIFY serverUrlChanged)
    Q_PROPERTY(QString version READ getVersion CONSTANT)
    Q_PROPERTY(QString copyrightString READ getCopyrightString CONSTANT)
    Q_PROPERTY(QString companyName READ getCompanyName CONSTANT)

public:
    CSettings(QString strOrganization, QString strApplication, QObject *parent = nullptr);
    explicit CSettings(QObject *parent = nullptr);
    ~CSettings() override;

    static QString defaultServerUrl();
    // The stored form of a password, and back.
    static QString scramblePwd(const QString &strPwd);
    static QString unscramblePwd(const QString &strStored);

signals:
    void initTypeChanged();
    void firstDayChanged();
    void withTitleChanged();
    void showLunarChanged();
    void autoLoginChanged();
    void langChanged();
    void userNameChanged();
    void pwdChanged();
    void serverUrlChanged();

public slots:
    void read();
    void write();
    void save();

    int getInitType() const;
    void setInitType(int nVal);
    int getFirstDay() const;
    void setFirstDay(int nVal);
    bool getWithTitle() const;
    void setWithTitle(bool bVal);
    bool getShowLunar() const;
    void setShowLunar(bool bVal);
    bool getAutoLogin() const;
    void setAutoLogin(bool bVal);
    QString getLang() const;
    void setLang(QString str);
    QString getUserName() const;
    void setUserName(QString str);
    QString getPwd() const;
    void setPwd(QString str);
    QString getServerUrl() const;
    void setServerUrl(QString str);

    QString getVersion() const;
    QString getCopyrightString() const;
    QString getCompanyName() const;

private:
    void makePrivate();
    // The stored keys with the values this object would write now.
    QVariantMap storedValues() const;
    int m_nInitType = 0;
    int m_nFirstDay = 0;
    bool m_bWithTitle = false;
    bool m_bShowLunar = false;
    bool m_bAutoLogin = false;
    QString m_strLang;
    QString m_strUserName;
    QString m_strPwd;
    QString m_strServerUrl;
    // What the file held for this object's keys when it was read or last written here:
    // only keys changed since are written, so that another copy of Kelpo on the same
    // settings keeps its changes (a logout there is not undone by this one's values).
    QVariantMap m_mapStored;
};

// The one settings object of the process, set by start-up.
extern CSettings *g_pSettings;

#endif // SETTINGS_H
