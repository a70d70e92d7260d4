#include "ui/notificationarea.h"

#include <QSystemTrayIcon>

namespace NotificationArea {
namespace {
Override s_override = Override::None;
} // namespace

bool available()
{
    if (s_override != Override::None)
        return s_override == Override::Present;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void setOverride(Override value) { s_override = value; }

} // namespace NotificationArea
