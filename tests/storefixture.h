#ifndef STOREFIXTURE_H
#define STOREFIXTURE_H

#include "dbmgt.h"

#include <QCoreApplication>
#include <QObject>
#include <QTemporaryDir>
#include <QtTest>

// A real local.db in a temporary folder behind the store's public operations, for tests
// of the store: the results of every request are kept and waited for by request id.
class StoreFixture : public QObject
{
protected:
    // A new temporary folder and a store on it (the test's init()).
    void initStore()
    {
        m_pDir = new QTemporaryDir;
        QVERIFY(m_pDir->isValid());
        startStore();
    }

    // The store closed and its folder removed (the test's cleanup()).
    void cleanupStore()
    {
        stopStore();
        delete m_pDir;
        m_pDir = nullptr;
    }

    // A store on the same folder, as a new start of the program finds it.
    void startStore()
    {
        m_lstResults.clear();
        m_pDbMgt = new CDbMgt(m_pDir->path());
        connect(m_pDbMgt, &CDbMgt::dataReceived, this, [this](const QVariant &value) {
            m_lstResults << value.toMap();
        });
    }

    void stopStore()
    {
        delete m_pDbMgt;
        m_pDbMgt = nullptr;
        QCoreApplication::sendPostedEvents(this);
    }

    // The result of the request strUuid, waited for; empty (with a warning) when none came.
    QVariantMap result(const QString &strUuid)
    {
        QVariantMap mapFound;
        const bool bArrived = QTest::qWaitFor(
            [&] {
                for (const QVariantMap &map : qAsConst(m_lstResults)) {
                    if (map.value(QStringLiteral("uuid")).toString() == strUuid) {
                        mapFound = map;
                        return true;
                    }
                }
                return false;
            },
            60000);
        if (!bArrived)
            qWarning() << "no result for" << strUuid;
        return mapFound;
    }

    QTemporaryDir *m_pDir = nullptr;
    CDbMgt *m_pDbMgt = nullptr;
    QList<QVariantMap> m_lstResults;
};

#endif // STOREFIXTURE_H
