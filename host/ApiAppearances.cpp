// The host's appearances: their properties (colours, file names, numbers) and the textures
// connected to colour properties.
#include "SessionImpl.hpp"

namespace host {

namespace {

class PropertiesImpl;

class ColorImpl : public Impl<core::Color> {
  public:
    explicit ColorImpl(const std::array<short, 4>& rgba) : rgba_(rgba) {}
    bool getColor(short& red, short& green, short& blue, short& opacity) const override {
        red = rgba_[0];
        green = rgba_[1];
        blue = rgba_[2];
        opacity = rgba_[3];
        return true;
    }

  private:
    std::array<short, 4> rgba_;
};

class AppearanceTextureImpl : public Impl<core::AppearanceTexture> {
  public:
    AppearanceTextureImpl(DocumentRef d, std::shared_ptr<TextureModel> t)
        : d_(std::move(d)), t_(std::move(t)) {}
    Ptr<core::Properties> properties() const override;

  private:
    DocumentRef d_;
    std::shared_ptr<TextureModel> t_;
};

class ColorPropertyImpl : public Impl<core::ColorProperty> {
  public:
    ColorPropertyImpl(DocumentRef d, const PropertyModel* p) : d_(std::move(d)), p_(p) {}
    char* id_raw() const override { return text(p_->id); }
    char* name_raw() const override { return text(p_->name); }
    Ptr<core::Color> value() const override {
        if (!p_->hasColor) return nullptr;
        return make<ColorImpl>(p_->rgba);
    }
    bool hasConnectedTexture() const override { return p_->texture != nullptr; }
    Ptr<core::AppearanceTexture> connectedTexture() const override {
        if (!p_->texture) return nullptr;
        return make<AppearanceTextureImpl>(d_, p_->texture);
    }

  private:
    DocumentRef d_;
    const PropertyModel* p_;
};

class FilenamePropertyImpl : public Impl<core::FilenameProperty> {
  public:
    FilenamePropertyImpl(DocumentRef d, const PropertyModel* p) : d_(std::move(d)), p_(p) {}
    char* id_raw() const override { return text(p_->id); }
    char* name_raw() const override { return text(p_->name); }
    char* value_raw() const override { return text(p_->file); }

  private:
    DocumentRef d_;
    const PropertyModel* p_;
};

class FloatPropertyImpl : public Impl<core::FloatProperty> {
  public:
    FloatPropertyImpl(DocumentRef d, const PropertyModel* p) : d_(std::move(d)), p_(p) {}
    char* id_raw() const override { return text(p_->id); }
    char* name_raw() const override { return text(p_->name); }
    double value() const override { return p_->number; }

  private:
    DocumentRef d_;
    const PropertyModel* p_;
};

class PropertiesImpl : public Impl<core::Properties> {
  public:
    // owner keeps the property list alive.
    PropertiesImpl(DocumentRef d, std::shared_ptr<const void> owner,
                   const std::vector<PropertyModel>* list)
        : d_(std::move(d)), owner_(std::move(owner)), list_(list) {}
    std::size_t count() const override { return list_->size(); }
    Ptr<core::Property> item(std::size_t index) const override {
        if (index >= list_->size()) return nullptr;
        const PropertyModel* p = &(*list_)[index];
        switch (p->kind) {
            case PropertyModel::Kind::Color:
                return make<ColorPropertyImpl>(d_, p);
            case PropertyModel::Kind::Filename:
                return make<FilenamePropertyImpl>(d_, p);
            case PropertyModel::Kind::Float:
                return make<FloatPropertyImpl>(d_, p);
        }
        return nullptr;
    }
    Ptr<core::Property> itemById(const std::string& id) const override {
        for (std::size_t i = 0; i < list_->size(); ++i)
            if ((*list_)[i].id == id) return item(i);
        return nullptr;
    }

  private:
    DocumentRef d_;
    std::shared_ptr<const void> owner_;
    const std::vector<PropertyModel>* list_;
};

Ptr<core::Properties> AppearanceTextureImpl::properties() const {
    return make<PropertiesImpl>(d_, t_, &t_->properties);
}

class AppearanceImpl : public Impl<core::Appearance> {
  public:
    AppearanceImpl(DocumentRef d, AppearanceRef a) : d_(std::move(d)), a_(std::move(a)) {}
    char* name_raw() const override { return text(a_->name); }
    char* id_raw() const override { return text(a_->id); }
    Ptr<core::Properties> appearanceProperties() const override {
        return make<PropertiesImpl>(d_, a_, &a_->properties);
    }

  private:
    DocumentRef d_;
    AppearanceRef a_;
};

}  // namespace

Ptr<core::Appearance> appearanceOf(const DocumentRef& d, const AppearanceRef& a) {
    if (!a) return nullptr;
    return make<AppearanceImpl>(d, a);
}

}  // namespace host
