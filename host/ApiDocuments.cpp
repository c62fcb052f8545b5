// The host's documents and their products: designs with their units, components, the
// occurrences placing them, and a component's physical properties.
#include "SessionImpl.hpp"

namespace host {

namespace {

class PhysicalPropertiesImpl : public Impl<fusion::PhysicalProperties> {
  public:
    explicit PhysicalPropertiesImpl(Measures m) : m_(m) {}
    double area() const override { return m_.area; }
    double volume() const override { return m_.volume; }

  private:
    Measures m_;
};

class ComponentImpl;

class OccurrenceImpl : public Impl<fusion::Occurrence> {
  public:
    OccurrenceImpl(DocumentRef d, ComponentRef owner, const OccurrenceModel* o)
        : d_(std::move(d)), owner_(std::move(owner)), o_(o) {}
    Ptr<fusion::Component> component() const override;
    bool isVisible() const override { return o_->visible; }
    Ptr<core::Appearance> appearance() const override { return appearanceOf(d_, o_->appearance); }
    Ptr<core::Matrix3D> transform() const override { return make<Matrix3DImpl>(o_->cells); }

  private:
    DocumentRef d_;
    ComponentRef owner_;
    const OccurrenceModel* o_;
};

class OccurrencesImpl : public Impl<fusion::Occurrences> {
  public:
    OccurrencesImpl(DocumentRef d, ComponentRef c) : d_(std::move(d)), c_(std::move(c)) {}
    std::size_t count() const override { return c_->occurrences.size(); }
    Ptr<fusion::Occurrence> item(std::size_t index) const override {
        if (index >= c_->occurrences.size()) return nullptr;
        return make<OccurrenceImpl>(d_, c_, &c_->occurrences[index]);
    }

  private:
    DocumentRef d_;
    ComponentRef c_;
};

class ComponentImpl : public Impl<fusion::Component> {
  public:
    ComponentImpl(DocumentRef d, ComponentRef c) : d_(std::move(d)), c_(std::move(c)) {}
    char* name_raw() const override { return text(c_->name); }
    Ptr<fusion::Occurrences> occurrences() const override { return make<OccurrencesImpl>(d_, c_); }
    Ptr<fusion::BRepBodies> bRepBodies() const override { return bodiesOf(d_, c_); }
    Ptr<fusion::PhysicalProperties> physicalProperties() const override {
        return make<PhysicalPropertiesImpl>(measure(*c_));
    }

  private:
    DocumentRef d_;
    ComponentRef c_;
};

Ptr<fusion::Component> OccurrenceImpl::component() const {
    if (!o_->component) return nullptr;
    return make<ComponentImpl>(d_, o_->component);
}

class UnitsManagerImpl : public Impl<core::UnitsManager> {
  public:
    explicit UnitsManagerImpl(std::string unit) : unit_(std::move(unit)) {}
    char* defaultLengthUnits_raw() const override { return text(unit_); }

  private:
    std::string unit_;
};

class DesignImpl : public Impl<fusion::Design> {
  public:
    DesignImpl(DocumentRef d, const ProductModel* p) : d_(std::move(d)), p_(p) {}
    Ptr<fusion::Component> rootComponent() const override {
        if (!p_->root) return nullptr;
        return make<ComponentImpl>(d_, p_->root);
    }
    Ptr<core::UnitsManager> unitsManager() const override {
        return make<UnitsManagerImpl>(p_->unit);
    }

  private:
    DocumentRef d_;
    const ProductModel* p_;
};

// A product of another kind (e.g. manufacturing data): only its class.
class OtherProductImpl : public Impl<core::Product> {};

class ProductsImpl : public Impl<core::Products> {
  public:
    explicit ProductsImpl(DocumentRef d) : d_(std::move(d)) {}
    std::size_t count() const override { return d_->products.size(); }
    Ptr<core::Product> item(std::size_t index) const override {
        if (index >= d_->products.size()) return nullptr;
        const ProductModel& p = d_->products[index];
        if (!p.isDesign) return make<OtherProductImpl>();
        return make<DesignImpl>(d_, &p);
    }

  private:
    DocumentRef d_;
};

class DocumentImpl : public Impl<core::Document> {
  public:
    explicit DocumentImpl(DocumentRef d) : d_(std::move(d)) {}
    char* name_raw() const override { return text(d_->name); }
    Ptr<core::Products> products() const override { return make<ProductsImpl>(d_); }

  private:
    DocumentRef d_;
};

}  // namespace

Ptr<core::Document> documentOf(DocumentRef d) {
    return make<DocumentImpl>(std::move(d));
}

}  // namespace host
