// Helpers of the host tests: scratch files and running programs.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace hosttest {

inline std::filesystem::path scratch(const std::string& name) {
    auto dir = std::filesystem::path(VEX_BINARY_DIR) / "tests" / "host" / "scratch";
    std::filesystem::create_directories(dir);
    return dir / name;
}

inline std::string write(const std::string& name, const std::string& text) {
    auto path = scratch(name);
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

inline std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs a shell command line with standard output and error captured.
inline Result run(const std::string& command, const std::string& tag) {
    std::string out = scratch(tag + ".out").string(), err = scratch(tag + ".err").string();
    int raw = std::system((command + " >'" + out + "' 2>'" + err + "' </dev/null").c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = read(out);
    r.err = read(err);
    return r;
}

}  // namespace hosttest
