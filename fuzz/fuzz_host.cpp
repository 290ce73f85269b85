#include "fuzz/fuzz_host.h"

#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "tests/harness/test_frames.h"

namespace qelfuzz {

namespace {

// Where broken rules are reported: standard error as it was when the family was loaded.
// libFuzzer's -close_fd_mask=2 later silences the plug-ins' own error lines on fd 2.
int gReportFd = STDERR_FILENO;

// ---- limits of one session --------------------------------------------------------

constexpr size_t kMaxLiveInstances = 4;
constexpr int kMaxOps = 256;
// Pixels processed per input, summed over frames: keeps one input well under a second
// with sanitizers on, while a frame run still reaches hundreds of small frames.
constexpr uint64_t kPixelBudget = uint64_t{1} << 19;
// Instances above this many pixels are created and destroyed but get no frames.
constexpr uint64_t kMaxFramePixels = uint64_t{1} << 18;

// The formats the shell accepts at instantiate: both depths of 8-bit channels, sides of
// 1..32767 pixels, at most 2^26 pixels.
constexpr uint32_t kMaxSide = 32767;
constexpr uint64_t kMaxPixels = uint64_t{1} << 26;

// ---- value tables ----------------------------------------------------------------

const uint32_t kSpecialSides[] = {0,     1,     2,     3,          4,           5,          32767,
                                  32768, 65535, 65536, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
const uint32_t kDepthValues[] = {FF_DEPTH_24, FF_DEPTH_32, FF_DEPTH_24, FF_DEPTH_32,
                                 FF_DEPTH_16, 3,           0xFFFFFFFFu, 0x101};
const uint32_t kOrientationValues[] = {
    FF_ORIENTATION_TL, FF_ORIENTATION_BL, FF_ORIENTATION_TL, FF_ORIENTATION_BL, 0, 3,
    0xFFFFFFFFu,       0x80000001u};
const uint32_t kSlotCounts[] = {0,  1,  1,  1,   1,          2,           3,
                                15, 16, 17, 255, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
const int32_t kFormatTags[] = {kFormatTagRgb8, kFormatTagRgb8, kFormatTagEmpty, 0, -1, 1002};
// Float bit patterns a host can send: the range ends, just inside and outside them,
// infinities, quiet and signalling NaNs (one negative), denormals, -0 and huge values.
const uint32_t kSpecialFloats[] = {
    0x00000000u,  // 0
    0x3F800000u,  // 1
    0x3F000000u,  // 0.5
    0xBE800000u,  // -0.25
    0x3FC00000u,  // 1.5
    0x7F800000u,  // +inf
    0xFF800000u,  // -inf
    0x7FC00000u,  // quiet NaN
    0x7F800001u,  // signalling NaN
    0xFFC00000u,  // negative quiet NaN
    0x7F7FFFFFu,  // FLT_MAX
    0xFF7FFFFFu,  // -FLT_MAX
    0x00000001u,  // smallest denormal
    0x80000001u,  // smallest negative denormal
    0x80000000u,  // -0
    0x007FFFFFu,  // largest denormal
    0x3F7FFFFFu,  // largest float below 1
    0x3F800001u,  // smallest float above 1
    0x4F000000u,  // 2^31
    0xCF000000u,  // -2^31
    0x5F800000u,  // 2^64
};

template <typename T, size_t N>
constexpr size_t countOf(const T (&)[N]) {
  return N;
}

template <typename T, size_t N>
T pick(const T (&table)[N], uint32_t selector) {
  return table[selector % N];
}

// ---- answers ---------------------------------------------------------------------

// A status answer is the 32-bit value with nothing in the rest of the union.
bool isStatus(FFMixed answer, uint32_t status) {
  const FFMixed expected = ffMixedUInt(status);
  return std::memcmp(&answer, &expected, sizeof answer) == 0;
}
bool isFail(FFMixed answer) {
  return isStatus(answer, FF_FAIL);
}
bool isSuccess(FFMixed answer) {
  return isStatus(answer, FF_SUCCESS);
}

uint32_t low32(FFMixed answer) {
  uint32_t bits;
  std::memcpy(&bits, &answer, sizeof bits);
  return bits;
}

float floatOf(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

uint32_t bitsOf(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

// The pipeline's clamp: above 1 becomes 1, below 0 becomes 0, NaN stays as it is.
uint32_t clampedBits(uint32_t bits) {
  const float f = floatOf(bits);
  if (f > 1.0f) return bitsOf(1.0f);
  if (f < 0.0f) return bitsOf(0.0f);
  return bits;
}

// ---- the session -----------------------------------------------------------------

struct LiveInstance {
  void* id = nullptr;
  int width = 0;
  int height = 0;
  int bytesPerPixel = 0;
  size_t frameBytes = 0;
  int frameIndex = 0;
  // Host-side record of every parameter: the bits last set, and whether a successful
  // frame (which clamps) has passed since.
  uint32_t raw[16] = {};
  bool clampedSince[16] = {};
};

class Session {
 public:
  Session(const FuzzedDeliverable& deliverable, const std::string& name, ByteReader& reader)
      : d_(deliverable), lib_(*deliverable.library), name_(name), in_(reader) {}

  void run() {
    while (!in_.empty() && op_ < kMaxOps) {
      ++op_;
      uint8_t code = 0;
      in_(code);
      switch (code % kOpCount) {
        case kOpInstantiate:
          instantiateOp();
          break;
        case kOpDeInstantiate:
          deInstantiateOp();
          break;
        case kOpProcessFrame:
          processFrameOp();
          break;
        case kOpProcessFrameCopy:
          processFrameCopyOp();
          break;
        case kOpProcessMulti:
          processMultiOp();
          break;
        case kOpSetParameter:
          setParameterOp();
          break;
        case kOpGetParameter:
          getParameterOp();
          break;
        case kOpGetParameterDisplay:
          getParameterDisplayOp();
          break;
        case kOpLibraryCall:
          libraryCallOp();
          break;
        case kOpFrameRun:
          frameRunOp();
          break;
      }
    }
    while (!live_.empty()) destroy(live_.size() - 1);
  }

 private:
  template <typename Record>
  Record read() {
    Record record{};
    record.visit(in_);
    return record;
  }

  [[gnu::format(printf, 2, 3)]] [[noreturn]] void fail(const char* format, ...) {
    dprintf(gReportFd, "\n*** host rule broken by %s, operation %d: ", name_.c_str(), op_);
    va_list args;
    va_start(args, format);
    vdprintf(gReportFd, format, args);
    va_end(args);
    dprintf(gReportFd, "\n");
    std::abort();
  }

  FFMixed call(uint32_t code, FFMixed input, void* instance) {
    return lib_.call(code, input, instance);
  }

  // The selected live instance, or null for a call with instance ID 0.
  LiveInstance* select(uint8_t selector) {
    if ((selector & kSelectNoInstance) || live_.empty()) return nullptr;
    return &live_[(selector & ~kSelectNoInstance) % live_.size()];
  }

  uint32_t parameterIndex(uint8_t mode, uint32_t index) const {
    switch (mode % 4) {
      case 0:
      case 1:
        return index % d_.numParams;
      case 2:
        return index % (d_.numParams + 4);
      default:
        return index;
    }
  }

  bool spend(const LiveInstance& inst) {
    const uint64_t pixels = static_cast<uint64_t>(inst.width) * inst.height;
    if (pixels > kMaxFramePixels || pixels > budget_) return false;
    budget_ -= pixels;
    return true;
  }

  void fillFrame(std::vector<uint8_t>& frame, const FrameContent& content, LiveInstance& inst) {
    // A caller slot of another format gets constant bytes instead of the test picture.
    const uint8_t mode = frame.size() == inst.frameBytes || content.mode % 4 != kContentTestPicture
                             ? content.mode % 4
                             : kContentConstant;
    switch (mode) {
      case kContentTestPicture:
        qeltest::renderTestFrame(frame.data(), inst.width, inst.height, inst.bytesPerPixel,
                                 inst.frameIndex++);
        break;
      case kContentConstant:
        std::memset(frame.data(), content.fill, frame.size());
        break;
      case kContentInputBytes: {
        const std::vector<uint8_t> tile = in_.take(content.fill);
        if (tile.empty()) {
          std::memset(frame.data(), 0, frame.size());
          break;
        }
        for (size_t i = 0; i < frame.size(); ++i) frame[i] = tile[i % tile.size()];
        break;
      }
      default: {
        uint32_t x = 0x9E3779B9u ^ content.fill;  // xorshift32, never seeded with 0
        for (uint8_t& byte : frame) {
          x ^= x << 13;
          x ^= x >> 17;
          x ^= x << 5;
          byte = static_cast<uint8_t>(x >> 24);
        }
        break;
      }
    }
  }

  void frameDone(LiveInstance& inst) {
    for (uint32_t i = 0; i < d_.numParams; ++i) inst.clampedSince[i] = true;
  }

  void destroy(size_t index) {
    const FFMixed answer = call(FF_DEINSTANTIATE, ffMixedUInt(0), live_[index].id);
    if (!isSuccess(answer)) fail("deInstantiate of a live instance answered 0x%08x", low32(answer));
    live_.erase(live_.begin() + static_cast<std::ptrdiff_t>(index));
  }

  // ---- code 11 ----
  void instantiateOp() {
    const auto op = read<InstantiateOp>();
    VideoInfoStruct info{};
    switch (op.sizeMode % 4) {
      case 0:
        info.FrameWidth = op.width % 65;
        info.FrameHeight = op.height % 65;
        break;
      case 1:
        info.FrameWidth = op.width % 401;
        info.FrameHeight = op.height % 401;
        break;
      case 2:
        info.FrameWidth = pick(kSpecialSides, op.width);
        info.FrameHeight = op.height % 6;
        break;
      default:
        info.FrameWidth = pick(kSpecialSides, op.width);
        info.FrameHeight = pick(kSpecialSides, op.height);
        break;
    }
    info.BitDepth = pick(kDepthValues, op.depth);
    info.Orientation = pick(kOrientationValues, op.orientation);
    const bool nullInfo = op.flags & InstantiateOp::kNullVideoInfo;
    const bool acceptable =
        !nullInfo && (info.BitDepth == FF_DEPTH_24 || info.BitDepth == FF_DEPTH_32) &&
        info.FrameWidth >= 1 && info.FrameWidth <= kMaxSide && info.FrameHeight >= 1 &&
        info.FrameHeight <= kMaxSide && uint64_t{info.FrameWidth} * info.FrameHeight <= kMaxPixels;
    if (live_.size() == kMaxLiveInstances) destroy(0);

    const FFMixed answer = call(FF_INSTANTIATE, ffMixedPointer(nullInfo ? nullptr : &info), nullptr);
    if (!acceptable) {
      if (!isFail(answer)) {
        fail("instantiate of %ux%u depth %u (null record: %d) was not refused", info.FrameWidth,
             info.FrameHeight, info.BitDepth, nullInfo);
      }
      return;
    }
    if (isFail(answer) || !answer.PointerValue) {
      fail("instantiate of %ux%u depth %u failed", info.FrameWidth, info.FrameHeight,
           info.BitDepth);
    }
    for (const LiveInstance& other : live_) {
      if (other.id == answer.PointerValue) fail("instantiate returned a live instance's ID");
    }
    LiveInstance inst;
    inst.id = answer.PointerValue;
    inst.width = static_cast<int>(info.FrameWidth);
    inst.height = static_cast<int>(info.FrameHeight);
    inst.bytesPerPixel = info.BitDepth == FF_DEPTH_32 ? 4 : 3;
    inst.frameBytes = static_cast<size_t>(inst.width) * inst.height * inst.bytesPerPixel;
    for (uint32_t i = 0; i < d_.numParams; ++i) {
      inst.raw[i] = d_.defaults[i];
      const uint32_t value = low32(call(FF_GETPARAMETER, ffMixedUInt(i), inst.id));
      if (value != d_.defaults[i]) {
        fail("a new instance's parameter %u is 0x%08x, its default 0x%08x", i, value,
             d_.defaults[i]);
      }
    }
    live_.push_back(inst);
    if (uint64_t{info.FrameWidth} * info.FrameHeight > kMaxFramePixels) destroy(live_.size() - 1);
  }

  // ---- code 12 ----
  void deInstantiateOp() {
    const auto op = read<DeInstantiateOp>();
    if ((op.select & kSelectNoInstance) || live_.empty()) {
      const FFMixed answer = call(FF_DEINSTANTIATE, ffMixedUInt(0), nullptr);
      if (!isFail(answer)) fail("deInstantiate of ID 0 answered 0x%08x", low32(answer));
      return;
    }
    destroy(op.select % live_.size());
  }

  // ---- code 3 ----
  void processFrameOp() {
    const auto op = read<ProcessFrameOp>();
    LiveInstance* inst = select(op.select);
    if (!inst) {
      uint8_t pixel[4] = {};
      const FFMixed answer = call(FF_PROCESSFRAME, ffMixedPointer(pixel), nullptr);
      if (!isFail(answer)) fail("processFrame with instance ID 0 answered 0x%08x", low32(answer));
      return;
    }
    if (!spend(*inst)) return;
    if (op.flags & ProcessFrameOp::kNullFrame) {
      const FFMixed answer = call(FF_PROCESSFRAME, ffMixedPointer(nullptr), inst->id);
      if (!isFail(answer)) fail("processFrame of a null frame answered 0x%08x", low32(answer));
      return;
    }
    std::vector<uint8_t> frame(inst->frameBytes);
    fillFrame(frame, op.content, *inst);
    const FFMixed answer = call(FF_PROCESSFRAME, ffMixedPointer(frame.data()), inst->id);
    if (!isSuccess(answer)) {
      fail("processFrame of a %dx%dx%d frame answered 0x%08x", inst->width, inst->height,
           inst->bytesPerPixel, low32(answer));
    }
    frameDone(*inst);
  }

  // ---- code 14 ----
  void processFrameCopyOp() {
    const auto op = read<ProcessFrameCopyOp>();
    LiveInstance* inst = select(op.select);
    if (!inst) {
      const FFMixed answer = call(FF_PROCESSFRAMECOPY, ffMixedPointer(nullptr), nullptr);
      if (!isFail(answer))
        fail("processFrameCopy with instance ID 0 answered 0x%08x", low32(answer));
      return;
    }
    if (!spend(*inst)) return;
    const uint32_t numInputs = op.numInputs % 4;
    std::vector<std::vector<uint8_t>> inputs(3, std::vector<uint8_t>(inst->frameBytes));
    fillFrame(inputs[0], op.content, *inst);
    for (size_t i = 1; i < inputs.size(); ++i) {
      std::memset(inputs[i].data(), static_cast<int>(0x40 * i), inputs[i].size());
    }
    std::vector<uint8_t> output(inst->frameBytes, 0x5A);
    void* list[3] = {inputs[0].data(), inputs[1].data(), inputs[2].data()};
    if (op.flags & ProcessFrameCopyOp::kNullFirstInput) list[0] = nullptr;
    ProcessFrameCopyStruct copy{numInputs, list, output.data()};
    if (op.flags & ProcessFrameCopyOp::kNullInputList) copy.ppInputFrames = nullptr;
    const bool outputIsInput = (op.flags & ProcessFrameCopyOp::kOutputIsFirstInput) && list[0];
    if (outputIsInput) copy.pOutputFrame = list[0];
    if (op.flags & ProcessFrameCopyOp::kNullOutput) copy.pOutputFrame = nullptr;

    const std::vector<std::vector<uint8_t>> inputsBefore = inputs;
    const std::vector<uint8_t> outputBefore = output;
    const bool wellFormed = numInputs >= 1 && copy.ppInputFrames && list[0] && copy.pOutputFrame;
    const FFMixed answer = call(FF_PROCESSFRAMECOPY, ffMixedPointer(&copy), inst->id);
    if (!wellFormed) {
      if (!isFail(answer)) {
        fail("processFrameCopy with %u inputs, flags 0x%02x answered 0x%08x", numInputs, op.flags,
             low32(answer));
      }
      if (numInputs == 0 && output != outputBefore) {
        fail("processFrameCopy with no input frame wrote into the output frame");
      }
      return;
    }
    if (!isSuccess(answer)) {
      fail("processFrameCopy of %dx%dx%d frames (%u inputs, flags 0x%02x) answered 0x%08x",
           inst->width, inst->height, inst->bytesPerPixel, numInputs, op.flags, low32(answer));
    }
    for (uint32_t i = outputIsInput ? 1 : 0; i < 3; ++i) {
      if (inputs[i] != inputsBefore[i]) fail("processFrameCopy wrote into input frame %u", i);
    }
    frameDone(*inst);
  }

  // ---- code 16 ----
  struct CallerSlot {
    FrameSlot slot{};
    std::vector<uint8_t> data;
    std::vector<uint8_t> reserved;
  };

  // Builds a caller-owned slot from its recipe, relative to the instance's format.
  void makeSlot(CallerSlot& caller, const SlotRecipe& recipe, const LiveInstance& inst) {
    const int32_t w = inst.width, h = inst.height, bpp = inst.bytesPerPixel;
    const int32_t bppValues[] = {bpp, bpp, bpp, 3, 4, 0, 1, 2, 5, -1, INT32_MAX, INT32_MIN};
    const int32_t widthValues[] = {w, w, w, w + 1, w - 1, 0, -1, 2 * w, INT32_MAX, INT32_MIN};
    const int32_t heightValues[] = {h, h, h, h + 1, h - 1, 0, -1, 2 * h, INT32_MAX, INT32_MIN};
    FrameSlot& slot = caller.slot;
    slot.formatTag = pick(kFormatTags, recipe.formatTag);
    slot.bytesPerPixel = pick(bppValues, recipe.bytesPerPixel);
    slot.width = pick(widthValues, recipe.width);
    slot.height = pick(heightValues, recipe.height);
    // A buffer as large as the slot claims; a slot whose claim makes no sense carries a
    // small buffer, which no well-behaved plug-in reads once it has refused the slot.
    size_t bytes = 16;
    if (slot.width > 0 && slot.height > 0 && slot.bytesPerPixel > 0) {
      const uint64_t claimed =
          uint64_t(slot.width) * uint64_t(slot.height) * uint64_t(slot.bytesPerPixel);
      if (claimed <= 4 * kMaxFramePixels) bytes = static_cast<size_t>(claimed);
    }
    caller.data.assign(bytes, 0);
    slot.data = (recipe.flags & SlotRecipe::kNullData) ? nullptr : caller.data.data();
    if (recipe.flags & SlotRecipe::kReservedData) {
      caller.reserved.assign(8, 0xEE);
      slot.reservedData = caller.reserved.data();
    }
    slot.reserved1 = recipe.width;
    slot.reserved2 = recipe.height;
  }

  static bool slotMatches(const FrameSlot* slot, const LiveInstance& inst) {
    return slot && slot->data && slot->width == inst.width && slot->height == inst.height &&
           slot->bytesPerPixel == inst.bytesPerPixel;
  }

  void processMultiOp() {
    const auto op = read<ProcessMultiOp>();
    LiveInstance* inst = select(op.select);
    if (!inst) {
      MultiFrames record{};
      const FFMixed answer = call(FF_GETINPUTSTATUS, ffMixedPointer(&record), nullptr);
      if (!isFail(answer)) fail("code 16 with instance ID 0 answered 0x%08x", low32(answer));
      return;
    }
    if (!spend(*inst)) return;

    CallerSlot in, out, spare;
    makeSlot(in, op.input, *inst);
    makeSlot(out, op.output, *inst);
    makeSlot(spare, SlotRecipe{SlotRecipe::kPresent, 0, 5, 5, 5}, *inst);  // a 0 x 0 slot
    MultiFrames record{};
    record.numInputs = pick(kSlotCounts, op.numInputs);
    record.numOutputs = pick(kSlotCounts, op.numOutputs);
    FrameSlot* inSlot = (op.input.flags & SlotRecipe::kPresent) ? &in.slot : nullptr;
    FrameSlot* outSlot = (op.output.flags & SlotRecipe::kPresent) ? &out.slot : nullptr;
    if ((op.flags & ProcessMultiOp::kOutputSlotIsInputSlot) && inSlot) outSlot = inSlot;
    if ((op.flags & ProcessMultiOp::kOutputDataIsInputData) && inSlot && outSlot &&
        inSlot != outSlot && in.slot.data && in.data.size() == out.data.size()) {
      out.slot.data = in.slot.data;  // one buffer for both: in place
    }
    record.inputs[0] = inSlot;
    record.outputs[0] = outSlot;
    if (op.flags & ProcessMultiOp::kFillOtherSlots) {
      for (uint32_t i = 1; i < kMaxSlots && i < record.numInputs; ++i)
        record.inputs[i] = &spare.slot;
      for (uint32_t i = 1; i < kMaxSlots && i < record.numOutputs; ++i)
        record.outputs[i] = &spare.slot;
    }
    if (inSlot && inSlot->data && inSlot->data == in.data.data()) {
      fillFrame(in.data, op.content, *inst);
    }
    if (out.slot.data == out.data.data()) std::memset(out.data.data(), 0x33, out.data.size());

    FFMixed input = ffMixedPointer(&record);
    bool wellFormed = false;
    switch (op.address % 3) {
      case ProcessMultiOp::kRecord:
        wellFormed = record.numInputs >= 1 && record.numOutputs >= 1 &&
                     slotMatches(record.inputs[0], *inst) && slotMatches(record.outputs[0], *inst);
        break;
      case ProcessMultiOp::kZero:
        input = ffMixedUInt(0);
        break;
      default:
        input = ffMixedUInt(op.channel);
        break;
    }

    const MultiFrames recordBefore = record;
    const FrameSlot inBefore = in.slot, outBefore = out.slot, spareBefore = spare.slot;
    const std::vector<uint8_t> inputBefore = in.data;
    const FFMixed answer = call(FF_GETINPUTSTATUS, input, inst->id);
    if (wellFormed != isSuccess(answer) || (!wellFormed && !isFail(answer))) {
      fail(
          "code 16 (address mode %d, %u inputs, %u outputs, in %dx%dx%d, out %dx%dx%d, "
          "instance %dx%dx%d) answered 0x%08x",
          op.address % 3, record.numInputs, record.numOutputs, inSlot ? inSlot->width : 0,
          inSlot ? inSlot->height : 0, inSlot ? inSlot->bytesPerPixel : 0,
          outSlot ? outSlot->width : 0, outSlot ? outSlot->height : 0,
          outSlot ? outSlot->bytesPerPixel : 0, inst->width, inst->height, inst->bytesPerPixel,
          low32(answer));
    }
    if (std::memcmp(&record, &recordBefore, sizeof record) != 0 ||
        std::memcmp(&in.slot, &inBefore, sizeof in.slot) != 0 ||
        std::memcmp(&out.slot, &outBefore, sizeof out.slot) != 0 ||
        std::memcmp(&spare.slot, &spareBefore, sizeof spare.slot) != 0) {
      fail("code 16 changed the caller's MultiFrames record or its slots");
    }
    const bool inputIsOutput = outSlot && inSlot && outSlot->data == inSlot->data;
    if (!inputIsOutput && in.data != inputBefore) fail("code 16 wrote into the input frame");
    if (wellFormed) frameDone(*inst);
  }

  // ---- code 8 ----
  void setParameterOp() {
    const auto op = read<SetParameterOp>();
    LiveInstance* inst = select(op.select);
    const uint32_t index = parameterIndex(op.indexMode, op.index);
    uint32_t bits = op.bits;
    switch (op.valueMode % 4) {
      case 0:
        bits = pick(kSpecialFloats, op.bits);
        break;
      case 1:
        bits = bitsOf(static_cast<float>(op.bits >> 8) / 16777215.0f);
        break;  // [0, 1]
      case 2:
        bits = bitsOf(-2.0f + 5.0f * static_cast<float>(op.bits >> 8) / 16777215.0f);
        break;
      default:
        break;
    }
    SetParameterStruct change;
    std::memset(&change, 0, sizeof change);
    change.ParameterNumber = index;
    std::memcpy(&change.NewParameterValue, &bits, sizeof bits);  // keeps NaN payloads as sent
    const bool nullRecord = op.flags & SetParameterOp::kNullRecord;
    const FFMixed answer = call(FF_SETPARAMETER, ffMixedPointer(nullRecord ? nullptr : &change),
                                inst ? inst->id : nullptr);
    if (!inst || nullRecord || index >= d_.numParams) {
      if (!isFail(answer)) fail("setParameter of index %u answered 0x%08x", index, low32(answer));
      return;
    }
    if (!isSuccess(answer)) fail("setParameter of index %u answered 0x%08x", index, low32(answer));
    inst->raw[index] = bits;
    inst->clampedSince[index] = false;
  }

  // ---- code 9 ----
  // Reads a parameter and holds it to the host's record: as set, or as clamped once a
  // frame has passed.
  void checkParameter(LiveInstance& inst, uint32_t index) {
    const uint32_t value = low32(call(FF_GETPARAMETER, ffMixedUInt(index), inst.id));
    const uint32_t set = inst.raw[index];
    const uint32_t clamped = clampedBits(set);
    const bool ok =
        inst.clampedSince[index] ? value == clamped : (value == set || value == clamped);
    if (!ok) {
      fail("parameter %u reads 0x%08x; set to 0x%08x, clamped 0x%08x, frame since: %d", index,
           value, set, clamped, inst.clampedSince[index]);
    }
  }

  void getParameterOp() {
    const auto op = read<GetParameterOp>();
    LiveInstance* inst = select(op.select);
    const uint32_t index = parameterIndex(op.indexMode, op.index);
    if (!inst || index >= d_.numParams) {
      const FFMixed answer = call(FF_GETPARAMETER, ffMixedUInt(index), inst ? inst->id : nullptr);
      if (!isFail(answer)) fail("getParameter of index %u answered 0x%08x", index, low32(answer));
      return;
    }
    checkParameter(*inst, index);
  }

  // ---- code 7 ----
  void getParameterDisplayOp() {
    const auto op = read<GetParameterOp>();
    LiveInstance* inst = select(op.select);
    const uint32_t index = parameterIndex(op.indexMode, op.index);
    const FFMixed answer =
        call(FF_GETPARAMETERDISPLAY, ffMixedUInt(index), inst ? inst->id : nullptr);
    if (!inst || index >= d_.numParams) {
      if (!isFail(answer))
        fail("getParameterDisplay of index %u answered 0x%08x", index, low32(answer));
      return;
    }
    const auto* text = static_cast<const char*>(answer.PointerValue);
    if (isFail(answer) || !text) fail("getParameterDisplay of index %u failed", index);
    const char* end = static_cast<const char*>(std::memchr(text, 0, 16));
    if (!end) fail("display text of parameter %u has no terminator within 16 bytes", index);
    for (const char* p = end + 1; p < text + 16; ++p) {
      if (*p != ' ') fail("display text of parameter %u is not space-padded", index);
    }
    // A value whose six-decimal text fits reads back within half a unit of the sixth
    // decimal.
    const float value = floatOf(low32(call(FF_GETPARAMETER, ffMixedUInt(index), inst->id)));
    if (std::isfinite(value) && value > -1e6f && value < 1e7f) {
      const double shown = std::strtod(text, nullptr);
      if (!(std::fabs(shown - static_cast<double>(value)) <= 5.000001e-7)) {
        fail("display text \"%s\" of parameter %u does not show %.9g", text, index,
             static_cast<double>(value));
      }
    }
  }

  // ---- codes without an instance, codes above 16, instance codes with ID 0 ----
  void libraryCallOp() {
    const auto op = read<LibraryCallOp>();
    const uint32_t codeSelector = op.code % 20;
    uint32_t code = codeSelector;
    if (codeSelector == 17) code = 17;
    if (codeSelector == 18) code = 0xFFFFFFFFu;
    if (codeSelector == 19) code = op.input | 0x80000000u;
    LiveInstance* inst = select(op.select);
    void* id = inst ? inst->id : nullptr;
    const uint32_t index = op.input;
    switch (code) {
      case FF_GETINFO: {
        const FFMixed answer = call(code, ffMixedUInt(index), id);
        const auto* info = static_cast<const PluginInfoStruct*>(answer.PointerValue);
        if (!info || info->APIMajorVersion != 1 || info->APIMinorVersion != 0 ||
            info->PluginType != FF_EFFECT) {
          fail("getInfo answered a bad record");
        }
        const char* end = static_cast<const char*>(std::memchr(info->PluginName, 0, 16));
        if (!end) fail("PluginName has no terminator");
        for (const char* p = end; p < info->PluginName + 16; ++p) {
          if (*p) fail("PluginName is not NUL-padded");
        }
        return;
      }
      case FF_GETEXTENDEDINFO: {
        const FFMixed answer = call(code, ffMixedUInt(index), id);
        const auto* ext = static_cast<const PluginExtendedInfoStruct*>(answer.PointerValue);
        if (!ext || ext->PluginMajorVersion != 3 || !ext->Description || !ext->About ||
            std::strlen(ext->Description) == 0 || std::strlen(ext->About) == 0) {
          fail("getExtendedInfo answered a bad record");
        }
        return;
      }
      case FF_INITIALISE:
      case FF_DEINITIALISE: {
        const FFMixed answer = call(code, ffMixedUInt(index), id);
        if (!isSuccess(answer)) fail("code %u answered 0x%08x", code, low32(answer));
        return;
      }
      case FF_GETNUMPARAMETERS: {
        const FFMixed answer = call(code, ffMixedUInt(index), id);
        if (!isStatus(answer, d_.numParams))
          fail("getNumParameters answered 0x%08x", low32(answer));
        return;
      }
      case FF_GETPARAMETERNAME: {
        const FFMixed answer = call(code, ffMixedUInt(index), id);
        if (index >= d_.numParams) {
          if (!isFail(answer)) fail("getParameterName of index %u answered a name", index);
          return;
        }
        const auto* name = static_cast<const char*>(answer.PointerValue);
        if (isFail(answer) || !name || !std::memchr(name, 0, 16)) {
          fail("getParameterName of index %u answered no 16-byte name", index);
        }
        return;
      }
      case FF_GETPARAMETERDEFAULT: {
        const FFMixed answer = call(code, ffMixedUInt(index), id);
        if (index >= d_.numParams) {
          if (!isFail(answer)) fail("getParameterDefault of index %u answered a value", index);
          return;
        }
        if (!isStatus(answer, d_.defaults[index])) {
          fail("getParameterDefault of index %u changed to 0x%08x", index, low32(answer));
        }
        return;
      }
      case FF_GETPLUGINCAPS: {
        const FFMixed answer = call(code, ffMixedUInt(index), id);
        // Both capability tables end before index 22.
        if (index >= 22 && !isStatus(answer, 0))
          fail("capability %u answered 0x%08x", index, low32(answer));
        return;
      }
      case FF_GETPARAMETERTYPE: {
        const FFMixed answer = call(code, ffMixedUInt(index), id);
        if (!isStatus(answer, FF_TYPE_STANDARD))
          fail("getParameterType answered 0x%08x", low32(answer));
        return;
      }
      case FF_INSTANTIATE:
        return;  // instantiateOp covers it
      case FF_PROCESSFRAME:
      case FF_SETPARAMETER:
      case FF_PROCESSFRAMECOPY: {
        // An instance code with a zero ID is refused at once (their pointers: null here).
        const FFMixed answer = call(code, ffMixedPointer(nullptr), nullptr);
        if (!isFail(answer))
          fail("code %u with instance ID 0 answered 0x%08x", code, low32(answer));
        return;
      }
      case FF_DEINSTANTIATE:
      case FF_GETPARAMETERDISPLAY:
      case FF_GETPARAMETER:
      case FF_GETINPUTSTATUS: {  // an index, or a channel number for code 16
        const FFMixed answer = call(code, ffMixedUInt(index & 0xFFFF), nullptr);
        if (!isFail(answer))
          fail("code %u with instance ID 0 answered 0x%08x", code, low32(answer));
        return;
      }
      default: {
        const FFMixed answer = call(code, ffMixedUInt(index), id);
        if (!isFail(answer)) fail("code 0x%08x answered 0x%08x", code, low32(answer));
        return;
      }
    }
  }

  // ---- a run of frames ----
  void frameRunOp() {
    const auto op = read<FrameRunOp>();
    LiveInstance* inst = select(op.select);
    if (!inst) return;
    const int frames = 1 + op.frames % 32;
    std::vector<uint8_t> frame(inst->frameBytes);
    std::vector<uint8_t> output(inst->frameBytes);
    for (int f = 0; f < frames && spend(*inst); ++f) {
      if (op.flags & FrameRunOp::kSweepParameters) {
        // Each frame moves one parameter along -0.5 .. 1.5 in steps of 1/8.
        const uint32_t index = static_cast<uint32_t>(inst->frameIndex) % d_.numParams;
        const float value = -0.5f + 0.125f * static_cast<float>(inst->frameIndex % 17);
        SetParameterStruct change;
        std::memset(&change, 0, sizeof change);
        change.ParameterNumber = index;
        change.NewParameterValue.FloatValue = value;
        if (!isSuccess(call(FF_SETPARAMETER, ffMixedPointer(&change), inst->id))) {
          fail("setParameter of index %u failed", index);
        }
        inst->raw[index] = bitsOf(value);
      }
      qeltest::renderTestFrame(frame.data(), inst->width, inst->height, inst->bytesPerPixel,
                               inst->frameIndex++);
      FFMixed answer;
      if (op.flags & FrameRunOp::kCopyMode) {
        void* list[1] = {frame.data()};
        ProcessFrameCopyStruct copy{1, list, output.data()};
        answer = call(FF_PROCESSFRAMECOPY, ffMixedPointer(&copy), inst->id);
      } else {
        answer = call(FF_PROCESSFRAME, ffMixedPointer(frame.data()), inst->id);
      }
      if (!isSuccess(answer)) fail("frame %d of a run answered 0x%08x", f, low32(answer));
      frameDone(*inst);
    }
    for (uint32_t i = 0; i < d_.numParams; ++i) checkParameter(*inst, i);
  }

  const FuzzedDeliverable& d_;
  const qeltest::PluginLibrary& lib_;
  const std::string& name_;
  ByteReader& in_;
  std::vector<LiveInstance> live_;
  uint64_t budget_ = kPixelBudget;
  int op_ = 0;
};

}  // namespace

std::vector<FuzzedDeliverable> loadFamily(std::initializer_list<const char*> names) {
  const int reportFd = dup(STDERR_FILENO);
  if (reportFd >= 0) gReportFd = reportFd;
  std::vector<FuzzedDeliverable> family;
  for (const char* name : names) {
    FuzzedDeliverable d;
    d.library = std::make_unique<qeltest::PluginLibrary>(name);
    d.numParams = d.library->numParameters();
    if (d.numParams == 0 || d.numParams > 16) {
      std::fprintf(stderr, "%s reports %u parameters\n", name, d.numParams);
      std::abort();
    }
    for (uint32_t i = 0; i < d.numParams; ++i) {
      d.defaults.push_back(low32(d.library->call(FF_GETPARAMETERDEFAULT, ffMixedUInt(i))));
    }
    family.push_back(std::move(d));
  }
  return family;
}

void runHostSession(const std::vector<FuzzedDeliverable>& family, const uint8_t* data,
                    size_t size) {
  ByteReader reader(data, size);
  uint8_t which = 0;
  reader(which);
  const FuzzedDeliverable& d = family[which % family.size()];
  Session(d, d.library->name(), reader).run();
}

}  // namespace qelfuzz
