// The output target for a scene file.
#pragma once

#include <cstdio>
#include <string>

#include "sceneapi/LightFactory.hpp"
#include "sceneapi/vexScene_api_file.hpp"

namespace vex {

class LightFileFactory : public LightFactory {
  public:
    // Opens the UTF-8 path ("-" for standard output); throws std::runtime_error
    // "could not open file: \"PATH\"" when it cannot.
    explicit LightFileFactory(const std::string& path);
    // As close(), but reports a failure on standard error only.
    ~LightFileFactory() override;
    LightFileFactory(const LightFileFactory&) = delete;
    LightFileFactory& operator=(const LightFileFactory&) = delete;

    vexScene_api* scene_api() override;
    // Writes the four header texts.
    void begin(vexSceneapi_oo& wrapper) override;
    // Deletes the writer and closes the file; throws std::runtime_error
    // "could not close file" when anything written was lost.
    void close() override;

  private:
    // Returns false (with errno set) when the file did not receive everything.
    bool finish();

    vexScene_api_file* writer_ = nullptr;
    FILE* stream_ = nullptr;
};

}  // namespace vex
