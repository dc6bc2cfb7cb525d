#include "app/file_dialog.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Name(const char* path) {
    DialogStart s;
    SplitDialogPath(path, &s);
    return s.fileName;
}

std::string Folder(const char* path) {
    DialogStart s;
    SplitDialogPath(path, &s);
    return s.initialDir;
}

TEST(FileDialogStart, TheLastPathGivesTheProposedNameAndTheFolder) {
    EXPECT_EQ(Name("C:\\name.wav"), "name.wav");
    EXPECT_EQ(Folder("C:\\name.wav"), "C:");
    EXPECT_EQ(Name("D:\\music\\live\\song.wav"), "song.wav");
    EXPECT_EQ(Folder("D:\\music\\live\\song.wav"), "D:\\music\\live");
    EXPECT_EQ(Name("C:take.wav"), "take.wav");
    EXPECT_EQ(Folder("C:take.wav"), "C"); // the colon counts as the separator
    EXPECT_EQ(Name("plain.wav"), "plain.wav");
    EXPECT_EQ(Folder("plain.wav"), "");
    EXPECT_EQ(Name(""), "");
    EXPECT_EQ(Folder(""), "");
    EXPECT_EQ(Name("C:\\folder\\"), "");
    EXPECT_EQ(Folder("C:\\folder\\"), "C:\\folder");
}

TEST(FileDialogStart, OverlongPathsAreCutToTheDialogsBuffers) {
    std::string longName(400, 'n');
    std::string longFolder = "C:\\" + std::string(400, 'f') + "\\x.wav";
    EXPECT_EQ(Name(longName.c_str()).size(), size_t(kDialogPathChars - 1));
    EXPECT_EQ(Folder(longFolder.c_str()).size(), size_t(kDialogPathChars - 1));
    EXPECT_EQ(Name(longFolder.c_str()), "x.wav");
}

} // namespace
