#include "platform/qt/instancelock.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// True for a directory of this user's own, not a link, that nobody else may write.
bool IsPrivateDirectory(const QByteArray& path)
{
    struct stat status {};
    return lstat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == geteuid()
           && (status.st_mode & 022) == 0;
}

// Where the instance lock lives: a directory that only this user can write, so that no
// other user can plant a lock (or a link or a directory in its place) that would stop
// the program. $XDG_RUNTIME_DIR when it qualifies, else varnello-UID in the temporary
// directory, made with mode 0700 if missing; empty when neither qualifies.
QString PrivateLockDirectory()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && IsPrivateDirectory(runtime))
        return QFile::decodeName(runtime);
    const QByteArray own = QFile::encodeName(QDir::tempPath()) + "/varnello-" + QByteArray::number(geteuid());
    mkdir(own.constData(), 0700);  // or it exists already: checked below either way
    return IsPrivateDirectory(own) ? QFile::decodeName(own) : QString();
}

// The instance lock's path, or "" where there is none to obey: no private directory, or
// something at that path that is not this user's own regular file.
QString InstanceLockPath()
{
    const QString directory = PrivateLockDirectory();
    if (directory.isEmpty())
        return {};
    const QString path = directory + QStringLiteral("/varnello.lock");
    struct stat status {};
    if (lstat(QFile::encodeName(path).constData(), &status) == 0
        && !(S_ISREG(status.st_mode) && status.st_uid == geteuid()))
        return {};
    return path;
}

}  // namespace

bool AnotherInstanceRunning()
{
    static std::unique_ptr<QLockFile> lock;
    if (lock)
        return false;
    const QString path = InstanceLockPath();
    if (path.isEmpty())
        return false;
    auto candidate = std::make_unique<QLockFile>(path);
    candidate->setStaleLockTime(0);  // a lock left by a crashed copy is taken over
    if (candidate->tryLock(0)) {
        lock = std::move(candidate);
        return false;
    }
    // Only a lock held by a living copy stops us; an unusable directory does not.
    return candidate->error() == QLockFile::LockFailedError;
}

qint64 RunningInstance()
{
    const QString path = InstanceLockPath();
    if (path.isEmpty())
        return 0;
    QLockFile probe(path);
    probe.setStaleLockTime(0);
    if (probe.tryLock(0)) {
        probe.unlock();
        return 0;
    }
    qint64 pid = 0;
    return probe.error() == QLockFile::LockFailedError && probe.getLockInfo(&pid, nullptr, nullptr) ? pid : 0;
}
