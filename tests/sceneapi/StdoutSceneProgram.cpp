// Test program: prints to standard output before and after writing an empty scene to "-".
// With standard output a pipe, the first line is still in stdio's buffer when "-" takes
// standard output over.
#include <cstdio>
#include <exception>

#include "sceneapi/LightFileFactory.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

int main() {
    std::printf("printed before the scene\n");
    try {
        vex::LightFileFactory target("-");
        vex::vexSceneapi_oo out(target);
        std::printf("printed during the scene\n");
        target.close();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
