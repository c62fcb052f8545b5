// Started by the process tests as the renderer would be: reports how it was started
// (arguments, session, open files, signal mask, parent) over the Unix socket named by
// VEX_PROBE_SOCKET, then exits.
#include <dirent.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    const char* socketPath = std::getenv("VEX_PROBE_SOCKET");
    if (socketPath == nullptr || std::strlen(socketPath) >= sizeof(sockaddr_un::sun_path)) return 2;
    std::string report;
    report += "argc=" + std::to_string(argc) + "\n";
    report += std::string("argv0=") + (argc > 0 ? argv[0] : "") + "\n";
    report += "pid=" + std::to_string(getpid()) + "\n";
    report += "ppid=" + std::to_string(getppid()) + "\n";
    report += "sid=" + std::to_string(getsid(0)) + "\n";
    char cwd[4096];
    report += std::string("cwd=") + (getcwd(cwd, sizeof cwd) ? cwd : "?") + "\n";
    for (int fd = 0; fd < 3; ++fd) {
        char link[64];
        char target[4096] = {};
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t n = readlink(link, target, sizeof target - 1);
        report +=
            "fd" + std::to_string(fd) + "=" + (n > 0 ? std::string(target, n) : "closed") + "\n";
    }
    // Descriptors above the standard three, before the socket is made.
    std::string extra;
    if (DIR* dir = opendir("/proc/self/fd")) {
        const int own = dirfd(dir);
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            const int fd = std::atoi(entry->d_name);
            if (fd > 2 && fd != own) extra += std::to_string(fd) + ",";
        }
        closedir(dir);
    }
    report += "extra_fds=" + extra + "\n";
    sigset_t mask;
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    report += std::string("sigterm_blocked=") + (sigismember(&mask, SIGTERM) ? "yes" : "no") + "\n";
    struct sigaction action {};
    sigaction(SIGPIPE, nullptr, &action);
    report +=
        std::string("sigpipe_default=") + (action.sa_handler == SIG_DFL ? "yes" : "no") + "\n";
    const char* mark = std::getenv("VEX_PROBE_MARK");
    report += std::string("mark=") + (mark ? mark : "") + "\n";

    const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return 3;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socketPath);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 4;
    const char* p = report.data();
    size_t left = report.size();
    while (left > 0) {
        const ssize_t n = write(s, p, left);
        if (n <= 0) return 5;
        p += n;
        left -= static_cast<size_t>(n);
    }
    close(s);
    return 0;
}
