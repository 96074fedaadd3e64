// Drives a program's windows from outside, one command per line on standard input,
// one JSON answer per line on standard output. The program is started by the driver,
// so only its own windows are ever found, even when tests run side by side.
//
// Commands (fields separated by tabs; \n, \t and \\ escape inside a field):
//   start <command line> [<working folder>]
//   find <class> <title> <timeout ms>     a visible top-level window of the program;
//                                         an empty class or title matches any
//   windows                               the program's visible top-level windows
//   controls <hwnd>                       every child control: id, class, text, state
//   text <hwnd> <control id>              (a message box's text is control 65535)
//   click <hwnd> <control id>             posts the button's click, never blocks
//   gone <hwnd> <timeout ms>              waits until the window is destroyed
//   exit <timeout ms>                     waits for the program to end, gives its code
//   kill                                  ends the program if it still runs
//   quit
// Every wait has the bound the caller gives. Texts are read without sending messages,
// so a hung program cannot hold the driver up. (Window icons cannot be read from
// another process under Wine 8; the X side shows them, see winetest.x_window_icon.)

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
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
    std::vector<HWND> found;
};

BOOL CALLBACK CollectProgramWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && IsWindowVisible(window)) {
        search->found.push_back(window);
    }
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

std::vector<HWND> ProgramWindows() {
    Search search{g_program.dwProcessId, {}};
    EnumWindows(CollectProgramWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string WindowListJson() {
    std::string out = "[";
    for (HWND window : ProgramWindows()) {
        if (out.size() > 1) {
            out += ",";
        }
        out += "{\"hwnd\":" + Handle(window) + ",\"class\":" + Json(ClassOf(window)) + ",\"title\":" +
               Json(WindowText(window)) + "}";
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
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &g_program)) {
        g_program = {};
        return Fail("CreateProcess failed with " + std::to_string(GetLastError()));
    }
    Answer("{\"ok\":true,\"pid\":" + std::to_string(g_program.dwProcessId) + "}");
}

void Find(const std::vector<std::string>& f) {
    if (f.size() < 4) {
        return Fail("find needs a class, a title and a timeout");
    }
    const std::wstring wantedClass = Widen(f[1]);
    const std::wstring wantedTitle = Widen(f[2]);
    HWND found = nullptr;
    const bool ok = WaitFor(std::strtoul(f[3].c_str(), nullptr, 10), [&] {
        for (HWND window : ProgramWindows()) {
            if ((wantedClass.empty() || ClassOf(window) == wantedClass) &&
                (wantedTitle.empty() || WindowText(window) == wantedTitle)) {
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
        } else if (verb == "exit") {
            Exit(f);
        } else if (verb == "kill") {
            Answer(std::string("{\"ok\":true,\"killed\":") + (Kill() ? "true" : "false") + "}");
        } else if (verb == "quit") {
            break;
        } else {
            Fail("unknown command " + verb);
        }
    }
    // A program left running would outlive the test; end it and say so.
    const bool killed = Kill();
    return killed ? 3 : 0;
}
