// Durable writes on Windows: _commit writes the file's buffers to the disk (FlushFileBuffers underneath). NTFS
// journals a rename itself, so a directory has nothing to sync. Main thread; owns nothing.
#include "os_files.h"

#include <io.h>

int32_t os_sync_file_to_disk(FILE* file) {
    if (!file || fflush(file) != 0) return 0;
    return _commit(_fileno(file)) == 0 ? 1 : 0;
}

int32_t os_sync_directory_to_disk(const char*) { return 1; }
