#include "standin_options.h"

#include <cwchar>
#include <sstream>

#include "standin_report.h"

static bool ParseNumber(const std::wstring& text, long long* value) {
    wchar_t* end = nullptr;
    *value = std::wcstoll(text.c_str(), &end, 0); // decimal, or hex with 0x
    return !text.empty() && end != nullptr && *end == L'\0';
}

static bool ParseList(const std::wstring& text, std::vector<long long>* values) {
    std::wstringstream stream(text);
    std::wstring item;
    while (std::getline(stream, item, L',')) {
        long long value = 0;
        if (!ParseNumber(item, &value)) {
            return false;
        }
        values->push_back(value);
    }
    return true;
}

static void ExePlugin(StandinOptions* options) {
    wchar_t exe[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
    std::wstring folder = exe;
    folder.resize(folder.find_last_of(L'\\') + 1);
    options->pluginPath = folder + L"Data\\VELQ\\Plugins\\Quellstone.dll";
}

bool ParseStandinOptions(int argc, wchar_t** argv, StandinOptions* options, std::string* error) {
    ExePlugin(options);
    for (int i = 1; i < argc; ++i) {
        std::wstring name = argv[i];
        auto value = [&](std::wstring* out) {
            if (i + 1 >= argc) {
                return false;
            }
            *out = argv[++i];
            return true;
        };
        std::wstring text;
        long long number = 0;
        std::vector<long long> list;
        bool ok = true;
        if (name == L"--window") {
            options->window = true;
        } else if (name == L"--virtual-clock") {
            options->clock.virtualTime = true;
        } else if (name == L"--report-stamps") {
            options->clock.reportStamps = options->clock.virtualTime = true;
        } else if (name == L"--until-other-window") {
            options->untilOtherWindow = true;
        } else if (name == L"--exit-normally") {
            options->exitNormally = true;
        } else if (name == L"--bare") {
            options->bare = true;
        } else if (name == L"--present-last") {
            options->presentLast = true;
        } else if (name == L"--present-first") {
            options->presentFirst = true;
        } else if (name == L"--no-entry-present") { // undoes the two above
            options->presentLast = options->presentFirst = false;
        } else if (name == L"--fail-process-query") {
            options->faults.failProcessQuery = true;
        } else if (name == L"--entries-on-guard-page") {
            options->entriesOnGuardPage = true;
        } else if (name == L"--destroy-after-load") {
            options->destroyAfterLoad = true;
        } else if (name == L"--fail-documents") {
            options->faults.failDocuments = true;
        } else if (name == L"--fail-exe-path") {
            options->faults.failExePath = true;
        } else if (name == L"--fail-hook") {
            options->faults.failHook = true;
        } else if (name == L"--overlay-hook") {
            options->overlayHook = true;
        } else if (name == L"--free-after-load") {
            options->freeAfterLoad = true;
        } else if (name == L"--post-quota") {
            options->postQuota = true;
        } else if (name == L"--ini-write-fails") {
            options->files.iniWriteFails = true;
        } else if (name == L"--ini-look-fails") {
            options->files.iniLookFails = true;
        } else if (!value(&text)) {
            ok = false;
        } else if (name == L"--plugin") {
            options->pluginPath = text;
        } else if (name == L"--host-version") {
            options->hostIsNull = text == L"null";
            ok = options->hostIsNull || ParseNumber(text, &number);
            options->hostVersion = static_cast<std::uint32_t>(number);
        } else if (name == L"--game-version") {
            ok = ParseNumber(text, &number);
            options->gameVersion = static_cast<std::uint32_t>(number);
        } else if (name == L"--title") {
            options->title = text;
        } else if (name == L"--style" || name == L"--exstyle") {
            ok = ParseNumber(text, &number);
            (name == L"--style" ? options->style : options->exStyle) =
                static_cast<std::uint32_t>(number);
        } else if (name == L"--rect" || name == L"--rect-after-load") { // x,y,width,height
            ok = ParseList(text, &list) && list.size() == 4;
            if (ok) {
                RECT rect = {LONG(list[0]), LONG(list[1]), LONG(list[0] + list[2]),
                             LONG(list[1] + list[3])};
                (name == L"--rect" ? options->rect : options->rectAfterLoad) = rect;
                options->rectAfterLoadSet |= name == L"--rect-after-load";
            }
        } else if (name == L"--busy-after-load-ms") {
            ok = ParseNumber(text, &number);
            options->busyAfterLoadMs = int(number);
        } else if (name == L"--starve-workers-ms") {
            ok = ParseNumber(text, &number) && number > 0;
            options->starveWorkersMs = int(number);
        } else if (name == L"--slow-file-opens-ms") {
            ok = ParseNumber(text, &number);
            options->files.slowOpenMs = int(number);
        } else if (name == L"--ini-appears") { // its text, "\n" for a line end
            options->files.iniAppears = true;
            options->files.iniText = Narrow(text);
            for (std::size_t at; (at = options->files.iniText.find("\\n")) != std::string::npos;) {
                options->files.iniText.replace(at, 2, "\r\n");
            }
        } else if (name == L"--leak-kb-per-query") {
            ok = ParseNumber(text, &number);
            options->faults.leakKbPerQuery = int(number);
        } else if (name == L"--style-after-load") {
            ok = ParseNumber(text, &options->styleAfterLoad);
        } else if (name == L"--wait-before-load-ms") {
            ok = ParseNumber(text, &number);
            options->waitBeforeLoadMs = int(number);
        } else if (name == L"--run-ms") {
            ok = ParseNumber(text, &number);
            options->runMs = int(number);
        } else if (name == L"--arm-after-ms") {
            ok = ParseNumber(text, &number);
            options->armAfterMs = int(number);
        } else if (name == L"--entries") {
            ok = ParseList(text, &list);
            options->entries.assign(list.begin(), list.end());
        } else if (name == L"--list-size") {
            ok = ParseNumber(text, &options->listSize) && options->listSize >= 0 &&
                 options->listSize <= 0xFFFFFFFFll;
        } else if (name == L"--frame-work-units") {
            ok = ParseNumber(text, &options->frames.workUnits);
        } else if (name == L"--busy-threads") {
            ok = ParseNumber(text, &number);
            options->frames.busyThreads = int(number);
        } else if (name == L"--calibrate-frame-us") {
            ok = ParseNumber(text, &number);
            options->calibrateFrameUs = int(number);
        } else if (name == L"--toggle-ms") {
            ok = ParseNumber(text, &number);
            options->toggleMs = int(number);
        } else if (name == L"--loader-thread") {
            options->loaderThread = text;
            ok = text == L"waits" || text == L"pumps";
        } else if (name == L"--fail-thread") {
            ok = ParseNumber(text, &number);
            options->faults.failThreadCall = int(number);
        } else if (name == L"--fail-trim") {
            ok = ParseNumber(text, &number);
            options->faults.failTrimCall = int(number);
        } else if (name == L"--free-bytes") { // or "fail"
            ok = text == L"fail" || ParseNumber(text, &options->faults.freeBytes);
            options->faults.freeBytes = text == L"fail" ? -1 : options->faults.freeBytes;
        } else if (name == L"--tick-start") {
            ok = ParseNumber(text, &options->clock.tickStart);
        } else if (name == L"--game-speed") { // the plugin's clock and its sleeps
            ok = ParseNumber(text, &options->clock.speed) && options->clock.speed >= 1;
        } else if (name == L"--timer-tick-us") {
            ok = ParseNumber(text, &options->clock.timerTickUs) && options->clock.timerTickUs > 0;
            options->clock.virtualTime = true;
        } else if (name == L"--local-start") { // 2026-12-24T18:00:00
            SYSTEMTIME& start = options->clock.localStart;
            ok = std::swscanf(text.c_str(), L"%hu-%hu-%huT%hu:%hu:%hu", &start.wYear, &start.wMonth,
                              &start.wDay, &start.wHour, &start.wMinute, &start.wSecond) == 6;
            options->clock.localStartSet = options->clock.virtualTime = true;
        } else if (name == L"--wait-for-gone") {
            options->waitForGone = text;
        } else if (name == L"--hold-file") {
            options->holdFile = text;
        } else if (name == L"--hold-ms") { // from,to; from -1: before the load
            ok = ParseList(text, &list) && list.size() == 2 && list[0] >= -1 && list[1] >= 0;
            if (ok) {
                options->holdFromMs = list[0];
                options->holdToMs = list[1];
            }
        } else if (name == L"--report-every-ms") {
            ok = ParseNumber(text, &number);
            options->reportEveryMs = int(number);
        } else {
            ok = false;
        }
        if (!ok) {
            *error = "bad option " + Narrow(name);
            return false;
        }
    }
    if (options->clock.virtualTime &&
        (options->frames.workUnits > 0 || options->clock.speed != 1)) {
        *error = "the stand-in's clock runs neither frames nor a fast clock";
        return false;
    }
    if (options->listSize >= 0) {
        options->entries.assign(static_cast<std::size_t>(options->listSize), 0);
        if (options->presentLast && !options->entries.empty()) {
            options->entries.back() = 7;
        }
        if (options->presentFirst && !options->entries.empty()) {
            options->entries.front() = 7;
        }
    }
    return true;
}
