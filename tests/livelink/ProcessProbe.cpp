// Started as the renderer would be: writes how (arguments, directory, environment, and the
// command line or the open descriptors) to $VEX_PROBE_REPORT, whole.
#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    const char* reportPath = std::getenv("VEX_PROBE_REPORT");
    const char* mark = std::getenv("VEX_PROBE_MARK");
    if (reportPath == nullptr) return 2;
    std::error_code error;
    std::string started = std::to_string(argc) + " " + (argc > 0 ? argv[0] : "") + " " +
                          std::filesystem::current_path(error).string() + " " + (mark ? mark : "") +
                          " ";
#ifdef _WIN32
    std::string report = "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
    started += GetCommandLineA();
#else
    std::string report = "pid=" + std::to_string(getpid()) + "\nppid=" + std::to_string(getppid()) +
                         "\nsid=" + std::to_string(getsid(0)) + "\n";
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* entry = dir ? readdir(dir) : nullptr) {
        char target[4096] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == dirfd(dir)) continue;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        started += (n > 0 ? std::string(target, n) : "?") + ",";
    }
    if (dir) closedir(dir);
#endif
    const std::string partial = std::string(reportPath) + ".part";
    {
        std::ofstream out(partial, std::ios::binary);
        out << report << "started=" << started << "\n";
        if (!out.flush()) return 3;
    }
    return std::rename(partial.c_str(), reportPath) == 0 ? 0 : 4;
}
