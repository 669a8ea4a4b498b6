#ifndef FORWARDEDFOR_H
#define FORWARDEDFOR_H

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

// The client's address behind reverse proxies that the service trusts (--trusted-proxy):
// what the nearest of them says in X-Forwarded-For. Every other connection is its own
// client, whatever it writes in that header.
namespace ForwardedFor {

// An IPv4 or IPv6 address in one written form (an IPv4 address mapped into IPv6 as
// IPv4); empty when the text is no address.
QString normalAddress(const QString &strText);

// The client of a request that came from strPeer with these X-Forwarded-For values (in
// the order of the headers): strPeer unless it is a trusted proxy; then, walking the
// header's addresses from the right (the nearest hop), the first that is not a trusted
// proxy. An entry that is no address ends the walk at the hop that wrote it, so that a
// forged or garbled entry never gives a client an address of its choosing.
QString clientOf(const QString &strPeer,
                 const QList<QByteArray> &lstForwardedFor,
                 const QSet<QString> &setTrusted);

} // namespace ForwardedFor

#endif // FORWARDEDFOR_H
