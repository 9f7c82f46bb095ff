// The terminal side of the tool on Windows: the console's width, the
// password prompt, and what Ctrl+C or closing the console has to undo.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "exit_codes.h"
#include "terminal.h"

namespace {

constexpr int kDefaultWidth = 80;
constexpr size_t kMaxPassword = 256;

// The console control handler runs on a thread of its own; it takes the
// same lock as HeldSignals before it looks at these.
std::recursive_mutex &interrupt_lock()
{
    static std::recursive_mutex lock;
    return lock;
}
std::string g_temp_path;
bool g_line_open = false;
HANDLE g_console_in = INVALID_HANDLE_VALUE;
DWORD g_console_mode_saved = 0;
bool g_echo_off = false;

BOOL WINAPI on_console_event(DWORD event)
{
    // Ctrl+C stands for SIGINT, everything else (Ctrl+Break, closing the
    // console, logging off) for SIGTERM.
    int sig = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    std::lock_guard<std::recursive_mutex> held(interrupt_lock());
    if (g_echo_off) {
        SetConsoleMode(g_console_in, g_console_mode_saved);
        std::fputc('\n', stderr);
    }
    if (g_line_open)
        std::fputc('\n', stderr);
    std::fflush(stderr);
    if (!g_temp_path.empty())
        DeleteFileA(g_temp_path.c_str());
    ExitProcess(static_cast<UINT>(kExitSignalBase + sig));
}

}  // namespace

HeldSignals::HeldSignals() : held_(interrupt_lock()) {}

HeldSignals::~HeldSignals() = default;

void install_interrupt_handlers()
{
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void set_interrupt_cleanup(const std::string &temp_path)
{
    HeldSignals held;
    g_temp_path = temp_path;
}

int terminal_width()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0)
            return columns;
    }
    if (const char *cols = std::getenv("COLUMNS")) {
        long v = std::strtol(cols, nullptr, 10);
        if (v > 0 && v < 10000)
            return static_cast<int>(v);
    }
    return kDefaultWidth;
}

void draw_progress_line(const std::string &text, bool final)
{
    // Open before the first byte shows, so that an interrupt seeing the
    // line ends it. Consoles since Windows 10 take the erase sequence.
    {
        HeldSignals held;
        g_line_open = true;
    }
    std::fprintf(stderr, "\r%s\033[K%s", text.c_str(), final ? "\n" : "");
    std::fflush(stderr);
    if (final) {
        HeldSignals held;
        g_line_open = false;
    }
}

void end_progress_line()
{
    HeldSignals held;
    if (!g_line_open)
        return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
    g_line_open = false;
}

bool progress_line_open()
{
    HeldSignals held;
    return g_line_open;
}

bool prompt_password(const std::string &prompt, std::string &out)
{
    if (_isatty(_fileno(stdin)) == 0)
        return false;
    HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return false;
    DWORD mode = 0;
    if (!GetConsoleMode(in, &mode)) {
        CloseHandle(in);
        return false;
    }
    {
        HeldSignals held;
        g_console_in = in;
        g_console_mode_saved = mode;
        g_echo_off = true;
        SetConsoleMode(in, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    }
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    std::string line;
    bool ended = false;
    while (line.size() <= kMaxPassword) {
        char c = 0;
        DWORD n = 0;
        if (!ReadConsoleA(in, &c, 1, &n, nullptr) || n == 0)
            break;
        if (c == '\n' || c == '\r') {
            ended = true;
            break;
        }
        line += c;
    }
    {
        HeldSignals held;
        SetConsoleMode(in, mode);
        g_echo_off = false;
        g_console_in = INVALID_HANDLE_VALUE;
    }
    std::fputc('\n', stderr);
    CloseHandle(in);
    if (!ended) {
        SecureZeroMemory(line.data(), line.size());
        return false;
    }
    out = line;
    SecureZeroMemory(line.data(), line.size());
    return true;
}
