// Writes scene nodes through a real wrapper and scene file writer into memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "sceneapi/LightFactory.hpp"
#include "sceneapi/vexScene_api_file.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"
#include "support/WriterHarness.hpp"

namespace vex::test {

// A target without header lines whose scene file lands in memory.
class MemoryTarget : public LightFactory {
  public:
    MemoryTarget() : writer_(std::make_unique<vexScene_api_file>(memory_.stream(), true)) {}
    ~MemoryTarget() override { writer_.reset(); }
    MemoryTarget(const MemoryTarget&) = delete;
    MemoryTarget& operator=(const MemoryTarget&) = delete;

    vexScene_api* scene_api() override { return writer_.get(); }
    void begin(vexSceneapi_oo&) override {}
    void close() override { writer_.reset(); }

    // Everything written so far; the writer's own buffer is flushed first.
    std::string text() {
        if (writer_) writer_->flush();
        return memory_.text();
    }

  private:
    MemoryStream memory_;
    std::unique_ptr<vexScene_api_file> writer_;
};

// What every wrapper writes at construction.
inline const std::string kPreamble =
    "#print \"RayMint SceneApi oo 11.1.0  (built Thu Sep 23 14:16:20 2021)\"\nversion 9\n\n";

// Runs `calls` on a wrapper in the export flow's mode (text arrays, indentation on) and
// returns what followed the wrapper's own opening statements.
template <class F>
std::string written(F&& calls) {
    MemoryTarget target;
    std::string all;
    {
        vexSceneapi_oo out(target);
        out.api()->set_mode(1);
        calls(out);
        all = target.text();
    }
    EXPECT_EQ(all.substr(0, kPreamble.size()), kPreamble);
    return all.size() >= kPreamble.size() ? all.substr(kPreamble.size()) : all;
}

// The material block every mesh writes with its default material, at `level`.
inline std::string defaultMaterialAt(int level) {
    const std::string i(level, ' ');
    const std::string j(level + 1, ' ');
    return i + "material \"default\" {\n" +              //
           j + "surface " + j + "\"vex_diffuse\" {\n" +  //
           j + " \"diffuse\" 0.75 0.5 0.5,\n" +          //
           j + "}" + j + "\n" +                          //
           j + "flags 4096\n" +                          //
           i + "}\n";
}

}  // namespace vex::test
