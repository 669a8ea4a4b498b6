#ifndef THREADPOST_H
#define THREADPOST_H

#include <QObject>

// Placeholder until this class is built.
class CThreadPost : public QObject
{
    Q_OBJECT
};

#endif // THREADPOST_H
