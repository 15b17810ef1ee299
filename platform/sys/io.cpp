#include "platform/sys/io.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

bool ReadAt(int fd, uint64_t offset, size_t count, std::string& bytes)
{
    bytes.clear();
    char buffer[65536];
    while (bytes.size() < count) {
        const size_t wanted = std::min(sizeof buffer, count - bytes.size());
        const ssize_t got = pread(fd, buffer, wanted, off_t(offset + bytes.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        bytes.append(buffer, size_t(got));
    }
    return true;
}

bool ReadWholeFile(int fd, std::string& bytes)
{
    if (!ReadAt(fd, 0, MaxFileSize + 1, bytes))
        return false;
    if (bytes.size() <= MaxFileSize)
        return true;
    bytes.clear();
    errno = EFBIG;
    return false;
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
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
