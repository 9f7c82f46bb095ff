// Runs the vnsmb1c command-line tool as a separate process, through a
// shell with pipes or on a pseudo-terminal, in a scratch folder of its own.
// On Windows the command lines written for the shell are split into words
// here and the tool started with CreateProcess; there is no terminal run.
#pragma once

#include <gtest/gtest.h>
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>
#include <random>
#else
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace cli_test {

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

inline std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::string quote(const std::string &s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

#ifdef _WIN32
// The words a POSIX shell makes of text: blanks separate them, '...' and
// "..." quote, a backslash outside single quotes takes the next character
// as it is. Enough for the command lines of these tests (no expansions).
inline std::vector<std::string> shell_words(const std::string &text)
{
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (in_word)
                words.push_back(word);
            word.clear();
            in_word = false;
            continue;
        }
        in_word = true;
        if (c == '\'') {
            size_t end = text.find('\'', i + 1);
            if (end == std::string::npos)
                end = text.size();
            word += text.substr(i + 1, end - i - 1);
            i = end;
        } else if (c == '"') {
            for (i++; i < text.size() && text[i] != '"'; i++) {
                bool escaped = text[i] == '\\' && i + 1 < text.size() &&
                               std::string_view("$`\"\\").find(text[i + 1]) != std::string_view::npos;
                if (escaped)
                    i++;
                word += text[i];
            }
        } else if (c == '\\' && i + 1 < text.size()) {
            word += text[++i];
        } else {
            word += c;
        }
    }
    if (in_word)
        words.push_back(word);
    return words;
}

// One argument as the Windows C runtime splits a command line back into argv.
inline std::string windows_arg(const std::string &a)
{
    if (!a.empty() && a.find_first_of(" \t\n\v\"") == std::string::npos)
        return a;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : a) {
        if (c == '\\') {
            backslashes++;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}
#endif

// A run on a pseudo-terminal: what the terminal showed and how it ended.
struct Screen {
    bool exited = false;
    int code = -1;    // exit code when exited
    int signal = 0;   // the signal that ended it otherwise
    std::string text;
};

// What to do on the terminal while the tool runs: once the screen shows
// `when`, type `keys` (a "\x03" is Ctrl-C) or send `signal`.
struct Reaction {
    std::string when;
    std::string keys;
    int signal = 0;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifdef _WIN32
        std::random_device random;
        std::filesystem::path dir;
        do
            dir = std::filesystem::temp_directory_path() / ("vnsmb1c_cli_" + std::to_string(random()));
        while (!std::filesystem::create_directory(dir));
        dir_ = dir.generic_string();
#else
        std::string tmpl = (std::filesystem::temp_directory_path() / "vnsmb1c_cli_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
#endif
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Runs the tool with the given arguments (already shell-quoted where
    // needed); env is prepended to the command line (assignments, or a
    // command ending in ";" or "&&").
#ifdef _WIN32
    // env may hold NAME=value assignments and "cd DIR &&"; the variables
    // are set in this process for the child to inherit, then restored.
    Outcome run(const std::string &args, const std::string &env = "")
    {
        Outcome r;
        std::vector<std::pair<std::string, std::optional<std::string>>> saved;
        std::string cwd;
        std::vector<std::string> env_words = shell_words(env);
        for (size_t i = 0; i < env_words.size(); i++) {
            const std::string &w = env_words[i];
            size_t eq = w.find('=');
            if (w == "cd" && i + 1 < env_words.size()) {
                cwd = env_words[++i];
                if (i + 1 < env_words.size() && env_words[i + 1] == "&&")
                    i++;
            } else if (eq != std::string::npos && eq > 0) {
                std::string name = w.substr(0, eq);
                char old[32768];
                DWORD n = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
                saved.emplace_back(name, n > 0 && n < sizeof old ? std::optional<std::string>(old) : std::nullopt);
                SetEnvironmentVariableA(name.c_str(), w.substr(eq + 1).c_str());
            } else {
                ADD_FAILURE() << "not supported on Windows before the tool: " << env;
                return r;
            }
        }
        std::string cmd = windows_arg(VNSMB1C_CLI_PATH);
        for (const std::string &a : shell_words(args))
            cmd += " " + windows_arg(a);

        // Wine under load now and then fails to start a process (the
        // previous one may still hold its files): a few tries, then fail.
        DWORD start_error = 0;
        for (int attempt = 0; attempt < kStartAttempts; attempt++) {
            if (attempt > 0)
                Sleep(kStartRetryMs);
            SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
            HANDLE out_read = nullptr;
            HANDLE out_write = nullptr;
            CreatePipe(&out_read, &out_write, &inherit, 0);
            SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
            std::string err_file = dir_ + "/stderr";
            HANDLE err = CreateFileA(err_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
            STARTUPINFOA si{};
            si.cb = sizeof si;
            si.dwFlags = STARTF_USESTDHANDLES;
            si.hStdInput = in;
            si.hStdOutput = out_write;
            si.hStdError = err;
            PROCESS_INFORMATION pi{};
            BOOL started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                          cwd.empty() ? nullptr : cwd.c_str(), &si, &pi);
            if (!started)
                start_error = GetLastError();
            CloseHandle(out_write);
            CloseHandle(err);
            CloseHandle(in);
            if (started) {
                char buf[4096];
                DWORD n = 0;
                while (ReadFile(out_read, buf, sizeof buf, &n, nullptr) && n > 0)
                    r.out.append(buf, n);
                DWORD code = 0;
                if (WaitForSingleObject(pi.hProcess, kQuietLimitMs) == WAIT_OBJECT_0 &&
                    GetExitCodeProcess(pi.hProcess, &code))
                    r.code = static_cast<int>(code);
                else
                    TerminateProcess(pi.hProcess, 1);
                CloseHandle(pi.hThread);
                CloseHandle(pi.hProcess);
            }
            CloseHandle(out_read);
            if (started) {
                r.err = slurp(err_file);
                start_error = 0;
                break;
            }
        }
        for (auto &[name, value] : saved)
            SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
        if (start_error != 0)
            ADD_FAILURE() << "cannot start " << cmd << " (error " << start_error << ")";
        return r;
    }
#else
    Outcome run(const std::string &args, const std::string &env = "")
    {
        std::string err_file = dir_ + "/stderr";
        std::string cmd = env + " " + quote(VNSMB1C_CLI_PATH) + " " + args + " 2>" + quote(err_file) + " </dev/null";
        Outcome r;
        FILE *p = popen(cmd.c_str(), "r");
        if (p == nullptr)
            return r;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            r.out.append(buf, n);
        int status = pclose(p);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.err = slurp(err_file);
        return r;
    }
#endif

    Outcome fake(const std::string &args, const std::string &env = "")
    {
        return run("--fake " + quote(tree_) + " " + args, env);
    }

#ifndef _WIN32
    // Runs the tool on a terminal columns wide, with the fake tree; the
    // terminal is its standard input, output and error.
    Screen on_terminal(const std::vector<std::string> &args, unsigned short columns = 80,
                       const std::vector<Reaction> &reactions = {})
    {
        std::vector<std::string> argv_text = {"vnsmb1c", "--fake", tree_};
        argv_text.insert(argv_text.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &a : argv_text)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        struct winsize ws {};
        ws.ws_col = columns;
        ws.ws_row = 24;
        int master = -1;
        Screen s;
        pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
        if (pid < 0)
            return s;
        if (pid == 0) {
            execv(VNSMB1C_CLI_PATH, argv.data());
            _exit(127);
        }
        size_t next = 0;
        char buf[4096];
        // Each wait is bounded; a tool that stops producing output for that
        // long is killed and the run reported as such.
        for (int rounds = 0; rounds < 100000; rounds++) {
            pollfd pfd{master, POLLIN, 0};
            if (poll(&pfd, 1, kQuietLimitMs) <= 0) {
                kill(pid, SIGKILL);
                break;
            }
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0)
                break;  // EIO once the child has closed the terminal
            s.text.append(buf, static_cast<size_t>(n));
            while (next < reactions.size() && s.text.find(reactions[next].when) != std::string::npos) {
                const Reaction &r = reactions[next++];
                if (!r.keys.empty())
                    (void)!write(master, r.keys.data(), r.keys.size());
                if (r.signal != 0)
                    kill(pid, r.signal);
            }
        }
        int status = 0;
        waitpid(pid, &status, 0);
        close(master);
        s.exited = WIFEXITED(status);
        s.code = s.exited ? WEXITSTATUS(status) : -1;
        s.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        return s;
    }
#endif

    // Names in the scratch folder that look like an unfinished download.
    std::vector<std::string> leftovers() const
    {
        std::vector<std::string> out;
        for (const auto &e : std::filesystem::recursive_directory_iterator(dir_))
            if (e.path().filename().string().find(".vnsmb1c-") != std::string::npos)
                out.push_back(e.path().string());
        return out;
    }

    static constexpr int kQuietLimitMs = 20000;
    static constexpr int kStartAttempts = 3;
    static constexpr int kStartRetryMs = 200;
    std::string dir_;
    const std::string tree_ = VNSMB1C_EXAMPLES_DIR "/media-library.json";
};

}  // namespace cli_test
