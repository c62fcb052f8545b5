// The preview rasteriser, checked by what a picture must show: where a body lands, how much of
// the picture it covers, which body hides which, its colour and texture, and what is left out
// of a scene that is wrong.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestFiles.hpp"
#include "preview/Preview.hpp"
#include "reader/SceneReader.hpp"

namespace vex::test {
namespace {

using preview::Image;
using preview::Rgb;

// A box as an object with its own captured diffuse shader.
std::string box(double x0, double y0, double z0, double x1, double y1, double z1,
                const std::string& rgb) {
    std::string v;
    for (int k = 0; k < 8; ++k)
        v += (k ? "," : "") + std::to_string(k & 1 ? x1 : x0) + " " +
             std::to_string(k & 2 ? y1 : y0) + " " + std::to_string(k & 4 ? z1 : z0);
    return "object \"B\" {\n geometry \"triangles\" {\n  \"vertices\" [ " + v +
           " ] ,\n  \"triangles\" [ 0,1,3,0,3,2,4,6,7,4,7,5,0,4,5,0,5,1,2,3,7,2,7,6,0,2,6,0,6,4,"
           "1,5,7,1,7,3 ] ,\n }\n material \"m\" {\n  surface \"vex_diffuse\" {\n   \"diffuse\" " +
           rgb + ",\n  }\n }\n}\n";
}
std::string group(const std::string& body, double dx = 0, double dy = 0) {
    return "group \"G\" {\n transform 1 0 0 0 0 1 0 0 0 0 1 0 " + std::to_string(dx) + " " +
           std::to_string(dy) + " 0 1\n" + body + "}\n";
}
const std::string kCube = box(-0.5, -0.5, -0.5, 0.5, 0.5, 0.5, "1 0 0");
const std::string kPerspective =
    "camera \"Active Camera\" {\n projection \"perspective\"\n fov 90\n position 0 0 2\n direction "
    "0 0 -1\n up 0 1 0\n}\n";
const std::string kOrthographic =
    "camera \"Top\" {\n projection \"orthographic\"\n height 4\n position 0 0 10\n target 0 0 "
    "0\n}\n";

preview::Picture picture(const std::string& text, int w = 400, int h = 300,
                         const std::string& textures = "") {
    preview::Options o;
    o.width = w;
    o.height = h;
    o.textureFolder = textures;
    return preview::render(parseString(text), o);
}

// Whether the pixel is of pure red, green or blue (channel 0, 1, 2), or with channel -1 not
// the background; and the count and centre of such pixels.
bool is(Rgb p, int channel) {
    const int v[3] = {p.r, p.g, p.b};
    return channel < 0 ? p != preview::kBackground
                       : v[channel] > 0 && v[(channel + 1) % 3] + v[(channel + 2) % 3] == 0;
}
struct Coverage {
    double pixels = 0, x = 0, y = 0;
};
Coverage coverage(const Image& image, int channel = -1) {
    Coverage c;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (is(image.at(x, y), channel)) {
                ++c.pixels;
                c.x += (x + 0.5 - c.x) / c.pixels;
                c.y += (y + 0.5 - c.y) / c.pixels;
            }
    return c;
}

// Perspective with a 90 degree field: 150 pixels per unit of x/z; the front face of the cube is
// 1.5 from the eye and covers 100 x 100 pixels. Orthographic with a height of 4: 75 pixels a
// unit. A moved occurrence moves the face's projection by the projected offset; an object
// outside any group is drawn where it is.
TEST(Preview, UnitCubeCoversTheProjectedAreaAroundTheProjectedCentre) {
    const struct {
        std::string scene;
        double pixels, x, y;
    } cases[] = {
        {kPerspective + group(kCube), 10000, 200, 150},
        {kPerspective + group(kCube, 0.3, 0.2), 10000, 230, 130},
        {kPerspective + kCube, 10000, 200, 150},
        {kOrthographic + group(kCube), 5625, 200, 150},
        {kOrthographic + group(kCube, 0.3, 0.2), 5625, 222.5, 135},
        {group(kCube), -1, 200, 150},  // the default view
    };
    for (const auto& c : cases) {
        const preview::Picture p = picture(c.scene);
        const Coverage got = coverage(p.image);
        EXPECT_NEAR(got.pixels, c.pixels > 0 ? c.pixels : got.pixels,
                    2 * std::sqrt(std::fabs(c.pixels)) + 1);
        EXPECT_GT(got.pixels, 1000);
        EXPECT_NEAR(got.x, c.x, 0.75) << c.scene;
        EXPECT_NEAR(got.y, c.y, 0.75) << c.scene;
        EXPECT_EQ(preview::describe(p.counts),
                  std::string("1 object, 12 triangles, ") +
                      (c.pixels > 0 ? "scene camera" : "default view"));
    }
}

// The red box is nearer to both cameras than the blue one; the green one lies behind the red.
// Orthographic: 75 pixels a unit; perspective: about 54 pixels a unit at the boxes.
TEST(Preview, NearerBodiesHideFartherOnesWhateverTheirOrder) {
    const std::string red = box(-0.5, -0.5, 0, 0.5, 0.5, 1, "1 0 0");
    const std::string blue = box(0, -0.5, -3, 1, 0.5, -2, "0 0 1");
    const std::string green = box(-0.2, -0.2, -1, 0.2, 0.2, -0.5, "0 1 0");
    const struct {
        std::string camera;
        int redAt, blueAt;  // pixels right of the centre: both boxes there, only the blue one
    } cameras[] = {{kOrthographic, 20, 56},
                   {"camera {\n fov 10\n position 0 0 30\n direction 0 0 -1\n}\n", 20, 45}};
    for (const auto& c : cameras) {
        for (const std::string& scene : {red + blue + green, green + blue + red}) {
            const Image image = picture(c.camera + group(scene)).image;
            EXPECT_GT(coverage(image, 0).pixels, 1000);
            EXPECT_GT(coverage(image, 2).pixels, 300);
            EXPECT_EQ(coverage(image, 1).pixels, 0);
            EXPECT_TRUE(is(image.at(200 + c.redAt, 150), 0));
            EXPECT_TRUE(is(image.at(200 + c.blueAt, 150), 2));
            EXPECT_EQ(image.at(200 - c.blueAt, 150 - c.blueAt), preview::kBackground);
        }
    }
}

// A texture of four colours on a square that fills the orthographic view: each quarter shows
// its texel (v runs up the image), fully lit since the square faces the camera. PNG and JPEG;
// a file that cannot be read leaves the diffuse colour and is counted once.
TEST(Preview, TexturesAreSampledThroughTheTextureCoordinates) {
    TempDir dir;
    const Image four{2, 2, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0}};  // top: red green
    preview::writePng(four, (dir / "four.png").string());
    const auto square = [](const std::string& file) {
        return "#define shader 7 texture2_rgb {\n \"texture\" \"" + file +
               "\",\n}\nobject \"Sq\" {\n geometry \"triangles\" {\n  \"vertices\" [ -2 -2 0,2 -2 "
               "0,2 2 0,-2 2 0 ] ,\n"
               "  \"triangles\" [ 0,1,2,0,2,3 ] ,\n  \"uv_tex\" [ 0,0,1,0,1,1,0,1 ] ,\n }\n "
               "material \"t\" {\n"
               "  #define shader 8 vex_diffuse {\n   \"diffuse\" 0.5 0.5 0.5,\n   \"diffuse\" ! "
               "7,\n  }\n  surface 8\n }\n}\n";
    };
    const std::string camera =
        "camera {\n projection \"orthographic\"\n height 4\n position 0 0 5\n direction 0 0 "
        "-1\n}\n";
    const preview::Picture p = picture(camera + square("four.png"), 40, 40, dir.path().string());
    for (const auto& [x, y, want] : {std::tuple{5, 5, Rgb{255, 0, 0}},
                                     {35, 5, {0, 255, 0}},
                                     {5, 35, {0, 0, 255}},
                                     {35, 35, {255, 255, 0}}})
        EXPECT_EQ(p.image.at(x, y), want) << x << " " << y;
    EXPECT_EQ(preview::describe(p.counts), "1 object, 2 triangles, scene camera");

    // A grey JPEG decodes to exactly its pixels, three bytes each.
    const std::string data = VEX_SOURCE_DIR "/tests/preview/data/";
    const Image grey = preview::readImage(data + "grey.jpg");
    EXPECT_EQ(grey.width * 100 + grey.height, 1616);
    EXPECT_EQ(grey.rgb, std::vector<uint8_t>(3 * 16 * 16, 128));
    writeFile(dir / "broken.png", "\x89PNG\r\n\x1a\n truncated");
    writeFile(dir / "empty.jpg", "");
    for (const std::string& file : {std::string("missing.png"), (dir / "broken.png").string(),
                                    data + "broken.jpg", std::string("empty.jpg")}) {
        const preview::Picture q =
            picture(camera + square(file) + square(file), 40, 40, dir.path().string());
        EXPECT_EQ(q.image.at(5, 5), (Rgb{128, 128, 128})) << file;
        EXPECT_EQ(preview::describe(q.counts),
                  "2 objects, 4 triangles, scene camera; left out: 1 unreadable texture");
    }
    // Neither PNG nor JPEG: the PNG reader says why.
    writeFile(dir / "odd.png", "ab\xff rest");
    EXPECT_THAT(
        [&] { preview::readImage((dir / "odd.png").string()); },
        testing::ThrowsMessage<std::runtime_error>(testing::Not(testing::HasSubstr("JPEG"))));
}

// Faulty scenes: what is wrong is left out and counted, the rest is drawn. An empty scene is
// the background.
TEST(Preview, FaultsAreLeftOutAndCounted) {
    for (const auto& [scene, counts] : caseTable(VEX_SOURCE_DIR "/tests/preview/data/faults.txt")) {
        const preview::Picture p = picture(scene, 64, 48);
        EXPECT_EQ(preview::describe(p.counts), counts) << scene;
        EXPECT_GT(coverage(p.image).pixels, 10) << scene;
    }
    for (const std::string& text :
         {std::string(), kPerspective, std::string("group \"G\" {\n}\n")}) {
        const preview::Picture p = picture(text, 3, 2);
        EXPECT_EQ(p.image.rgb, std::vector<uint8_t>({236, 238, 242, 236, 238, 242, 236, 238, 242,
                                                     236, 238, 242, 236, 238, 242, 236, 238, 242}));
        EXPECT_EQ(preview::describe(p.counts).substr(0, 23), "0 objects, 0 triangles,");
    }
}

// An instance draws the definition's mesh with its own placement; the definition alone draws
// nothing.
TEST(Preview, InstancesDrawTheirDefinition) {
    const std::string definition =
        "#define object \"Def\" {\n id 4\n geometry \"triangles\" {\n  \"vertices\" [ -1 -1 0,1 -1 "
        "0,1 1 0,-1 1 0 ] ,\n  \"triangles\" [ 0,1,2,0,2,3 ] ,\n }\n}\n";
    const std::string instance = "object \"Def\" {\n geometry \"instance\" {\n  \"id\" 4,\n }\n}\n";
    const std::string camera =
        "camera {\n projection \"orthographic\"\n height 10\n position 0 0 5\n}\n";
    EXPECT_EQ(coverage(picture(camera + definition, 100, 100).image).pixels, 0);
    const preview::Picture p =
        picture(camera + definition + group(instance, 2.5) + group(instance, -2.5), 100, 100);
    const Coverage c = coverage(p.image);
    EXPECT_EQ(c.pixels, 2 * 20 * 20);
    EXPECT_NEAR(c.x, 50, 0.01);
    EXPECT_EQ(p.image.at(75, 50), p.image.at(25, 50));
    EXPECT_EQ(p.image.at(50, 50), preview::kBackground);
    EXPECT_EQ(preview::describe(p.counts), "2 objects, 4 triangles, scene camera");
}

TEST(Preview, PicturesOutsideTheSizeLimitsAreRefused) {
    for (auto [w, h] : {std::pair{0, 1}, {1, 0}, {8193, 1}, {1, 8193}, {-5, 5}})
        EXPECT_THROW(picture("", w, h), std::invalid_argument);
    TempDir dir;
    EXPECT_THROW(preview::writePng(picture("", 2, 2).image, (dir / "no/such/folder.png").string()),
                 std::runtime_error);
    EXPECT_THROW(preview::readPng((dir / "none.png").string()), std::runtime_error);
    const Image one = picture("", 1, 1).image;
    preview::writePng(one, (dir / "one.png").string());
    EXPECT_EQ(preview::readPng((dir / "one.png").string()).rgb, one.rgb);
}

}  // namespace
}  // namespace vex::test
