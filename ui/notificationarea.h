#pragma once

// Whether the desktop offers a notification area for the tray icon. Many Linux desktops have none, and there a
// hidden window could never be brought back. Tests pretend either kind of desktop.
namespace NotificationArea {

bool available();

enum class Override { None, Present, Absent };
void setOverride(Override value);

} // namespace NotificationArea
