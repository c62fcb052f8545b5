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

using Result = vex::test::CaughtResult;

// Runs a shell command line with standard output and error (in the scratch file `tag`.err)
// captured.
inline Result run(const std::string& command, const std::string& tag) {
    return vex::test::runCaught(command + " <" + vex::test::kNullDevice, write(tag + ".err", ""));
}

}  // namespace hosttest
