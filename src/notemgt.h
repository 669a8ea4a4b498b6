#ifndef NOTEMGT_H
#define NOTEMGT_H

#include <QObject>

// The note manager behind the QML context property "noteMgt".
class CNoteMgt : public QObject
{
    Q_OBJECT

public:
    explicit CNoteMgt(QObject *parent = nullptr);

public slots:
    void init();
};

#endif // NOTEMGT_H
