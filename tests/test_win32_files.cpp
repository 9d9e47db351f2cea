// File names outside any ANSI code page on Windows, under Wine: with the manifest's UTF-8 code page (this suite
// carries the programs' resources), a module saved over an older one, read back, exported as a C header and a WAV
// capture in a folder named in Cyrillic and Japanese land on the disk under exactly those names, which a
// wide-character view of the folder finds.
#include "platform_win32.h"

#include "os_tools.h"
#include "sound.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

snd_engine eng; // the engine the song is made, read and recorded with

std::string utf8(const std::wstring& wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), (int)wide.size(), nullptr, 0, nullptr, nullptr);
    std::string out((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), (int)wide.size(), out.data(), n, nullptr, nullptr);
    return out;
}

std::vector<uint8_t> read_wide(const fs::path& path) {
    std::vector<uint8_t> data;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return data;
    for (int c; (c = fgetc(f)) != EOF;) data.push_back((uint8_t)c);
    fclose(f);
    return data;
}

std::vector<uint8_t> packed(const snd_song* song) {
    std::vector<uint8_t> bytes((size_t)snd_pack_module(song, nullptr, 0));
    snd_pack_module(song, bytes.data(), (int32_t)bytes.size());
    return bytes;
}

TEST(Win32Files, NamesInAnyScriptReachTheDiskAsTheyAre) {
    ASSERT_EQ(GetACP(), (UINT)CP_UTF8) << "the manifest's active code page is not in force";
    const fs::path dir = fs::temp_directory_path() / (L"quavlo ノート ноты " + std::to_wstring(GetCurrentProcessId()));
    ASSERT_TRUE(fs::create_directory(dir));
    const fs::path previous = fs::current_path();
    // "song.wav" and the header export's "temp.tmp" go to the current folder.
    fs::current_path(dir);
    const std::string folder = utf8(dir.wstring()) + "\\";

    snd_init_engine(&eng);
    snd_song song;
    snd_create_song(&eng, &song, 1);
    *snd_cell_field(song.patterns[0], 2, 0, 5) = 40;
    *snd_cell_flags(song.patterns[0], 2, 5) = 1;
    const std::string module = folder + "мелодия 曲.qvl";
    ASSERT_EQ(save_module(module.c_str(), &song), 1);
    // Saved once more: the new file goes over the old one.
    *snd_cell_field(song.patterns[0], 3, 0, 9) = 41;
    *snd_cell_flags(song.patterns[0], 3, 9) = 1;
    ASSERT_EQ(save_module(module.c_str(), &song), 1);
    EXPECT_EQ(read_wide(dir / L"мелодия 曲.qvl"), packed(&song));

    snd_song loaded = load_module(&eng, module.c_str());
    ASSERT_TRUE(snd_song_usable(&loaded));
    EXPECT_EQ(packed(&loaded), packed(&song));
    snd_free_song(&eng, &loaded);

    const std::string header = folder + "楽譜.h";
    char name[64];
    snd_header_name(header.c_str(), name, sizeof name);
    ASSERT_EQ(export_c_header(header.c_str(), name, &song), 1);
    const std::vector<uint8_t> text = read_wide(dir / L"楽譜.h");
    EXPECT_NE(std::string(text.begin(), text.end()).find("const byte ______[]=\n{\n"), std::string::npos)
        << "each byte of the name's UTF-8 becomes one '_'";

    wav_start(&eng);
    ASSERT_NE(eng.capture.wav_file, nullptr);
    std::vector<int16_t> block(SND_BLOCK, 1000);
    wav_append(&eng, block.data());
    wav_stop(&eng);
    EXPECT_EQ(read_wide(dir / L"song.wav").size(), 44u + 2u * SND_BLOCK);
    snd_free_song(&eng, &song);

    // Exactly these names, and no temporary file left behind.
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().wstring());
    std::sort(names.begin(), names.end());
    const std::vector<std::wstring> want = {L"song.wav", L"мелодия 曲.qvl", L"楽譜.h"};
    EXPECT_EQ(names, want);

    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

} // namespace
