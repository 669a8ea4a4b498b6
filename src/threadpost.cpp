#include "threadpost.h"

#include "kelpolog.h"
#include "settings.h"

#include <QHttpMultiPart>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace {
const char kFaultProperty[] = "kelpoFault";
const char kNetworkFaultProperty[] = "kelpoNetworkFault";
// Bytes of the request sent so far, and of the whole request.
const char kSentProperty[] = "kelpoSent";
const char kToSendProperty[] = "kelpoToSend";

const QByteArray kUserAgent = QByteArrayLiteral(
    "Mozilla/5.0 (Windows; U; Windows NT 5.1; ru; rv:1.9.1.3) Gecko/20090824 Firefox/3.5.3 "
    "(.NET CLR 3.5.30729)");

// A field name inside the quoted name of a Content-Disposition header: quotes and line
// breaks would end the header, so they are percent-encoded as browsers do.
QByteArray dispositionName(const QString &strName)
{
    QByteArray name = strName.toUtf8();
    name.replace('"', "%22");
    name.replace('\r', "%0D");
    name.replace('\n', "%0A");
    return name;
}
} // namespace

CThreadPost::CThreadPost(QObject *parent)
    : CThreadObject(parent)
{}

CThreadPost::~CThreadPost()
{
    // The worker must not run our hooks while this object is half destroyed.
    stopAndWait();
}

void CThreadPost::setTransferTimeout(int nMsecs)
{
    m_nTransferTimeout = qMax(1, nMsecs);
}

int CThreadPost::transferTimeout() const
{
    return m_nTransferTimeout;
}

void CThreadPost::setOverallTimeout(int nMsecs)
{
    m_nOverallTimeout = qMax(1, nMsecs);
}

int CThreadPost::overallTimeout() const
{
    return m_nOverallTimeout;
}

// A request is taken from the queue only when it can be sent at once: its time-outs then
// count from its sending, not from a wait behind other requests.
bool CThreadPost::isReady()
{
    return m_mapReply.size() < kMaxInFlight;
}

void CThreadPost::setMaxReplySize(qint64 nBytes)
{
    m_nMaxReplySize = qMax<qint64>(0, nBytes);
}

qint64 CThreadPost::maxReplySize() const
{
    return m_nMaxReplySize;
}

int CThreadPost::liveReplyCount() const
{
    return m_nLiveReplies;
}

QString CThreadPost::normalizedBaseUrl(const QString &strBaseUrl)
{
    QString strUrl = strBaseUrl.trimmed();
    if (strUrl.isEmpty())
        strUrl = CSettings::defaultServerUrl();
    if (!strUrl.endsWith(QLatin1Char('/')))
        strUrl += QLatin1Char('/');
    return strUrl;
}

void CThreadPost::initialize()
{
    m_pNetworkManager = new QNetworkAccessManager;
    // Direct: answers are read on the worker thread, where the replies live, so the
    // reply table is only ever used on this one thread.
    connect(m_pNetworkManager,
            &QNetworkAccessManager::finished,
            this,
            &CThreadPost::onReplyFinished,
            Qt::DirectConnection);
}

void CThreadPost::release()
{
    if (!m_pNetworkManager)
        return;
    // Requests in flight are abandoned without results.
    disconnect(m_pNetworkManager, nullptr, this, nullptr);
    m_mapReply.clear();
    delete m_pNetworkManager; // its replies and their bodies go with it
    m_pNetworkManager = nullptr;
}

bool CThreadPost::finishesQueueOnStop() const
{
    return false;
}

void CThreadPost::keepUnfinished(const QList<QVariantMap> &lstRequests)
{
    qCInfo(lcNet) << lstRequests.size() << "requests to the note service not sent at the stop";
}

void CThreadPost::processRequest(QVariantMap mapRequest)
{
    if (!m_pNetworkManager)
        return;
    if (mapRequest.value(QStringLiteral("type")).toString() != QLatin1String("post")) {
        qCDebug(lcNet) << "dropping request of type"
                       << mapRequest.value(QStringLiteral("type")).toString();
        return;
    }

    auto *pMultiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    // A QVariantMap iterates in ascending key order: the parts go out sorted by name.
    const QVariantMap mapData = mapRequest.value(QStringLiteral("data")).toMap();
    for (auto it = mapData.cbegin(); it != mapData.cend(); ++it) {
        QHttpPart part;
        part.setRawHeader(QByteArrayLiteral("Content-Disposition"),
                          QByteArrayLiteral("form-data; name=\"") + dispositionName(it.key()) + '"');
        part.setBody(it.value().toString().toUtf8());
        pMultiPart->append(part);
    }

    const QString strUrl = normalizedBaseUrl(mapRequest.value(QStringLiteral("base_url")).toString())
                           + mapRequest.value(QStringLiteral("url")).toString();
    QNetworkRequest request(QUrl(strUrl, QUrl::TolerantMode));
    request.setRawHeader(QByteArrayLiteral("Connection"), QByteArrayLiteral("close"));
    request.setRawHeader(QByteArrayLiteral("User-Agent"), kUserAgent);
    // A redirect is answered as an error, never followed with the body and the login.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);

    QNetworkReply *pReply = m_pNetworkManager->post(request, pMultiPart);
    pMultiPart->setParent(pReply);
    m_mapReply.insert(pReply, mapRequest.value(QStringLiteral("uuid")).toString());
    watchReply(pReply);
}

// Time-out and size limit of one reply. Everything here runs on the worker thread.
void CThreadPost::watchReply(QNetworkReply *pReply)
{
    ++m_nLiveReplies;
    connect(
        pReply, &QObject::destroyed, this, [this] { --m_nLiveReplies; }, Qt::DirectConnection);

    const int nTimeout = m_nTransferTimeout;
    const int nOverall = m_nOverallTimeout;
    const qint64 nMaxSize = m_nMaxReplySize;

    // The whole answer must be there in time: a service that sends a byte now and then
    // would otherwise hold a connection for ever.
    auto *pDeadline = new QTimer(pReply);
    pDeadline->setSingleShot(true);
    connect(pDeadline, &QTimer::timeout, pReply, [this, pReply, nOverall] {
        failReply(pReply,
                  tr("The note service did not finish its answer within %1 s.")
                      .arg(QLocale().toString(nOverall / 1000.0)),
                  true);
    });
    pDeadline->start(nOverall);

    // The time-out runs while nothing moves: a large note on a slow line may take longer
    // than the time-out as a whole, a silent service may not.
    auto *pTimer = new QTimer(pReply);
    pTimer->setSingleShot(true);
    pTimer->setInterval(nTimeout);
    connect(pTimer, &QTimer::timeout, pReply, [this, pReply, nTimeout] {
        // How far the exchange came tells a request that never left from an answer that
        // never came.
        qCWarning(lcNet).nospace()
            << "no answer from " << pReply->url().path() << " within " << nTimeout
            << " ms: request sent " << pReply->property(kSentProperty).toLongLong() << " of "
            << pReply->property(kToSendProperty).toLongLong() << " bytes, answer "
            << (pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()
                    ? "begun"
                    : "not begun");
        failReply(pReply,
                  tr("The note service did not answer within %1 s.")
                      .arg(QLocale().toString(nTimeout / 1000.0)),
                  true);
    });
    connect(pReply,
            &QNetworkReply::uploadProgress,
            pTimer,
            [pReply, pTimer](qint64 nSent, qint64 nTotal) {
                pReply->setProperty(kSentProperty, nSent);
                pReply->setProperty(kToSendProperty, nTotal);
                pTimer->start();
            });

    const QString strTooLarge = tr("The note service's answer is larger than %1.")
                                    .arg(QLocale().formattedDataSize(nMaxSize));
    connect(pReply, &QNetworkReply::metaDataChanged, pReply, [this, pReply, nMaxSize, strTooLarge] {
        const QVariant length = pReply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > nMaxSize)
            failReply(pReply, strTooLarge);
    });
    // Progress signals are throttled by the network layer, so the size is also checked
    // on every arrival of data.
    connect(pReply, &QNetworkReply::readyRead, pReply, [this, pReply, pTimer, nMaxSize, strTooLarge] {
        pTimer->start();
        if (pReply->bytesAvailable() > nMaxSize)
            failReply(pReply, strTooLarge);
    });
    connect(pReply,
            &QNetworkReply::downloadProgress,
            pReply,
            [this, pReply, pTimer, nMaxSize, strTooLarge](qint64 nReceived, qint64 nTotal) {
                pTimer->start();
                if (nReceived > nMaxSize || nTotal > nMaxSize)
                    failReply(pReply, strTooLarge);
            });
    pTimer->start();
}

// Ends a reply early; onReplyFinished() reports strError as its result.
void CThreadPost::failReply(QNetworkReply *pReply, const QString &strError, bool bNetwork)
{
    if (pReply->isFinished() || pReply->property(kFaultProperty).isValid())
        return;
    pReply->setProperty(kFaultProperty, strError);
    pReply->setProperty(kNetworkFaultProperty, bNetwork);
    pReply->abort();
}

void CThreadPost::onReplyFinished(QNetworkReply *pNetworkReply)
{
    if (!pNetworkReply)
        return;
    auto it = m_mapReply.find(pNetworkReply);
    if (it == m_mapReply.end())
        return;
    const QString strUuid = it.value();
    m_mapReply.erase(it);
    // Released once answered: a program that runs for weeks must not grow.
    pNetworkReply->deleteLater();
    for (QTimer *pTimer : pNetworkReply->findChildren<QTimer *>())
        pTimer->stop();
    if (strUuid.isEmpty())
        return;

    QVariantMap mapReturn;
    mapReturn.insert(QStringLiteral("uuid"), strUuid);
    // A body too large for the service is refused for good, not for the moment: the
    // note manager then stops sending it.
    const int nStatus = pNetworkReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (nStatus == 413)
        mapReturn.insert(QStringLiteral("http_status"), nStatus);
    const QString strFault = pNetworkReply->property(kFaultProperty).toString();
    // "network_error": the service could not be reached, fell silent or is busy: the
    // request may well succeed later.
    if (!strFault.isEmpty()) {
        mapReturn.insert(QStringLiteral("error"), strFault);
        if (pNetworkReply->property(kNetworkFaultProperty).toBool())
            mapReturn.insert(QStringLiteral("network_error"), true);
    } else if (pNetworkReply->error() != QNetworkReply::NoError) {
        mapReturn.insert(QStringLiteral("error"), pNetworkReply->errorString());
        // Connection and proxy errors are numbered below 200.
        if (pNetworkReply->error() < QNetworkReply::ContentAccessDenied
            || pNetworkReply->error() == QNetworkReply::ServiceUnavailableError)
            mapReturn.insert(QStringLiteral("network_error"), true);
    } else if (const int nStatus
               = pNetworkReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
               nStatus >= 300 && nStatus < 400) {
        // Whatever its body says, a redirect is not the service's answer.
        mapReturn.insert(QStringLiteral("error"),
                         tr("The note service answered with a redirect (HTTP %1) to '%2': "
                            "check the service address.")
                             .arg(nStatus)
                             .arg(QString::fromUtf8(pNetworkReply->rawHeader("Location"))));
    } else if (pNetworkReply->bytesAvailable() > m_nMaxReplySize) {
        mapReturn.insert(QStringLiteral("error"),
                         tr("The note service's answer is larger than %1.")
                             .arg(QLocale().formattedDataSize(m_nMaxReplySize)));
    } else {
        const QByteArray body = pNetworkReply->readAll();
        if (body.isEmpty()) {
            mapReturn.insert(QStringLiteral("error"), tr("The note service sent an empty answer."));
        } else {
            QJsonParseError parseError;
            const QVariant result = QJsonDocument::fromJson(body, &parseError).toVariant();
            if (!result.isNull()) {
                mapReturn.insert(QStringLiteral("result"), result);
            } else {
                QString strError = parseError.errorString();
                if (parseError.error == QJsonParseError::NoError)
                    strError = tr("The note service's answer is not JSON.");
                mapReturn.insert(QStringLiteral("error"), strError);
            }
        }
    }
    // Neither request fields nor results are logged: they may hold passwords and tokens.
    if (mapReturn.contains(QStringLiteral("error")))
        qCWarning(lcNet) << "onReplyFinished mapReturn: " << mapReturn;
    emit dataReceived(mapReturn);
}
