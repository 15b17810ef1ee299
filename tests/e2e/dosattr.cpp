// Prints a file's DOS attribute set (read-only 1, hidden 2, system 4, archive 32) as
// this machine keeps it: read-only is the absence of every write permission bit, the
// rest is the hexadecimal text in the extended attribute user.DOSATTRIB, as Wine keeps
// it. Reads the file's own records directly, so the end-to-end test does not trust the
// program's code to check the program.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/xattr.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    struct stat status {};
    if (stat(argv[1], &status) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    unsigned long attributes = 0;
    char text[64] = {};
    const ssize_t length = getxattr(argv[1], "user.DOSATTRIB", text, sizeof text - 1);
    if (length >= 0) {
        text[length] = '\0';
        attributes = std::strtoul(text, nullptr, 0);
    } else if (errno != ENODATA && errno != ENOTSUP) {
        std::perror(argv[1]);
        return 1;
    }
    attributes &= ~1ul;  // the permission bits are the truth for read-only
    if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        attributes |= 1;
    std::printf("%lu\n", attributes);
    return 0;
}
