// Reading back a WAV file the program wrote.
#include "wav_samples.h"

#include <cstdio>

std::vector<int16_t> test_wav_samples(const std::string& path) {
    std::vector<int16_t> samples;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return samples;
    int16_t buffer[4096];
    fseek(f, 44, SEEK_SET);
    for (size_t n; (n = fread(buffer, sizeof(int16_t), 4096, f)) > 0;)
        samples.insert(samples.end(), buffer, buffer + n);
    fclose(f);
    return samples;
}
