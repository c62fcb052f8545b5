// Double fork: the intermediate child starts a new session, forks the renderer and exits
// at once; this process reaps it immediately, and the renderer, now an orphan, is reaped
// by init. So the host never holds a child it would have to wait for, and no SIGCHLD
// handler of the host is needed or disturbed. A close-on-exec pipe carries an exec
// failure back, so a path that cannot be executed is not reported as started.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "livelink/ProcessPlatform.hpp"
#include "sceneapi/LogPlatform.hpp"

extern char** environ;

namespace vex::platform {
namespace {

// Only async-signal-safe calls between fork and exec: the host may have other threads.
[[noreturn]] void runRenderer(const char* path, int errorPipe, int devNull, int maxFd) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s = 1; s < NSIG; ++s) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = SIG_DFL;
        sigaction(s, &action, nullptr);  // fails harmlessly for SIGKILL, SIGSTOP and gaps
    }
    // The renderer gets none of the host's files, not even its standard streams.
    for (int fd = 0; fd < 3; ++fd) {
        if (devNull != fd) dup2(devNull, fd);
    }
    const auto pipeFd = static_cast<unsigned>(errorPipe);
    const bool ranged =
        (pipeFd <= 3 || close_range(3, pipeFd - 1, 0) == 0) && close_range(pipeFd + 1, ~0u, 0) == 0;
    if (!ranged) {
        for (int fd = 3; fd < maxFd; ++fd) {
            if (fd != errorPipe) close(fd);
        }
    }
    char* const argv[] = {const_cast<char*>(path), nullptr};
    execve(path, argv, environ);
    const int error = errno;
    ssize_t ignored = write(errorPipe, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

}  // namespace

bool startDetachedProcess(const std::wstring& widePath) {
    const auto path = nativePath(widePath);
    if (!path) return false;
    // Everything that allocates happens before the fork.
    struct rlimit limit {};
    int maxFd = 1024;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        maxFd = limit.rlim_cur > 65536 ? 65536 : static_cast<int>(limit.rlim_cur);
    }
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) return false;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        close(devNull);
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        close(devNull);
        close(pipeFds[0]);
        close(pipeFds[1]);
        return false;
    }
    if (child == 0) {
        close(pipeFds[0]);
        setsid();
        const pid_t renderer = fork();
        if (renderer < 0) {
            const int error = errno;
            ssize_t ignored = write(pipeFds[1], &error, sizeof error);
            (void)ignored;
            _exit(127);
        }
        if (renderer == 0) runRenderer(path->c_str(), pipeFds[1], devNull, maxFd);
        _exit(0);
    }
    close(devNull);
    close(pipeFds[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // Returns at the exec (the pipe closes) or with the errno of a failed fork or exec.
    int error = 0;
    ssize_t got;
    do {
        got = read(pipeFds[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(pipeFds[0]);
    return got == 0;
}

unsigned long currentProcessId() {
    return static_cast<unsigned long>(getpid());
}

}  // namespace vex::platform
