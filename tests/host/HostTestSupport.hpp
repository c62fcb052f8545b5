// Helpers of the host tests: scratch files and running programs.
#pragma once

#include <filesystem>
#include <string>

#include "TestFiles.hpp"

namespace hosttest {

using vex::test::readFile;

inline std::filesystem::path scratch(const std::string& name) {
    // Absolute in the system's own spelling, as the host names files in its messages.
    return std::filesystem::absolute(std::filesystem::path(VEX_BINARY_DIR) / "tests" / "host" /
                                     "scratch" / name)
        .make_preferred();
}

inline std::string write(const std::string& name, const std::string& text) {
    vex::test::writeFile(scratch(name), text);
    return scratch(name).string();
}

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs a shell command line with standard output and error captured.
inline Result run(const std::string& command, const std::string& tag) {
    const std::string err = write(tag + ".err", "");
    const vex::test::CommandResult c = vex::test::runCommand(
        command + " 2>" + vex::test::shellQuote(err) + " <" + vex::test::kNullDevice);
    return {c.status, c.out, vex::test::plainLines(readFile(err))};
}

}  // namespace hosttest
