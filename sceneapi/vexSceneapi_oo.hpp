// Object-style wrapper over one scene interface: strings and vectors in,
// object and shader numbering, banner and format version at construction.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "sceneapi/LightFactory.hpp"
#include "sceneapi/LightNode.hpp"
#include "sceneapi/vexScene_api.hpp"

namespace vex {

inline constexpr int kWrapperVersionMajor = 11;
inline constexpr int kWrapperVersionMinor = 1;
inline constexpr int kWrapperVersionPatch = 0;
inline constexpr const char* kWrapperBuildStamp = "Thu Sep 23 14:16:20 2021";
inline constexpr int kSceneFormatVersion = 9;

// Builds "RayMint SceneApi oo 11.1.0  (built Thu Sep 23 14:16:20 2021)".
std::string wrapperBanner();

class vexSceneapi_oo {
  public:
    using Matrix = std::array<double, 16>;
    using Float3 = std::array<float, 3>;

    explicit vexSceneapi_oo(LightFactory& factory);
    virtual ~vexSceneapi_oo();                                                             // 0
    virtual int set_api(vexScene_api* api);                                                // 1
    virtual int next_id();                                                                 // 2
    virtual void write(LightNode& node);                                                   // 3
    virtual void progress(const std::string& name, float fraction);                        // 4
    virtual void begin_group(const std::string& name);                                     // 5
    virtual void end_group();                                                              // 6
    virtual int new_shader(const std::string& type);                                       // 7
    virtual void end_shader();                                                             // 8
    virtual void set_cstring(const char* name, const char* value);                         // 9
    virtual void set_string(const std::string& name, const std::string& value);            // 10
    virtual void set_float3(const std::string& name, const float* value);                  // 11
    virtual void set_double3(const std::string& name, const double* value);                // 12
    virtual void set_double(const std::string& name, double value);                        // 13
    virtual void set_float(const std::string& name, float value);                          // 14
    virtual void set_int(const std::string& name, int value);                              // 15
    virtual void set_bool(const std::string& name, bool value);                            // 16
    virtual void set_matrix_array(const std::string& name, const std::vector<Matrix>& v);  // 17
    virtual void set_int_array(const std::string& name, const std::vector<int>& v);        // 18
    virtual void set_float_array(const std::string& name, const std::vector<float>& v);    // 19
    virtual void set_double_array(const std::string& name, const std::vector<double>& v);  // 20
    virtual void set_float3_array(const std::string& name, const std::vector<Float3>& v);  // 21
    virtual void transform(const double* m);                                               // 22
    virtual void transform(const double* m, bool set);                                     // 23
    virtual void flags(unsigned value);                                                    // 24
    virtual vexScene_api* api();                                                           // 25

    void error(std::string text);

    vexSceneapi_oo(const vexSceneapi_oo&) = delete;
    vexSceneapi_oo& operator=(const vexSceneapi_oo&) = delete;

  private:
    void setArray(const std::string& name, int32_t code, const void* data, size_t count);

    vexScene_api* api_ = nullptr;
    LightFactory* factory_;
    int shaderCounter_ = 0;
    int objectCounter_ = 0;
};

}  // namespace vex
