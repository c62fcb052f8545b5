// The object wrapper: construction sequence, numbering and the codes it passes.
#include <gtest/gtest.h>

#include <stdexcept>

#include "sceneapi/vexSceneapi_oo.hpp"
#include "support/WriterHarness.hpp"

namespace {

using vex::test::MemoryStream;

// Records what reaches set_value before writing it.
class RecordingWriter : public vexScene_api_file {
  public:
    using vexScene_api_file::vexScene_api_file;
    bool set_value(const char* name, int32_t code, const void* value) override {
        codes.push_back(code);
        if (code & kArray) counts.push_back(static_cast<const SceneArray*>(value)->count);
        if (code == kBool) words.push_back(*static_cast<const int32_t*>(value));
        return vexScene_api_file::set_value(name, code, value);
    }
    std::vector<int32_t> codes;
    std::vector<uint32_t> counts;
    std::vector<int32_t> words;
};

class MemoryFactory : public vex::LightFactory {
  public:
    explicit MemoryFactory(bool supply = true) {
        if (supply) writer_ = std::make_unique<RecordingWriter>(memory_.stream(), false);
    }
    vexScene_api* scene_api() override { return writer_.get(); }
    void begin(vex::vexSceneapi_oo&) override { ++begins; }
    void close() override { writer_.reset(); }
    std::string text() {
        if (writer_) writer_->flush();
        return memory_.text();
    }
    RecordingWriter& writer() { return *writer_; }
    int begins = 0;

  private:
    MemoryStream memory_;
    std::unique_ptr<RecordingWriter> writer_;
};

const std::string kBannerAndVersion =
    "#print \"RayMint SceneApi oo 11.1.0  (built Thu Sep 23 14:16:20 2021)\"\nversion 9\n\n";

TEST(Wrapper, ConstructionWritesBannerAndVersionAfterBegin) {
    MemoryFactory factory;
    vex::vexSceneapi_oo out(factory);
    EXPECT_EQ(factory.begins, 1);
    EXPECT_EQ(out.api(), factory.scene_api());
    EXPECT_EQ(factory.text(), kBannerAndVersion);
    EXPECT_EQ(vex::wrapperBanner(), "RayMint SceneApi oo 11.1.0  (built Thu Sep 23 14:16:20 2021)");
}

TEST(Wrapper, TargetWithoutInterfaceGetsNoBegin) {
    MemoryFactory factory(false);
    vex::vexSceneapi_oo out(factory);
    EXPECT_EQ(factory.begins, 0);
    EXPECT_EQ(out.api(), nullptr);
}

TEST(Wrapper, ObjectAndShaderIdsCountFromOne) {
    MemoryFactory factory;
    vex::vexSceneapi_oo out(factory);
    EXPECT_EQ(out.next_id(), 1);
    EXPECT_EQ(out.next_id(), 2);
    EXPECT_EQ(out.new_shader("texture2_rgb"), 1);
    out.end_shader();
    EXPECT_EQ(out.set_api(out.api()), 0);
    EXPECT_EQ(out.next_id(), 1);
    EXPECT_EQ(out.new_shader("texture2_rgb"), 1);
    out.end_shader();
    EXPECT_EQ(factory.text(), kBannerAndVersion +
                                  "id 1\nid 2\n#define shader 1 texture2_rgb {\n}\n"
                                  "id 1\n#define shader 1 texture2_rgb {\n}\n");
}

TEST(Wrapper, SettersPassTheirCodes) {
    MemoryFactory factory;
    vex::vexSceneapi_oo out(factory);
    const float f3[3] = {1, 2, 3};
    const double d3[3] = {1, 2, 3};
    out.api()->begin_group("g", true);
    out.set_string("s", "text");
    out.set_float3("f3", f3);
    out.set_double3("d3", d3);
    out.set_double("d", 0.25);
    out.set_float("f", 0.5f);
    out.set_int("i", -3);
    out.set_bool("b", true);
    out.set_bool("b", false);
    out.set_matrix_array("m", {});
    out.set_int_array("ia", {1, 2});
    out.set_float_array("fa", {0.5f});
    out.set_double_array("da", {1, 2, 3});
    out.set_float3_array("f3a", {});
    out.set_float3_array("f3a", {{1, 2, 3}, {4, 5, 6}});
    out.api()->end_group();
    EXPECT_EQ(factory.writer().codes, (std::vector<int32_t>{10, 1, 5, 4, 3, 6, 7, 7, 0x8009, 0x8006,
                                                            0x8003, 0x8004, 0x8001, 0x8001}));
    EXPECT_EQ(factory.writer().counts, (std::vector<uint32_t>{0, 2, 1, 3, 0, 2}));
    EXPECT_EQ(factory.writer().words, (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(factory.text(),
              kBannerAndVersion +
                  "\ngroup \"g\" {\ns \"text\"\nf3 1 2 3\nd3 1 2 3\n"
                  "d 0.2500000000000000\nf 0.5\ni -3\nb on\nb off\nm [ ] \n"
                  "ia [ 1,2 ] \nfa [ 0.5 ] \n"
                  "da [ 1.0000000000000000,2.0000000000000000,3.0000000000000000 ] \n"
                  "f3a [ ] \nf3a [ 1 2 3,4 5 6 ] \n}\n");
}

TEST(Wrapper, TransformsGroupsFlagsProgressAndErrors) {
    MemoryFactory factory;
    vex::vexSceneapi_oo out(factory);
    const double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1};
    out.begin_group("g");
    out.flags(0x8001);
    out.transform(m);
    out.transform(m, true);
    out.transform(m, false);
    out.progress("walk", 0.25f);
    out.error("no \"faces\"");
    out.end_group();
    EXPECT_EQ(factory.text(), kBannerAndVersion +
                                  "\ngroup \"g\" {\nflags 32769\n"
                                  "transform 1 0 0 0 0 1 0 0 0 0 1 0 5 6 7 1\n"
                                  "set transform 1 0 0 0 0 1 0 0 0 0 1 0 5 6 7 1\n"
                                  "transform 1 0 0 0 0 1 0 0 0 0 1 0 5 6 7 1\n"
                                  "progress \"walk\" 0.250\n\n#error \"no \"faces\"\"\n}\n");
}

TEST(Wrapper, CStringSetterIsDeprecated) {
    MemoryFactory factory;
    vex::vexSceneapi_oo out(factory);
    try {
        out.set_cstring("a", "b");
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "const char * are deprecated");
    }
}

TEST(Wrapper, WriteHandsTheWrapperToTheNode) {
    struct Node : vex::LightNode {
        void emit(vex::vexSceneapi_oo& out) override { out.api()->print(isDefined() ? "d" : "e"); }
        void define(vex::vexSceneapi_oo&) override {}
        bool isDefined() const override { return false; }
    } node;
    MemoryFactory factory;
    vex::vexSceneapi_oo out(factory);
    out.write(node);
    EXPECT_EQ(factory.text(), kBannerAndVersion + "#print \"e\"\n");
}

}  // namespace
