#include "platform/sys/opening.h"

#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

Descriptor OpenWithoutBlocking(int directory, const char* name, Openable kinds, int access)
{
    const bool image = kinds == Openable::DiskImage;
    auto allowed = [image](mode_t mode) { return S_ISREG(mode) || (image && S_ISBLK(mode)); };
    struct stat status {};
    if (fstatat(directory, name, &status, image ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return Descriptor();
    // Looked at first, so that no FIFO or terminal is ever opened.
    if (!allowed(status.st_mode)) {
        errno = S_ISDIR(status.st_mode) ? EISDIR : S_ISLNK(status.st_mode) ? ELOOP : EINVAL;
        return Descriptor();
    }
    if (!S_ISBLK(status.st_mode))
        access &= ~O_EXCL;
    Descriptor fd(openat(directory, name, access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (image ? 0 : O_NOFOLLOW)));
    if (fd && (fstat(fd.get(), &status) != 0 || !allowed(status.st_mode))) {
        fd.reset();
        errno = EINVAL;  // swapped for something else since the look
    }
    return fd;
}

void ForEachEntry(int directory, const std::function<bool(const char* name)>& visit)
{
    const int fd = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!listing) {
        if (fd >= 0)
            close(fd);
        return;
    }
    while (const dirent* entry = readdir(listing)) {
        if (!visit(entry->d_name))
            break;
    }
    closedir(listing);
}
