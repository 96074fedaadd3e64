// Drives a program's windows from outside, one command per line on standard input,
// one JSON answer per line on standard output. The program is started by the driver,
// so only its own windows are ever found, even when tests run side by side.
//
// Commands (fields separated by tabs; \n, \t and \\ escape inside a field):
//   start <command line> [<working folder> [<output file>]]
//                                         the program's standard output and error go
//                                         to the file (default: nowhere), never into
//                                         the driver's answers
//   find <class> <title> <timeout ms>     a visible top-level window of the program;
//                                         an empty class or title matches any
//   findctl <class> <title> <control id> <text> <timeout ms> [hidden]
//                                         the same, holding that control with that
//                                         text (empty: any text): finds captionless
//                                         windows and pages that share one title;
//                                         with "hidden" also a window not shown yet
//   windows                               the program's visible top-level windows
//                                         (handle, class, title, screen rectangle)
//   controls <hwnd>                       every child control: id, class, text, state
//   text <hwnd> <control id>              (a message box's text is control 65535)
//   click <hwnd> <control id>             posts the button's click, never blocks
//   info <hwnd>                           owner window, topmost state, caption, and
//                                         its buttons (id, text, enabled)
//   close <hwnd>                          posts WM_CLOSE (the close box)
//   escape <hwnd>                         posts the Escape key to the window's focus
//   progress <hwnd> <control id>          a progress bar's position (PBM_GETPOS)
//   probe <hwnd> <interval ms>            starts measuring how long the window takes
//                                         to answer a sent message, every interval
//   probe-stop                            ends it: samples, worst, the worst's time, and each
//                                         answer over 50 ms as [world clock ms, took ms]
//   gone <hwnd> <timeout ms>              waits until the window is destroyed
//   memory                                the program's working set and its peak so far
//   exit <timeout ms>                     waits for the program to end, gives its code
//   kill                                  ends the program if it still runs
//   foreground                            the foreground window, and whether it is the
//                                         program's own
//   queryend <hwnd>                       asks the window, as the session's end does,
//                                         whether the session may end (its answer)
//   quit
// Every wait has the bound the caller gives. Texts are read without sending messages,
// so a hung program cannot hold the driver up. (Window icons cannot be read from
// another process under Wine 8; the X side shows them, see winetest.x_window_icon.)

#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kKillWaitMs = 5000;
constexpr DWORD kPollMs = 20;

PROCESS_INFORMATION g_program{};

std::wstring Widen(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string Json(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out + "\"";
}

std::string Handle(HWND window) { return std::to_string(reinterpret_cast<uintptr_t>(window)); }

HWND ParseHandle(const std::string& text) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(text.c_str(), nullptr, 10)));
}

void Answer(const std::string& json) {
    std::fputs(json.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Fail(const std::string& error, const std::string& extra = {}) {
    Answer("{\"ok\":false,\"error\":" + Json(Widen(error)) + extra + "}");
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            fields.back() += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// The window's own text, read without sending it a message: a hung program cannot
// hold the driver up.
std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

bool Running() {
    return g_program.hProcess != nullptr && WaitForSingleObject(g_program.hProcess, 0) == WAIT_TIMEOUT;
}

struct Search {
    DWORD pid;
    bool hidden;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectProgramWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && (search->hidden || IsWindowVisible(window))) {
        search->found.push_back(window);
    }
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

std::vector<HWND> ProgramWindows(bool hidden = false) {
    Search search{g_program.dwProcessId, hidden, {}};
    EnumWindows(CollectProgramWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string WindowListJson() {
    std::string out = "[";
    for (HWND window : ProgramWindows()) {
        if (out.size() > 1) {
            out += ",";
        }
        RECT r{};
        GetWindowRect(window, &r);
        out += "{\"hwnd\":" + Handle(window) + ",\"class\":" + Json(ClassOf(window)) + ",\"title\":" +
               Json(WindowText(window)) + ",\"rect\":[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
               std::to_string(r.right) + "," + std::to_string(r.bottom) + "]}";
    }
    return out + "]";
}

template <typename Ready>
bool WaitFor(DWORD timeoutMs, Ready ready) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (ready()) {
            return true;
        }
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        Sleep(kPollMs);
    }
}

void Start(const std::vector<std::string>& f) {
    if (f.size() < 2) {
        return Fail("start needs a command line");
    }
    if (g_program.hProcess != nullptr) {
        return Fail("a program was started already");
    }
    std::wstring commandLine = Widen(f[1]);
    const std::wstring folder = f.size() > 2 ? Widen(f[2]) : std::wstring();
    const std::wstring outputPath = f.size() > 3 && !f[3].empty() ? Widen(f[3]) : std::wstring(L"NUL");
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        return Fail("cannot open the program's output file: " + std::to_string(GetLastError()));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output;
    startup.hStdError = output;
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        folder.empty() ? nullptr : folder.c_str(), &startup, &g_program);
    const DWORD error = GetLastError();
    CloseHandle(output);
    if (!started) {
        g_program = {};
        return Fail("CreateProcess failed with " + std::to_string(error));
    }
    Answer("{\"ok\":true,\"pid\":" + std::to_string(g_program.dwProcessId) + "}");
}

bool HasControlText(HWND window, int id, const std::wstring& text) {
    HWND control = GetDlgItem(window, id);
    return control != nullptr && (text.empty() || WindowText(control) == text);
}

// Waits for a visible top-level window of the program that passes `matches`.
template <typename Matches>
void FindWindowWhere(DWORD timeoutMs, Matches matches, bool hidden = false) {
    HWND found = nullptr;
    const bool ok = WaitFor(timeoutMs, [&] {
        for (HWND window : ProgramWindows(hidden)) {
            if (matches(window)) {
                found = window;
                return true;
            }
        }
        return false;
    });
    if (!ok) {
        return Fail("no such window", ",\"running\":" + std::string(Running() ? "true" : "false") +
                                          ",\"windows\":" + WindowListJson());
    }
    Answer("{\"ok\":true,\"hwnd\":" + Handle(found) + ",\"class\":" + Json(ClassOf(found)) + ",\"title\":" +
           Json(WindowText(found)) + "}");
}

bool ClassAndTitle(HWND window, const std::wstring& wantedClass, const std::wstring& wantedTitle) {
    return (wantedClass.empty() || ClassOf(window) == wantedClass) &&
           (wantedTitle.empty() || WindowText(window) == wantedTitle);
}

void Find(const std::vector<std::string>& f) {
    if (f.size() < 4) {
        return Fail("find needs a class, a title and a timeout");
    }
    const std::wstring wantedClass = Widen(f[1]);
    const std::wstring wantedTitle = Widen(f[2]);
    FindWindowWhere(std::strtoul(f[3].c_str(), nullptr, 10),
                    [&](HWND window) { return ClassAndTitle(window, wantedClass, wantedTitle); });
}

void FindByControl(const std::vector<std::string>& f) {
    if (f.size() < 6) {
        return Fail("findctl needs a class, a title, a control id, its text and a timeout");
    }
    const std::wstring wantedClass = Widen(f[1]);
    const std::wstring wantedTitle = Widen(f[2]);
    const int id = std::atoi(f[3].c_str());
    const std::wstring wantedText = Widen(f[4]);
    const bool hidden = f.size() > 6 && f[6] == "hidden";
    FindWindowWhere(
        std::strtoul(f[5].c_str(), nullptr, 10),
        [&](HWND window) {
            return ClassAndTitle(window, wantedClass, wantedTitle) && HasControlText(window, id, wantedText);
        },
        hidden);
}

void Controls(const std::vector<std::string>& f) {
    if (f.size() < 2) {
        return Fail("controls needs a window");
    }
    HWND parent = ParseHandle(f[1]);
    if (!IsWindow(parent)) {
        return Fail("no such window");
    }
    std::vector<HWND> children;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::string out = "[";
    for (HWND child : children) {
        if (GetParent(child) != parent) {
            continue;
        }
        if (out.size() > 1) {
            out += ",";
        }
        out += "{\"id\":" + std::to_string(GetDlgCtrlID(child)) + ",\"class\":" + Json(ClassOf(child)) +
               ",\"text\":" + Json(WindowText(child)) + ",\"visible\":" + (IsWindowVisible(child) ? "true" : "false") +
               ",\"enabled\":" + (IsWindowEnabled(child) ? "true" : "false") + "}";
    }
    Answer("{\"ok\":true,\"title\":" + Json(WindowText(parent)) + ",\"controls\":" + out + "]}");
}

void Text(const std::vector<std::string>& f) {
    if (f.size() < 3) {
        return Fail("text needs a window and a control id");
    }
    HWND control = GetDlgItem(ParseHandle(f[1]), std::atoi(f[2].c_str()));
    if (control == nullptr) {
        return Fail("no such control");
    }
    Answer("{\"ok\":true,\"text\":" + Json(WindowText(control)) + "}");
}

void Click(const std::vector<std::string>& f) {
    if (f.size() < 3) {
        return Fail("click needs a window and a control id");
    }
    HWND window = ParseHandle(f[1]);
    const int id = std::atoi(f[2].c_str());
    HWND button = GetDlgItem(window, id);
    if (button == nullptr) {
        return Fail("no such control");
    }
    // Posted: the click may open a modal window, and a sent message would only
    // return when that closes.
    if (!PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button))) {
        return Fail("PostMessage failed with " + std::to_string(GetLastError()));
    }
    Answer("{\"ok\":true}");
}

void Info(const std::vector<std::string>& f) {
    if (f.size() < 2) {
        return Fail("info needs a window");
    }
    HWND window = ParseHandle(f[1]);
    if (!IsWindow(window)) {
        return Fail("no such window");
    }
    HWND owner = GetWindow(window, GW_OWNER);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    const LONG exStyle = GetWindowLongW(window, GWL_EXSTYLE);
    std::vector<HWND> children;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::string buttons = "[";
    for (HWND child : children) {
        if (GetParent(child) != window || !IsWindowVisible(child) || lstrcmpiW(ClassOf(child).c_str(), L"Button") != 0) {
            continue;
        }
        if (buttons.size() > 1) {
            buttons += ",";
        }
        buttons += "{\"id\":" + std::to_string(GetDlgCtrlID(child)) + ",\"text\":" + Json(WindowText(child)) +
                   ",\"enabled\":" + (IsWindowEnabled(child) ? "true" : "false") + "}";
    }
    Answer("{\"ok\":true,\"owner\":" + Handle(owner) + ",\"owner_title\":" +
           Json(owner != nullptr ? WindowText(owner) : std::wstring()) +
           ",\"topmost\":" + ((exStyle & WS_EX_TOPMOST) != 0 ? "true" : "false") +
           ",\"caption\":" + ((style & WS_CAPTION) == WS_CAPTION ? "true" : "false") +
           ",\"enabled\":" + (IsWindowEnabled(window) ? "true" : "false") + ",\"buttons\":" + buttons + "]}");
}

void Close(const std::vector<std::string>& f) {
    if (f.size() < 2) {
        return Fail("close needs a window");
    }
    HWND window = ParseHandle(f[1]);
    if (!IsWindow(window)) {
        return Fail("no such window");
    }
    if (!PostMessageW(window, WM_CLOSE, 0, 0)) {
        return Fail("PostMessage failed with " + std::to_string(GetLastError()));
    }
    Answer("{\"ok\":true}");
}

// The key goes where a pressed key would: the control that has the focus in the
// window's thread, or the window itself when the focus is elsewhere.
void Escape(const std::vector<std::string>& f) {
    if (f.size() < 2) {
        return Fail("escape needs a window");
    }
    HWND window = ParseHandle(f[1]);
    if (!IsWindow(window)) {
        return Fail("no such window");
    }
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    HWND target = window;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &gui) && gui.hwndFocus != nullptr &&
        (gui.hwndFocus == window || IsChild(window, gui.hwndFocus))) {
        target = gui.hwndFocus;
    }
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(VK_ESCAPE, 0)) << 16;
    if (!PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, scan | 1) ||
        !PostMessageW(target, WM_KEYUP, VK_ESCAPE, scan | 1 | (LPARAM{3} << 30))) {
        return Fail("PostMessage failed with " + std::to_string(GetLastError()));
    }
    Answer("{\"ok\":true,\"target\":" + Handle(target) + "}");
}

constexpr UINT kAnswerLimitMs = 10000;

void Progress(const std::vector<std::string>& f) {
    if (f.size() < 3) {
        return Fail("progress needs a window and a control id");
    }
    HWND bar = GetDlgItem(ParseHandle(f[1]), std::atoi(f[2].c_str()));
    if (bar == nullptr) {
        return Fail("no such control");
    }
    DWORD_PTR position = 0;
    if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, kAnswerLimitMs, &position)) {
        return Fail("the progress bar did not answer within " + std::to_string(kAnswerLimitMs) + " ms");
    }
    Answer("{\"ok\":true,\"position\":" + std::to_string(position) + "}");
}

// The responsiveness probe: a thread of the driver sends the window a message that
// does nothing, every interval, and keeps the longest time it took to be answered.
// A thread that waits without also serving its messages answers late.
struct Probe {
    CRITICAL_SECTION lock;
    HANDLE thread = nullptr;
    HANDLE stop = nullptr;
    HWND target = nullptr;
    DWORD intervalMs = 0;
    LARGE_INTEGER started{};
    unsigned samples = 0;
    unsigned timeouts = 0;
    double worstMs = 0;
    double worstAtMs = 0;
    // Answers slower than this are kept with the world's clock at their start, so a
    // stall can be laid beside what the world's log says happened then.
    static constexpr double kSlowMs = 50;
    static constexpr size_t kSlowKept = 64;
    std::vector<std::pair<std::uint64_t, double>> slow;
};
Probe g_probe;

// The clock of the world's log (milliseconds of the performance counter), shared by
// every process of the prefix.
std::uint64_t WorldClockMs(const LARGE_INTEGER& at) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const auto ticks = static_cast<std::uint64_t>(at.QuadPart);
    const auto perSecond = static_cast<std::uint64_t>(frequency.QuadPart);
    return ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond;
}

double MsSince(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

DWORD WINAPI ProbeThread(LPVOID) {
    while (WaitForSingleObject(g_probe.stop, g_probe.intervalMs) == WAIT_TIMEOUT) {
        if (!IsWindow(g_probe.target)) {
            continue;
        }
        LARGE_INTEGER before;
        LARGE_INTEGER after;
        QueryPerformanceCounter(&before);
        DWORD_PTR result = 0;
        const bool answered =
            SendMessageTimeoutW(g_probe.target, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerLimitMs, &result) != 0;
        QueryPerformanceCounter(&after);
        if (!answered && !IsWindow(g_probe.target)) {
            continue;  // the window went while it was asked: no figure
        }
        const double ms = MsSince(before, after);
        EnterCriticalSection(&g_probe.lock);
        ++g_probe.samples;
        if (!answered) {
            ++g_probe.timeouts;
        }
        if (ms > g_probe.worstMs) {
            g_probe.worstMs = ms;
            g_probe.worstAtMs = MsSince(g_probe.started, before);
        }
        if (ms > Probe::kSlowMs && g_probe.slow.size() < Probe::kSlowKept) {
            g_probe.slow.emplace_back(WorldClockMs(before), ms);
        }
        LeaveCriticalSection(&g_probe.lock);
    }
    return 0;
}

std::string StopProbe() {
    if (g_probe.thread == nullptr) {
        return {};
    }
    SetEvent(g_probe.stop);
    WaitForSingleObject(g_probe.thread, INFINITE);
    CloseHandle(g_probe.thread);
    CloseHandle(g_probe.stop);
    g_probe.thread = nullptr;
    g_probe.stop = nullptr;
    char figures[160];
    std::snprintf(figures, sizeof figures, "\"samples\":%u,\"timeouts\":%u,\"worst_ms\":%.1f,\"worst_at_ms\":%.0f",
                  g_probe.samples, g_probe.timeouts, g_probe.worstMs, g_probe.worstAtMs);
    std::string slow = ",\"slow\":[";
    for (size_t i = 0; i < g_probe.slow.size(); ++i) {
        char sample[64];
        std::snprintf(sample, sizeof sample, "%s[%llu,%.1f]", i ? "," : "",
                      static_cast<unsigned long long>(g_probe.slow[i].first), g_probe.slow[i].second);
        slow += sample;
    }
    return figures + slow + "]";
}

void StartProbe(const std::vector<std::string>& f) {
    if (f.size() < 3) {
        return Fail("probe needs a window and an interval");
    }
    HWND window = ParseHandle(f[1]);
    if (!IsWindow(window)) {
        return Fail("no such window");
    }
    StopProbe();
    g_probe.target = window;
    g_probe.intervalMs = std::strtoul(f[2].c_str(), nullptr, 10);
    g_probe.samples = g_probe.timeouts = 0;
    g_probe.worstMs = g_probe.worstAtMs = 0;
    g_probe.slow.clear();
    QueryPerformanceCounter(&g_probe.started);
    g_probe.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_probe.thread = CreateThread(nullptr, 0, ProbeThread, nullptr, 0, nullptr);
    if (g_probe.stop == nullptr || g_probe.thread == nullptr) {
        return Fail("the probe could not start: " + std::to_string(GetLastError()));
    }
    Answer("{\"ok\":true}");
}

void ProbeStop() {
    const std::string figures = StopProbe();
    if (figures.empty()) {
        return Fail("no probe runs");
    }
    Answer("{\"ok\":true," + figures + "}");
}

void Gone(const std::vector<std::string>& f) {
    if (f.size() < 3) {
        return Fail("gone needs a window and a timeout");
    }
    HWND window = ParseHandle(f[1]);
    if (!WaitFor(std::strtoul(f[2].c_str(), nullptr, 10), [&] { return !IsWindow(window); })) {
        return Fail("the window is still there");
    }
    Answer("{\"ok\":true}");
}

void Exit(const std::vector<std::string>& f) {
    if (g_program.hProcess == nullptr) {
        return Fail("no program was started");
    }
    const DWORD timeout = f.size() > 1 ? std::strtoul(f[1].c_str(), nullptr, 10) : 0;
    if (WaitForSingleObject(g_program.hProcess, timeout) != WAIT_OBJECT_0) {
        return Fail("the program still runs", ",\"windows\":" + WindowListJson());
    }
    DWORD code = 0;
    GetExitCodeProcess(g_program.hProcess, &code);
    Answer("{\"ok\":true,\"code\":" + std::to_string(code) + "}");
}

void Memory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!Running() || !GetProcessMemoryInfo(g_program.hProcess, &counters, sizeof counters)) {
        return Fail("no figures: the program is not running or gave none");
    }
    Answer("{\"ok\":true,\"working_set\":" + std::to_string(counters.WorkingSetSize) +
           ",\"peak_working_set\":" + std::to_string(counters.PeakWorkingSetSize) + "}");
}

void Foreground() {
    const HWND window = GetForegroundWindow();
    DWORD process = 0;
    if (window != nullptr) GetWindowThreadProcessId(window, &process);
    const bool ours = window != nullptr && g_program.hProcess != nullptr && process == g_program.dwProcessId;
    Answer("{\"ok\":true,\"hwnd\":" + Handle(window) + ",\"ours\":" + (ours ? "true" : "false") + "}");
}

void QueryEnd(const std::vector<std::string>& f) {
    if (f.size() < 2) {
        return Fail("queryend needs a window");
    }
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(ParseHandle(f[1]), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                             kAnswerLimitMs, &answer)) {
        return Fail("the window did not answer within " + std::to_string(kAnswerLimitMs) + " ms");
    }
    Answer("{\"ok\":true,\"may_end\":" + std::string(answer ? "true" : "false") + "}");
}

bool Kill() {
    if (!Running()) {
        return false;
    }
    TerminateProcess(g_program.hProcess, 255);
    WaitForSingleObject(g_program.hProcess, kKillWaitMs);
    return true;
}

}  // namespace

int main() {
    InitializeCriticalSection(&g_probe.lock);
    char buffer[65536];
    while (std::fgets(buffer, sizeof buffer, stdin) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        const std::vector<std::string> f = Split(line);
        const std::string& verb = f[0];
        if (verb.empty()) {
            continue;
        } else if (verb == "start") {
            Start(f);
        } else if (verb == "find") {
            Find(f);
        } else if (verb == "findctl") {
            FindByControl(f);
        } else if (verb == "info") {
            Info(f);
        } else if (verb == "close") {
            Close(f);
        } else if (verb == "escape") {
            Escape(f);
        } else if (verb == "progress") {
            Progress(f);
        } else if (verb == "probe") {
            StartProbe(f);
        } else if (verb == "probe-stop") {
            ProbeStop();
        } else if (verb == "windows") {
            Answer("{\"ok\":true,\"windows\":" + WindowListJson() + "}");
        } else if (verb == "controls") {
            Controls(f);
        } else if (verb == "text") {
            Text(f);
        } else if (verb == "click") {
            Click(f);
        } else if (verb == "gone") {
            Gone(f);
        } else if (verb == "memory") {
            Memory();
        } else if (verb == "exit") {
            Exit(f);
        } else if (verb == "foreground") {
            Foreground();
        } else if (verb == "queryend") {
            QueryEnd(f);
        } else if (verb == "kill") {
            Answer(std::string("{\"ok\":true,\"killed\":") + (Kill() ? "true" : "false") + "}");
        } else if (verb == "quit") {
            break;
        } else {
            Fail("unknown command " + verb);
        }
    }
    StopProbe();
    // A program left running would outlive the test; end it and say so.
    const bool killed = Kill();
    return killed ? 3 : 0;
}
