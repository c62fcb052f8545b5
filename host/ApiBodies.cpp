// The host's bodies of a component, their faces and the triangle meshes that display them, with
// the planned mesh-array fault that tests use.
#include "SessionImpl.hpp"

#include <stdexcept>

namespace host {

namespace {

class TriangleMeshImpl : public Impl<fusion::TriangleMesh> {
  public:
    TriangleMeshImpl(DocumentRef d, MeshRef m) : d_(std::move(d)), m_(std::move(m)) {}
    float* nodeCoordinatesAsFloat_raw(std::size_t& count) const override {
        return meshArray(m_->coordinates, count);
    }
    float* normalVectorsAsFloat_raw(std::size_t& count) const override {
        return meshArray(m_->normals, count);
    }
    float* textureCoordinatesAsFloat_raw(std::size_t& count) const override {
        return meshArray(m_->uvs, count);
    }
    int* nodeIndices_raw(std::size_t& count) const override {
        return meshArray(m_->indices, count);
    }

  private:
    // A mesh array as array() hands it out, unless it is the one a test planned to fail.
    template <class T>
    static T* meshArray(const std::optional<std::vector<T>>& values, std::size_t& count) {
        const StateRef& state = installed();
        if (state && state->meshArraysBeforeFault > 0 && --state->meshArraysBeforeFault == 0)
            throw std::runtime_error("host: mesh array refused as planned");
        return array(values, count);
    }

    DocumentRef d_;
    MeshRef m_;
};

class TriangleMeshListImpl : public Impl<fusion::TriangleMeshList> {
  public:
    TriangleMeshListImpl(DocumentRef d, const FaceModel* f) : d_(std::move(d)), f_(f) {}
    std::size_t count() const override { return f_->meshes.size(); }
    Ptr<fusion::TriangleMesh> item(std::size_t index) const override {
        if (index >= f_->meshes.size() || !f_->meshes[index]) return nullptr;
        return make<TriangleMeshImpl>(d_, f_->meshes[index]);
    }

  private:
    DocumentRef d_;
    const FaceModel* f_;
};

class BRepFaceImpl : public Impl<fusion::BRepFace> {
  public:
    BRepFaceImpl(DocumentRef d, const FaceModel* f) : d_(std::move(d)), f_(f) {}
    Ptr<core::Appearance> appearance() const override { return appearanceOf(d_, f_->appearance); }
    Ptr<fusion::TriangleMeshList> displayMeshes() const override {
        return make<TriangleMeshListImpl>(d_, f_);
    }

  private:
    DocumentRef d_;
    const FaceModel* f_;
};

class BRepFacesImpl : public Impl<fusion::BRepFaces> {
  public:
    BRepFacesImpl(DocumentRef d, const BodyModel* b) : d_(std::move(d)), b_(b) {}
    std::size_t count() const override { return b_->faces.size(); }
    Ptr<fusion::BRepFace> item(std::size_t index) const override {
        if (index >= b_->faces.size()) return nullptr;
        return make<BRepFaceImpl>(d_, &b_->faces[index]);
    }

  private:
    DocumentRef d_;
    const BodyModel* b_;
};

class BRepBodyImpl : public Impl<fusion::BRepBody> {
  public:
    BRepBodyImpl(DocumentRef d, const BodyModel* b) : d_(std::move(d)), b_(b) {}
    char* name_raw() const override { return text(b_->name); }
    bool isVisible() const override { return b_->visible; }
    Ptr<core::Appearance> appearance() const override { return appearanceOf(d_, b_->appearance); }
    Ptr<fusion::BRepFaces> faces() const override { return make<BRepFacesImpl>(d_, b_); }

  private:
    DocumentRef d_;
    const BodyModel* b_;
};

class BRepBodiesImpl : public Impl<fusion::BRepBodies> {
  public:
    BRepBodiesImpl(DocumentRef d, ComponentRef c) : d_(std::move(d)), c_(std::move(c)) {}
    std::size_t count() const override { return c_->bodies.size(); }
    Ptr<fusion::BRepBody> item(std::size_t index) const override {
        if (index >= c_->bodies.size()) return nullptr;
        return make<BRepBodyImpl>(d_, &c_->bodies[index]);
    }

  private:
    DocumentRef d_;
    ComponentRef c_;
};

}  // namespace

Ptr<fusion::BRepBodies> bodiesOf(DocumentRef d, ComponentRef c) {
    return make<BRepBodiesImpl>(std::move(d), std::move(c));
}

}  // namespace host
