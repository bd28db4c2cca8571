// The plugin as the loader and the player see it: its exports, the host check,
// a first and a second start in a game, and the windows it must not touch.
#include "wine_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>

TEST(Exports, RecordAndVersionResourceAreWhatLoaderAndPlayersRead) {
    std::wstring dll = BuildFolder() + L"\\Quellstone.dll";
    HMODULE plugin = LoadLibraryW(dll.c_str()); // nothing of ours runs until the load entry
    ASSERT_NE(plugin, nullptr);
    // The loader reads these bytes before anything of ours runs: checked
    // against a layout written out by hand.
    unsigned char expected[604] = {1, 0, 0, 0, 1};
    std::memcpy(expected + 8, "Duskhaven Quellstone", 20);
    std::memcpy(expected + 264, "Wrenfold7", 9);
    expected[520] = 4;
    expected[524] = 8;
    std::memcpy(expected + 528, "\xE0\x0D\x0F\x01", 4); // game version 1.15.222.0
    auto record = reinterpret_cast<const void*>(GetProcAddress(plugin, "VELQPlugin_Version"));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::memcmp(record, expected, 604), 0);
    EXPECT_NE(GetProcAddress(plugin, "VELQPlugin_Load"), nullptr);
    EXPECT_NE(GetProcAddress(plugin, "VELQPlugin_Arm"), nullptr);
    FreeLibrary(plugin);

    std::vector<char> info(GetFileVersionInfoSizeW(dll.c_str(), nullptr));
    wchar_t* name = nullptr;
    UINT length = 0;
    ASSERT_TRUE(GetFileVersionInfoW(dll.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                   reinterpret_cast<void**>(&name), &length);
    EXPECT_EQ(fs::path(name ? name : L"").string(), QS_VERSION);
}

using Load = GameTest;

TEST_F(Load, DeclinedHostsGetTheErrorBoxAndNothingElse) {
    const std::string oldLog = "[2020-01-01 00:00:00] [QS] old run\r\n";
    fs::create_directories(LogFolder());
    WriteBytes(LogFile(), oldLog);
    // The sub-build differs: the old log stays as it was. Then no host at
    // all, and no log folder yet: none is made. (Each run takes as long as
    // the box, a real window, takes to show before the stand-in closes it.)
    for (const wchar_t* host : {L"0x00020121", L"null"}) {
        GameRun run = RunGame(game, L"--window --host-version " + std::wstring(host), "0");
        SCOPED_TRACE(run.output);
        EXPECT_EQ(run.Value("box-call"),
                  "owner=0000000000000000 type=0x10 caption=\"Incompatible VELQ\" "
                  "text=\"Duskhaven Quellstone requires VELQ 0.2.18.\\n.\"");
        EXPECT_EQ(run.Value("threads-after"), run.Value("threads-before"));
        EXPECT_EQ(run.Value("window-after"), run.Value("window-before"));
        if (std::wstring(host) != L"null") {
            EXPECT_EQ(ReadBytes(LogFile()), oldLog);
            fs::remove_all(DocumentsFolder() + L"\\My Games");
        } else {
            EXPECT_FALSE(fs::exists(DocumentsFolder() + L"\\My Games"));
        }
    }
    EXPECT_FALSE(fs::exists(Ini()));
}

// A folder of length characters below parent, made of folders of at most
// 200 characters each (a name's limit is 255).
static std::wstring DeepFolder(const std::wstring& parent, std::size_t length, wchar_t fill) {
    std::wstring folder = parent;
    while (folder.size() < length) {
        std::size_t name = std::min<std::size_t>(200, length - folder.size() - 1);
        folder += L"\\" + std::wstring(std::max<std::size_t>(name, 1), fill);
    }
    return folder;
}

// Folders deep enough that Windows refuses their paths in the plain form
// (the stand-in holds the plugin to that): the settings file's path and the
// log's are over 260 characters, their folders' over 248. The game's own
// path stays below 260, as a program must to be started at all.
TEST_F(Load, FirstAndSecondStartInDeepFoldersOutsideTheAnsiCodePage) {
    MakeGameFolder(DeepFolder(L"Игра 游戏", 240 - TestsFolder().size() - 1, L'g'));
    ASSERT_GE(Ini().size(), 270u);
    std::wstring deep = (fs::temp_directory_path() / L"qs-deep-documents").wstring();
    std::wstring documents = DeepFolder(deep, 230, L'd'); // the shell's query ends at 259
    fs::create_directories(documents);
    DocumentsRedirect redirect(documents);
    ASSERT_GE(LogFile().size(), 270u);
    std::wstring plugin = PluginElsewhere(); // not even Data exists
    fs::create_directories(LogFolder());
    WriteBytes(LogFile(), "[2020-01-01 00:00:00] [QS] old run\r\n");
    // What an earlier start moved aside and could not delete goes too.
    WriteBytes(LogFolder() + L"\\Quellstone.log.12-345.old", "held");
    // A framed window with bits that must survive: WS_VISIBLE, WS_CLIPSIBLINGS
    // (which the system adds anyway), WS_CLIPCHILDREN, WS_EX_APPWINDOW,
    // WS_EX_ACCEPTFILES. The list has an entry, but nobody arms the worker.
    GameRun run =
        RunGame(game, plugin + L"--window --style 0x16CF0000 --exstyle 0x00060311 "
                               L"--rect 300,200,800,600 --entries 5 --virtual-clock --run-ms 1500");
    SCOPED_TRACE(run.output);
    EXPECT_EQ(run.Value("window-before"),
              "style=0x16CF0000 exstyle=0x00060311 rect=300,200,1100,800");
    EXPECT_EQ(run.Value("window-after"), "style=0x16000000 exstyle=0x00040010 rect=0,0,800,600");
    EXPECT_EQ(run.Value("box-call"), "(missing)");
    EXPECT_EQ(run.Number("threads-after"), run.Number("threads-before") + 3);

    std::vector<std::string> log = LogMessages();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "[QS] Borderless applied."); // the old run's lines are gone
    EXPECT_EQ(Count(log, "[QS] Borderless applied."), 1u);
    EXPECT_EQ(Count(log, "[QS] All threads started."), 1u);
    auto created = std::find(log.begin(), log.end(),
                             "[QS] Created default INI: Iter=10000, Sleep=5, Overlay=1");
    auto overlay = std::find(log.begin(), log.end(), "[QS] Overlay batch enabled.");
    EXPECT_LT(created, overlay); // the worker's own line comes after the settings
    EXPECT_NE(overlay, log.end());
    EXPECT_EQ(Count(log, "[QS] CPU worker active"), 0u);
    EXPECT_EQ(ReadBytes(Ini()), kDefaultIni);
    EXPECT_FALSE(fs::exists(LogFolder() + L"\\Quellstone.log.12-345.old"));
    EXPECT_EQ(run.Value("long-paths"), "refused=0");

    // The next start reads the file; a frameless window away from the origin
    // (a second monitor) keeps its styles and moves.
    run = RunGame(game, plugin + L"--window --style 0x94000000 --exstyle 0 --rect -700,150,640,480 "
                                 L"--virtual-clock");
    EXPECT_EQ(run.Value("window-after"), "style=0x94000000 exstyle=0x00000000 rect=0,0,640,480");
    log = LogMessages();
    EXPECT_EQ(Count(log, "[QS] INI loaded: Iter=10000, Sleep=5, Overlay=1"), 1u);
    EXPECT_EQ(Count(log, "[QS] Borderless applied."), 1u);
    EXPECT_EQ(ReadBytes(Ini()), kDefaultIni);
    EXPECT_EQ(run.Value("long-paths"), "refused=0");
    RemoveTree(deep);
}

// Many games make their window on the main thread and load plugins on
// another while the main thread waits. The change is made on the window's
// thread the next time it takes a message, from the window as it is then,
// however long after the load that is: on Windows a hook dies with the thread
// that set it, and the stand-in frees it then too.
TEST_F(Load, AWindowOnAnotherThreadIsChangedFromWhatTheGameMadeOfItMeanwhile) {
    // The loader's thread frees the plugin right after the load, as a loader
    // that takes its plugins for done may, and ends; the window's thread,
    // which waited for it without taking messages, stays busy 1.5 s (a
    // loading screen), then enables its window, which it kept disabled while
    // loading, and makes it larger, before it takes its next message. Both
    // survive, and the plugin runs on: the change is made after the free,
    // and the armed worker passes. An overlay hooked the window's messages
    // before the load: the plugin's hook passes the message on to it, and
    // the overlay keeps it until the plugin has removed its hook and its
    // thread has ended. (The loading screen is real time, longer than the
    // load waits for the window; the run after it is on the stand-in's clock.)
    GameRun run = RunGame(game, L"--window --style 0x1CCF0000 --loader-thread waits "
                                L"--free-after-load --arm-after-ms 0 --entries 1 "
                                L"--busy-after-load-ms 1500 --style-after-load 0x14CF0000 "
                                L"--rect-after-load 50,40,800,600 --overlay-hook "
                                L"--virtual-clock --run-ms 1500");
    SCOPED_TRACE(run.output);
    EXPECT_EQ(run.Value("freed"), "1 mapped=1");
    EXPECT_LT(run.Number("load-us"), 3000000) << "the load waited for the window's thread";
    EXPECT_EQ(run.Value("window-end"), "style=0x14000000 exstyle=0x00000000 rect=0,0,800,600");
    EXPECT_GE(Count(LogMessages(), "[QS] CPU worker active: "), 1u);
    // The hook was the plugin's to remove, and it did, before its thread
    // ended: so the rule was in place, and met.
    EXPECT_EQ(run.Value("hook-freed-with-thread"), "still-set=0");
    EXPECT_EQ(run.Value("overlay-hook"), "passed-on=1");
    std::vector<std::string> log = LogMessages();
    EXPECT_EQ(Count(log, "[QS] Borderless applied."), 1u);
    EXPECT_EQ(Count(log, "[QS] All threads started."), 1u);

    // A window that the game destroys before it takes a message again gets no
    // change and no line, the game goes on, and nothing of the plugin's is
    // left waiting for it: only the three workers remain.
    run = RunGame(game, L"--window --loader-thread waits --destroy-after-load --virtual-clock");
    EXPECT_EQ(run.Value("window-destroyed"), "1");
    EXPECT_EQ(run.Number("threads-after"), run.Number("threads-before") + 3);
    log = LogMessages();
    EXPECT_EQ(Count(log, "[QS] Borderless applied."), 0u);
    EXPECT_EQ(Count(log, "[QS] All threads started."), 1u);

    // The system refuses the hook that carries the change: the window stays
    // as the game made it, with no line, and the game goes on.
    run = RunGame(game, L"--window --loader-thread waits --fail-hook --virtual-clock");
    EXPECT_EQ(run.Value("window-end"), run.Value("window-before"));
    log = LogMessages();
    EXPECT_EQ(Count(log, "[QS] Borderless applied."), 0u);
    EXPECT_EQ(Count(log, "[QS] All threads started."), 1u);

    // A thread that takes messages while it waits for the loader answers
    // while the load waits for it, and does nothing but the change: with
    // every file the plugin opens slowed down (Documents behind a sync
    // client), the game's window thread opens none. When the load ended
    // before its wait ran out, the change was made within it, so its line
    // comes first. (On a machine so busy that the wait ran out, it comes
    // later, once.)
    run = RunGame(game, L"--window --loader-thread pumps --slow-file-opens-ms 300 --virtual-clock");
    EXPECT_EQ(run.Value("window-end"), "style=0x14000000 exstyle=0x00000000 rect=0,0,640,480");
    int opens = -1, onWindowThread = -1;
    sscanf(run.Value("file-opens").c_str(), "all=%d window-thread=%d", &opens, &onWindowThread);
    EXPECT_GT(opens, 0) << "the plugin's opens were not counted";
    EXPECT_EQ(onWindowThread, 0);
    log = LogMessages();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(Count(log, "[QS] Borderless applied."), 1u);
    if (run.Number("load-us") < 450000) {
        EXPECT_EQ(log.front(), "[QS] Borderless applied.");
        EXPECT_EQ(run.Value("window-after"), run.Value("window-end"));
    }

    // A queue too full to take the plugin's wake-up message still gives the
    // thread messages to take: the change is made at the next of them.
    run = RunGame(game, L"--window --loader-thread pumps --post-quota --virtual-clock");
    EXPECT_EQ(run.Value("window-end"), "style=0x14000000 exstyle=0x00000000 rect=0,0,640,480");
    EXPECT_EQ(Count(LogMessages(), "[QS] Borderless applied."), 1u);
}

// On a machine whose cores the game keeps busy, Windows runs the workers
// (below the game's priority) only now and then; the stand-in holds each
// one's first file open that long. Had a worker the log's lock in its hands
// then, the loader's last line would wait for it: the stand-in lets such a
// worker take the lock first wherever one could.
TEST_F(Load, TheLoadNeverWaitsForAWorkerStarvedBelowTheGamesPriority) {
    WriteBytes(Ini(), kDefaultIni); // the worker's first open is then the log's
    // On the stand-in's clock the run ends once each worker has taken its
    // first step, however long it was held.
    GameRun run = RunGame(game, L"--starve-workers-ms 1500 --virtual-clock");
    SCOPED_TRACE(run.output);
    EXPECT_LT(run.Number("load-us"), 1500000) << "the load waited for a starved worker";
    int held = 0;
    sscanf(run.Value("starved").c_str(), "held=%d", &held);
    EXPECT_GE(held, 1) << "no worker ran below normal priority";
    std::istringstream priorities(run.Value("plugin-thread-priorities"));
    int workers = 0;
    for (int priority; priorities >> priority; ++workers) {
        EXPECT_LT(priority, run.Number("game-thread-priority"));
    }
    EXPECT_EQ(workers, 3);
    std::vector<std::string> log = LogMessages();
    EXPECT_EQ(Count(log, "[QS] All threads started."), 1u);
    EXPECT_EQ(Count(log, "[QS] INI loaded: Iter=10000, Sleep=5, Overlay=1"), 1u);
    EXPECT_EQ(Count(log, "[QS] Overlay batch enabled."), 1u);
}

// A program of its own whose window takes its messages, as Explorer or a
// launcher does, so that any change made to it would go through.
struct OtherProgramWindow {
    OtherProgramWindow() {
        thread = std::thread([this] {
            threadId = GetCurrentThreadId();
            window = CreateWindowExW(0, L"STATIC", L"Duskhaven", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                     50, 60, 300, 200, nullptr, nullptr, nullptr, nullptr);
            SetEvent(ready);
            MSG message;
            while (window != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
                DispatchMessageW(&message);
            }
        });
        WaitForSingleObject(ready, 10000);
    }
    ~OtherProgramWindow() {
        PostMessageW(window, WM_CLOSE, 0, 0); // DefWindowProc destroys it; then the loop ends
        PostThreadMessageW(threadId, WM_QUIT, 0, 0);
        thread.join();
        CloseHandle(ready);
    }
    std::string Describe() const {
        RECT rect = {};
        GetWindowRect(window, &rect);
        char text[96];
        std::snprintf(text, sizeof text, "style=0x%08lX exstyle=0x%08lX rect=%ld,%ld,%ld,%ld",
                      GetWindowLongW(window, GWL_STYLE), GetWindowLongW(window, GWL_EXSTYLE),
                      rect.left, rect.top, rect.right, rect.bottom);
        return text;
    }
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HWND window = nullptr;
    DWORD threadId = 0;
    std::thread thread;
};

// Another program's framed "Duskhaven" window (Explorer showing the game's
// folder, say) lies above the game's own when the plugin loads: the game's is
// the one changed, the other left as it was.
// This test program plays the other program, making its window once the
// game's is up; the game loads the plugin once that window is the first of
// the title in the z-order.
TEST_F(Load, TheGamesOwnWindowIsChangedThoughAnotherProgramsOfTheSameTitleLiesAbove) {
    std::optional<OtherProgramWindow> other;
    std::string before;
    std::thread play([&] {
        HWND own = nullptr;
        for (ULONGLONG end = GetTickCount64() + 20000; !own && GetTickCount64() < end; Sleep(10)) {
            own = FindWindowW(L"DuskhavenStandinWindow", L"Duskhaven");
        }
        if (own != nullptr) {
            other.emplace();
            before = other->Describe();
        }
    });
    GameRun run = RunGame(game, L"--window --wait-before-load-ms 20000 --until-other-window");
    play.join();
    ASSERT_TRUE(other.has_value()) << "the game's window never showed\n" << run.output;
    ASSERT_EQ(run.Value("other-window"), "1")
        << "the other window was not above the game's before the load\n"
        << run.output;
    EXPECT_EQ(run.Value("window-end"), "style=0x14000000 exstyle=0x00000000 rect=0,0,640,480");
    EXPECT_EQ(Count(LogMessages(), "[QS] Borderless applied."), 1u);
    EXPECT_EQ(other->Describe(), before);

    // A game window whose title differs from "Duskhaven" is not the game's
    // window: with only the other program's titled so, nothing is changed.
    run = RunGame(game, L"--window --title Duskhaven2");
    EXPECT_EQ(run.Value("window-after"), run.Value("window-before"));
    std::vector<std::string> log = LogMessages();
    EXPECT_EQ(Count(log, "[QS] Borderless applied."), 0u);
    EXPECT_EQ(Count(log, "[QS] All threads started."), 1u);
    EXPECT_EQ(other->Describe(), before);
}
