// The game window made frameless at the screen origin.
#include "wine_support.h"

#include <gtest/gtest.h>

using Window = GameTest;

TEST_F(Window, FramedWindowLosesOnlyItsFrameAndMovesToTheOrigin) {
    // Overlapped window with a few unrelated bits that must survive:
    // WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN (the system adds
    // WS_CLIPSIBLINGS to every top-level window anyway) and
    // WS_EX_APPWINDOW | WS_EX_ACCEPTFILES.
    GameRun run = RunGame(game, L"--window --style 0x16CF0000 --exstyle 0x00060311 "
                                L"--rect 300,200,800,600");
    SCOPED_TRACE(run.output);
    EXPECT_EQ(run.Value("window-before"),
              "style=0x16CF0000 exstyle=0x00060311 rect=300,200,1100,800");
    EXPECT_EQ(run.Value("window-after"), "style=0x16000000 exstyle=0x00040010 rect=0,0,800,600");
    EXPECT_EQ(Matching(LogMessages(), "[QS] Borderless applied.").size(), 1u);
    EXPECT_EQ(LogMessages().front(), "[QS] Borderless applied."); // the run's first line
}

TEST_F(Window, FramelessWindowAwayFromTheOriginIsMovedAndKeepsItsStyles) {
    GameRun run =
        RunGame(game, L"--window --style 0x94000000 --exstyle 0x0 --rect -700,150,640,480");
    SCOPED_TRACE(run.output);
    EXPECT_EQ(run.Value("window-after"), "style=0x94000000 exstyle=0x00000000 rect=0,0,640,480");
    EXPECT_EQ(Matching(LogMessages(), "[QS] Borderless applied.").size(), 1u);
}

TEST_F(Window, WindowWithAnotherTitleIsLeftAlone) {
    for (const wchar_t* title : {L"Duskhaven2", L"Duskhave", L"\"Dusk haven\""}) {
        GameRun run = RunGame(game, std::wstring(L"--window --title ") + title);
        SCOPED_TRACE(run.output);
        EXPECT_EQ(run.Value("load"), "1");
        EXPECT_EQ(run.Value("window-after"), run.Value("window-before"));
        std::vector<std::string> log = LogMessages();
        EXPECT_TRUE(Matching(log, "[QS] Borderless applied.").empty());
        EXPECT_EQ(Matching(log, "[QS] All threads started.").size(), 1u);
    }
}

TEST_F(Window, AnotherProgramsWindowWithTheSameTitleIsLeftAlone) {
    // This test program plays Explorer showing the game's folder.
    HWND other = CreateWindowExW(0, L"STATIC", L"Duskhaven", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50,
                                 60, 300, 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    LONG style = GetWindowLongW(other, GWL_STYLE);
    RECT before = {}, after = {};
    GetWindowRect(other, &before);

    GameRun run = RunGame(game, L"--window --rect 300,200,800,600");
    EXPECT_EQ(run.Value("window-after"), "style=0x14000000 exstyle=0x00000000 rect=0,0,800,600");
    RunGame(game, L""); // only the other program's window
    EXPECT_TRUE(Matching(LogMessages(), "[QS] Borderless applied.").empty());

    GetWindowRect(other, &after);
    EXPECT_EQ(GetWindowLongW(other, GWL_STYLE), style);
    EXPECT_TRUE(EqualRect(&before, &after));
    DestroyWindow(other);
}
