#include "addin/FusionMaterial.hpp"

#include <exception>

#include "sceneapi/vexSceneapi_oo.hpp"

namespace vex {
namespace {

using adsk::core::Ptr;

bool isAlbedo(const std::string& id) {
    return id == "opaque_albedo" || id == "metal_f0" || id == "metal_color" ||
           id == "generic_diffuse";
}

}  // namespace

std::string FusionMaterial::nameOf(const Ptr<adsk::core::Appearance>& appearance) {
    return appearance ? appearance->name() : "Generic material";
}

FusionMaterial::FusionMaterial(Ptr<adsk::core::Appearance>& appearance)
    : Material(nameOf(appearance)) {
    const Ptr<adsk::core::Appearance> held = std::move(appearance);
    appearance = nullptr;
    if (!held) return;
    const Ptr<adsk::core::Properties> properties = held->appearanceProperties();
    if (!properties) throw std::exception();
    const size_t count = properties->count();
    for (size_t i = 0; i < count; ++i) {
        const Ptr<adsk::core::Property> property = properties->item(i);
        if (!property) throw std::exception();
        const std::string id = property->id();
        const Ptr<adsk::core::ColorProperty> colorProperty =
            property->cast<adsk::core::ColorProperty>();
        if (!colorProperty) continue;
        // Every textured colour property is looked at; the last file name found wins.
        if (colorProperty->hasConnectedTexture()) {
            const Ptr<adsk::core::AppearanceTexture> texture = colorProperty->connectedTexture();
            const Ptr<adsk::core::Properties> textureProperties =
                texture ? texture->properties() : Ptr<adsk::core::Properties>();
            if (textureProperties) {
                const size_t n = textureProperties->count();
                for (size_t k = 0; k < n; ++k) {
                    const Ptr<adsk::core::Property> tp = textureProperties->item(k);
                    if (!tp) throw std::exception();
                    if (std::string(tp->objectType()) != "adsk::core::FilenameProperty") continue;
                    const Ptr<adsk::core::FilenameProperty> file =
                        tp->cast<adsk::core::FilenameProperty>();
                    if (file) texturePath_ = file->value();
                }
            }
        }
        const Ptr<adsk::core::Color> value = colorProperty->value();
        if (!value) continue;
        short red = 255, green = 255, blue = 255, opacity = 255;
        if (!value->getColor(red, green, blue, opacity)) continue;
        if (isAlbedo(id))
            color_ = {static_cast<float>(red) / 255.0f, static_cast<float>(green) / 255.0f,
                      static_cast<float>(blue) / 255.0f};
    }
}

FusionMaterial::~FusionMaterial() = default;

void FusionMaterial::writeShaders(vexSceneapi_oo& out) {
    vexScene_api& api = *out.api();
    int texture = 0;
    if (!texturePath_.empty()) {
        texture = out.new_shader("texture2_rgb");
        const int32_t projection = 4, flags = 44;
        api.set_value("uv_projection", kInt, &projection);
        api.set_value("uv_flags", kInt, &flags);
        out.set_string("texture", texturePath_);
        out.end_shader();
    }
    const int diffuse = out.new_shader("vex_diffuse");
    api.set_value("diffuse", kFloat3, color_.data());
    if (!texturePath_.empty()) api.set_shader_link("diffuse", texture);
    out.end_shader();
    api.shader_ref(0, diffuse);
}

}  // namespace vex
