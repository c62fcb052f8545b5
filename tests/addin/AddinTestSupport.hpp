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
    vex::test::CommandResult r =
        vex::test::runCommand(command + " 2>&1 <" + vex::test::kNullDevice);
#ifdef _WIN32
    // The programs' messages are text lines, which end in CR LF there.
    for (std::size_t at; (at = r.out.find("\r\n")) != std::string::npos;) r.out.erase(at, 1);
#endif
    return {r.status, r.out};
}

}  // namespace addintest
