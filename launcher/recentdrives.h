#pragma once

#include <QStringList>

// The boot drives varnello-open started varnello on, most recent first, kept with
// QSettings (~/.config/Varnello/varnello-open.conf).
inline constexpr int RecentDriveCount = 5;

// The remembered drives that still exist.
QStringList RecentDrives();

// Puts drive first, drops an earlier mention of it and drives that are gone, and keeps
// RecentDriveCount at most.
void RememberDrive(const QString& drive);
