// Shared by the file suites: a fresh temporary working directory per test, whole-file reads and writes, and
// the sound engine prepared as the sound start-up leaves it (with the noise clock pinned).
#pragma once
#include "os_platform.h"
#include "os_tools.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace files_test {

inline snd_engine eng; // the engine the file suites read, play and record with

using bytes = std::vector<uint8_t>;

inline int32_t clock_value; // what the noise generator's clock returns in these suites
inline int32_t fixed_clock() { return clock_value; }

inline bytes read_file(const std::string& path) {
    bytes data;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return data;
    int c;
    while ((c = fgetc(f)) != EOF) data.push_back((uint8_t)c);
    fclose(f);
    return data;
}

inline void write_file(const std::string& path, const bytes& data) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!data.empty()) { ASSERT_EQ(fwrite(data.data(), 1, data.size(), f), data.size()); }
    fclose(f);
}

inline std::string read_text(const std::string& path) {
    const bytes data = read_file(path);
    return std::string(data.begin(), data.end());
}

// Sound start-up without device: amplitude, both voice banks at rest with channels 0..3 on, empty slots, the
// noise seeded from the suites' clock.
inline void prepare_engine() {
    clock_value = 0;
    eng.snd_clock_ms = fixed_clock;
    snd_init_engine(&eng);
}

// A new empty directory under the system's temporary directory; empty when none could be made.
inline std::filesystem::path make_temp_dir() {
    std::random_device seed;
    std::mt19937 pick(seed());
    for (int attempt = 0; attempt < 100; attempt++) {
        const auto path = std::filesystem::temp_directory_path() / ("quavlo-files-" + std::to_string(pick()));
        std::error_code error;
        // create_directory is false for a directory that is already there: that one belongs to someone else.
        if (std::filesystem::create_directory(path, error)) return path;
    }
    return {};
}

// Each test runs in its own empty directory, removed afterwards.
class InTempDir : public ::testing::Test {
protected:
    std::filesystem::path dir;
    std::filesystem::path previous;
    int32_t allocs_before = 0;

    void SetUp() override {
        prepare_engine();
        previous = std::filesystem::current_path();
        dir = make_temp_dir();
        ASSERT_FALSE(dir.empty());
        std::filesystem::current_path(dir);
        allocs_before = os_alloc_count;
    }
    void TearDown() override {
        EXPECT_EQ(os_alloc_count, allocs_before) << "tracked blocks leaked";
        EXPECT_EQ(eng.snd_live_samples, 0);
        std::filesystem::current_path(previous);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
        eng.snd_clock_ms = os_time_ms;
    }
    // Names of the files in the test directory, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

} // namespace files_test
