#include "email/LocalDomainName.h"

#include <QHostInfo>

QString LocalDomainName()
{
    return QHostInfo::localDomainName();
}
