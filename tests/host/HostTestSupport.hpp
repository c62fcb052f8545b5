// Helpers of the host tests: scratch files and running programs.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TestFiles.hpp"

namespace hosttest {

inline std::filesystem::path scratch(const std::string& name) {
    // Absolute in the system's own spelling, as the host names files in its messages.
    auto dir = std::filesystem::absolute(std::filesystem::path(VEX_BINARY_DIR) / "tests" / "host" /
                                         "scratch")
                   .make_preferred();
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
    const std::string err = scratch(tag + ".err").string();
    const vex::test::CommandResult c = vex::test::runCommand(
        command + " 2>" + vex::test::shellQuote(err) + " <" + vex::test::kNullDevice);
    Result r;
    r.status = c.status;
    r.out = c.out;
    r.err = read(err);
#ifdef _WIN32
    // Standard error is a text stream there.
    for (std::size_t at; (at = r.err.find("\r\n")) != std::string::npos;) r.err.erase(at, 1);
#endif
    return r;
}

}  // namespace hosttest
