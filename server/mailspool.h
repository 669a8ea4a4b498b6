#ifndef MAILSPOOL_H
#define MAILSPOOL_H

#include <QByteArray>
#include <QString>

// The mails of the service, written as files into a spool folder (--mail-spool) for
// a mail transfer agent to deliver (`sendmail -t < FILE`). Without a folder no mail
// is written. The database never holds what a mail carries.
class CMailSpool
{
public:
    explicit CMailSpool(const QString &strFolder);

    // The mail with the code that sets a new password. False when it could not be
    // written (logged).
    bool writeResetMail(const QString &strEmail, const QString &strName, const QByteArray &baToken);

private:
    QString m_strFolder;
};

#endif // MAILSPOOL_H
