#include "scene/DefaultRTModule.hpp"

#include "sceneapi/vexSceneapi_oo.hpp"

namespace vex {

DefaultRTModule::DefaultRTModule() : LightModule("vexrtopt.so") {}

DefaultRTModule::~DefaultRTModule() = default;

void DefaultRTModule::write_options(vexSceneapi_oo& out) {
    out.set_bool("import_mode", importMode_);
    out.set_bool("import_merge_groups", mergeGroups_);
    out.set_bool("import_merge_objects", mergeObjects_);
    out.set_int("import_up_vector", upVector_);
    out.set_float("meter_scale", meterScale_);
    out.set_bool("import_keep_original", keepOriginal_);
    out.set_bool("import_center_geometry", centerGeometry_);
    out.set_bool("import_snap_to_ground", snapToGround_);
    out.set_bool("import_adjust_camera", adjustCamera_);
    out.set_bool("import_adjust_environment", adjustEnvironment_);
    if (!useCamera_.empty()) out.set_string("import_use_camera", useCamera_);
    out.set_bool("ext", ext_);
}

}  // namespace vex
