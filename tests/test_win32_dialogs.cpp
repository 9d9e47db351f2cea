// The Win32 file dialogs' plain parts, run under Wine: the dialog record for the open and save dialogs, the
// program's directory cut from its path, and the save type read from the chosen filter.
#include "dialogs_win32.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

// A filter list up to and including its closing second NUL.
std::string filter_list(const char* list) {
    size_t n = 0;
    while (list[n] || list[n + 1]) n++;
    return std::string(list, n + 2);
}

TEST(Win32Dialogs, RecordOfTheOpenAndSaveDialogs) {
    struct Case {
        int save;
        std::string filters;
    };
    const Case cases[] = {
        {0, std::string("Quavlo module\0*.qvl\0\0", 21)},
        {1, std::string("Quavlo module\0*.qvl\0C header file\0*.h\0\0", 39)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.save ? "save" : "open");
        char path[256] = "";
        char title[OS_DIALOG_CHARS] = "";
        char dir[] = "C:\\Music\\";
        OPENFILENAMEA record;
        memset(&record, 0x5A, sizeof record); // every field the fill does not name must come out zero
        const HWND owner = (HWND)(uintptr_t)0x1234;
        os_dialog_fill(&record, c.save, owner, path, 256, title, dir);
        EXPECT_EQ(record.lStructSize, sizeof(OPENFILENAMEA));
        EXPECT_EQ(record.hwndOwner, owner);
        EXPECT_EQ(filter_list(record.lpstrFilter), c.filters);
        EXPECT_EQ(record.nFilterIndex, 1u);
        EXPECT_EQ(record.lpstrFile, path);
        EXPECT_EQ(record.nMaxFile, 256u);
        EXPECT_EQ(record.lpstrFileTitle, title);
        EXPECT_EQ(record.nMaxFileTitle, (DWORD)OS_DIALOG_CHARS);
        EXPECT_EQ(record.lpstrInitialDir, dir);
        EXPECT_STREQ(record.lpstrDefExt, "qvl");
        EXPECT_EQ(record.Flags, (DWORD)OFN_NOCHANGEDIR);
        EXPECT_EQ(record.hInstance, nullptr);
        EXPECT_EQ(record.lpstrCustomFilter, nullptr);
        EXPECT_EQ(record.nMaxCustFilter, 0u);
        EXPECT_EQ(record.lpstrTitle, nullptr);
        EXPECT_EQ(record.nFileOffset, 0);
        EXPECT_EQ(record.nFileExtension, 0);
        EXPECT_EQ(record.lCustData, 0);
        EXPECT_EQ(record.lpfnHook, nullptr);
        EXPECT_EQ(record.lpTemplateName, nullptr);
        EXPECT_EQ(record.FlagsEx, 0u);
    }
}

TEST(Win32Dialogs, NoStartDirectoryLeavesTheChoiceToTheDialog) {
    char path[16] = "";
    OPENFILENAMEA record;
    os_dialog_fill(&record, 1, nullptr, path, 16, nullptr, "");
    EXPECT_EQ(record.lpstrInitialDir, nullptr);
    EXPECT_EQ(record.lpstrFileTitle, nullptr);
    EXPECT_EQ(record.nMaxFileTitle, 0u);
    os_dialog_fill(&record, 0, nullptr, path, 16, nullptr, nullptr);
    EXPECT_EQ(record.lpstrInitialDir, nullptr);
}

TEST(Win32Dialogs, DirectoryOfAProgramPath) {
    const struct {
        const char* path;
        const char* dir;
    } cases[] = {
        {"C:\\Games\\QuavloII\\quavlo.exe", "C:\\Games\\QuavloII\\"},
        {"Z:\\quavlo.exe", "Z:\\"},
        {"C:\\tools.v2\\my.quavlo.exe", "C:\\tools.v2\\"},
        {"\\\\server\\share\\quavlo.exe", "\\\\server\\share\\"},
        {"C:\\Games\\", "C:\\Games\\"},
        {"quavlo.exe", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        char buffer[64];
        strcpy(buffer, c.path);
        os_dir_of_path(buffer);
        EXPECT_STREQ(buffer, c.dir) << c.path;
    }
}

TEST(Win32Dialogs, ProgramDirectoryIsWhereThisTestRuns) {
    char full[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, full, MAX_PATH);
    ASSERT_GT(n, 0u);
    char dir[MAX_PATH];
    ASSERT_EQ(os_program_dir(dir, MAX_PATH), 1);
    const std::string d = dir;
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d.back(), '\\');
    EXPECT_EQ(std::string(full).substr(0, d.size()), d);
    EXPECT_EQ(std::string(full).substr(d.size()), "test_win32_dialogs.exe");

    // A buffer too small for the whole path gives no directory rather than a cut one.
    char small[8] = "xxxxxxx";
    EXPECT_EQ(os_program_dir(small, (int32_t)sizeof small), 0);
    EXPECT_STREQ(small, "");
}

TEST(Win32Dialogs, SaveTypeFollowsTheChosenFilter) {
    EXPECT_EQ(os_save_type_of_filter(1), OS_FILE_MODULE);
    EXPECT_EQ(os_save_type_of_filter(2), OS_FILE_HEADER);
    // A filter index the list does not have (0: a custom filter) saves a module.
    EXPECT_EQ(os_save_type_of_filter(0), OS_FILE_MODULE);
    EXPECT_EQ(os_save_type_of_filter(3), OS_FILE_MODULE);
}

} // namespace
