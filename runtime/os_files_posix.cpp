// Durable writes on a POSIX system: fsync of the file, and of its directory after a rename into it. Main thread;
// owns nothing beyond the call.
#include "os_files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

int32_t os_sync_file_to_disk(FILE* file) {
    if (!file || fflush(file) != 0) return 0;
    return fsync(fileno(file)) == 0 ? 1 : 0;
}

int32_t os_sync_directory_to_disk(const char* path) {
    if (!path) return 0;
    const char* slash = strrchr(path, '/');
    const std::string dir = !slash ? std::string(".") : slash == path ? std::string("/") : std::string(path, slash);
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    // Some file systems cannot sync a directory and say so; the rename is then as safe as they make it.
    const int synced = fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    close(fd);
    return synced ? 1 : 0;
}
