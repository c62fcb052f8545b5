// Writes scene nodes through a real wrapper, file target and scene file writer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "TestFiles.hpp"
#include "sceneapi/LightFileFactory.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

namespace vex::test {

// What the file target and the wrapper write before any node.
inline const std::string kEmptyScene =
    "//---corvan:dal:7---\n//---import:dal:1---\n//---id:1---\n"
    "// This is a RayMint scene file\n\n"
    "#print \"RayMint SceneApi oo 11.1.0  (built Thu Sep 23 14:16:20 2021)\"\nversion 9\n\n";

// Runs `calls` on a wrapper over a scene file in the export flow's mode (text arrays,
// indentation on) and returns what followed the empty scene.
template <class F>
std::string written(F&& calls) {
    TempDir dir;
    {
        LightFileFactory target((dir / "scene.rmq").string());
        vexSceneapi_oo out(target);
        out.api()->set_mode(1);
        calls(out);
    }
    const std::string all = readFile(dir / "scene.rmq");
    EXPECT_EQ(all.substr(0, kEmptyScene.size()), kEmptyScene);
    return all.substr(std::min(all.size(), kEmptyScene.size()));
}

}  // namespace vex::test
