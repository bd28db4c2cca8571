#include "wine_support.h"

#include "log/long_path.h"

#include <shlobj.h>

#include <fstream>
#include <cstring>
#include <regex>
#include <sstream>

std::wstring DocumentsFolder() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return L""; // Wine fills in the path even when it fails
    }
    return path;
}

std::wstring BuildFolder() {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    return fs::path(exe).parent_path().wstring();
}

static void RemoveTreeAt(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        std::wstring name = found.cFileName, path = folder + L"\\" + name;
        if (name == L"." || name == L"..") {
            continue;
        }
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTreeAt(path);
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

void RemoveTree(const std::wstring& folder) {
    RemoveTreeAt(LongPath(folder));
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    ASSERT_TRUE(file.good()) << path;
}

std::vector<std::string> LogMessages(const fs::path& file, std::vector<std::string>* stamps) {
    static const std::regex line(
        R"(\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\] (\[(QS|MM)\] [^\r\n]*)\r\n)");
    std::string bytes = ReadBytes(file);
    std::vector<std::string> messages;
    for (std::size_t at = 0, end; at < bytes.size(); at = end + 2) {
        end = std::min(bytes.find("\r\n", at), bytes.size());
        std::smatch match;
        std::string one = bytes.substr(at, end + 2 - at);
        if (!std::regex_match(one, match, line)) {
            ADD_FAILURE() << "malformed log line: " << one;
            break;
        }
        messages.push_back(match[2]);
        if (stamps != nullptr) {
            stamps->push_back(match[1]);
        }
    }
    return messages;
}

std::vector<std::string> Matching(const std::vector<std::string>& lines,
                                  const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.starts_with(prefix)) {
            out.push_back(line);
        }
    }
    return out;
}

static const wchar_t* kShellFolders =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

static void SetDocuments(const std::wstring& folder) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Personal", REG_EXPAND_SZ, folder.c_str(),
                    static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

DocumentsRedirect::DocumentsRedirect(const std::wstring& folder) : saved(DocumentsFolder()) {
    SetDocuments(folder);
}

DocumentsRedirect::~DocumentsRedirect() {
    SetDocuments(saved);
}

std::vector<std::string> GameRun::Values(const std::string& key) const {
    std::vector<std::string> values;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(key + ": ")) {
            values.push_back(
                line.substr(key.size() + 2, line.find_last_not_of('\r') - key.size() - 1));
        }
    }
    return values;
}

std::string GameRun::Value(const std::string& key) const {
    std::vector<std::string> values = Values(key);
    return values.empty() ? "(missing)" : values.front();
}

std::string WithoutFigures(const std::string& message) {
    if (message.starts_with("[MM] Process WS:")) {
        return "[MM] Process WS:… MB PF:… MB";
    }
    return message.starts_with("[QS] CPU worker active: ") ? "[QS] CPU worker active: …" : message;
}

std::vector<ProcessReport> ProcessReports(const GameRun& run) {
    std::vector<ProcessReport> reports;
    for (const std::string& value : run.Values("process")) {
        ProcessReport& r = reports.emplace_back();
        int read = sscanf(value.c_str(),
                          "threads=%lf ws-kb=%lf pf-kb=%lf free-mb=%lf main-cpu-ms=%lf "
                          "other-cpu-ms=%lf handles=%lf game-ms=%lf private-kb=%lf",
                          &r.threads, &r.wsKb, &r.pfKb, &r.freeMb, &r.mainCpuMs, &r.otherCpuMs,
                          &r.handles, &r.gameMs, &r.privateKb);
        EXPECT_EQ(read, 9) << value;
    }
    return reports;
}

std::vector<long long> WrittenUs(const GameRun& run) {
    std::vector<long long> written;
    for (const std::string& value : run.Values("stamp")) {
        written.push_back(std::atoll(value.c_str() + std::strlen("at-us=")));
    }
    return written;
}

static std::wstring GameOutputFile() {
    return (fs::temp_directory_path() / L"qs-game-output.txt").wstring();
}

GameRun RunGame(const std::wstring& folder, const std::wstring& arguments, const char* expectLoad,
                DWORD timeoutMs) {
    // The game's output goes to a file: a Wine service that the game starts
    // (the desktop's explorer.exe) may inherit the handle and keep it open
    // long after the game has gone, which a pipe's reader would wait for. The
    // file lies outside the game folder, which the next test must be able to
    // delete while that copy of the handle lives on.
    std::wstring outputFile = GameOutputFile();
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileW(outputFile.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
    std::wstring commandLine = L"\"" + folder + L"\\Duskhaven.exe\" " + arguments;
    PROCESS_INFORMATION process = {};
    bool started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  folder.c_str(), &startup, &process);
    CloseHandle(output);
    GameRun run;
    if (!started) {
        ADD_FAILURE() << "cannot start the stand-in game, error " << GetLastError();
        return run;
    }
    bool timedOut = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_TIMEOUT;
    if (timedOut) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    run.output = ReadBytes(outputFile);
    EXPECT_FALSE(timedOut) << "the game did not end within " << timeoutMs << " ms:\n" << run.output;
    EXPECT_TRUE(timedOut || exitCode == 0) << "the game ended with " << exitCode << ":\n"
                                           << run.output;
    EXPECT_EQ(run.Value("load"), expectLoad) << run.output;
    // A fault or rule the stand-in could not put in place proves nothing.
    EXPECT_EQ(run.Value("faults"), "(missing)") << run.output;
    EXPECT_EQ(run.Value("clock-stuck"), "(missing)") << "a thread held the stand-in's clock";
    return run;
}

void GameTest::SetUp() {
    fs::remove_all(DocumentsFolder() + L"\\My Games");
    MakeGameFolder(L"game");
}

std::wstring TestsFolder() {
    return (fs::temp_directory_path() / L"qs-tests").wstring();
}

void GameTest::MakeGameFolder(const std::wstring& name) {
    game = TestsFolder() + L"\\" + name;
    RemoveTree(game);
    fs::create_directories(game + L"\\Data\\VELQ\\Plugins");
    fs::copy_file(BuildFolder() + L"\\Duskhaven.exe", game + L"\\Duskhaven.exe");
    fs::copy_file(BuildFolder() + L"\\Quellstone.dll",
                  game + L"\\Data\\VELQ\\Plugins\\Quellstone.dll");
}

std::wstring GameTest::PluginElsewhere() {
    std::wstring plugin = TestsFolder() + L"\\plugin-elsewhere";
    fs::create_directories(plugin);
    fs::copy_file(BuildFolder() + L"\\Quellstone.dll", plugin + L"\\Quellstone.dll",
                  fs::copy_options::overwrite_existing);
    RemoveTree(game + L"\\Data");
    return L"--plugin \"" + plugin + L"\\Quellstone.dll\" ";
}
