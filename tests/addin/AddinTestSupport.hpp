// Helpers of the add-in tests: scratch folders, files, and running the real programs.
#pragma once

#include <string>

#include "TestFiles.hpp"

namespace addintest {

using ScratchDir = vex::test::TempDir;
using vex::test::readFile;
using vex::test::writeFile;

struct Result {
    int status;
    std::string out;  // standard output and error together
};

// Runs a shell command line; the exit status, or -1 when it did not exit normally.
inline Result run(const std::string& command) {
    const vex::test::CommandResult r =
        vex::test::runCommand(command + " 2>&1 <" + vex::test::kNullDevice);
    return {r.status, vex::test::plainLines(r.out)};
}

}  // namespace addintest
