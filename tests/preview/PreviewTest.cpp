// The preview rasteriser, checked by what a picture must show: where a body lands, how much of
// the picture it covers, which body hides which, its colour and texture, and what is left out
// of a scene that is wrong.
#include <gtest/gtest.h>

#include <cstdio>

#include <jpeglib.h>

#include <cmath>
#include <string>
#include <vector>

#include "TestFiles.hpp"
#include "preview/Preview.hpp"
#include "reader/SceneReader.hpp"

namespace vex::test {
namespace {

using preview::Image;
using preview::Rgb;

constexpr int kW = 400, kH = 300;

std::string triple(double x, double y, double z) {
    return std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z);
}

// A box as an object with its own captured diffuse shader.
std::string box(const std::string& name, double x0, double y0, double z0, double x1, double y1,
                double z1, const std::string& rgb) {
    std::string v;
    for (int k = 0; k < 8; ++k)
        v += (k ? "," : "") + triple(k & 1 ? x1 : x0, k & 2 ? y1 : y0, k & 4 ? z1 : z0);
    return "object \"" + name + "\" {\n geometry \"triangles\" {\n  \"vertices\" [ " + v +
           " ] ,\n  \"triangles\" [ 0,1,3,0,3,2,4,6,7,4,7,5,0,4,5,0,5,1,2,3,7,2,7,6,0,2,6,0,6,4,"
           "1,5,7,1,7,3 ] ,\n }\n material \"m\" {\n  surface \"vex_diffuse\" {\n   \"diffuse\" " +
           rgb + ",\n  }\n }\n}\n";
}

std::string unitCube(const std::string& rgb = "1 0 0", double at = 0) {
    return box("Cube", at - 0.5, -0.5, -0.5, at + 0.5, 0.5, 0.5, rgb);
}

std::string group(const std::string& body, double dx = 0, double dy = 0, double dz = 0) {
    return "group \"G\" {\n transform 1 0 0 0 0 1 0 0 0 0 1 0 " + triple(dx, dy, dz) + " 1\n" +
           body + "}\n";
}

const std::string kPerspective =
    "camera \"Active Camera\" {\n projection \"perspective\"\n fov 90\n position 0 0 2\n"
    " direction 0 0 -1\n up 0 1 0\n}\n";
const std::string kOrthographic =
    "camera \"Top\" {\n projection \"orthographic\"\n height 4\n position 0 0 10\n"
    " target 0 0 0\n}\n";

preview::Picture picture(const std::string& text, int w = kW, int h = kH,
                         const std::string& textures = "") {
    preview::Options o;
    o.width = w;
    o.height = h;
    o.textureFolder = textures;
    return preview::render(parseString(text), o);
}

struct Coverage {
    double pixels = 0, x = 0, y = 0;  // count and centre of the pixels that are not background
};

Coverage coverage(const Image& image) {
    Coverage c;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (image.at(x, y) != preview::kBackground) {
                ++c.pixels;
                c.x += x + 0.5;
                c.y += y + 0.5;
            }
    if (c.pixels > 0) {
        c.x /= c.pixels;
        c.y /= c.pixels;
    }
    return c;
}

// A JPEG of one colour, through libjpeg's own encoder.
void writeJpeg(const std::string& path, Rgb colour, int side = 16) {
    std::vector<uint8_t> row;
    for (int x = 0; x < side; ++x) row.insert(row.end(), {colour.r, colour.g, colour.b});
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    jpeg_stdio_dest(&info, f);
    info.image_width = info.image_height = side;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    JSAMPROW rows[1] = {row.data()};
    while (info.next_scanline < info.image_height) jpeg_write_scanlines(&info, rows, 1);
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(f);
}

int countColour(const Image& image, bool (*is)(Rgb)) {
    int n = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) n += is(image.at(x, y));
    return n;
}
bool isRed(Rgb p) {
    return p.r > 0 && p.g == 0 && p.b == 0;
}
bool isBlue(Rgb p) {
    return p.b > 0 && p.r == 0 && p.g == 0;
}
bool isGreen(Rgb p) {
    return p.g > 0 && p.r == 0 && p.b == 0;
}

// Perspective with a 90 degree field: 150 pixels per unit of x/z. The front face of the cube is
// 1.5 from the eye and covers 100 x 100 pixels. Orthographic with a height of 4: 75 pixels a
// unit. A moved occurrence moves the face's projection by the projected offset.
TEST(Preview, UnitCubeCoversTheProjectedAreaAroundTheProjectedCentre) {
    struct Case {
        const char* what;
        std::string camera;
        double dx, dy;
        double pixels, x, y;
    } cases[] = {
        {"perspective", kPerspective, 0, 0, 10000, 200, 150},
        {"perspective, occurrence moved", kPerspective, 0.3, 0.2, 10000, 230, 130},
        {"orthographic", kOrthographic, 0, 0, 5625, 200, 150},
        {"orthographic, occurrence moved", kOrthographic, 0.3, 0.2, 5625, 222.5, 135},
        {"default view", "", 0, 0, -1, 200, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const preview::Picture p = picture(c.camera + group(unitCube(), c.dx, c.dy));
        const Coverage got = coverage(p.image);
        if (c.pixels > 0) {
            // Within one row and one column of pixels along the edges.
            EXPECT_NEAR(got.pixels, c.pixels, 2 * std::sqrt(c.pixels) + 1);
        }
        EXPECT_GT(got.pixels, 1000);
        EXPECT_NEAR(got.x, c.x, 0.75);
        EXPECT_NEAR(got.y, c.y, 0.75);
        EXPECT_EQ(p.counts.sceneCamera, !c.camera.empty());
        EXPECT_EQ(preview::describe(p.counts),
                  std::string("1 object, 12 triangles, ") +
                      (c.camera.empty() ? "default view" : "scene camera"));
    }
}

// The red box is nearer to both cameras than the blue one; the green one lies behind the red.
// Orthographic: 75 pixels a unit; perspective: about 54 pixels a unit at the boxes.
TEST(Preview, NearerBodiesHideFartherOnesWhateverTheirOrder) {
    const std::string red = box("Red", -0.5, -0.5, 0, 0.5, 0.5, 1, "1 0 0");
    const std::string blue = box("Blue", 0, -0.5, -3, 1, 0.5, -2, "0 0 1");
    const std::string green = box("Green", -0.2, -0.2, -1, 0.2, 0.2, -0.5, "0 1 0");
    const struct {
        std::string camera;
        int redAt, blueAt;  // pixels right of the centre: both boxes there, only the blue one
    } cameras[] = {
        {kOrthographic, 20, 56},
        {"camera {\n fov 10\n position 0 0 30\n direction 0 0 -1\n}\n", 20, 45},
    };
    for (const auto& c : cameras) {
        for (const std::string& scene : {red + blue + green, green + blue + red}) {
            const Image image = picture(c.camera + group(scene)).image;
            SCOPED_TRACE(c.camera + scene.substr(0, 14));
            EXPECT_GT(countColour(image, isRed), 1000);
            EXPECT_GT(countColour(image, isBlue), 300);
            EXPECT_EQ(countColour(image, isGreen), 0);
            EXPECT_TRUE(isRed(image.at(200 + c.redAt, 150)));
            EXPECT_TRUE(isBlue(image.at(200 + c.blueAt, 150)));
            EXPECT_EQ(image.at(200 - c.blueAt, 150 - c.blueAt), preview::kBackground);
        }
    }
}

// The same scene in millimetres and in metres (meter_scale tells the renderer which) gives the
// same picture, from its camera as from the default view.
TEST(Preview, SceneUnitsDoNotChangeThePicture) {
    const auto scene = [](double s, bool camera) {
        std::string text =
            "load \"vexrtopt.so\" {\n \"meter_scale\" " + std::to_string(s) + ",\n}\n";
        if (camera)
            text += "camera \"Active Camera\" {\n fov 50\n position " +
                    triple(0.6 * s, 0.5 * s, 2 * s) + "\n direction -0.3 -0.2 -1\n up 0 1 0\n}\n";
        return text + group(box("A", -0.3 * s, 0, -0.1 * s, 0.3 * s, 0.05 * s, 0.2 * s, "1 0 0") +
                                box("B", 0.1 * s, 0.2 * s, 0, 0.2 * s, 0.4 * s, 0.1 * s, "0 0 1"),
                            0.05 * s, 0, 0);
    };
    for (bool camera : {true, false}) {
        const Image metres = picture(scene(1, camera)).image;
        const Image millimetres = picture(scene(1000, camera)).image;
        int differ = 0;
        for (size_t i = 0; i < metres.rgb.size(); i += 3)
            differ +=
                metres.rgb[i] != millimetres.rgb[i] || metres.rgb[i + 2] != millimetres.rgb[i + 2];
        EXPECT_LE(differ, 10) << "camera " << camera;
        EXPECT_GT(coverage(metres).pixels, 1000);
    }
}

TEST(Preview, EmptySceneGivesTheBackground) {
    std::vector<uint8_t> background;
    for (int k = 0; k < 6; ++k) background.insert(background.end(), {236, 238, 242});
    for (const std::string& text :
         {std::string(), kPerspective, std::string("group \"G\" {\n}\n")}) {
        const preview::Picture p = picture(text, 3, 2);
        EXPECT_EQ(p.image.rgb, background);
        EXPECT_EQ(preview::describe(p.counts).substr(0, 23), "0 objects, 0 triangles,");
    }
}

// A texture of four colours on a square that fills the orthographic view: each quarter shows
// its texel (v runs up the image), fully lit since the square faces the camera.
TEST(Preview, TexturesAreSampledThroughTheTextureCoordinates) {
    TempDir dir;
    Image texture;
    texture.width = texture.height = 2;
    texture.rgb = {255, 0, 0,   0,   255, 0,
                   0,   0, 255, 255, 255, 0};  // top: red green; bottom: blue yellow
    preview::writePng(texture, (dir / "four.png").string());
    const auto square = [](const std::string& file) {
        return "#define shader 7 texture2_rgb {\n \"texture\" \"" + file +
               "\",\n}\nobject \"Sq\" {\n geometry \"triangles\" {\n  \"vertices\" [ -2 -2 0,2 -2 "
               "0,2 2 0,-2 2 0 ] ,\n  \"triangles\" [ 0,1,2,0,2,3 ] ,\n  \"uv_tex\" [ "
               "0,0,1,0,1,1,0,1 "
               "] ,\n }\n material \"t\" {\n  #define shader 8 vex_diffuse {\n   \"diffuse\" 0.5 "
               "0.5 "
               "0.5,\n   \"diffuse\" ! 7,\n  }\n  surface 8\n }\n}\n";
    };
    const std::string camera =
        "camera {\n projection \"orthographic\"\n height 4\n position 0 0 5\n direction 0 0 "
        "-1\n}\n";
    const preview::Picture p = picture(camera + square("four.png"), 40, 40, dir.path().string());
    EXPECT_EQ(p.image.at(5, 5), (Rgb{255, 0, 0}));
    EXPECT_EQ(p.image.at(35, 5), (Rgb{0, 255, 0}));
    EXPECT_EQ(p.image.at(5, 35), (Rgb{0, 0, 255}));
    EXPECT_EQ(p.image.at(35, 35), (Rgb{255, 255, 0}));
    EXPECT_EQ(preview::describe(p.counts), "1 object, 2 triangles, scene camera");

    // JPEG as well.
    writeJpeg((dir / "one.jpg").string(), {40, 160, 220});
    const Rgb got =
        picture(camera + square("one.jpg"), 40, 40, dir.path().string()).image.at(20, 20);
    EXPECT_NEAR(got.r, 40, 3);
    EXPECT_NEAR(got.g, 160, 3);
    EXPECT_NEAR(got.b, 220, 3);

    // A missing or broken file: the diffuse colour, and the file counted once.
    writeFile(dir / "broken.png", "\x89PNG\r\n\x1a\n truncated");
    writeJpeg((dir / "large.jpg").string(), {40, 160, 220}, 256);
    const std::string jpeg = readFile(dir / "large.jpg");
    writeFile(dir / "broken.jpg", jpeg.substr(0, jpeg.size() / 2));  // image data cut short
    writeFile(dir / "empty.jpg", "");
    for (const std::string& file : {std::string("missing.png"), (dir / "broken.png").string(),
                                    std::string("broken.jpg"), std::string("empty.jpg")}) {
        const preview::Picture q =
            picture(camera + square(file) + square(file), 40, 40, dir.path().string());
        EXPECT_EQ(q.image.at(5, 5), (Rgb{128, 128, 128})) << file;
        EXPECT_EQ(preview::describe(q.counts),
                  "2 objects, 4 triangles, scene camera; left out: 1 unreadable texture");
    }
}

// Faulty scenes: what is wrong is left out and counted, the rest is drawn.
TEST(Preview, FaultsAreLeftOutAndCounted) {
    const std::string tri = "object \"T\" {\n geometry \"triangles\" {\n  \"vertices\" [ ";
    const auto mesh = [&](const std::string& v, const std::string& t) {
        return tri + v + " ] ,\n  \"triangles\" [ " + t + " ] ,\n }\n}\n";
    };
    const std::string good = "0 0 0,1 0 0,0 1 0";
    const std::string one = mesh(good, "0,1,2");
    const std::string drawn = "1 object, 1 triangle, default view; left out: ";
    struct Case {
        std::string scene;
        std::string counts;
    } cases[] = {
        {one + mesh("0 0 0,1 1 1,2 2 2", "0,1,2"),
         "2 objects, 1 triangle, default view; left out: 1 bad triangle"},
        {mesh(good + ",1 0 0", "0,1,3,0,1,2"), drawn + "1 bad triangle"},
        {mesh(good + ",nan 0 0", "0,1,2,0,1,3"), drawn + "1 bad triangle"},
        {mesh(good + ",0 -inf 0", "0,1,2,3,1,2"), drawn + "1 bad triangle"},
        {mesh(good + ",1e39 0 0", "0,1,2,3,1,2"), drawn + "1 bad triangle"},
        {mesh(good, "0,1,2,0,1,3,-1,1,2,0,2147483647,1"), drawn + "3 bad triangles"},
        {one + mesh(good, ""), drawn + "1 invalid mesh"},
        {one + mesh("0 0 0,1 0", "0,1,2"), drawn + "1 invalid mesh"},
        {one + mesh(good, "0,1,2,0.5,1,2"), drawn + "1 invalid mesh"},
        {one + tri + "0 0 0 ] ,\n }\n}\n", drawn + "1 invalid mesh"},
        {one + "object \"I\" {\n geometry \"instance\" {\n  \"id\" 9,\n }\n}\n",
         drawn + "1 unresolved instance"},
        {one + "#error \"Number of uvs(2)  does not match vertex count(9)\"\n",
         drawn + "1 error statement"},
        {"camera {\n position 1 2 3\n target 1 2 3\n}\n" + one, drawn + "1 unusable camera"},
        {"camera {\n fov 180\n}\n" + one, drawn + "1 unusable camera"},
        {"camera {\n projection \"fisheye\"\n}\n" + one, drawn + "1 unusable camera"},
        {"camera {\n position nan 0 0\n}\n" + one, drawn + "1 unusable camera"},
        {"camera {\n projection \"orthographic\"\n height 0\n}\n" + one,
         drawn + "1 unusable camera"},
        {"group \"G\" {\n transform 1 0 0 0 0 1 0 0 0 0 1 0 nan 0 0 1\n" + one + "}\n" + one,
         "2 objects, 1 triangle, default view; left out: 1 bad triangle"},
        // An up vector along the view direction is no fault: another one is taken.
        {"camera {\n position 0 0 5\n up 0 0 1\n}\n" + one, "1 object, 1 triangle, scene camera"},
    };
    for (const Case& c : cases) {
        const preview::Picture p = picture(c.scene, 64, 48);
        const std::string got = preview::describe(p.counts);
        EXPECT_EQ(got, c.counts) << c.scene;
        EXPECT_GT(coverage(p.image).pixels, 10) << c.scene;
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
    const preview::Picture p = picture(
        camera + definition + group(instance, 2.5, 0, 0) + group(instance, -2.5, 0, 0), 100, 100);
    const Coverage c = coverage(p.image);
    EXPECT_EQ(c.pixels, 2 * 20 * 20);
    EXPECT_NEAR(c.x, 50, 0.01);
    EXPECT_EQ(p.image.at(75, 50), p.image.at(25, 50));
    EXPECT_EQ(p.image.at(50, 50), preview::kBackground);
    EXPECT_EQ(preview::describe(p.counts), "2 objects, 4 triangles, scene camera");
}

// A million triangles in one mesh, built straight into a tree.
TEST(Preview, AMillionTrianglesRender) {
    constexpr int kSide = 708;  // 708 x 708 quads: 1,002,528 triangles
    Document doc;
    Block object;
    object.keyword = "object";
    Block geometry;
    geometry.keyword = "geometry";
    Value v;
    v.kind = Value::Kind::Numbers;
    v.numbers.type = NumberArray::Type::Float32;
    v.numbers.width = 3;
    for (int r = 0; r <= kSide; ++r)
        for (int c = 0; c <= kSide; ++c)
            v.numbers.floats.insert(v.numbers.floats.end(),
                                    {float(c), float(r), 0.2f * float((r * 7 + c * 3) % 5)});
    Value t;
    t.kind = Value::Kind::Numbers;
    t.numbers.width = 1;
    for (int r = 0; r < kSide; ++r)
        for (int c = 0; c < kSide; ++c) {
            const int a = r * (kSide + 1) + c, b = a + 1, d = a + kSide + 1;
            t.numbers.ints.insert(t.numbers.ints.end(), {a, b, d + 1, a, d + 1, d});
        }
    for (auto [name, value] : {std::pair{"vertices", &v}, std::pair{"triangles", &t}}) {
        Statement s;
        s.form = Statement::Form::Parameter;
        s.name = name;
        s.values.push_back(std::move(*value));
        geometry.children.push_back(Node{std::move(s)});
    }
    object.children.push_back(Node{std::move(geometry)});
    doc.root.children.push_back(Node{std::move(object)});
    const preview::Picture p = preview::render(doc);
    EXPECT_EQ(p.counts.triangles, 2u * kSide * kSide);
    EXPECT_EQ(p.counts.badTriangles, 0u);
    EXPECT_GT(coverage(p.image).pixels, 100000);
}

TEST(Preview, PicturesOutsideTheSizeLimitsAreRefused) {
    for (auto [w, h] : {std::pair{0, 1}, {1, 0}, {8193, 1}, {1, 8193}, {-5, 5}}) {
        preview::Options o;
        o.width = w;
        o.height = h;
        EXPECT_THROW(preview::render(Document{}, o), std::invalid_argument);
    }
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
