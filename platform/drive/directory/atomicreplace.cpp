#include "platform/drive/directory/atomicreplace.h"

#include "platform/drive/directory/dosattributes.h"
#include "platform/sys/io.h"
#include "platform/sys/opening.h"
#include "platform/sys/tempname.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t fatKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr int temporaryNameAttempts = 64;
// How often a file that other programs keep changing is read again before giving up.
constexpr int changedFileAttempts = 4;
// Another writer of this program holds the lock for one write, milliseconds; a program
// that holds it longer is not waited for without end.
constexpr auto lockWait = std::chrono::seconds(5);

std::atomic<FileStep> injectedStep{FileStep::None};
std::atomic<int> injectedCode{EIO};

std::function<void()>& BeforeReplace()
{
    static std::function<void()> action;
    return action;
}

// True, with errno set, when a test asked this step to fail.
bool Injected(FileStep step)
{
    if (step == FileStep::None || injectedStep.load() != step)
        return false;
    errno = injectedCode.load();
    return true;
}

enum class Outcome { Done, Changed, Failed };

Outcome Failed(FileStep step, int code = errno)
{
    RecordFailure(step, code);
    return Outcome::Failed;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// True when name in directory is the file open at fd.
bool StillNamed(int directory, const std::string& name, int fd)
{
    struct stat opened {};
    struct stat named {};
    return fstat(fd, &opened) == 0 && fstatat(directory, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
           && SameFile(opened, named);
}

// The temporary file: removed and closed on every way out unless it took the file's
// place, and only while its name still leads to it. Its descriptor holds an exclusive
// lock until then, which tells live temporary files from those a killed writer left
// behind (see RemoveStaleTemporaries).
struct TemporaryFile {
    int directory = -1;
    Descriptor fd;
    std::string name;
    bool inPlace = false;

    ~TemporaryFile()
    {
        if (fd && !inPlace && StillNamed(directory, name, fd.get()))
            unlinkat(directory, name.c_str(), 0);
    }
};

// True when name in directory still leads to the file read (open at fd) and nobody has
// written to it, or changed its status, since.
bool StillAsRead(const FileTarget& target, int fd, const struct stat& read)
{
    struct stat now {};
    return StillNamed(target.directory.get(), target.name, fd) && fstat(fd, &now) == 0 && SameFile(now, read)
           && now.st_size == read.st_size && SameTime(now.st_mtim, read.st_mtim)
           && SameTime(now.st_ctim, read.st_ctim);
}

// Removes the temporary files that writers killed part-way left in directory. Only our
// exact names qualify, only regular files of our own, and only when nobody holds the
// lock a live writer keeps from creating its file until renaming it; where locks are
// not supported nothing is removed. Anything that goes wrong just leaves the file.
void RemoveStaleTemporaries(int directory)
{
    ForEachEntry(directory, [directory](const char* name) {
        if (!IsTemporaryName(name))
            return true;
        const Descriptor fd = OpenWithoutBlocking(directory, name);
        struct stat status {};
        if (fd && fstat(fd.get(), &status) == 0 && status.st_uid == geteuid() && flock(fd.get(), LOCK_EX | LOCK_NB) == 0
            && StillNamed(directory, name, fd.get()))
            unlinkat(directory, name, 0);
        return true;
    });
}

// A starting point for temporary names, different from run to run.
unsigned NameSeed()
{
    static std::atomic<unsigned> counter{0};
    auto ticks = Clock::now().time_since_epoch().count();
    return unsigned(ticks) ^ unsigned(getpid()) * 2654435761u ^ counter++ * 40503u;
}

// Creates a fresh VRNLxxxx.TMP in directory, trying further names while they are taken.
bool CreateTemporary(int directory, mode_t mode, TemporaryFile& file)
{
    if (Injected(FileStep::CreateTemporary))
        return false;
    unsigned seed = NameSeed();
    for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
        const std::string name = TemporaryName(seed + unsigned(attempt));
        Descriptor fd(openat(directory, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!fd) {
            if (errno != EEXIST)
                return false;
            continue;
        }
        // Taken by a cleaner between our create and our lock: the name is no longer ours
        // (the cleaner removes it). Where locks are unsupported, go on without one.
        if ((flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
            || !StillNamed(directory, name, fd.get())) {
            errno = EEXIST;
            continue;
        }
        file.directory = directory;
        file.fd = std::move(fd);
        file.name = name;
        return true;
    }
    return false;  // errno is EEXIST
}

// Writes the replacement's bytes.
bool WriteContents(int fd, std::string_view bytes)
{
    return !Injected(FileStep::WriteTemporary) && WriteAll(fd, bytes);
}

// Copies hidden, system and archive of the FAT file open at original onto the FAT file fd.
bool CopyFatAttributes(int original, int fd)
{
    uint32_t from = 0;
    uint32_t to = 0;
    if (!ReadFatAttributes(original, from) || !ReadFatAttributes(fd, to))
        return false;
    uint32_t wanted = (to & ~fatKeptAttributes) | (from & fatKeptAttributes);
    return wanted == to || WriteFatAttributes(fd, wanted);
}

// Copies the DOS attribute extended attribute of original, byte for byte, onto fd.
bool CopyDosAttribute(int original, int fd)
{
    const std::optional<std::string> stored = StoredDosAttribute(original);
    if (!stored)
        return errno == ENODATA || errno == ENOTSUP;
    return StoreDosAttribute(fd, stored);
}

// Gives the temporary file fd the DOS attributes, owner, group and permission bits of
// the file read (open at original). The permission bits come last: once read-only, the
// file would refuse the rest.
bool CopyMetadata(int original, const struct stat& from, int fd)
{
    if (Injected(FileStep::Attributes))
        return RecordFailure(FileStep::Attributes);
    const std::optional<bool> onFat = OnFatMount(fd);
    struct stat to {};
    if (!onFat || fstat(fd, &to) != 0)
        return RecordFailure(FileStep::Attributes);
    if (!(*onFat ? CopyFatAttributes(original, fd) : CopyDosAttribute(original, fd)))
        return RecordFailure(FileStep::Attributes);
    if ((to.st_uid != from.st_uid || to.st_gid != from.st_gid) && fchown(fd, from.st_uid, from.st_gid) != 0)
        return RecordFailure(FileStep::Owner);
    mode_t mode = from.st_mode & 07777;
    if ((to.st_mode & 07777) != mode && fchmod(fd, mode) != 0)
        return RecordFailure(FileStep::Attributes);
    return true;
}

// Flushes the file's contents and metadata to disk. The descriptor stays open, and the
// file locked, until the rename: once fsync has succeeded, closing cannot lose data.
bool Flush(const TemporaryFile& file)
{
    if (Injected(FileStep::FlushTemporary))
        return false;
    return fsync(file.fd.get()) == 0;
}

// Makes the rename itself durable. A directory that cannot be flushed (some file
// systems refuse) does not undo a replace that has already happened.
void FlushDirectory(int directory)
{
    Descriptor fd(openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd)
        fsync(fd.get());
}

// Puts the temporary file in place of the file named like target. A rename relative to
// the directory replaces the name itself, never what a link there leads to.
Outcome PutInPlace(const FileTarget& target, TemporaryFile& temporary)
{
    const int directory = target.directory.get();
    if (renameat(directory, temporary.name.c_str(), directory, target.name.c_str()) != 0)
        return Failed(FileStep::Rename);
    temporary.inPlace = true;
    FlushDirectory(directory);
    return Outcome::Done;
}

// Puts the temporary file in place of the file read. Where the file system can exchange
// two names atomically, the exchange never makes the name anew (a file removed since the
// check stays removed) and shows what it took away: anything but the file read is put
// back and counts as a change. Elsewhere a rename follows the check.
Outcome SwapInPlace(const FileTarget& target, TemporaryFile& temporary, const struct stat& read)
{
    const int directory = target.directory.get();
    const char* from = temporary.name.c_str();
    const char* to = target.name.c_str();
    if (Injected(FileStep::Rename))
        return Failed(FileStep::Rename);
    if (renameat2(directory, from, directory, to, RENAME_EXCHANGE) != 0) {
        if (errno == ENOENT)
            return Outcome::Changed;
        return errno == EINVAL ? PutInPlace(target, temporary) : Failed(FileStep::Rename);
    }
    struct stat replaced {};
    if (fstatat(directory, from, &replaced, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(replaced, read))
        return renameat2(directory, from, directory, to, RENAME_EXCHANGE) == 0 ? Outcome::Changed
                                                                                : Failed(FileStep::Rename);
    unlinkat(directory, from, 0);  // the file read, now under the temporary name
    temporary.inPlace = true;
    FlushDirectory(directory);
    return Outcome::Done;
}

// Replaces the file read (open at original) with bytes.
Outcome ReplaceRead(const FileTarget& target, int original, const struct stat& read, std::string_view bytes)
{
    TemporaryFile temporary;
    if (!CreateTemporary(target.directory.get(), 0600, temporary))
        return Failed(FileStep::CreateTemporary);
    if (!WriteContents(temporary.fd.get(), bytes))
        return Failed(FileStep::WriteTemporary);
    if (!CopyMetadata(original, read, temporary.fd.get()))
        return Outcome::Failed;
    if (!Flush(temporary))
        return Failed(FileStep::FlushTemporary);
    if (BeforeReplace())
        BeforeReplace()();
    if (!StillAsRead(target, original, read))
        return Outcome::Changed;
    return SwapInPlace(target, temporary, read);
}

// Fails unless the file has no other hard links: replacing it would cut them off.
bool CheckNoOtherLinks(const struct stat& status)
{
    return status.st_nlink <= 1 || RecordFailure(FileStep::HardLinked, 0);
}

// True when a file this process makes could be handed to the owner and group of status.
bool CanKeepOwner(const struct stat& status)
{
    if (geteuid() == 0)
        return true;
    if (status.st_uid != geteuid())
        return false;
    if (status.st_gid == getegid())
        return true;
    std::vector<gid_t> groups(size_t(std::max(getgroups(0, nullptr), 0)));
    groups.resize(size_t(std::max(getgroups(int(groups.size()), groups.data()), 0)));
    return std::find(groups.begin(), groups.end(), status.st_gid) != groups.end();
}

// Locks the directory that target lives in against the other writers of this program,
// for as long as lock stays open, waiting for them at most lockWait. The directory, not
// the file: every write puts a new file in place, so a waiter locked on the file would
// hold last write's file, chase the new one, and could be starved by a writer that
// writes again and again. Where the directory cannot be read or locks are not
// supported, goes on without a lock.
bool LockDirectory(const FileTarget& target, Descriptor& lock)
{
    lock = Descriptor(openat(target.directory.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const auto deadline = Clock::now() + lockWait;
    while (lock && flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return true;
        if (Clock::now() > deadline)
            return RecordFailure(FileStep::Locked);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

// Opens the file that target names, as it is now; false, with the failure recorded, when
// it is missing (Inspect, ENOENT) or cannot be opened.
bool OpenCurrent(const FileTarget& target, Descriptor& fd, struct stat& status)
{
    fd = OpenRegularFile(target);
    if (fd && fstat(fd.get(), &status) == 0)
        return true;
    // A link appeared under a name that was none when it was resolved.
    if (errno == ELOOP)
        return RecordFailure(FileStep::Changed, 0);
    return RecordFailure(errno == EISDIR || errno == EINVAL || errno == ENOENT ? FileStep::Inspect : FileStep::Read);
}

// Fails unless this process may write the file: like Win32, a read-only file is refused
// even where renaming over it would be possible.
bool CheckWritable(const FileTarget& target, const struct stat& status)
{
    if ((status.st_mode & 0222) != 0
        && faccessat(target.directory.get(), target.name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0)
        return true;
    return RecordFailure(FileStep::Inspect, EACCES);
}

}  // namespace

bool ReplaceTarget(const FileTarget& target, const FileChange& change)
{
    Descriptor lock;
    if (!LockDirectory(target, lock))
        return false;
    RemoveStaleTemporaries(target.directory.get());
    for (int attempt = 1;; ++attempt) {
        Descriptor file;
        struct stat read {};
        if (!OpenCurrent(target, file, read) || !CheckNoOtherLinks(read) || !CheckWritable(target, read))
            return false;
        std::string bytes;
        if (!ReadWholeFile(file.get(), bytes))
            return RecordFailure(FileStep::Read);
        std::string updated;
        if (!change(bytes, updated))
            return false;
        if (updated == bytes)
            return true;
        const Outcome outcome = ReplaceRead(target, file.get(), read, updated);
        if (outcome != Outcome::Changed)
            return outcome == Outcome::Done;
        if (attempt == changedFileAttempts)
            return RecordFailure(FileStep::Changed, 0);
    }
}

bool CheckTargetReplaceable(const FileTarget& target)
{
    const Descriptor fd = OpenRegularFile(target);
    struct stat status {};
    if (!fd || fstat(fd.get(), &status) != 0)
        return RecordFailure(FileStep::Inspect);
    if (!CheckNoOtherLinks(status))
        return false;
    return CanKeepOwner(status) || RecordFailure(FileStep::Owner, EPERM);
}

void FailAtomicStepForTesting(FileStep step, int code)
{
    injectedCode.store(code);
    injectedStep.store(step);
}

void BeforeReplaceForTesting(std::function<void()> action)
{
    BeforeReplace() = std::move(action);
}
