#include "mailspool.h"

#include "kelpolog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QSaveFile>

#include <atomic>

CMailSpool::CMailSpool(const QString &strFolder)
    : m_strFolder(strFolder)
{}

bool CMailSpool::writeResetMail(const QString &strEmail,
                                const QString &strName,
                                const QByteArray &baToken)
{
    if (m_strFolder.isEmpty()) {
        static std::atomic<bool> s_bWarned{false};
        if (!s_bWarned.exchange(true))
            qCWarning(lcServer) << "A password reset was asked for; without --mail-spool no"
                                   " mail is written";
        return false;
    }
    static std::atomic<int> s_nCount{0};
    const QString strFile = QDir(m_strFolder)
                                .filePath(QStringLiteral("%1-%2-%3.eml")
                                              .arg(QDateTime::currentMSecsSinceEpoch())
                                              .arg(QCoreApplication::applicationPid())
                                              .arg(++s_nCount));
    // The address was checked at registration: no line breaks, no spaces.
    const QByteArray baMail
        = "To: " + strEmail.toUtf8() + "\r\n"
          + "Subject: Kelpo: a new password\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n"
            "\r\n"
            "Someone asked to set a new password for the Kelpo account \""
          + strName.toUtf8()
          + "\".\r\n"
            "This code sets one, once, within a day:\r\n"
            "\r\n    "
          + baToken
          + "\r\n\r\n"
            "If it was not you, nothing needs to be done: the password stays as it is.\r\n";
    QSaveFile file(strFile);
    if (!file.open(QIODevice::WriteOnly)
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(baMail) != baMail.size() || !file.commit()) {
        qCWarning(lcServer) << "Cannot write a mail into" << m_strFolder << ":"
                            << file.errorString();
        return false;
    }
    return true;
}
