// The SDL2 wave-output device through SDL's "disk" driver, which writes what the device plays to a file at the
// playing rate: a one-note song must reach the file sample for sample as the mixer gives it offline. Also the
// state without a device, and the interval between returned blocks.
#include "audio.h"
#include "os_tools.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using steady = std::chrono::steady_clock;

// The SDL suites link no test support: a small capture of the log lines, which may come from the audio thread.
std::mutex log_mutex;
std::vector<std::string> log_lines;

struct LogCapture {
    LogCapture() {
        std::lock_guard<std::mutex> hold(log_mutex);
        log_lines.clear();
        os_log_sink = [](const char* line) {
            std::lock_guard<std::mutex> hold(log_mutex);
            log_lines.emplace_back(line);
        };
    }
    ~LogCapture() { os_log_sink = nullptr; }
    int count(const std::string& needle) const {
        std::lock_guard<std::mutex> hold(log_mutex);
        int n = 0;
        for (const auto& l : log_lines) n += l.find(needle) != std::string::npos;
        return n;
    }
    int asserts() const { return count("assert:"); }
};

// One C-4 on the 50% square in row 0 of channel 0; effect 8 in row 4 stops the song.
void make_one_note_song(snd_engine* e, snd_song* song) {
    snd_create_song(e, song, 1);
    snd_pattern* p = song->patterns[0];
    *snd_cell_field(p, 0, SND_FIELD_NOTE, 0) = 0x40;
    *snd_cell_field(p, 0, SND_FIELD_SAMPLE, 0) = 2;
    *snd_cell_flags(p, 0, 0) = SND_HAS_NOTE | SND_HAS_SAMPLE;
    *snd_cell_field(p, 1, SND_FIELD_EFFECT, 4) = 8;
    *snd_cell_flags(p, 1, 4) = SND_HAS_EFFECT;
}

// The song's sound as an engine of its own renders it without a device: from the note's first sample to its last.
std::vector<int16_t> offline_sound() {
    snd_engine e;
    snd_init_engine(&e);
    snd_song song;
    make_one_note_song(&e, &song);
    snd_play_song(&e, &song);
    std::vector<int16_t> out(16 * SND_BLOCK);
    snd_render(&e, out.data(), (int32_t)out.size());
    snd_free_song(&e, &song);
    size_t first = 0, last = out.size();
    while (first < out.size() && out[first] == 0) first++;
    while (last > first && out[last - 1] == 0) last--;
    return std::vector<int16_t>(out.begin() + first, out.begin() + last);
}

std::vector<int16_t> read_samples(const std::string& path) {
    std::vector<int16_t> samples;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return samples;
    int16_t buffer[4096];
    size_t n;
    while ((n = fread(buffer, sizeof(int16_t), 4096, f)) > 0) samples.insert(samples.end(), buffer, buffer + n);
    fclose(f);
    return samples;
}

int32_t locked_blocks() {
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    return audio_engine.audio_blocks;
}

// Waits until the audio thread has counted `blocks`; false after 10 s.
bool wait_blocks(int32_t blocks) {
    const auto give_up = steady::now() + std::chrono::seconds(10);
    while (locked_blocks() < blocks) {
        if (steady::now() > give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TEST(SdlAudio, DiskDriverFileHoldsTheSongAsMixedOffline) {
    const std::vector<int16_t> expected = offline_sound();
    ASSERT_EQ(expected.size(), (size_t)(8 * SND_BLOCK)); // rows 0 to 3 at two blocks a row

    const std::string path =
        (std::filesystem::temp_directory_path() / ("quavlo_sdl_audio_" + std::to_string(getpid()) + ".raw")).string();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    LogCapture log;
    init_sounds();
    snd_song song;
    make_one_note_song(&audio_engine, &song);

    EXPECT_EQ(log.count("AUDIO == SDL2_AUDIO\n"), 1);
    EXPECT_EQ(log.count("AUDIO PERIOD 256 FRAMES (disk)\n"), 1);
    ASSERT_NE(audio_device, nullptr);
    ASSERT_TRUE(wait_blocks(2));
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        snd_play_song(&audio_engine, &song);
    }
    // Blocks returned at the device's pace; the song stops itself at row 4, ten blocks after the start.
    std::vector<steady::time_point> returns;
    for (int32_t b = locked_blocks() + 1; b <= 24; b++) {
        ASSERT_TRUE(wait_blocks(b));
        returns.push_back(steady::now());
    }
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        EXPECT_EQ(song.state, 0);
        snd_free_song(&audio_engine, &song);
    }
    deinit_sounds();
    EXPECT_EQ(log.asserts(), 0);
    EXPECT_EQ(os_alloc_count, 0);

    const double span_ms = std::chrono::duration<double, std::milli>(returns.back() - returns.front()).count();
    printf("SDL disk device: %.1f ms between returned blocks (one block is 49.98 ms)\n",
           span_ms / (double)(returns.size() - 1));

    const std::vector<int16_t> file = read_samples(path);
    std::filesystem::remove(path);
    size_t first = 0;
    while (first < file.size() && file[first] == 0) first++;
    // SDL's leading silence and the silent blocks before row 0, then the note, then silence up to the close,
    // which may have cut the last buffer short.
    ASSERT_GE(file.size(), first + expected.size());
    for (size_t i = 0; i < expected.size(); i++) ASSERT_EQ(file[first + i], expected[i]) << "sample " << i;
    for (size_t i = first + expected.size(); i < file.size(); i++) ASSERT_EQ(file[i], 0) << "sample " << i;
}

TEST(SdlAudio, WithoutADeviceTheProgramRunsOnSilently) {
    setenv("SDL_AUDIODRIVER", "no_such_driver", 1);
    LogCapture log;
    init_sounds();
    EXPECT_EQ(log.count("AUDIO == SDL2_AUDIO\n"), 1);
    EXPECT_EQ(log.count("AUDIO NO DEVICE\n"), 1);
    EXPECT_EQ(log.asserts(), 0);
    EXPECT_EQ(audio_device, nullptr);
    EXPECT_FALSE(audio_thread_running());
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        EXPECT_EQ(audio_engine.audio_blocks, 0);
    }
    deinit_sounds();
    EXPECT_FALSE(audio_thread_running());
    EXPECT_EQ(log.asserts(), 0);
    unsetenv("SDL_AUDIODRIVER");
}

} // namespace
