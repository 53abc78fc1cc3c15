#pragma once
// Runs a program as a child process the way a shell would (the kiv tool, the other VM's suite, the
// crash suite's saver), feeding its standard input and collecting its standard output, standard
// error and exit code. Header-only, so that the tests that run inside a JVM can use it too.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/target_command.h"

extern char** environ;

namespace kiv::test {

struct Outcome {
    int exit_code = -1;  // -1 if the child did not exit normally
    std::string out;
    std::string err;
};

// What else the child starts with: a file-size limit (RLIMIT_FSIZE, with SIGXFSZ at its default
// action, which kills) and a file open for reading and writing as its descriptor 3.
struct ChildSetup {
    std::optional<rlim_t> file_size_limit;
    std::optional<std::string> fd3;
};

// Starts argv[0], looked up in PATH, with envp and setup, its standard input read from `in`,
// standard output written to `out` or, if given, to the file stdout_file, and standard error to
// `err`. The child's pid, or -1 if it could not be started.
inline pid_t start_child(char* const* argv, char* const* envp, int in, int out, int err,
                         const std::optional<std::string>& stdout_file, const ChildSetup& setup) {
#if defined(__ANDROID__) && __ANDROID_API__ < 28
    // bionic has posix_spawn from API 28 on: below, fork and exec (only async-signal-safe calls
    // in the child).
    const char* out_path = stdout_file ? stdout_file->c_str() : nullptr;
    const char* fd3_path = setup.fd3 ? setup.fd3->c_str() : nullptr;
    pid_t pid = fork();
    if (pid != 0) return pid;
    int to = out_path != nullptr ? open(out_path, O_WRONLY | O_CLOEXEC) : out;
    if (to < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(to, STDOUT_FILENO) < 0 ||
        dup2(err, STDERR_FILENO) < 0) {
        _exit(127);
    }
    if (fd3_path != nullptr) {
        int fd = open(fd3_path, O_RDWR);
        if (fd < 0 || (fd != 3 && (dup2(fd, 3) < 0 || close(fd) != 0))) _exit(127);
    }
    signal(SIGXFSZ, SIG_DFL);
    if (setup.file_size_limit) {
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = *setup.file_size_limit;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    execvpe(argv[0], argv, envp);
    _exit(127);
#else
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    if (stdout_file) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdout_file->c_str(), O_WRONLY,
                                         0);
    } else {
        posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    }
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    if (setup.fd3) posix_spawn_file_actions_addopen(&actions, 3, setup.fd3->c_str(), O_RDWR, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t xfsz;
    sigemptyset(&xfsz);
    sigaddset(&xfsz, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attr, &xfsz);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    // The child inherits the limit; the parent keeps it only while it starts the child.
    rlimit unlimited{};
    getrlimit(RLIMIT_FSIZE, &unlimited);
    if (setup.file_size_limit) {
        rlimit limited = unlimited;
        limited.rlim_cur = *setup.file_size_limit;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv, envp);
    setrlimit(RLIMIT_FSIZE, &unlimited);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
#endif
}

// Runs `tool args...` with `input` on standard input. With stdout_file given, standard output
// goes to that file instead of being captured (to make it fail: "/dev/full"). extra_env: more
// NAME=value entries for the child's environment.
inline Outcome run_child(const std::string& tool, const std::vector<std::string>& args,
                         const std::string& input = {},
                         const std::optional<std::string>& stdout_file = std::nullopt,
                         const std::vector<std::string>& extra_env = {},
                         const ChildSetup& setup = {}) {
    // A child that exits without reading all its input must not kill the test with SIGPIPE.
    struct sigaction old {};
    sigaction(SIGPIPE, nullptr, &old);
    if (old.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);

    Outcome outcome;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        outcome.err = "pipe failed";
        return outcome;
    }
    std::vector<std::string> cmd = target_command(tool, args);
    std::vector<char*> argv = argv_of(cmd);
    std::vector<std::string> env_strings = extra_env;
    std::vector<char*> envp = argv_of(env_strings);
    envp.pop_back();
    for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
    envp.push_back(nullptr);
    pid_t pid = start_child(argv.data(), envp.data(), in[0], out[1], err[1], stdout_file, setup);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        outcome.err = "the child could not be started";
        return outcome;
    }

    fcntl(in[1], F_SETFL, O_NONBLOCK);
    std::size_t fed = 0;
    int to_child = in[1];
    if (input.empty()) {
        close(to_child);
        to_child = -1;
    }
    int from_child[2] = {out[0], err[0]};
    std::string* sink[2] = {&outcome.out, &outcome.err};
    while (to_child >= 0 || from_child[0] >= 0 || from_child[1] >= 0) {
        pollfd fds[3] = {
            {to_child, POLLOUT, 0}, {from_child[0], POLLIN, 0}, {from_child[1], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (to_child >= 0 && fds[0].revents != 0) {
            ssize_t n = write(to_child, input.data() + fed, input.size() - fed);
            if (n > 0) fed += static_cast<std::size_t>(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || fed == input.size()) {
                close(to_child);
                to_child = -1;
            }
        }
        for (int i = 0; i < 2; ++i) {
            if (from_child[i] < 0 || fds[i + 1].revents == 0) continue;
            char buf[65536];
            ssize_t n = read(from_child[i], buf, sizeof buf);
            if (n > 0) {
                sink[i]->append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(from_child[i]);
                from_child[i] = -1;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
    return outcome;
}

}  // namespace kiv::test
