// Reading back a WAV file the program wrote: the 16-bit samples after its 44-byte header.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Every sample after the header, as many as the file holds; empty when the file cannot be read.
std::vector<int16_t> test_wav_samples(const std::string& path);
