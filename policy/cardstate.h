#pragma once

#include <QByteArray>
#include <QString>

// What a face knows of one listed card now: status -1 and empty data until the first report.
struct CardState
{
    QString host;
    int status = -1;
    bool authenticationFailed = false;
    QByteArray data;
};
