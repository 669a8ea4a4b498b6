#include "netmgt.h"
#include <QtTest>
class TestNetMgt : public QObject
{
    Q_OBJECT
};
QTEST_GUILESS_MAIN(TestNetMgt)
#include "tst_netmgt.moc"
