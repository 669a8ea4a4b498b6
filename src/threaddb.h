#ifndef THREADDB_H
#define THREADDB_H

#include <QObject>

// Placeholder until this class is built.
class CThreadDb : public QObject
{
    Q_OBJECT
};

#endif // THREADDB_H
