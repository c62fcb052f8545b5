// Writes a small sample scene through the scene interface's object wrapper.
// It doubles as an example of the API: every call below is one a scene node makes.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "sceneapi/LightFileFactory.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

namespace {

const char kUsage[] =
    "usage: rmq-sample [--binary] FILE|-\n"
    "\n"
    "Writes a small RayMint scene file (.rmq) to FILE, or to standard output for '-':\n"
    "a load block with options, a group with a transform, a mesh object with a\n"
    "material, a numbered texture shader and a captured shader, and a list.\n"
    "\n"
    "  --binary   write arrays as binary blocks instead of text\n"
    "  --help     show this text\n"
    "\n"
    "Exit status: 0 written, 1 the file could not be written, 2 bad usage.\n";

void writeSample(vex::vexSceneapi_oo& out) {
    vexScene_api& api = *out.api();

    api.begin_load("import");
    out.set_bool("adjust_camera", false);
    out.set_double("scale", 0.1);
    api.end_load();

    out.begin_group("Sample Assembly");
    out.flags(0x1);
    const double placement[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 0, 2.5, 1};
    out.transform(placement);

    // A numbered texture shader, referred to by id from the material below.
    const int texture = out.new_shader("texture2_rgb");
    out.set_string("file_name", "wood.png");
    out.set_int("uv_projection", 4);
    out.end_shader();

    // A shader captured in memory, later used as a parameter value.
    api.begin_shader(nullptr, "diffuse");
    const float red[3] = {0.8f, 0.1f, 0.1f};
    out.set_float3("color", red);
    api.end_shader();
    CaptureBuffer* diffuse = api.captured_text();

    api.begin_object("Plate", true);
    out.next_id();
    api.begin_material("Red Paint", false);
    api.shader_text(0, diffuse);
    api.shader_ref(3, texture);
    api.end_material();
    api.begin_geometry("triangle_mesh");
    out.set_float3_array("vertices", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    out.set_int_array("triangles", {0, 1, 2, 0, 2, 3});
    out.set_float3_array("normals", {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}});
    api.end_geometry();
    api.end_object();

    api.begin_list("weights");
    for (int i = 1; i <= 7; ++i) {
        const int32_t w = i * 10;
        api.add_list_item(kInt, &w);
    }
    api.end_list();
    out.end_group();
}

}  // namespace

int main(int argc, char** argv) {
    bool binary = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--binary") {
            binary = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "rmq-sample: unknown option '%s'\n%s", arg.c_str(), kUsage);
            return 2;
        } else if (path.empty()) {
            path = arg;
        } else {
            std::fprintf(stderr, "rmq-sample: more than one FILE given\n%s", kUsage);
            return 2;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "rmq-sample: no FILE given\n%s", kUsage);
        return 2;
    }
    try {
        vex::LightFileFactory target(path);
        vex::vexSceneapi_oo out(target);
        out.api()->set_mode(binary ? 3 : 1);  // bit 1: binary arrays; indentation on
        writeSample(out);
        target.close();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rmq-sample: %s\n", e.what());
        return 1;
    }
    return 0;
}
