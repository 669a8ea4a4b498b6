#ifndef NETMGT_H
#define NETMGT_H

#include <QObject>

// Placeholder until this class is built.
class CNetMgt : public QObject
{
    Q_OBJECT
};

#endif // NETMGT_H
