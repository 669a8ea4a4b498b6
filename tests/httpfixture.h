#ifndef HTTPFIXTURE_H
#define HTTPFIXTURE_H

// A small HTTP server on 127.0.0.1 (port chosen by the OS) for the server client's tests.
// It records every request as it arrived on the wire and answers with whatever the test's
// responder returns: a full answer, part of one, or nothing at all (the request is then
// held until the test answers it with answer()).

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

struct HttpPart
{
    QList<QByteArray> headerLines;
    QByteArray body;
};

struct HttpRequest
{
    QByteArray raw;
    QByteArray method;
    QByteArray path;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QPointer<QTcpSocket> socket;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        }
        return QByteArray();
    }
    int headerCount(const QByteArray &name) const
    {
        int n = 0;
        for (const auto &h : headers)
            n += h.first.compare(name, Qt::CaseInsensitive) == 0 ? 1 : 0;
        return n;
    }
    QByteArray boundary() const
    {
        const QByteArray type = header("Content-Type");
        const int i = type.indexOf("boundary=");
        if (i < 0)
            return QByteArray();
        QByteArray b = type.mid(i + 9).trimmed();
        if (b.startsWith('"') && b.endsWith('"'))
            b = b.mid(1, b.size() - 2);
        return b;
    }
    // The parts of a multipart/form-data body, in wire order; empty when the body does
    // not follow the multipart framing.
    QList<HttpPart> parts() const
    {
        QList<HttpPart> list;
        const QByteArray delimiter = "--" + boundary();
        if (delimiter.size() <= 2)
            return list;
        int pos = body.indexOf(delimiter);
        while (pos >= 0) {
            pos += delimiter.size();
            if (body.mid(pos, 2) == "--")
                break; // closing delimiter
            if (body.mid(pos, 2) != "\r\n")
                return {};
            pos += 2;
            const int next = body.indexOf("\r\n" + delimiter, pos);
            if (next < 0)
                return {};
            const QByteArray chunk = body.mid(pos, next - pos);
            const int split = chunk.indexOf("\r\n\r\n");
            if (split < 0)
                return {};
            HttpPart part;
            part.headerLines = chunk.left(split).split('\n');
            for (QByteArray &line : part.headerLines)
                line = line.trimmed();
            part.body = chunk.mid(split + 4);
            list.append(part);
            pos = next + 2;
        }
        return list;
    }
    // The parts as "name=value" lines, in wire order.
    QList<QByteArray> fields() const
    {
        QList<QByteArray> list;
        for (const HttpPart &part : parts()) {
            QByteArray name = part.headerLines.value(0);
            const int i = name.indexOf("name=\"");
            name = i < 0 ? QByteArray() : name.mid(i + 6);
            name.chop(1);
            list.append(name + '=' + part.body);
        }
        return list;
    }
};

struct HttpAnswer
{
    QByteArray data;    // written as is
    bool bClose = true; // close the connection after writing
    bool bHold = false; // write nothing now
};

class HttpFixture
{
public:
    std::function<HttpAnswer(const HttpRequest &)> responder;
    QList<HttpRequest> requests;

    HttpFixture()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *pSocket = m_server.nextPendingConnection()) {
                auto *pBuffer = new QByteArray;
                QObject::connect(pSocket, &QObject::destroyed, [pBuffer] { delete pBuffer; });
                QObject::connect(pSocket, &QTcpSocket::readyRead, [this, pSocket, pBuffer] {
                    pBuffer->append(pSocket->readAll());
                    takeRequest(pSocket, pBuffer);
                });
                QObject::connect(pSocket, &QTcpSocket::disconnected, pSocket, &QObject::deleteLater);
            }
        });
    }

    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_server.serverPort(); }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/mobile/").arg(port()); }

    void answer(int nIndex, const HttpAnswer &ans)
    {
        QTcpSocket *pSocket = requests.at(nIndex).socket;
        if (!pSocket)
            return;
        pSocket->write(ans.data);
        if (ans.bClose)
            pSocket->disconnectFromHost();
    }

    static HttpAnswer reply(int nStatus,
                            const QByteArray &body,
                            const QByteArray &contentType = "application/json")
    {
        QByteArray data = "HTTP/1.1 " + QByteArray::number(nStatus) + " Status\r\n";
        if (!contentType.isEmpty())
            data += "Content-Type: " + contentType + "\r\n";
        data += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        data += "Connection: close\r\n\r\n" + body;
        return HttpAnswer{data, true, false};
    }
    static HttpAnswer hold() { return HttpAnswer{QByteArray(), false, true}; }

private:
    void takeRequest(QTcpSocket *pSocket, QByteArray *pBuffer)
    {
        const int nHeaderEnd = pBuffer->indexOf("\r\n\r\n");
        if (nHeaderEnd < 0)
            return;
        HttpRequest request;
        const QList<QByteArray> lines = pBuffer->left(nHeaderEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.path = requestLine.value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines.at(i).indexOf(':');
            if (colon > 0)
                request.headers.append(
                    {lines.at(i).left(colon).trimmed(), lines.at(i).mid(colon + 1).trimmed()});
        }
        const int nLength = request.header("Content-Length").toInt();
        if (pBuffer->size() < nHeaderEnd + 4 + nLength)
            return;
        request.raw = pBuffer->left(nHeaderEnd + 4 + nLength);
        request.body = request.raw.mid(nHeaderEnd + 4);
        request.socket = pSocket;
        pBuffer->remove(0, request.raw.size());
        requests.append(request);
        const HttpAnswer ans = responder ? responder(request) : hold();
        if (!ans.bHold)
            answer(requests.size() - 1, ans);
    }

    QTcpServer m_server;
};

#endif // HTTPFIXTURE_H
