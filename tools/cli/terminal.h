// The terminal and the process's signals (written twice: POSIX terminals and
// signals, or the Windows console): the progress line, the password prompt,
// and interrupts that clean up after themselves.
#pragma once

#include <signal.h>

#ifdef _WIN32
#include <mutex>
#endif

#include <string>

// The progress line on standard error. Any text written to standard error
// while the line is open must call end_progress_line() first.
void draw_progress_line(const std::string &text, bool final);
void end_progress_line();
bool progress_line_open();
int terminal_width();

// Interrupts (SIGINT, SIGTERM): remove the named temporary file, end an
// open progress line and exit with 128 + the signal number.
void install_interrupt_handlers();
// The temporary file an interrupt removes; "" for none. Signals are held
// back while the name changes.
void set_interrupt_cleanup(const std::string &temp_path);
// Holds SIGINT and SIGTERM back for its lifetime, so that a file and the
// name the interrupt handler knows it by change together.
class HeldSignals {
public:
    HeldSignals();
    ~HeldSignals();
    HeldSignals(const HeldSignals &) = delete;
    HeldSignals &operator=(const HeldSignals &) = delete;

private:
#ifdef _WIN32
    // Console interrupts arrive on a thread of their own, which takes this too.
    std::unique_lock<std::recursive_mutex> held_;
#else
    sigset_t old_;
#endif
};
// Reads a password from the controlling terminal without echo; false when
// standard input is not a terminal.
bool prompt_password(const std::string &prompt, std::string &out);
