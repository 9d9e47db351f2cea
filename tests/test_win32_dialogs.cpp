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
        // Saving asks before a file is replaced.
        EXPECT_EQ(record.Flags, (DWORD)(OFN_NOCHANGEDIR | (c.save ? OFN_OVERWRITEPROMPT : 0)));
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

// The dialogs start in the song's folder as a full path, or in the working directory when there is none.
TEST(Win32Dialogs, StartFolderIsAFullPath) {
    char cwd[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, cwd), 0u);
    char dir[MAX_PATH];
    ASSERT_EQ(os_dialog_start_dir(dir, MAX_PATH, nullptr), 1);
    EXPECT_STREQ(dir, cwd);
    ASSERT_EQ(os_dialog_start_dir(dir, MAX_PATH, ""), 1);
    EXPECT_STREQ(dir, cwd);
    ASSERT_EQ(os_dialog_start_dir(dir, MAX_PATH, "C:\\Music\\"), 1);
    EXPECT_STREQ(dir, "C:\\Music\\");
    ASSERT_EQ(os_dialog_start_dir(dir, MAX_PATH, "songs\\"), 1);
    std::string want = cwd;
    if (want.back() != '\\') want += '\\';
    EXPECT_EQ(std::string(dir), want + "songs\\");

    // A buffer too small for the whole path gives no folder rather than a cut one.
    char small[8] = "xxxxxxx";
    EXPECT_EQ(os_dialog_start_dir(small, (int32_t)sizeof small, "C:\\Music\\Songs\\"), 0);
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
