// The log on a POSIX system: each line is out of the process the moment it is logged, so the lines before a crash
// survive it even when standard output is a pipe or a file (block-buffered by the C library).
#include "os_tools.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

TEST(LogOutput, LinesBeforeACrashReachAPipe) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        os_log("first line\n");
        os_log("last line %d\n", 2);
        signal(SIGABRT, SIG_DFL);
        abort(); // no exit handler flushes anything
    }
    close(fds[1]);
    std::string out;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, (size_t)n);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(out, "first line\nlast line 2\n");
}
