#include "notemgt.h"

#include <QTimer>

CNoteMgt::CNoteMgt(QObject *parent)
    : QObject(parent)
{
    QTimer::singleShot(0, this, &CNoteMgt::init);
}

void CNoteMgt::init() {}
