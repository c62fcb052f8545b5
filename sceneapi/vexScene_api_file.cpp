#include "sceneapi/vexScene_api_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <clocale>
#include <cstdarg>
#include <cstring>
#include <list>

#include "sceneapi/NumberFormat.hpp"

namespace numfmt = vex::numfmt;

namespace {

constexpr uint32_t kNoIndentation = 0x400000;
constexpr size_t kOutputBuffer = size_t{1} << 20;
constexpr char kSpaces[] = "                                                                ";
constexpr char kHex[] = "0123456789abcdef";

bool needsHex(const char* name) {
    for (auto p = reinterpret_cast<const unsigned char*>(name); *p; ++p)
        if (*p == 0x0A || *p == 0x0D || *p == 0x22 || *p >= 0x80) return true;
    return false;
}

// The non-finite rule: values not strictly within the single-precision range become -1.
inline double finiteOrMinusOne(double v) {
    return (v > -FLT_MAX && v < FLT_MAX) ? v : -1.0;
}
inline float finiteOrMinusOne(float v) {
    return (v > -FLT_MAX && v < FLT_MAX) ? v : -1.0f;
}

const char* kindText(uint32_t kind, bool trailingSpace) {
    static const char* const withSpace[] = {"surface ", "shadow ", "volume ", "reflection map "};
    static const char* const without[] = {"surface", "shadow", "volume", "reflection map"};
    return trailingSpace ? withSpace[kind] : without[kind];
}

// Input that lies in the capture buffer being appended to would move with it, so it is
// copied before the operation writes anything and is written as it was when called.
const char* hold(const CaptureBuffer* growing, const char* text, std::string& copy) {
    if (growing == nullptr || text == nullptr) return text;
    const size_t n = std::strlen(text);
    if (!growing->overlaps(text, n + 1)) return text;
    copy.assign(text, n);
    return copy.c_str();
}

// Bytes behind the pointer of a numeric value, and of one element of its array code.
size_t scalarBytes(int32_t code) {
    switch (code) {
        case kFloat:
        case kInt:
        case kBool:
        case kInt23:
            return 4;
        case kDouble:
        case kFloat2:
        case kInt2:
            return 8;
        case kFloat3:
        case kInt3:
            return 12;
        case kFloat4:
        case kColor4:
        case kInt4:
            return 16;
        case kDouble3:
            return 24;
        case kMatrix:
            return 16 * sizeof(double);
        default:
            return 0;
    }
}

// Copies of a value's parts; constructing an empty one allocates nothing.
struct HeldValue {
    alignas(double) unsigned char scalar[16 * sizeof(double)];
    const char* text = nullptr;
    CaptureBuffer* captured = nullptr;
    SceneArray array{};
    std::string textCopy;
    std::vector<unsigned char> bytes;
    std::vector<const char*> texts;
    std::list<std::string> textCopies;  // stable addresses for `texts`
};

const void* hold(const CaptureBuffer* growing, int32_t code, const void* value, HeldValue& h) {
    if (growing == nullptr || value == nullptr) return value;
    switch (code) {
        case kString:
            return hold(growing, static_cast<const char*>(value), h.textCopy);
        case kStringRef:
            h.text = hold(growing, *static_cast<const char* const*>(value), h.textCopy);
            return &h.text;
        case kCapturedText:
            h.captured = *static_cast<CaptureBuffer* const*>(value);
            return &h.captured;
        default:
            break;
    }
    if ((code & ~0xFF) == kArray) {
        h.array = *static_cast<const SceneArray*>(value);
        if (h.array.data == nullptr) return &h.array;
        if (code == kStringArray || code == kStringRefArray) {
            const auto* texts = static_cast<const char* const*>(h.array.data);
            h.texts.assign(texts, texts + h.array.count);
            for (const char*& t : h.texts)
                if (t != nullptr && growing->overlaps(t, std::strlen(t) + 1))
                    t = h.textCopies.emplace_back(t).c_str();
            h.array.data = h.texts.data();
            return &h.array;
        }
        const size_t n = scalarBytes(code - kArray) * h.array.count;
        if (growing->overlaps(h.array.data, n)) {
            const auto* p = static_cast<const unsigned char*>(h.array.data);
            h.bytes.assign(p, p + n);
            h.array.data = h.bytes.data();
        }
        return &h.array;
    }
    const size_t n = scalarBytes(code);
    if (!growing->overlaps(value, n)) return value;
    std::memcpy(h.scalar, value, n);
    return h.scalar;
}

}  // namespace

vexScene_api_file::vexScene_api_file(FILE* stream, bool binaryArrays)
    : stream_(stream), binaryArrays_(binaryArrays), out_(new char[kOutputBuffer]) {
    const char* current = std::setlocale(LC_NUMERIC, nullptr);
    savedLocale_ = current ? current : "C";
    std::setlocale(LC_NUMERIC, "C");
    indentStack_.reserve(32);
    captureSave_.reserve(32);
    captureFlagStack_.reserve(32);
    contextStack_.reserve(32);
}

vexScene_api_file::~vexScene_api_file() {
    flush();
    std::setlocale(LC_NUMERIC, savedLocale_.c_str());
}

// ---- destinations -------------------------------------------------------------------------

void vexScene_api_file::flush() {
    if (outUsed_ == 0 || stream_ == nullptr) return;
    if (std::fwrite(out_.get(), 1, outUsed_, stream_) != outUsed_ && writeError_ == 0)
        writeError_ = errno ? errno : EIO;
    outUsed_ = 0;
}

void vexScene_api_file::streamWrite(const void* bytes, size_t n) {
    if (n > kOutputBuffer / 2) {
        // Large blocks skip the copy and go out in one fwrite.
        flush();
        if (std::fwrite(bytes, 1, n, stream_) != n && writeError_ == 0)
            writeError_ = errno ? errno : EIO;
        return;
    }
    if (outUsed_ + n > kOutputBuffer) flush();
    std::memcpy(out_.get() + outUsed_, bytes, n);
    outUsed_ += n;
}

template <class F>
void vexScene_api_file::emitFormatted(size_t maxLen, F format) {
    if (silent()) return;
    if (capture_) {
        if (current_ == nullptr) return;
        // Enough for the longest piece: a line of nine "%16.16f" array elements and indentation.
        char local[9 * (numfmt::kMaxFixed + 1) + 128];
        char* end = format(local);
        current_->appendText(local, static_cast<size_t>(end - local));
        return;
    }
    if (outUsed_ + maxLen > kOutputBuffer) flush();
    char* start = out_.get() + outUsed_;
    outUsed_ += static_cast<size_t>(format(start) - start);
}

void vexScene_api_file::plain(const char* text, size_t n) {
    if (silent() || n == 0) return;
    if (capture_) {
        if (current_) current_->appendText(text, n);
        return;
    }
    // Most pieces are a few bytes (keywords, separators, indentation): straight into the
    // buffer, without a library call per piece.
    if (n <= 16 && outUsed_ + n <= kOutputBuffer) {
        char* out = out_.get() + outUsed_;
        for (size_t i = 0; i < n; ++i) out[i] = text[i];
        outUsed_ += n;
        return;
    }
    streamWrite(text, n);
}

void vexScene_api_file::plain(const char* text) {
    plain(text, std::strlen(text));
}

void vexScene_api_file::raw(const void* bytes, size_t n) {
    if (silent()) return;
    if (capture_) {
        if (current_ && n > 0) current_->append(static_cast<const char*>(bytes), n);
        return;
    }
    if (n > 0) streamWrite(bytes, n);
}

void vexScene_api_file::indentation() {
    if (mode_ & kNoIndentation) return;
    for (int left = level_; left > 0;) {
        const int chunk = std::min<int>(left, sizeof kSpaces - 1);
        plain(kSpaces, static_cast<size_t>(chunk));
        left -= chunk;
    }
}

// The indentation goes before the text and after every line feed followed by more text.
// Written piece by piece, so no intermediate line buffer can overflow.
void vexScene_api_file::indented(const char* text, size_t n) {
    if (silent()) return;
    indentation();
    if (level_ <= 0 || (mode_ & kNoIndentation)) {
        plain(text, n);
        return;
    }
    size_t start = 0;
    while (start < n) {
        const void* lf = std::memchr(text + start, '\n', n - start);
        if (lf == nullptr) {
            plain(text + start, n - start);
            return;
        }
        const size_t end = static_cast<size_t>(static_cast<const char*>(lf) - text) + 1;
        plain(text + start, end - start);
        if (end < n) indentation();
        start = end;
    }
}

void vexScene_api_file::indented(const char* text) {
    indented(text, std::strlen(text));
}

void vexScene_api_file::nameHere(const char* text) {
    if (text == nullptr) text = "";
    if (silent()) return;
    if (!needsHex(text)) {
        indentation();
        const size_t n = std::strlen(text);
        // A short name goes out quoted in one piece.
        if (!capture_ && n + 2 <= kOutputBuffer / 2) {
            if (outUsed_ + n + 2 > kOutputBuffer) flush();
            char* out = out_.get() + outUsed_;
            out[0] = '"';
            std::memcpy(out + 1, text, n);
            out[n + 1] = '"';
            outUsed_ += n + 2;
            return;
        }
        plain("\"", 1);
        plain(text, n);
        plain("\"", 1);
        return;
    }
    const size_t n = std::strlen(text);
    std::string hex;
    hex.reserve(2 * n + 2);
    hex += "xX";
    for (size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    raw(hex.data(), hex.size());
}

void vexScene_api_file::name(const char* text) {
    const int saved = level_;
    level_ = 0;
    nameHere(text);
    level_ = saved;
}

void vexScene_api_file::bytesBlob(const unsigned char* bytes, int length) {
    const size_t n = (bytes != nullptr && length > 0) ? static_cast<size_t>(length) : 0;
    std::string hex;
    hex.reserve(2 * n + 2);
    hex += "bX";
    for (size_t i = 0; i < n; ++i) {
        hex += kHex[bytes[i] >> 4];
        hex += kHex[bytes[i] & 15];
    }
    raw(hex.data(), hex.size());
}

// The text is read when its piece is written, so it includes what this operation already
// put into it when it is the growing buffer itself.
void vexScene_api_file::capturedText(const CaptureBuffer* text) {
    if (text == nullptr) return;
    if (text->binary) {
        raw(text->text(), static_cast<size_t>(std::max(text->length, 0)));  // append copes
    } else if (text == growing()) {
        // The indentation in front would move it.
        const std::string copy(text->text());
        indented(copy.data(), copy.size());
    } else {
        indented(text->text());
    }
}

void vexScene_api_file::kindWord(uint32_t kind, bool trailingSpace) {
    if (kind >= 4) {
        indented("// assuming surface shader\n");
        indented(kindText(0, true));  // unknown kinds keep the trailing space
        return;
    }
    indented(kindText(kind, trailingSpace));
}

void vexScene_api_file::pushContext() {
    contextStack_.push_back(statement_);
}

void vexScene_api_file::popContext() {
    if (contextStack_.empty()) return;
    statement_ = contextStack_.back();
    contextStack_.pop_back();
}

// ---- operations ---------------------------------------------------------------------------

void vexScene_api_file::reserved_1() {}
bool vexScene_api_file::connect(const char*, int, int) {
    return false;
}
bool vexScene_api_file::disconnect() {
    return false;
}
bool vexScene_api_file::reserved_4() {
    return false;
}

bool vexScene_api_file::begin_group(const char* groupName, bool instance) {
    std::string kept;
    groupName = hold(growing(), groupName, kept);
    plain("\n", 1);
    if (!instance) indented("#define ");
    indented("group ");
    name(groupName);
    plain(" {\n");
    pushContext();
    ++level_;
    statement_ = true;
    return true;
}

void vexScene_api_file::end_group() {
    outdent();
    indented("}\n");
    popContext();
}

bool vexScene_api_file::begin_object(const char* objectName, bool instance) {
    std::string kept;
    objectName = hold(growing(), objectName, kept);
    indented(instance ? "object " : "#define object ");
    name(objectName);
    plain(" {\n");
    pushContext();
    ++level_;
    statement_ = true;
    block_ = Block::object;
    return true;
}

void vexScene_api_file::end_object() {
    outdent();
    indented("}\n");
    popContext();
    block_ = Block::none;
}

bool vexScene_api_file::begin_geometry(const char* type) {
    std::string kept;
    type = hold(growing(), type, kept);
    indented("geometry ");
    name(type);
    plain(" {\n");
    pushContext();
    ++level_;
    statement_ = false;
    return true;
}

void vexScene_api_file::end_geometry() {
    outdent();
    indented("}\n");
    popContext();
}

bool vexScene_api_file::begin_animation(const char* first, const char* second) {
    std::string kept[2];
    first = hold(growing(), first, kept[0]);
    second = hold(growing(), second, kept[1]);
    indented("animation ");
    name(first);
    indented(" ");
    name(second);
    plain(" {\n");
    pushContext();
    ++level_;
    statement_ = false;
    return true;
}

void vexScene_api_file::end_animation() {
    outdent();
    indented("}\n");
    popContext();
}

bool vexScene_api_file::begin_load(const char* module) {
    std::string kept;
    module = hold(growing(), module, kept);
    indented("load ");
    name(module);
    plain(" {\n");
    ++level_;
    return true;
}

void vexScene_api_file::end_load() {
    outdent();
    indented("}\n");
}

void vexScene_api_file::openTopLevel(Block kind, const char* text) {
    indented(text);
    capture_ = false;
    statement_ = true;
    block_ = kind;
    ++level_;
}

void vexScene_api_file::closeTopLevel(Block kind) {
    if (block_ == kind) {
        outdent();
        indented("}\n");
    }
    statement_ = false;
    block_ = Block::none;
}

bool vexScene_api_file::begin_options() {
    if (refusesTopLevel()) return false;
    openTopLevel(Block::options, "\noptions {\n");
    return true;
}

void vexScene_api_file::end_options() {
    closeTopLevel(Block::options);
}

bool vexScene_api_file::begin_camera(const char* cameraName) {
    std::string kept;
    cameraName = hold(growing(), cameraName, kept);
    if (refusesTopLevel()) return false;
    if (cameraName == nullptr) {
        openTopLevel(Block::camera, "\ncamera {\n");
        return true;
    }
    indented("\ncamera ");
    name(cameraName);
    plain(" {\n");
    capture_ = false;
    statement_ = true;
    block_ = Block::camera;
    ++level_;
    return true;
}

void vexScene_api_file::end_camera() {
    closeTopLevel(Block::camera);
}

bool vexScene_api_file::begin_image() {
    if (refusesTopLevel()) return false;
    openTopLevel(Block::image, "\nimage {\n");
    return true;
}

void vexScene_api_file::end_image() {
    closeTopLevel(Block::image);
}

bool vexScene_api_file::begin_output(const char* a, const char* b, const char* c) {
    std::string kept[3];
    a = hold(growing(), a, kept[0]);
    b = hold(growing(), b, kept[1]);
    c = hold(growing(), c, kept[2]);
    indented("output ");
    name(a);
    plain(" ");
    name(b);
    plain(" ");
    name(c);
    plain(" {\n");
    statement_ = false;
    ++level_;
    return true;
}

void vexScene_api_file::end_output() {
    outdent();
    indented("}\n");
    statement_ = true;
}

bool vexScene_api_file::begin_light(const char* lightName) {
    std::string kept;
    lightName = hold(growing(), lightName, kept);
    plain("\n", 1);
    indented("light ");
    name(lightName);
    plain(" {\n");
    ++level_;
    return true;
}

void vexScene_api_file::end_light() {
    outdent();
    indented("}\n");
}

bool vexScene_api_file::begin_accel(const char* accelName) {
    std::string kept;
    accelName = hold(growing(), accelName, kept);
    indented("\naccel ");
    name(accelName);
    plain(" {\n");
    pushContext();
    ++level_;
    statement_ = false;
    return true;
}

void vexScene_api_file::end_accel() {
    end_group();
}

namespace {

// "<keyword> %g %g ... %g\n" with the matrix converted to single precision.
size_t formatMatrixLine(char* out, const char* keyword, const double* m) {
    char* p = out;
    const size_t k = std::strlen(keyword);
    std::memcpy(p, keyword, k);
    p += k;
    for (int i = 0; i < 16; ++i) {
        *p++ = ' ';
        p = vex::numfmt::formatFloatG(p, static_cast<float>(m[i]));
    }
    *p++ = '\n';
    return static_cast<size_t>(p - out);
}

size_t formatTriple(char* out, const char* keyword, double x, double y, double z) {
    char* p = out;
    const size_t k = std::strlen(keyword);
    std::memcpy(p, keyword, k);
    p += k;
    for (double v : {x, y, z}) {
        *p++ = ' ';
        p = vex::numfmt::formatG(p, v);
    }
    *p++ = '\n';
    return static_cast<size_t>(p - out);
}

}  // namespace

void vexScene_api_file::transform(const double* m) {
    if (m == nullptr) return;
    char line[16 * (numfmt::kMaxG + 1) + 32];
    indented(line, formatMatrixLine(line, "transform", m));
}

void vexScene_api_file::set_transform(const double* m) {
    if (m == nullptr) return;
    char line[16 * (numfmt::kMaxG + 1) + 32];
    indented(line, formatMatrixLine(line, "set transform", m));
}

void vexScene_api_file::scale(const double& x, const double& y, const double& z) {
    char line[3 * (numfmt::kMaxG + 1) + 32];
    indented(line, formatTriple(line, "scale", x, y, z));
}

void vexScene_api_file::rotate(const double& x, const double& y, const double& z) {
    char line[3 * (numfmt::kMaxG + 1) + 32];
    indented(line, formatTriple(line, "rotate", x, y, z));
}

void vexScene_api_file::translate(const double& x, const double& y, const double& z) {
    char line[3 * (numfmt::kMaxG + 1) + 32];
    indented(line, formatTriple(line, "translate", x, y, z));
}

bool vexScene_api_file::begin_matrix(const char* matrixName) {
    std::string kept;
    matrixName = hold(growing(), matrixName, kept);
    indented("#define matrix ");
    name(matrixName);
    plain(" {\n");
    ++level_;
    return true;
}

void vexScene_api_file::end_matrix() {
    outdent();
    indented("}\n");
}

bool vexScene_api_file::begin_material(const char* materialName, bool instance) {
    std::string kept;
    materialName = hold(growing(), materialName, kept);
    if (!instance) indented("\n#define ");
    indented("material ");
    name(materialName);
    plain(" {\n");
    ++level_;
    return true;
}

bool vexScene_api_file::use_material(const char* materialName) {
    std::string kept;
    materialName = hold(growing(), materialName, kept);
    indented("material ");
    name(materialName);
    plain("\n", 1);
    return true;
}

void vexScene_api_file::end_material() {
    outdent();
    indented("}\n");
}

void vexScene_api_file::shader_text(uint32_t kind, CaptureBuffer* text) {
    if (text == nullptr) return;
    kindWord(kind, true);
    capturedText(text);
    indented("\n");
}

void vexScene_api_file::shader_ref(uint32_t kind, int shaderId) {
    kindWord(kind, false);
    char text[numfmt::kMaxInt + 4];
    char* p = text;
    *p++ = ' ';
    p = numfmt::formatInt(p, shaderId);
    *p++ = '\n';
    plain(text, static_cast<size_t>(p - text));
}

bool vexScene_api_file::begin_shader(const char* shaderName, const char* type) {
    std::string kept[2];
    shaderName = hold(growing(), shaderName, kept[0]);
    type = hold(growing(), type, kept[1]);
    captureFlagStack_.push_back(capture_);
    captureSave_.push_back(current_);
    pushContext();
    statement_ = false;
    if (shaderName != nullptr) {
        capture_ = false;
        indented("#define shader ");
        name(shaderName);
        plain(" ");
        name(type);
        plain(" {\n");
    } else {
        captures_.push_back(std::make_unique<CaptureBuffer>());
        current_ = captures_.back().get();
        capture_ = true;
        indentStack_.push_back(level_);
        level_ = 0;
        name(type);
        plain(" {\n");
    }
    ++level_;
    return true;
}

bool vexScene_api_file::begin_shader_id(const char* type, int shaderId) {
    captureFlagStack_.push_back(capture_);
    captureSave_.push_back(current_);
    pushContext();
    statement_ = false;
    capture_ = false;
    // "#define shader <id> <type> {\n", built on the stack unless the type is long: a shader
    // per object, so no allocation per shader.
    const char* text = type ? type : "";
    const size_t n = std::strlen(text);
    char local[256];
    std::string long_;
    constexpr size_t kHead = 15 + numfmt::kMaxInt + 1;
    char* line = local;
    if (kHead + n + 3 > sizeof local) {
        long_.resize(kHead + n + 3);
        line = long_.data();
    }
    std::memcpy(line, "#define shader ", 15);
    char* p = numfmt::formatInt(line + 15, shaderId);
    *p++ = ' ';
    std::memcpy(p, text, n);
    p += n;
    std::memcpy(p, " {\n", 3);
    p += 3;
    indented(line, static_cast<size_t>(p - line));
    ++level_;
    return true;
}

void vexScene_api_file::end_shader() {
    outdent();
    if (capture_) {
        indented("}");
        if (!indentStack_.empty()) {
            level_ = indentStack_.back();
            indentStack_.pop_back();
        }
    } else {
        indented("}\n");
    }
    popContext();
    // The buffer just captured stays current, so the caller can fetch it.
    if (!captureSave_.empty()) captureSave_.pop_back();
    if (!captureFlagStack_.empty()) {
        capture_ = captureFlagStack_.back();
        captureFlagStack_.pop_back();
    }
}

CaptureBuffer* vexScene_api_file::captured_text() {
    return current_;
}

void vexScene_api_file::push_capture() {
    captureSave_.push_back(current_);
}

void vexScene_api_file::pop_capture() {
    if (captureSave_.empty()) return;
    current_ = captureSave_.back();
    captureSave_.pop_back();
}

bool vexScene_api_file::set_value(const char* valueName, int32_t code, const void* value) {
    if (valueName == nullptr) valueName = "";
    std::string kept;
    HeldValue held;
    valueName = hold(growing(), valueName, kept);
    value = hold(growing(), code, value, held);
    if (statement_) {
        std::string head(valueName);
        head += ' ';
        indented(head.data(), head.size());
        writeValue(code, value);
        plain("\n", 1);
    } else {
        nameHere(valueName);
        plain(" ", 1);
        writeValue(code, value);
        plain(",\n", 2);
    }
    return true;
}

bool vexScene_api_file::set_shader_link(const char* linkName, int shaderId) {
    std::string kept;
    linkName = hold(growing(), linkName, kept);
    nameHere(linkName);
    char text[numfmt::kMaxInt + 8];
    char* p = text;
    std::memcpy(p, " ! ", 3);
    p = numfmt::formatInt(p + 3, shaderId);
    *p++ = ',';
    *p++ = '\n';
    plain(text, static_cast<size_t>(p - text));
    return true;
}

bool vexScene_api_file::set_text_link(const char* linkName, CaptureBuffer* text) {
    std::string kept;
    linkName = hold(growing(), linkName, kept);
    nameHere(linkName);
    plain(" ! ", 3);
    capturedText(text);
    indented(",\n");
    return true;
}

// ---- values -------------------------------------------------------------------------------

void vexScene_api_file::writeValue(int32_t code, const void* value) {
    if (value == nullptr || silent()) return;
    using namespace vex::numfmt;
    const auto floats = [&](int count) {
        const auto* f = static_cast<const float*>(value);
        emitFormatted(count * (kMaxG + 1), [&](char* p) {
            for (int i = 0; i < count; ++i) {
                if (i) *p++ = ' ';
                p = formatFloatG(p, f[i]);
            }
            return p;
        });
    };
    const auto ints = [&](int count) {
        const auto* v = static_cast<const int32_t*>(value);
        emitFormatted(count * (kMaxInt + 1), [&](char* p) {
            for (int i = 0; i < count; ++i) {
                if (i) *p++ = ' ';
                p = formatInt(p, v[i]);
            }
            return p;
        });
    };
    switch (code) {
        case kFloat3:
            floats(3);
            break;
        case kFloat4:
        case kColor4:
            floats(4);
            break;
        case kFloat2:
            floats(2);
            break;
        case kFloat: {
            const float v = finiteOrMinusOne(*static_cast<const float*>(value));
            emitFormatted(kMaxG, [&](char* p) { return formatFloatG(p, v); });
            break;
        }
        case kDouble: {
            const double v = *static_cast<const double*>(value);
            emitFormatted(kMaxFixed, [&](char* p) { return formatFixed16(p, v); });
            break;
        }
        case kDouble3: {
            const auto* d = static_cast<const double*>(value);
            emitFormatted(3 * (kMaxG + 1), [&](char* p) {
                for (int i = 0; i < 3; ++i) {
                    if (i) *p++ = ' ';
                    p = formatG(p, d[i]);
                }
                return p;
            });
            break;
        }
        case kInt:
        case kInt23:
            ints(1);
            break;
        case kInt2:
            ints(2);
            break;
        case kInt3:
            ints(3);
            break;
        case kInt4:
            ints(4);
            break;
        case kBool:
            plain(*static_cast<const int32_t*>(value) ? "on" : "off");
            break;
        case kMatrix: {
            const auto* m = static_cast<const double*>(value);
            emitFormatted(16 * (kMaxG + 1), [&](char* p) {
                for (int i = 0; i < 16; ++i) {
                    if (i) *p++ = ' ';
                    p = formatFloatG(p, static_cast<float>(m[i]));
                }
                return p;
            });
            break;
        }
        case kString:
            name(static_cast<const char*>(value));
            break;
        case kStringRef:
            name(*static_cast<const char* const*>(value));
            break;
        case kCapturedText: {
            const int saved = level_;
            level_ = 2;
            capturedText(*static_cast<CaptureBuffer* const*>(value));
            level_ = saved;
            break;
        }
        default:
            if ((code & ~0xFF) == kArray) writeArray(code, *static_cast<const SceneArray*>(value));
            break;
    }
}

void vexScene_api_file::writeBinaryArray(char tag, const void* data, uint32_t scalars,
                                         size_t width) {
    plain("[ ", 2);
    const unsigned char head[8] = {0x01,
                                   0x02,
                                   0x03,
                                   static_cast<unsigned char>(tag),
                                   static_cast<unsigned char>(scalars),
                                   static_cast<unsigned char>(scalars >> 8),
                                   static_cast<unsigned char>(scalars >> 16),
                                   static_cast<unsigned char>(scalars >> 24)};
    raw(head, sizeof head);
    raw(data, size_t{scalars} * width);
    plain("] ", 2);
}

void vexScene_api_file::writeArray(int32_t code, const SceneArray& array) {
    using namespace vex::numfmt;
    const uint32_t count = array.data != nullptr ? array.count : 0;
    if (binaryArrays_) {
        switch (code) {
            case kFloat3Array:
                // Three scalars per element; a count beyond 32 bits cannot be described.
                if (count > UINT32_MAX / 3) return;
                writeBinaryArray('c', array.data, 3 * count, 4);
                return;
            case kFloatArray:
                writeBinaryArray('f', array.data, count, 4);
                return;
            case kDoubleArray:
                writeBinaryArray('r', array.data, count, 8);
                return;
            case kIntArray:
            case kInt23Array:
                writeBinaryArray('i', array.data, count, 4);
                return;
            default:
                break;
        }
    }
    // Nine elements on the first line and eight on each later one; `formatRun` writes elements
    // [first, end), each followed by a comma (at most maxElement + 1 bytes each), and returns
    // the end. Lines go out in blocks of about 16 KB, each line with the line feed and
    // indentation that follow it, so the buffer's capacity is checked once per block rather
    // than per line. While capturing (into a local buffer of one line) or when the indentation
    // is too deep to copy whole, a block is one line.
    const int spaces = (mode_ & kNoIndentation) ? 0 : std::max(level_, 0);
    const bool inlineIndent = spaces < static_cast<int>(sizeof kSpaces);
    const auto elementRuns = [&](size_t maxElement, auto&& formatRun) {
        plain("[ ", 2);
        const size_t maxLine = 9 * (maxElement + 1) + sizeof kSpaces;  // line feed, kSpaces whole
        const uint32_t blockLines =
            capture_ || !inlineIndent ? 1
                                      : static_cast<uint32_t>(std::max<size_t>(1, 16384 / maxLine));
        for (uint32_t first = 0; first < count;) {
            // Lines end after elements 9, 17, 25, ...
            const uint32_t blockEnd =
                first + std::min<uint32_t>(count - first, 8 * blockLines + (first == 0 ? 1 : 0));
            emitFormatted(blockLines * maxLine, [&](char* p) {
                for (uint32_t line = first; line < blockEnd;) {
                    const uint32_t end = std::min(blockEnd, line == 0 ? 9 : line + 8);
                    p = formatRun(p, line, end);
                    if (end == count) p[-1] = ' ';
                    if (end - 1 != 0 && (end - 1) % 8 == 0 && inlineIndent) {
                        *p++ = '\n';
                        std::memcpy(p, kSpaces, sizeof kSpaces - 1);  // a fixed size: no call
                        p += spaces;
                    }
                    line = end;
                }
                return p;
            });
            if (blockEnd - 1 != 0 && (blockEnd - 1) % 8 == 0 && !inlineIndent) {
                plain("\n", 1);
                indentation();
            }
            first = blockEnd;
        }
        plain("] ", 2);
    };
    // The same with `format(p, e)` writing the element at e, of `stride` scalars, alone. The
    // element pointer and the stride are locals of the loop: the output's char stores may
    // alias any memory, so values reached through references are loaded again per element.
    const auto elementText = [&](size_t maxElement, const auto* data, size_t stride, auto format) {
        elementRuns(maxElement, [&](char* p, uint32_t first, uint32_t end) {
            const size_t step = stride;
            const auto* e = data + size_t{first} * step;
            for (uint32_t i = first; i < end; ++i, e += step) {
                p = format(p, e);
                *p++ = ',';
            }
            return p;
        });
    };
    switch (code) {
        case kFloat3Array:
        case kFloat4Array: {
            const auto* f = static_cast<const float*>(array.data);
            const int width = code == kFloat3Array ? 3 : 4;
            elementRuns(static_cast<size_t>(width) * (kMaxG + 1), [&](char* p, uint32_t first,
                                                                      uint32_t end) {
                return formatFloatGGroups(p, f + size_t{first} * width, end - first, width);
            });
            break;
        }
        case kDouble3Array:
            elementText(3 * (kMaxG + 1), static_cast<const double*>(array.data), 3,
                        [](char* p, const double* e) {
                            p = formatG(p, e[0]);
                            *p++ = ' ';
                            p = formatG(p, e[1]);
                            *p++ = ' ';
                            return formatG(p, e[2]);
                        });
            break;
        case kFloatArray:
            elementText(
                kMaxG, static_cast<const float*>(array.data), 1,
                [](char* p, const float* e) { return formatFloatG(p, finiteOrMinusOne(*e)); });
            break;
        case kDoubleArray:
            elementText(
                kMaxFixed, static_cast<const double*>(array.data), 1,
                [](char* p, const double* e) { return formatFixed16(p, finiteOrMinusOne(*e)); });
            break;
        case kIntArray:
        case kInt23Array:
            elementText(kMaxInt, static_cast<const int32_t*>(array.data), 1,
                        [](char* p, const int32_t* e) { return formatInt(p, *e); });
            break;
        case kBoolArray:
            elementText(1, static_cast<const int32_t*>(array.data), 1,
                        [](char* p, const int32_t* e) {
                            *p = *e != 0 ? '1' : '0';
                            return p + 1;
                        });
            break;
        case kMatrixArray: {
            const auto* m = static_cast<const double*>(array.data);
            plain("[ ", 2);
            for (uint32_t i = 0; i < count; ++i) {
                indentation();
                const double* e = m + size_t{i} * 16;
                emitFormatted(16 * (kMaxG + 1), [&](char* p) {
                    for (int k = 0; k < 16; ++k) {
                        p = formatG(p, e[k]);
                        *p++ = ' ';
                    }
                    return p;
                });
                plain(i + 1 < count ? ",\n" : "\n");
            }
            plain("] ", 2);
            break;
        }
        case kStringArray:
        case kStringRefArray: {
            const auto* texts = static_cast<const char* const*>(array.data);
            plain("[ ", 2);
            for (uint32_t i = 0; i < count; ++i) {
                name(texts[i]);
                plain(i + 1 < count ? "," : " ", 1);
                plain("\n", 1);
            }
            plain("] ", 2);
            break;
        }
        default:
            break;  // no text form
    }
}

bool vexScene_api_file::begin_list(const char* listName) {
    std::string kept;
    listName = hold(growing(), listName, kept);
    listItems_ = 0;
    nameHere(listName);
    plain(" [\n");
    ++level_;
    indentation();
    pending_.clear();
    return true;
}

void vexScene_api_file::end_list() {
    // Collected items go out as one block; a tag without binary form writes nothing.
    const bool known = pendingTag_ == 'c' || pendingTag_ == 'f' || pendingTag_ == 'i';
    if (binaryArrays_ && !pending_.empty() && known) {
        const uint32_t n = static_cast<uint32_t>(pending_.size());
        const unsigned char head[8] = {0x01,
                                       0x02,
                                       0x03,
                                       static_cast<unsigned char>(pendingTag_),
                                       static_cast<unsigned char>(n),
                                       static_cast<unsigned char>(n >> 8),
                                       static_cast<unsigned char>(n >> 16),
                                       static_cast<unsigned char>(n >> 24)};
        raw(head, sizeof head);
        raw(pending_.data(), pending_.size() * 4);
    }
    pending_.clear();
    plain(" ],\n");
    outdent();
}

void vexScene_api_file::add_list_item(int32_t code, const void* value) {
    if (value == nullptr) return;
    HeldValue held;
    value = hold(growing(), code, value, held);
    if (binaryArrays_ && (code == kFloat3 || code == kFloat || code == kInt)) {
        const int n = code == kFloat3 ? 3 : 1;
        pendingTag_ = code == kFloat3 ? 'c' : code == kFloat ? 'f' : 'i';
        if (pending_.size() + 3 > pending_.capacity())
            pending_.reserve(pending_.size() + pending_.capacity() + 65536);
        const auto* words = static_cast<const uint32_t*>(value);
        pending_.insert(pending_.end(), words, words + n);
        return;
    }
    const int n = listItems_;
    if (n > 0) {
        if ((code == kFloat3 && n % 2 == 0) || n % 6 == 0) {
            plain(",\n", 2);
            indentation();
        } else {
            plain(", ", 2);
        }
    }
    writeValue(code, value);
    ++listItems_;
}

int vexScene_api_file::reserved_51() {
    return 10;
}
int vexScene_api_file::reserved_52() {
    return 10;
}
int vexScene_api_file::reserved_53() {
    return 0;
}

void vexScene_api_file::attribute(const char* key, const char* value) {
    std::string kept[2];
    key = hold(growing(), key, kept[0]);
    value = hold(growing(), value, kept[1]);
    indented("attribute ");
    name(key);
    plain(" ", 1);
    name(value);
    plain("\n", 1);
}

void vexScene_api_file::print_formatted(const char* format, ...) {
    if (format == nullptr || silent()) return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    if (format_.size() < 4096) format_.resize(4096);
    int n = std::vsnprintf(format_.data(), format_.size(), format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) >= format_.size()) {
        // Grows rather than cutting, so a long text keeps its end.
        format_.resize(static_cast<size_t>(n) + 1);
        n = std::vsnprintf(format_.data(), format_.size(), format, again);
    }
    va_end(again);
    if (n < 0) return;
    // An empty text still yields the indentation. The text counts up to its first zero byte, as
    // when written with "%s".
    indented(format_.data(), strnlen(format_.data(), static_cast<size_t>(n)));
}

void vexScene_api_file::set_mode(int flagsWord) {
    binaryArrays_ = (flagsWord & 2) != 0;
    mode_ = static_cast<uint32_t>(flagsWord);
}

void vexScene_api_file::version(int number) {
    char text[32];
    char* p = text;
    std::memcpy(p, "version ", 8);
    p = numfmt::formatInt(p + 8, number == -1 ? 20 : number);
    std::memcpy(p, "\n\n", 2);
    indented(text, static_cast<size_t>(p + 2 - text));
}

void vexScene_api_file::reserved_58() {}

void vexScene_api_file::progress(const char* progressName, float fraction) {
    std::string kept;
    progressName = hold(growing(), progressName, kept);
    indented("progress ");
    name(progressName);
    emitFormatted(numfmt::kMaxFixed + 4, [&](char* p) {
        *p++ = ' ';
        p = numfmt::formatFixed3(p, fraction);
        *p++ = '\n';
        *p++ = '\n';
        return p;
    });
}

void vexScene_api_file::icon(const unsigned char* bytes, int length) {
    indented("icon ");
    bytesBlob(bytes, length);
    indented("\n");
}

void vexScene_api_file::blob(const char* key, const unsigned char* bytes, int length) {
    std::string head(key ? key : "");
    head += ' ';
    indented(head.data(), head.size());
    bytesBlob(bytes, length);
    indented("\n");
}

void vexScene_api_file::id(unsigned value) {
    char text[32];
    char* p = text;
    std::memcpy(p, "id ", 3);
    p = numfmt::formatUnsigned(p + 3, value);
    *p++ = '\n';
    indented(text, static_cast<size_t>(p - text));
}

void vexScene_api_file::flags(unsigned value) {
    char text[32];
    char* p = text;
    std::memcpy(p, "flags ", 6);
    p = numfmt::formatUnsigned(p + 6, value);
    *p++ = '\n';
    indented(text, static_cast<size_t>(p - text));
}

bool vexScene_api_file::reserved_64() {
    return false;
}

bool vexScene_api_file::render() {
    indented("\nrender\n");
    return true;
}

void vexScene_api_file::print(const char* text) {
    std::string kept;
    text = hold(growing(), text, kept);
    indented("#print \"");
    indented(text ? text : "");
    plain("\"\n", 2);
}

void vexScene_api_file::error(const char* text) {
    std::string kept;
    text = hold(growing(), text, kept);
    indented("#error \"");
    indented(text ? text : "");
    plain("\"\n", 2);
}

bool vexScene_api_file::modify_camera(const char* cameraName) {
    std::string kept;
    cameraName = hold(growing(), cameraName, kept);
    indented("#modify ");
    return begin_camera(cameraName);
}
