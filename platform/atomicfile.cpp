#include "platform/atomicfile.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* dosAttributeName = "user.DOSATTRIB";
constexpr uint32_t fatKeptAttributes = ATTR_HIDDEN | ATTR_SYS | ATTR_ARCH;
constexpr int temporaryNameAttempts = 64;

std::atomic<FileStep> injectedStep{FileStep::None};
std::atomic<int> injectedCode{EIO};

// True, with errno set, when a test asked this step to fail.
bool Injected(FileStep step)
{
    if (step == FileStep::None || injectedStep.load() != step)
        return false;
    errno = injectedCode.load();
    return true;
}

// Records errno as the failure of step; returns false for the caller.
bool Failure(FileStep step)
{
    SetLastFileError(step, errno);
    return false;
}

// The temporary file: removed and closed on every way out unless it was renamed. Its
// descriptor holds an exclusive lock until then, which tells live temporary files from
// those a killed writer left behind (see RemoveStaleTemporaries).
struct TemporaryFile {
    int fd = -1;
    std::string path;
    bool renamed = false;

    ~TemporaryFile()
    {
        if (!path.empty() && !renamed)
            unlink(path.c_str());
        if (fd >= 0)
            close(fd);
    }
};

// True for exactly the names CreateTemporary makes: "VRNL", four upper-case hex digits, ".TMP".
bool IsTemporaryName(std::string_view name)
{
    if (name.size() != 12 || !name.starts_with("VRNL") || !name.ends_with(".TMP"))
        return false;
    for (char c : name.substr(4, 4)) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// True when path still names the file open at fd.
bool StillNamed(int fd, const std::string& path)
{
    struct stat opened {};
    struct stat named {};
    return fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev
           && opened.st_ino == named.st_ino;
}

// Removes the temporary files that writers killed part-way left in directory. Only our
// exact names qualify, only regular files of our own, and only when nobody holds the
// lock a live writer keeps from creating its file until renaming it; where locks are
// not supported nothing is removed. Anything that goes wrong just leaves the file.
void RemoveStaleTemporaries(const std::string& directory)
{
    DIR* listing = opendir(directory.c_str());
    if (!listing)
        return;
    while (const dirent* entry = readdir(listing)) {
        if (!IsTemporaryName(entry->d_name))
            continue;
        std::string path = directory + "/" + entry->d_name;
        int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat status {};
        if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == geteuid()
            && flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, path))
            unlink(path.c_str());
        close(fd);
    }
    closedir(listing);
}

// The file a write to path really replaces: what a symlink leads to, else path itself.
bool ResolveTarget(const std::string& path, std::string& target)
{
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
        target = path;
        return true;
    }
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return false;
    target = resolved;
    std::free(resolved);
    return true;
}

// The directory part of path ("." when there is none).
std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A starting point for temporary names, different from run to run.
unsigned NameSeed()
{
    static std::atomic<unsigned> counter{0};
    auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return unsigned(ticks) ^ unsigned(getpid()) * 2654435761u ^ counter++ * 40503u;
}

// Creates a fresh VRNLxxxx.TMP in directory, trying further names while they are taken.
bool CreateTemporary(const std::string& directory, mode_t mode, TemporaryFile& file)
{
    if (Injected(FileStep::CreateTemporary))
        return false;
    unsigned seed = NameSeed();
    for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
        char name[16];
        std::snprintf(name, sizeof name, "VRNL%04X.TMP", (seed + unsigned(attempt)) & 0xFFFFu);
        std::string path = directory + "/" + name;
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0) {
            if (errno != EEXIST)
                return false;
            continue;
        }
        // Taken by a cleaner between our create and our lock: the name is no longer ours
        // (the cleaner removes it). Where locks are unsupported, go on without one.
        if ((flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) || !StillNamed(fd, path)) {
            close(fd);
            errno = EEXIST;
            continue;
        }
        file.fd = fd;
        file.path = path;
        return true;
    }
    return false;  // errno is EEXIST
}

// Writes every byte, resuming after interruptions and short writes.
bool WriteAll(int fd, std::string_view bytes)
{
    if (Injected(FileStep::WriteTemporary))
        return false;
    while (!bytes.empty()) {
        ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        bytes.remove_prefix(size_t(written));
    }
    return true;
}

// Copies hidden, system and archive of the FAT file original onto the FAT file fd.
bool CopyFatAttributes(const std::string& original, int fd)
{
    int source = open(original.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (source < 0)
        return false;
    uint32_t from = 0;
    bool ok = ioctl(source, FAT_IOCTL_GET_ATTRIBUTES, &from) == 0;
    int code = errno;
    close(source);
    errno = code;
    uint32_t to = 0;
    if (!ok || ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &to) != 0)
        return false;
    uint32_t wanted = (to & ~fatKeptAttributes) | (from & fatKeptAttributes);
    return wanted == to || ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &wanted) == 0;
}

// Copies the DOS attribute extended attribute of original, byte for byte, onto fd.
bool CopyDosAttribute(const std::string& original, int fd)
{
    ssize_t size = getxattr(original.c_str(), dosAttributeName, nullptr, 0);
    if (size < 0)
        return errno == ENODATA || errno == ENOTSUP;
    std::vector<char> value(size_t(size) + 1);
    size = getxattr(original.c_str(), dosAttributeName, value.data(), value.size());
    if (size < 0)
        return false;
    return fsetxattr(fd, dosAttributeName, value.data(), size_t(size), 0) == 0;
}

// Gives the temporary file the original's DOS attributes, owner and permission bits.
// The permission bits come last: once read-only, the file would refuse the rest.
bool CopyMetadata(const std::string& original, const struct stat& from, int fd)
{
    if (Injected(FileStep::Attributes))
        return false;
    struct statfs volume {};
    struct stat to {};
    if (fstatfs(fd, &volume) != 0 || fstat(fd, &to) != 0)
        return false;
    bool onFat = volume.f_type == MSDOS_SUPER_MAGIC;
    if (!(onFat ? CopyFatAttributes(original, fd) : CopyDosAttribute(original, fd)))
        return false;
    if (geteuid() == 0 && (to.st_uid != from.st_uid || to.st_gid != from.st_gid)
        && fchown(fd, from.st_uid, from.st_gid) != 0)
        return false;
    mode_t mode = from.st_mode & 07777;
    return (to.st_mode & 07777) == mode || fchmod(fd, mode) == 0;
}

// Flushes the file's contents and metadata to disk. The descriptor stays open, and the
// file locked, until the rename: once fsync has succeeded, closing cannot lose data.
bool Flush(TemporaryFile& file)
{
    if (Injected(FileStep::FlushTemporary))
        return false;
    return fsync(file.fd) == 0;
}

// Makes the rename itself durable. A directory that cannot be flushed (some file
// systems refuse) does not undo a replace that has already happened.
void FlushDirectory(const std::string& directory)
{
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

bool ReplaceFileAtomically(const std::string& hostPath, std::string_view bytes)
{
    std::string target;
    if (!ResolveTarget(hostPath, target))
        return Failure(FileStep::Inspect);
    struct stat original {};
    bool exists = stat(target.c_str(), &original) == 0;
    if (!exists && errno != ENOENT)
        return Failure(FileStep::Inspect);
    if (exists && !S_ISREG(original.st_mode)) {
        errno = S_ISDIR(original.st_mode) ? EISDIR : EINVAL;
        return Failure(FileStep::Inspect);
    }

    // A new file gets the usual 0666 less the umask; an existing one its own bits later.
    std::string directory = DirectoryOf(target);
    RemoveStaleTemporaries(directory);
    TemporaryFile temporary;
    if (!CreateTemporary(directory, exists ? 0600 : 0666, temporary))
        return Failure(FileStep::CreateTemporary);
    if (!WriteAll(temporary.fd, bytes))
        return Failure(FileStep::WriteTemporary);
    if (exists && !CopyMetadata(target, original, temporary.fd))
        return Failure(FileStep::Attributes);
    if (!Flush(temporary))
        return Failure(FileStep::FlushTemporary);
    if (Injected(FileStep::Rename) || rename(temporary.path.c_str(), target.c_str()) != 0)
        return Failure(FileStep::Rename);
    temporary.renamed = true;
    FlushDirectory(directory);
    return true;
}

void FailAtomicStepForTesting(FileStep step, int code)
{
    injectedCode.store(code);
    injectedStep.store(step);
}
