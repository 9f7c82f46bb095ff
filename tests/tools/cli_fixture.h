// Runs the vnsmb1c command-line tool as a separate process, through a
// shell with pipes or on a pseudo-terminal, in a scratch folder of its own.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
        std::string tmpl = (std::filesystem::temp_directory_path() / "vnsmb1c_cli_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Runs the tool with the given arguments (already shell-quoted where
    // needed); env is prepended to the command line (assignments, or a
    // command ending in ";" or "&&").
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

    Outcome fake(const std::string &args, const std::string &env = "")
    {
        return run("--fake " + quote(tree_) + " " + args, env);
    }

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
    std::string dir_;
    const std::string tree_ = VNSMB1C_EXAMPLES_DIR "/media-library.json";
};

}  // namespace cli_test
