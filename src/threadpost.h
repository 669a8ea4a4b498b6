#ifndef THREADPOST_H
#define THREADPOST_H

#include "threadobject.h"

#include <QMap>
#include <QString>

#include <atomic>

class QNetworkAccessManager;
class QNetworkReply;

// The HTTP worker: posts each queued server request as a multipart/form-data body and
// turns each answer into a result map {"uuid", "result" | "error"}.
//
// The network manager, its replies and the reply table all live on the worker thread,
// and answers are read there too; dataReceived() is therefore emitted on the worker
// thread, and receivers on other threads must connect with the automatic (queued)
// connection type.
//
// Request map: "type" ("post"; anything else is dropped), "url" (the endpoint name),
// "data" (the form fields), "base_url" (optional: the service URL the endpoint is
// appended to; the default service URL when absent) and "uuid" (added by addRequest).
class CThreadPost : public CThreadObject
{
    Q_OBJECT

public:
    explicit CThreadPost(QObject *parent = nullptr);
    ~CThreadPost() override;

    static constexpr int kDefaultTransferTimeout = 30000;              // ms
    static constexpr int kDefaultOverallTimeout = 120000;              // ms
    static constexpr qint64 kDefaultMaxReplySize = 64LL * 1024 * 1024; // bytes
    // Requests sent at the same time; the others wait in the queue, unsent and untimed.
    // The network layer opens at most six connections to one service.
    static constexpr int kMaxInFlight = 6;

    // A request ends in an "error" result when nothing moves in either direction for
    // this long (ms), counted from when it is sent. Applies to requests sent after the call.
    void setTransferTimeout(int nMsecs);
    int transferTimeout() const;
    // A request ends in an "error" result when its answer is not complete this long (ms)
    // after it was sent, however slowly it keeps coming.
    void setOverallTimeout(int nMsecs);
    int overallTimeout() const;
    // Reply bodies larger than this are refused with an "error" result as soon as their
    // size is known, without being read whole.
    void setMaxReplySize(qint64 nBytes);
    qint64 maxReplySize() const;

    // Replies posted and not yet released (for diagnostics and tests).
    int liveReplyCount() const;

    // The service URL with a trailing "/"; the default one when strBaseUrl is empty.
    static QString normalizedBaseUrl(const QString &strBaseUrl);

public slots:
    void onReplyFinished(QNetworkReply *pNetworkReply);

protected:
    void initialize() override;
    void release() override;
    void processRequest(QVariantMap mapRequest) override;
    bool isReady() override;
    // Posts still queued at a stop are not sent: their answers could not be read.
    bool finishesQueueOnStop() const override;
    void keepUnfinished(const QList<QVariantMap> &lstRequests) override;

private:
    void watchReply(QNetworkReply *pReply);
    // bNetwork: the service could not be reached or fell silent (rather than answering
    // what cannot be used).
    void failReply(QNetworkReply *pReply, const QString &strError, bool bNetwork = false);

    QNetworkAccessManager *m_pNetworkManager = nullptr;
    // Reply -> uuid of its request. Used on the worker thread only.
    QMap<QNetworkReply *, QString> m_mapReply;

    std::atomic<int> m_nTransferTimeout{kDefaultTransferTimeout};
    std::atomic<int> m_nOverallTimeout{kDefaultOverallTimeout};
    std::atomic<qint64> m_nMaxReplySize{kDefaultMaxReplySize};
    std::atomic<int> m_nLiveReplies{0};
};

#endif // THREADPOST_H
