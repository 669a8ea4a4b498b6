#ifndef DBMGT_H
#define DBMGT_H

#include <QObject>

// Placeholder until this class is built.
class CDbMgt : public QObject
{
    Q_OBJECT
};

#endif // DBMGT_H
