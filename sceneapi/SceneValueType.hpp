// Value type codes passed with every typed value of the scene interface.
// They are part of the binary contract with the renderer's live-link library.
#pragma once

#include <cstdint>

enum SceneValueType : int32_t {
    kFloat3 = 1,
    kFloat4 = 2,
    kFloat = 3,
    kDouble = 4,
    kDouble3 = 5,
    kInt = 6,
    kBool = 7,
    kMatrix = 9,
    kString = 10,
    kStringRef = 13,
    kFloat2 = 14,
    kColor4 = 15,
    kInt2 = 16,
    kInt3 = 17,
    kInt4 = 18,
    kInt23 = 23,
    kCapturedText = 0x10000,
    kArray = 0x8000,
    kFloat3Array = 0x8001,
    kFloat4Array = 0x8002,
    kFloatArray = 0x8003,
    kDoubleArray = 0x8004,
    kDouble3Array = 0x8005,
    kIntArray = 0x8006,
    kBoolArray = 0x8007,
    kMatrixArray = 0x8009,
    kStringArray = 0x800A,
    kStringRefArray = 0x800D,
    kInt23Array = 0x8017,
};

// What the pointer of an array value (code 0x8000 + element code) points to.
struct SceneArray {
    const void* data;
    uint32_t count;
};
