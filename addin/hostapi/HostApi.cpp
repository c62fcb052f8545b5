// The non-inline part of the host interface: reference counting, the application accessor and
// the host's record of handed-out arrays. Everything runs on the host's one add-in thread, so
// the records are not guarded.
#include <cstdio>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "CoreAll.h"

namespace adsk::core {
namespace {

struct ArrayRecord {
    const char* elementType;
};

struct Ledger {
    // By the address of the object type text: reference counting runs for every host object the
    // add-in touches, so it neither builds a string nor compares texts. Entries that drop to zero
    // stay (heldReferences skips them), so counting does not allocate either.
    std::unordered_map<const char*, long> references;
    std::map<std::string, detail::ClassTag, std::less<>> classes;
    std::unordered_map<const void*, ArrayRecord> arrays;
    long arrayFaults = 0;
    detail::ApplicationProvider provider = nullptr;
};

// Function-local so that objects released during static destruction (an add-in's static
// references at unload) still find it.
Ledger& ledger() {
    static Ledger* instance = new Ledger();  // never destroyed: outlives every static Ptr
    return *instance;
}

template <class T>
T* recordArray(const T* values, std::size_t size, std::size_t& count, const char* type) {
    count = size;
    T* array = new T[size + 1]();  // never zero-sized, so never a null result
    std::copy(values, values + size, array);
    ledger().arrays.emplace(array, ArrayRecord{type});
    return array;
}

template <class T>
void handBack(T* array, const char* type) {
    if (array == nullptr) return;
    auto& records = ledger().arrays;
    auto found = records.find(array);
    if (found == records.end() || std::strcmp(found->second.elementType, type) != 0) {
        ++ledger().arrayFaults;
        std::fprintf(stderr,
                     "host: DeallocateArrayInternal(%s*) with %p, not a %s array handed out\n",
                     type, static_cast<const void*>(array), type);
        return;
    }
    records.erase(found);
    delete[] array;
}

}  // namespace

Base::~Base() = default;

void Base::addReference() const noexcept {
    ++references_;
    ++ledger().references[objectType()];
}

void Base::release() const noexcept {
    auto& held = ledger().references;
    auto found = held.find(objectType());
    if (found != held.end() && found->second > 0) --found->second;
    if (--references_ == 0) delete this;
}

Ptr<Application> Application::get() {
    auto provider = ledger().provider;
    return provider ? provider() : Ptr<Application>();
}

void DeallocateArrayInternal(char* array) {
    handBack(array, "char");
}
void DeallocateArrayInternal(int* array) {
    handBack(array, "int");
}
void DeallocateArrayInternal(float* array) {
    handBack(array, "float");
}
void DeallocateArrayInternal(double* array) {
    handBack(array, "double");
}

namespace detail {

void setApplicationProvider(ApplicationProvider provider) {
    ledger().provider = provider;
}

char* allocateText(const std::string& text) {
    std::size_t count = 0;
    // The zero-filled tail terminates the text.
    return recordArray(text.data(), text.size(), count, "char");
}

int* allocateArray(const std::vector<int>& values, std::size_t& count) {
    return recordArray(values.data(), values.size(), count, "int");
}
float* allocateArray(const std::vector<float>& values, std::size_t& count) {
    return recordArray(values.data(), values.size(), count, "float");
}
double* allocateArray(const std::vector<double>& values, std::size_t& count) {
    return recordArray(values.data(), values.size(), count, "double");
}

std::map<std::string, long> heldReferences() {
    // Texts of one class may sit at different addresses (one copy per module).
    std::map<std::string, long> held;
    for (const auto& [type, count] : ledger().references)
        if (count != 0) held[type] += count;
    return held;
}

const ClassTag& classTag(const char* typeText) {
    // Called once per class and module (the identities are cached), maybe from any thread.
    static std::mutex guard;
    const std::lock_guard<std::mutex> lock(guard);
    auto& classes = ledger().classes;
    auto found = classes.find(std::string_view(typeText));
    if (found == classes.end()) {
        // The key's own characters outlive the caller's text (a module may be unloaded).
        found = classes.emplace(typeText, ClassTag{nullptr}).first;
        found->second.text = found->first.c_str();
    }
    return found->second;
}

std::map<std::string, long> heldArrays() {
    std::map<std::string, long> counts;
    for (const auto& [array, record] : ledger().arrays) ++counts[record.elementType];
    return counts;
}

long arrayFaults() {
    return ledger().arrayFaults;
}

}  // namespace detail
}  // namespace adsk::core
