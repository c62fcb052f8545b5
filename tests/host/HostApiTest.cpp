// The host interface library: reference counting, casts, arrays and the application accessor.
#include <gtest/gtest.h>

#include "FusionAll.h"
#include "Session.hpp"

namespace core = adsk::core;
using core::Ptr;

namespace {

class Counted : public core::Vector3D {
  public:
    explicit Counted(bool* destroyed) : destroyed_(destroyed) {}
    ~Counted() override { *destroyed_ = true; }
    const char* objectType() const override { return classType(); }
    double x() const override { return 1; }
    double y() const override { return 2; }
    double z() const override { return 3; }
    bool normalize() override { return false; }

  private:
    bool* destroyed_;
};

// Its object type text lies at another address than Vector3D's, as a copy in another module's
// image would.
class FromAnotherModule : public Counted {
  public:
    using Counted::Counted;
    const char* objectType() const override { return kText; }
    static constexpr char kText[] = "adsk::core::Vector3D";
};

long held(const std::string& type) {
    auto refs = core::detail::heldReferences();
    auto found = refs.find(type);
    return found == refs.end() ? 0 : found->second;
}

TEST(HostApi, PtrCountsReferencesAndDestroysOnLastRelease) {
    bool destroyed = false;
    {
        Ptr<core::Vector3D> a(new Counted(&destroyed));
        EXPECT_EQ(a->referenceCount(), 1);
        EXPECT_EQ(held("adsk::core::Vector3D"), 1);
        {
            Ptr<core::Vector3D> b = a;
            EXPECT_EQ(a->referenceCount(), 2);
            EXPECT_EQ(held("adsk::core::Vector3D"), 2);
            Ptr<core::Base> base = b;  // upcast adds a reference too
            EXPECT_EQ(a->referenceCount(), 3);
            Ptr<core::Vector3D> moved = std::move(b);
            EXPECT_FALSE(b);
            EXPECT_EQ(a->referenceCount(), 3);
        }
        EXPECT_EQ(a->referenceCount(), 1);
        EXPECT_FALSE(destroyed);
        a = nullptr;
        EXPECT_TRUE(destroyed);
    }
    EXPECT_EQ(held("adsk::core::Vector3D"), 0);
}

TEST(HostApi, ReferencesAndClassIdentitiesGoByTextWhereverItLies) {
    ASSERT_NE(static_cast<const void*>(FromAnotherModule::kText),
              static_cast<const void*>(core::Vector3D::classType()));
    bool destroyed[2] = {false, false};
    Ptr<core::Base> here(new Counted(&destroyed[0]));
    Ptr<core::Base> there(new FromAnotherModule(&destroyed[1]));
    EXPECT_EQ(held("adsk::core::Vector3D"), 2);
    EXPECT_EQ(&core::detail::classTag(FromAnotherModule::kText), &core::Vector3D::classIdentity());
    EXPECT_STREQ(core::Vector3D::classIdentity().text, "adsk::core::Vector3D");
    EXPECT_NE(&core::Base::classIdentity(), &core::Vector3D::classIdentity());
    EXPECT_TRUE(there->cast<core::Vector3D>());
    here = nullptr;
    there = nullptr;
    EXPECT_TRUE(destroyed[0] && destroyed[1]);
    EXPECT_EQ(core::detail::heldReferences().count("adsk::core::Vector3D"), 0u);  // no zero entry
}

TEST(HostApi, CastGoesByClassType) {
    bool destroyed = false;
    Ptr<core::Base> base(new Counted(&destroyed));
    EXPECT_STREQ(base->objectType(), "adsk::core::Vector3D");
    EXPECT_TRUE(base->isKindOf("adsk::core::Base"));
    EXPECT_TRUE(base->isKindOf("adsk::core::Vector3D"));
    EXPECT_FALSE(base->isKindOf("adsk::core::Point3D"));
    Ptr<core::Vector3D> v = base->cast<core::Vector3D>();
    ASSERT_TRUE(v);
    EXPECT_EQ(v->y(), 2.0);
    EXPECT_TRUE(v == base);
    EXPECT_FALSE(base->cast<core::Point3D>());
    EXPECT_FALSE(base->cast<adsk::fusion::Design>());
    Ptr<core::Base> empty;
    EXPECT_FALSE(empty.cast<core::Vector3D>());  // null-safe form
    EXPECT_EQ(base->referenceCount(), 2);
}

TEST(HostApi, ArraysAreRecordedUntilHandedBack) {
    auto before = core::detail::heldArrays();
    std::size_t count = 0;
    float* f = core::detail::allocateArray(std::vector<float>{1.5f, 2.5f}, count);
    EXPECT_EQ(count, 2u);
    char* t = core::detail::allocateText("abc");
    EXPECT_STREQ(t, "abc");
    auto during = core::detail::heldArrays();
    auto expected = before;
    ++expected["float"];
    ++expected["char"];
    EXPECT_EQ(during, expected);
    std::vector<float> copy = core::detail::takeArray(f, count);
    EXPECT_EQ(copy, (std::vector<float>{1.5f, 2.5f}));
    EXPECT_EQ(core::detail::takeText(t), "abc");
    EXPECT_EQ(core::detail::heldArrays(), before);
    EXPECT_TRUE(core::detail::takeText(nullptr).empty());
    EXPECT_TRUE(core::detail::takeArray<int>(nullptr, 5).empty());
}

TEST(HostApi, HandingBackAnUnknownOrRepeatedArrayIsAFaultNotACrash) {
    long faults = core::detail::arrayFaults();
    int local[2] = {1, 2};
    testing::internal::CaptureStderr();
    core::DeallocateArrayInternal(local);
    std::size_t count = 0;
    double* d = core::detail::allocateArray(std::vector<double>{1.0}, count);
    core::DeallocateArrayInternal(d);
    core::DeallocateArrayInternal(d);  // twice
    char* text = core::detail::allocateText("x");
    core::DeallocateArrayInternal(reinterpret_cast<float*>(text));  // wrong element type
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(core::detail::arrayFaults(), faults + 3);
    EXPECT_NE(err.find("DeallocateArrayInternal(int*)"), std::string::npos) << err;
    core::DeallocateArrayInternal(text);
    core::DeallocateArrayInternal(static_cast<char*>(nullptr));  // ignored
    EXPECT_EQ(core::detail::arrayFaults(), faults + 3);
}

TEST(HostApi, ApplicationIsTheInstalledSessionsOnly) {
    EXPECT_FALSE(core::Application::get());
    {
        host::Session session;
        EXPECT_FALSE(core::Application::get());
        session.install();
        Ptr<core::Application> app = core::Application::get();
        ASSERT_TRUE(app);
        EXPECT_TRUE(app->userInterface());
        EXPECT_FALSE(app->activeDocument());
    }
    EXPECT_FALSE(core::Application::get());
    EXPECT_EQ(held("adsk::core::Application"), 0);
}

}  // namespace
