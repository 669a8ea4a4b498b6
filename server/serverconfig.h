#ifndef SERVERCONFIG_H
#define SERVERCONFIG_H

#include <QString>
#include <QStringList>

// The options of kelpo-server, read from its command line.
struct CServerConfig
{
    enum class Parse { Ok, Help, Version, Error };

    QString m_strHost = QStringLiteral("127.0.0.1");
    int m_nPort = 8420;
    QString m_strDb;                       // "sqlite:PATH" or "postgresql://..."
    qint64 m_nMaxBody = 32 * 1024 * 1024;  // bytes
    qint64 m_nWalLimit = 16 * 1024 * 1024; // bytes of SQLite's log before a full checkpoint
    qint64 m_nListTexts = 16 * 1024 * 1024; // bytes of note texts one list answer carries
    qint64 m_nTokenTtl = 30 * 24 * 3600;   // seconds after last use
    int m_nLoginRate = 10;                 // failed logins per name and minute
    int m_nThreads = 16;                   // request threads
    int m_nMaxPerClient = 64;              // open connections per client address
    QStringList m_lstTrustedProxies;       // addresses whose X-Forwarded-For is believed
    QString m_strMailSpool;                // folder for the mails; empty: none written
    QString m_strTestClock;                // file whose first 8 bytes are the clock; empty: none

    // Fills the members from the arguments (without the program name). On Error,
    // strError says what is wrong.
    Parse parse(const QStringList &lstArgs, QString &strError);

    static QString defaultDb();
    static QString helpText();
};

#endif // SERVERCONFIG_H
