#include "app/localtimezone.h"

#include <QByteArray>
#include <QtGlobal>

void pinLocalTimeZone()
{
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", QByteArrayLiteral(":/etc/localtime"));
}
