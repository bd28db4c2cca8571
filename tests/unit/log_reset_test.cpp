#include "log/log_reset.h"

#include <gtest/gtest.h>

TEST(LogReset, AnyFailureToMoveButAMissingFileEmptiesTheOldLogInPlace) {
    EXPECT_EQ(AfterMovingAside(true, 0), LogResetStep::kDeleteMovedFile);
    EXPECT_EQ(AfterMovingAside(false, 2), LogResetStep::kNothing);        // no such file
    EXPECT_EQ(AfterMovingAside(false, 3), LogResetStep::kNothing);        // no such folder
    EXPECT_EQ(AfterMovingAside(false, 32), LogResetStep::kEmptyInPlace);  // sharing violation
    EXPECT_EQ(AfterMovingAside(false, 5), LogResetStep::kEmptyInPlace);   // delete pending, denied
    EXPECT_EQ(AfterMovingAside(false, 183), LogResetStep::kEmptyInPlace); // the name is taken
}

TEST(LogReset, OnlyNamesOfMovedLogsCountAsLeftovers) {
    EXPECT_EQ(MovedAsideLogName(4242, 18446744073709551615u),
              L"Quellstone.log.4242-18446744073709551615.old");
    EXPECT_TRUE(IsMovedAsideLogName(MovedAsideLogName(0, 0)));
    // A player's own files beside the log, or in the game folder.
    for (const wchar_t* name : {L"Quellstone.log", L"Quellstone.log.old", L"Quellstone.log.1-.old",
                                L"Quellstone.log.backup.old", L"Quellstone.log.1-2x.old",
                                L"Quellstone.log.12.old", L"Quellstone.ini.1-2.old"}) {
        EXPECT_FALSE(IsMovedAsideLogName(name));
    }
}
