#include "forwardedfor.h"

#include <arpa/inet.h>
#include <netinet/in.h>

QString ForwardedFor::normalAddress(const QString &strText)
{
    QByteArray ba = strText.trimmed().toLatin1();
    auto isPort = [](const QByteArray &baPort) {
        bool bOk = false;
        return !baPort.isEmpty() && baPort.toUShort(&bOk) > 0 && bOk && baPort.at(0) != '+';
    };
    const int nClose = ba.indexOf(']');
    if (ba.startsWith('[') && nClose > 0) {
        // [v6] or [v6]:port
        if (nClose + 1 < ba.size() && (ba.at(nClose + 1) != ':' || !isPort(ba.mid(nClose + 2))))
            return QString();
        ba = ba.mid(1, nClose - 1);
    } else if (ba.count(':') == 1) {
        // v4:port
        if (!isPort(ba.mid(ba.indexOf(':') + 1)))
            return QString();
        ba = ba.left(ba.indexOf(':'));
    }
    char szAddress[INET6_ADDRSTRLEN] = {};
    in_addr addr4{};
    in6_addr addr6{};
    if (inet_pton(AF_INET, ba.constData(), &addr4) == 1) {
        inet_ntop(AF_INET, &addr4, szAddress, sizeof szAddress);
    } else if (inet_pton(AF_INET6, ba.constData(), &addr6) == 1) {
        if (IN6_IS_ADDR_V4MAPPED(&addr6))
            inet_ntop(AF_INET, &addr6.s6_addr[12], szAddress, sizeof szAddress);
        else
            inet_ntop(AF_INET6, &addr6, szAddress, sizeof szAddress);
    } else {
        return QString();
    }
    return QString::fromLatin1(szAddress);
}

QString ForwardedFor::clientOf(const QString &strPeer,
                               const QList<QByteArray> &lstForwardedFor,
                               const QSet<QString> &setTrusted)
{
    if (!setTrusted.contains(strPeer))
        return strPeer;
    QList<QByteArray> lstHops;
    for (const QByteArray &baValue : lstForwardedFor)
        lstHops += baValue.split(',');
    QString strClient = strPeer;
    for (int i = lstHops.size() - 1; i >= 0; --i) {
        if (lstHops.at(i).trimmed().isEmpty())
            continue;
        const QString strHop = normalAddress(QString::fromLatin1(lstHops.at(i)));
        if (strHop.isEmpty())
            return strClient;
        strClient = strHop;
        if (!setTrusted.contains(strHop))
            return strClient;
    }
    return strClient;
}
