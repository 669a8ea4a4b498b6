#include "syncfixture.h"
class TestX : public QObject
{
    Q_OBJECT
private slots:
    void dummy() {}
};
QTEST_MAIN(TestX)
#include "tst_convergence.moc"
