#include "notemgt.h"
#include <QtTest>
class TestNoteMgt : public QObject
{
    Q_OBJECT
private slots:
    void dummy() {}
};
QTEST_MAIN(TestNoteMgt)
#include "tst_notemgt.moc"
