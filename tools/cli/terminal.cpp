// The terminal side of the tool: its width, the password prompt, and what
// an interrupt has to undo.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "exit_codes.h"
#include "terminal.h"

namespace {

constexpr int kDefaultWidth = 80;
constexpr size_t kMaxPassword = 256;

// Read by the signal handler: written only with the signals held back.
char g_temp_path[PATH_MAX + 1];
volatile sig_atomic_t g_line_open = 0;
int g_tty_fd = -1;
struct termios g_tty_saved;
volatile sig_atomic_t g_tty_echo_off = 0;

void on_interrupt(int sig)
{
    // Only async-signal-safe calls from here on.
    if (g_tty_echo_off != 0) {
        tcsetattr(g_tty_fd, TCSANOW, &g_tty_saved);
        (void)!write(g_tty_fd, "\n", 1);
    }
    if (g_line_open != 0)
        (void)!write(STDERR_FILENO, "\n", 1);
    if (g_temp_path[0] != '\0')
        unlink(g_temp_path);
    _exit(kExitSignalBase + sig);
}

}  // namespace

HeldSignals::HeldSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_BLOCK, &set, &old_);
}

HeldSignals::~HeldSignals()
{
    sigprocmask(SIG_SETMASK, &old_, nullptr);
}

void install_interrupt_handlers()
{
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sigaddset(&sa.sa_mask, SIGINT);
    sigaddset(&sa.sa_mask, SIGTERM);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

void set_interrupt_cleanup(const std::string &temp_path)
{
    HeldSignals held;
    size_t n = temp_path.size() < PATH_MAX ? temp_path.size() : 0;  // longer names are never created
    std::memcpy(g_temp_path, temp_path.data(), n);
    g_temp_path[n] = '\0';
}

int terminal_width()
{
    struct winsize ws {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col;
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
    // line ends it.
    g_line_open = 1;
    std::fprintf(stderr, "\r%s\033[K%s", text.c_str(), final ? "\n" : "");
    std::fflush(stderr);
    if (final)
        g_line_open = 0;
}

void end_progress_line()
{
    if (g_line_open == 0)
        return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
    g_line_open = 0;
}

bool progress_line_open()
{
    return g_line_open != 0;
}

bool prompt_password(const std::string &prompt, std::string &out)
{
    if (isatty(STDIN_FILENO) != 1)
        return false;
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct termios quiet {};
    if (tcgetattr(fd, &g_tty_saved) != 0) {
        close(fd);
        return false;
    }
    quiet = g_tty_saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    {
        HeldSignals held;
        g_tty_fd = fd;
        g_tty_echo_off = 1;
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    (void)!write(fd, prompt.data(), prompt.size());
    std::string line;
    char c = 0;
    bool ended = false;
    while (line.size() <= kMaxPassword) {
        ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (c == '\n' || c == '\r') {
            ended = true;
            break;
        }
        line += c;
    }
    {
        HeldSignals held;
        tcsetattr(fd, TCSAFLUSH, &g_tty_saved);
        g_tty_echo_off = 0;
        g_tty_fd = -1;
    }
    close(fd);
    if (!ended) {
        std::memset(line.data(), 0, line.size());
        return false;
    }
    out = line;
    std::memset(line.data(), 0, line.size());
    return true;
}
