#include "launcher/recentdrives.h"

#include <QFileInfo>
#include <QSettings>

namespace {

const QString RecentKey = QStringLiteral("recent");

QSettings Settings()
{
    return QSettings(QStringLiteral("Varnello"), QStringLiteral("varnello-open"));
}

}  // namespace

QStringList RecentDrives()
{
    QStringList existing;
    for (const QString& drive : Settings().value(RecentKey).toStringList()) {
        if (QFileInfo::exists(drive))
            existing.append(drive);
    }
    return existing;
}

void RememberDrive(const QString& drive)
{
    QStringList recent = RecentDrives();
    recent.removeAll(drive);
    recent.prepend(drive);
    Settings().setValue(RecentKey, recent.mid(0, RecentDriveCount));
}
