// The replayer when memory runs out: the open fails, says so and leaves nothing behind, where the tracker would
// stop. Each case runs in a child process whose address space is limited (POSIX resource limits; not under the
// sanitizers, which reserve more address space than a limit can leave).
#include "quavlo_replay.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Lets the process map `room` bytes more than it has now (the soft limit only, so it can be raised again). Reads
// without stdio, which would allocate.
void limit_address_space(rlim_t room) {
    char text[64] = {};
    const int fd = open("/proc/self/statm", O_RDONLY);
    if (fd < 0 || read(fd, text, sizeof text - 1) < 0) text[0] = 0;
    if (fd >= 0) close(fd);
    rlimit limit = {};
    const rlim_t in_use = (rlim_t)strtoul(text, nullptr, 10) * (rlim_t)sysconf(_SC_PAGESIZE);
    if (in_use == 0 || getrlimit(RLIMIT_AS, &limit) != 0) return;
    limit.rlim_cur = in_use + room;
    setrlimit(RLIMIT_AS, &limit);
}

void* volatile heap_hog; // chain of the blocks that took the heap's free space

TEST(ReplayMemory, RunningOutOfMemoryFailsTheOpenInsteadOfEndingTheProgram) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than a limit can leave";
#endif
    std::vector<uint8_t> tune;
    if (FILE* f = fopen(QUAVLO_SOURCE_DIR "/examples/tune.qvl", "rb")) {
        for (int c; (c = fgetc(f)) != EOF;) tune.push_back((uint8_t)c);
        fclose(f);
    }
    ASSERT_FALSE(tune.empty());
    int failed = 0, opened = 0;
    // From no room at all to plenty: every open either fails or plays, and leaves no block behind.
    for (rlim_t room = 0; room <= (rlim_t)1536 << 10; room += 32 << 10) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            limit_address_space(0);
            void* chain = nullptr;
            for (size_t size = (size_t)1 << 20; size >= 16; size /= 2)
                while (void** block = (void**)malloc(size)) *block = chain, chain = block;
            heap_hog = chain;
            limit_address_space(room);
            // Every other open at 48000 Hz, whose resampler needs its table of coefficients too.
            int error = -1;
            const int rate = (room >> 15) % 2 ? 48000 : 22050;
            qvl_replay* replay = qvl_replay_open_rate(tune.data(), tune.size(), 0, rate, &error);
            int16_t block[SND_BLOCK];
            const bool played = replay && qvl_replay_render(replay, block, SND_BLOCK) == SND_BLOCK;
            qvl_replay_close(replay);
            if (error != (replay ? QVL_REPLAY_OK : QVL_REPLAY_OUT_OF_MEMORY)) _exit(7);
            _exit(os_alloc_count != 0 ? 3 : replay ? (played ? 4 : 5) : 6);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ASSERT_TRUE(code == 4 || code == 6) << "exit " << code << " with room " << room;
        (code == 6 ? failed : opened)++;
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(opened, 0);
}

} // namespace
