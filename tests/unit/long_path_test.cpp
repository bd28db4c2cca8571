#include "log/long_path.h"

#include <gtest/gtest.h>

// Windows takes an extended-length path as it is, so only a full path may get
// the prefix, and one that has it, or names a device, must not get it twice.
TEST(LongPath, OnlyFullPathsTakeTheExtendedFormAndOnlyOnce) {
    EXPECT_EQ(ExtendedLengthForm(L"C:\\Games\\Duskhaven"), L"\\\\?\\C:\\Games\\Duskhaven");
    EXPECT_EQ(ExtendedLengthForm(L"z:\\"), L"\\\\?\\z:\\");
    EXPECT_EQ(ExtendedLengthForm(L"\\\\nas\\share\\Documents"),
              L"\\\\?\\UNC\\nas\\share\\Documents");
    for (const wchar_t* unchanged :
         {L"\\\\?\\C:\\Games", L"\\\\?\\UNC\\nas\\share", L"\\\\.\\pipe\\x", L"Quellstone.log",
          L"C:relative", L"\\rooted", L"\\\\", L"\\\\\\x", L"", L"1:\\x"}) {
        EXPECT_EQ(ExtendedLengthForm(unchanged), unchanged);
    }
}

// The folder chain is made below the root only: a drive, or a share's server
// and share name, are never folders to make.
TEST(LongPath, TheRootOfAnExtendedPathEndsAfterTheDriveOrTheShare) {
    EXPECT_EQ(ExtendedRootLength(L"\\\\?\\C:\\Games\\Duskhaven"), 7u);
    EXPECT_EQ(ExtendedRootLength(L"\\\\?\\UNC\\nas\\share\\Documents"), 18u);
    EXPECT_EQ(ExtendedRootLength(L"\\\\?\\UNC\\nas\\share\\"), 18u);
    for (const wchar_t* none : {L"C:\\Games", L"\\\\?\\UNC\\nas\\share", L"\\\\?\\UNC\\nas",
                                L"\\\\?\\UNC\\\\share\\x", L"\\\\?\\C:", L"Quellstone.log"}) {
        EXPECT_EQ(ExtendedRootLength(none), 0u) << testing::PrintToString(std::wstring(none));
    }
}

TEST(LongPath, ASiblingLiesInTheSameFolderOrStandsAlone) {
    EXPECT_EQ(SiblingPath(L"\\\\?\\C:\\Logs\\Quellstone.log", L"Quellstone.log.1-2.old"),
              L"\\\\?\\C:\\Logs\\Quellstone.log.1-2.old");
    EXPECT_EQ(SiblingPath(L"Quellstone.ini", L"Quellstone.tmp"), L"Quellstone.tmp");
}
