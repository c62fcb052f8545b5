// Started by the process and target tests as the renderer would be: reports how it was
// started (arguments, current directory, environment, and on POSIX session, open files,
// signal state and parent) into the file named by VEX_PROBE_REPORT, then exits. The
// report is written beside its name and renamed, so a reader never sees half of it.
#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    const char* reportPath = std::getenv("VEX_PROBE_REPORT");
    if (reportPath == nullptr) return 2;
    std::string report;
    report += "argc=" + std::to_string(argc) + "\n";
    report += std::string("argv0=") + (argc > 0 ? argv[0] : "") + "\n";
    std::error_code error;
    report += "cwd=" + std::filesystem::current_path(error).string() + "\n";
    const char* mark = std::getenv("VEX_PROBE_MARK");
    report += std::string("mark=") + (mark ? mark : "") + "\n";
#ifdef _WIN32
    report += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
    report += std::string("cmdline=") + GetCommandLineA() + "\n";
#else
    report += "pid=" + std::to_string(getpid()) + "\n";
    report += "ppid=" + std::to_string(getppid()) + "\n";
    report += "sid=" + std::to_string(getsid(0)) + "\n";
    for (int fd = 0; fd < 3; ++fd) {
        char link[64];
        char target[4096] = {};
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t n = readlink(link, target, sizeof target - 1);
        report +=
            "fd" + std::to_string(fd) + "=" + (n > 0 ? std::string(target, n) : "closed") + "\n";
    }
    // Descriptors above the standard three.
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
#endif
    const std::string partial = std::string(reportPath) + ".part";
    {
        std::ofstream out(partial, std::ios::binary);
        out << report;
        if (!out.flush()) return 3;
    }
    return std::rename(partial.c_str(), reportPath) == 0 ? 0 : 4;
}
