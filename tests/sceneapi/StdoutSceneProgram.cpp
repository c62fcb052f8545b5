// Test program: prints to standard output before and while writing an empty scene to "-",
// and to standard error once "-" has taken standard output over.
#include <cstdio>

#include "sceneapi/LightFileFactory.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

int main() {
    std::printf("printed before the scene\n");
    vex::LightFileFactory target("-");
    vex::vexSceneapi_oo out(target);
    std::fprintf(stderr, "on standard error\n");
    std::printf("printed during the scene\n");
    target.close();
}
