# Seeded faults for the code the suite's newer tests hold: run with
#   bash ../shared/mutants/run.sh tests/seeded_faults.py /tmp/seeded
# Each text occurs once in its file; see ../shared/mutants/README.md.
M = [
 ('src/log/long_path_form.cpp', 'return std::wstring(kExtendedPrefix) + std::wstring(fullPath);', 'return std::wstring(fullPath);', 'drive paths left in the plain form'),
 ('src/log/long_path_form.cpp', 'return std::wstring(kExtendedUnc) + std::wstring(fullPath.substr(2));', 'return std::wstring(kExtendedPrefix) + std::wstring(fullPath);', 'shares given the drive prefix'),
 ('src/log/long_path_form.cpp', 'return kExtendedPrefix.size() + 3;', 'return kExtendedPrefix.size() + 2;', 'the drive root counted as a folder to make'),
 ('src/log/log.cpp', '        std::wstring path = LongPath(GetLogPath());', '        std::wstring path = GetLogPath().wstring();', 'log lines in the plain form'),
 ('src/log/long_path.cpp', '        missing.push_back(end);', '', 'missing levels of a chain never made'),
 ('src/settings/settings.cpp', '        std::wstring path = LongPath(GetIniPath());', '        std::wstring path = GetIniPath().wstring();', 'settings file in the plain form'),
 ('src/plugin/startup.cpp', '    PinModule();\n', '', 'the DLL not pinned'),
 ('src/plugin/startup.cpp', 'CREATE_SUSPENDED, nullptr);', '0, nullptr);', 'workers run before the loader is done'),
 ('src/plugin/startup.cpp', '    SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);', '    // priority left as the game gives it', "the workers left at the game's priority"),
 ('src/workers/list_scan.cpp', '    if (RememberedStillPresent(reader, entries, count, *remembered)) {', '    if (false) {', 'the remembered entry never looked at'),
 ('src/workers/list_scan.cpp', '    if (remembered >= count) {', '    if (remembered > count) {', 'the entry just past a shrunk list counted'),
 ('src/workers/list_scan.cpp', '            return (round - entries) / 8 + i;', '            return (round - entries) / 8;', 'the round remembered, not its entry'),
 ('src/workers/list_scan.cpp', '    if (reader.failed && memory.forgetRegions != nullptr && memory.forgetRegions()) {', '    if (false) {', 'old answers never forgotten'),
 ('src/workers/activity_watcher.cpp', 'now - known.askedAt < kRegionTrustMs', 'now - known.askedAt < 0', 'every region asked at every pass'),
 ('src/workers/guarded_copy.cpp', '4:  movq %rcx, (%r8)', '4:  movq %rdx, (%r8)', 'the scan names the wrong round'),
 ('src/workers/cpu_worker.cpp', '        Sleep(WorkerSleepMs(settings.sleepMs));', '        Sleep(WorkerSleepMs(settings.sleepMs) + 1);', 'the worker rests 1 ms longer than its setting'),
 ('src/workers/activity_watcher.cpp', '        Sleep(10);', '        Sleep(200);', 'the watcher paced at 200 ms'),
 ('src/workers/memory_monitor.cpp', 'Sleep(5000);', 'Sleep(5400);', 'the monitor paced at 5.4 s'),
 ('src/window/window_handoff.cpp', '    return CallNextHookEx(nullptr, code, wParam, lParam);', '    return 0;', "the game's other hooks skipped"),
 ('src/workers/memory_monitor_pass.cpp', 'if (platform.tickCount() - lastTrimTick < kTrimSpacingMs) {', 'if (platform.tickCount() - lastTrimTick <= kTrimSpacingMs) {', 'a trim due at two minutes waits a pass'),
]
