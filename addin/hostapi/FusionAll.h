// Host add-in API, namespace adsk::fusion: this project's stand-in for the design part of the
// Fusion 360 host's interface (its FusionXInterface library). Conventions as in CoreAll.h:
// reference-counted objects held by adsk::core::Ptr, casts by class type, host arrays handed
// back with adsk::core::DeallocateArrayInternal, lengths in centimetres.
#pragma once

#include "CoreAll.h"

namespace adsk::fusion {

using adsk::core::Ptr;

class Component;

// A triangle mesh approximating one face, as shown in the viewport.
class TriangleMesh : public adsk::core::Base {
    ADSK_HOST_CLASS(TriangleMesh, adsk::core::Base, "adsk::fusion::TriangleMesh")
    // x, y, z per node, centimetres; count = 3 x nodes.
    virtual float* nodeCoordinatesAsFloat_raw(std::size_t& count) const = 0;
    // x, y, z per node; null when the mesh has none.
    virtual float* normalVectorsAsFloat_raw(std::size_t& count) const = 0;
    // u, v per node; null when the mesh has none.
    virtual float* textureCoordinatesAsFloat_raw(std::size_t& count) const = 0;
    // Three zero-based node indices per triangle.
    virtual int* nodeIndices_raw(std::size_t& count) const = 0;

    // Copies of the arrays above, handed back to the host; empty for a null array.
    std::vector<float> nodeCoordinatesAsFloat() const {
        return take(&TriangleMesh::nodeCoordinatesAsFloat_raw);
    }
    std::vector<float> normalVectorsAsFloat() const {
        return take(&TriangleMesh::normalVectorsAsFloat_raw);
    }
    std::vector<float> textureCoordinatesAsFloat() const {
        return take(&TriangleMesh::textureCoordinatesAsFloat_raw);
    }
    std::vector<int> nodeIndices() const { return take(&TriangleMesh::nodeIndices_raw); }

  private:
    template <class T>
    std::vector<T> take(T* (TriangleMesh::*raw)(std::size_t&) const) const {
        std::size_t count = 0;
        T* array = (this->*raw)(count);
        return adsk::core::detail::takeArray(array, count);
    }
};

class TriangleMeshList : public adsk::core::Base {
    ADSK_HOST_CLASS(TriangleMeshList, adsk::core::Base, "adsk::fusion::TriangleMeshList")
    virtual std::size_t count() const = 0;
    virtual Ptr<TriangleMesh> item(std::size_t index) const = 0;
};

class BRepFace : public adsk::core::Base {
    ADSK_HOST_CLASS(BRepFace, adsk::core::Base, "adsk::fusion::BRepFace")
    // The face's own appearance; empty when it uses its body's.
    virtual Ptr<adsk::core::Appearance> appearance() const = 0;
    // The face's display meshes (usually one).
    virtual Ptr<TriangleMeshList> displayMeshes() const = 0;
};

class BRepFaces : public adsk::core::Base {
    ADSK_HOST_CLASS(BRepFaces, adsk::core::Base, "adsk::fusion::BRepFaces")
    virtual std::size_t count() const = 0;
    virtual Ptr<BRepFace> item(std::size_t index) const = 0;
};

class BRepBody : public adsk::core::Base {
    ADSK_HOST_CLASS(BRepBody, adsk::core::Base, "adsk::fusion::BRepBody")
    std::string name() const { return adsk::core::detail::takeText(name_raw()); }
    virtual char* name_raw() const = 0;
    virtual bool isVisible() const = 0;
    // The body's own appearance; empty when it inherits one.
    virtual Ptr<adsk::core::Appearance> appearance() const = 0;
    virtual Ptr<BRepFaces> faces() const = 0;
};

class BRepBodies : public adsk::core::Base {
    ADSK_HOST_CLASS(BRepBodies, adsk::core::Base, "adsk::fusion::BRepBodies")
    virtual std::size_t count() const = 0;
    virtual Ptr<BRepBody> item(std::size_t index) const = 0;
};

// One placement of a component inside another.
class Occurrence : public adsk::core::Base {
    ADSK_HOST_CLASS(Occurrence, adsk::core::Base, "adsk::fusion::Occurrence")
    virtual Ptr<Component> component() const = 0;
    virtual bool isVisible() const = 0;
    // The appearance override of this occurrence; empty when there is none.
    virtual Ptr<adsk::core::Appearance> appearance() const = 0;
    // Placement relative to the parent component (translation in centimetres).
    virtual Ptr<adsk::core::Matrix3D> transform() const = 0;
};

// The occurrences placed directly in one component.
class Occurrences : public adsk::core::Base {
    ADSK_HOST_CLASS(Occurrences, adsk::core::Base, "adsk::fusion::Occurrences")
    virtual std::size_t count() const = 0;
    virtual Ptr<Occurrence> item(std::size_t index) const = 0;
};

// Mass properties of a component's bodies.
class PhysicalProperties : public adsk::core::Base {
    ADSK_HOST_CLASS(PhysicalProperties, adsk::core::Base, "adsk::fusion::PhysicalProperties")
    // Total surface area, square centimetres.
    virtual double area() const = 0;
    // Total enclosed volume, cubic centimetres (signed sum over closed meshes).
    virtual double volume() const = 0;
};

class Component : public adsk::core::Base {
    ADSK_HOST_CLASS(Component, adsk::core::Base, "adsk::fusion::Component")
    std::string name() const { return adsk::core::detail::takeText(name_raw()); }
    virtual char* name_raw() const = 0;
    virtual Ptr<Occurrences> occurrences() const = 0;
    virtual Ptr<BRepBodies> bRepBodies() const = 0;
    virtual Ptr<PhysicalProperties> physicalProperties() const = 0;
};

class Design : public adsk::core::Product {
    ADSK_HOST_CLASS(Design, adsk::core::Product, "adsk::fusion::Design")
    virtual Ptr<Component> rootComponent() const = 0;
    virtual Ptr<adsk::core::UnitsManager> unitsManager() const = 0;
};

}  // namespace adsk::fusion
