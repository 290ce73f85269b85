// FreeFrame 1.0 declarations as this project's plug-ins speak them.
//
// On 32-bit targets every record has the classic FreeFrame 1.0 layout (32-bit fields,
// 4-byte pointers). On 64-bit targets plugMain takes and returns the pointer-sized
// FFMixed union that current 64-bit hosts use, and the records that hold pointers use
// the native pointer size with natural alignment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(_WIN32) && !defined(_WIN64)
#define QEL_PLUGIN_CALL __stdcall
#else
#define QEL_PLUGIN_CALL
#endif

typedef union FFMixed {
  uint32_t UIntValue;
  float FloatValue;
  void* PointerValue;
} FFMixed;

// Function codes.
enum : uint32_t {
  FF_GETINFO = 0,
  FF_INITIALISE = 1,
  FF_DEINITIALISE = 2,
  FF_PROCESSFRAME = 3,
  FF_GETNUMPARAMETERS = 4,
  FF_GETPARAMETERNAME = 5,
  FF_GETPARAMETERDEFAULT = 6,
  FF_GETPARAMETERDISPLAY = 7,
  FF_SETPARAMETER = 8,
  FF_GETPARAMETER = 9,
  FF_GETPLUGINCAPS = 10,
  FF_INSTANTIATE = 11,
  FF_DEINSTANTIATE = 12,
  FF_GETEXTENDEDINFO = 13,
  FF_PROCESSFRAMECOPY = 14,
  FF_GETPARAMETERTYPE = 15,
  // Standard FreeFrame calls this FF_GETINPUTSTATUS; these plug-ins use it as the
  // multi-frame entry: inputValue is the address of a caller-made MultiFrames record.
  FF_GETINPUTSTATUS = 16,
};

// Status values.
constexpr uint32_t FF_SUCCESS = 0;
constexpr uint32_t FF_FAIL = 0xFFFFFFFFu;

// Plug-in type, parameter type, bit depths, capability answers.
constexpr uint32_t FF_EFFECT = 0;
constexpr uint32_t FF_TYPE_STANDARD = 10;
constexpr uint32_t FF_DEPTH_16 = 0;
constexpr uint32_t FF_DEPTH_24 = 1;
constexpr uint32_t FF_DEPTH_32 = 2;
constexpr uint32_t FF_ORIENTATION_TL = 1;  // first row is the top of the picture
constexpr uint32_t FF_ORIENTATION_BL = 2;  // first row is the bottom
constexpr uint32_t FF_CAP_PREFER_INPLACE = 1;
constexpr uint32_t FF_CAP_PREFER_BOTH = 3;

// Pixel slot format tags.
constexpr int32_t kFormatTagRgb8 = 1001;  // 8-bit channels, 3 or 4 bytes per pixel
constexpr int32_t kFormatTagEmpty = 1;    // empty slot or any other pixel size

struct PluginInfoStruct {
  uint32_t APIMajorVersion;
  uint32_t APIMinorVersion;
  char PluginUniqueID[4];  // no terminator
  char PluginName[16];     // NUL-padded
  uint32_t PluginType;
};

struct PluginExtendedInfoStruct {
  uint32_t PluginMajorVersion;
  uint32_t PluginMinorVersion;
  const char* Description;
  const char* About;
  uint32_t FreeFrameExtendedDataSize;
  void* FreeFrameExtendedDataBlock;
};

struct VideoInfoStruct {
  uint32_t FrameWidth;
  uint32_t FrameHeight;
  uint32_t BitDepth;
  uint32_t Orientation;
};

struct ProcessFrameCopyStruct {
  uint32_t numInputFrames;
  void** ppInputFrames;
  void* pOutputFrame;
};

struct SetParameterStruct {
  uint32_t ParameterNumber;
  FFMixed NewParameterValue;  // the float is the low 32 bits
};

// A parameter row: the deliverable's table holds (default, name); an instance holds
// (current value, display text). The text field is 16 bytes including the terminator.
struct ParamRecord {
  float value;
  char text[16];
};

// One frame slot of the multi-frame context. `data` holds width x height x
// bytesPerPixel bytes or is null; `reservedData` is a second buffer pointer that the
// shell keeps null.
struct FrameSlot {
  int32_t formatTag;
  int32_t bytesPerPixel;
  uint8_t* data;
  int32_t width;
  int32_t height;
  void* reservedData;
  int32_t reserved1;
  int32_t reserved2;
};

constexpr int kMaxSlots = 16;

struct MultiFrames {
  uint32_t numInputs;
  FrameSlot* inputs[kMaxSlots];
  uint32_t numOutputs;
  FrameSlot* outputs[kMaxSlots];
};

static_assert(sizeof(ParamRecord) == 20, "ParamRecord is a float and 16 text bytes");
static_assert(sizeof(PluginInfoStruct) == 32, "PluginInfoStruct layout");
static_assert(offsetof(PluginInfoStruct, PluginName) == 12, "PluginInfoStruct layout");
static_assert(sizeof(VideoInfoStruct) == 16, "VideoInfoStruct layout");

#if UINTPTR_MAX == 0xFFFFFFFFu
// The classic 32-bit layouts, byte for byte.
static_assert(sizeof(FFMixed) == 4, "32-bit FFMixed");
static_assert(sizeof(SetParameterStruct) == 8, "SetParameterStruct layout");
static_assert(offsetof(SetParameterStruct, NewParameterValue) == 4, "SetParameterStruct layout");
static_assert(sizeof(PluginExtendedInfoStruct) == 24, "PluginExtendedInfoStruct layout");
static_assert(sizeof(ProcessFrameCopyStruct) == 12, "ProcessFrameCopyStruct layout");
static_assert(sizeof(FrameSlot) == 32, "FrameSlot layout");
static_assert(offsetof(FrameSlot, data) == 8, "FrameSlot layout");
static_assert(offsetof(FrameSlot, width) == 12, "FrameSlot layout");
static_assert(offsetof(FrameSlot, reservedData) == 20, "FrameSlot layout");
static_assert(offsetof(FrameSlot, reserved2) == 28, "FrameSlot layout");
static_assert(sizeof(MultiFrames) == 136, "MultiFrames layout");
static_assert(offsetof(MultiFrames, inputs) == 4, "MultiFrames layout");
static_assert(offsetof(MultiFrames, numOutputs) == 68, "MultiFrames layout");
static_assert(offsetof(MultiFrames, outputs) == 72, "MultiFrames layout");
#else
static_assert(sizeof(FFMixed) == 8, "64-bit FFMixed is pointer-sized");
static_assert(offsetof(SetParameterStruct, NewParameterValue) == 8, "SetParameterStruct layout");
static_assert(sizeof(FrameSlot) == 40, "FrameSlot layout");
static_assert(sizeof(MultiFrames) == 272, "MultiFrames layout");
#endif

// FFMixed values with one member set and every other byte zero, as both sides of the
// call build them: an integer or a float's bits in the low 32 bits, or an address.
inline FFMixed ffMixedUInt(uint32_t value) {
  FFMixed mixed;
  std::memset(&mixed, 0, sizeof mixed);
  std::memcpy(&mixed, &value, sizeof value);
  return mixed;
}

inline FFMixed ffMixedPointer(const void* pointer) {
  FFMixed mixed;
  std::memset(&mixed, 0, sizeof mixed);
  mixed.PointerValue = const_cast<void*>(pointer);
  return mixed;
}

extern "C" FFMixed QEL_PLUGIN_CALL plugMain(uint32_t functionCode, FFMixed inputValue,
                                            void* instanceID);
