// Writes the committed seed corpus: a few host sessions per deliverable that reach every
// operation of the fuzzed host, the refusals as well as long runs of frames, so fuzzing
// starts from deep effect states instead of from empty inputs.
//
//   make_seed_corpus <corpus folder>    writes <folder>/{particles,inferno,stains}/...
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"

using namespace qelfuzz;

namespace {

// Table indices of fuzz_host.cpp, named for the seeds.
constexpr uint8_t kDepth24 = 0, kDepth32 = 1, kDepth16 = 4, kDepth3 = 5;
constexpr uint8_t kTopFirst = 0, kBottomFirst = 1;
constexpr uint8_t kSide32767 = 6, kSide32768 = 7;
constexpr uint8_t kSizeSmall = 0, kSizeLarge = 1, kSizeSpecialWidth = 2, kSizeSpecial = 3;
constexpr uint8_t kValueSpecial = 0, kValueUnit = 1, kValueWide = 2, kValueRaw = 3;
constexpr uint8_t kIndexModN = 0, kIndexModNPlus4 = 2, kIndexRaw = 3;
constexpr uint8_t kCountOne = 1, kCountZero = 0, kCountThree = 6, kCountSeventeen = 9;
constexpr uint8_t kSlotMatching = 0, kSlotWider = 3, kSlotZero = 5, kSlotBpp5 = 8;
constexpr uint8_t kNumSpecialFloats = 21;
constexpr uint32_t kMaxParams = 16;

InstantiateOp instance(uint8_t sizeMode, uint16_t w, uint16_t h, uint8_t depth,
                       uint8_t orientation = kTopFirst, uint8_t flags = 0) {
  return {sizeMode, w, h, depth, orientation, flags};
}

SlotRecipe slot(uint8_t flags, uint8_t bpp = kSlotMatching, uint8_t w = kSlotMatching,
                uint8_t h = kSlotMatching) {
  return {flags, 0, bpp, w, h};
}

ProcessMultiOp multi(uint8_t select, SlotRecipe in, SlotRecipe out, uint8_t flags = 0,
                     uint8_t numInputs = kCountOne, uint8_t numOutputs = kCountOne,
                     uint8_t address = ProcessMultiOp::kRecord) {
  return {select, address, 0, numInputs, numOutputs, flags, in, out, {kContentTestPicture, 0}};
}

constexpr uint8_t kPresent = SlotRecipe::kPresent;

std::vector<uint8_t> framesSeed(uint8_t which) {
  ByteWriter w;
  w(which);
  w.op(kOpInstantiate, instance(kSizeSmall, 32, 24, kDepth32));
  w.op(kOpFrameRun, FrameRunOp{0, 31, FrameRunOp::kSweepParameters});
  w.op(kOpFrameRun, FrameRunOp{0, 31, 0});
  w.op(kOpProcessFrame, ProcessFrameOp{0, 0, {kContentNoise, 7}});
  w.op(kOpProcessFrame, ProcessFrameOp{0, 0, {kContentConstant, 255}});
  for (uint32_t i = 0; i < kMaxParams; ++i) {
    w.op(kOpGetParameterDisplay, GetParameterOp{0, kIndexModN, i});
  }
  w.op(kOpDeInstantiate, DeInstantiateOp{0});
  return w.bytes;
}

std::vector<uint8_t> formatsSeed(uint8_t which) {
  ByteWriter w;
  w(which);
  w.op(kOpInstantiate, instance(kSizeLarge, 77, 45, kDepth24, kBottomFirst));
  for (uint8_t i = 0; i < kNumSpecialFloats; ++i) {
    w.op(kOpSetParameter, SetParameterOp{0, kIndexModN, i, kValueSpecial, i, 0});
    w.op(kOpProcessFrame, ProcessFrameOp{0, 0, {kContentTestPicture, 0}});
    w.op(kOpGetParameter, GetParameterOp{0, kIndexModN, i});
  }
  w.op(kOpSetParameter, SetParameterOp{0, kIndexModN, 1, kValueUnit, 0x12345678, 0});
  w.op(kOpSetParameter, SetParameterOp{0, kIndexModN, 2, kValueWide, 0xFEDCBA98, 0});
  w.op(kOpSetParameter, SetParameterOp{0, kIndexModN, 3, kValueRaw, 0x7FA00001, 0});
  w.op(kOpFrameRun, FrameRunOp{0, 19, FrameRunOp::kCopyMode | FrameRunOp::kSweepParameters});
  w.op(kOpProcessFrameCopy, ProcessFrameCopyOp{0, 1, 0, {kContentTestPicture, 0}});
  w.op(kOpProcessFrameCopy, ProcessFrameCopyOp{0, 3, 0, {kContentNoise, 3}});
  w.op(kOpProcessFrameCopy,
       ProcessFrameCopyOp{0, 1, ProcessFrameCopyOp::kOutputIsFirstInput, {kContentTestPicture, 0}});
  w.op(kOpProcessMulti, multi(0, slot(kPresent), slot(kPresent)));
  w.op(kOpProcessMulti,
       multi(0, slot(kPresent), slot(kPresent), ProcessMultiOp::kOutputSlotIsInputSlot));
  w.op(kOpProcessMulti,
       multi(0, slot(kPresent), slot(kPresent), ProcessMultiOp::kOutputDataIsInputData));
  w.op(kOpProcessMulti, multi(0, slot(kPresent | SlotRecipe::kReservedData), slot(kPresent),
                              ProcessMultiOp::kFillOtherSlots, kCountThree, kCountSeventeen));
  w.op(kOpProcessFrame, ProcessFrameOp{0, 0, {kContentTestPicture, 0}});
  return w.bytes;
}

std::vector<uint8_t> refusalsSeed(uint8_t which) {
  ByteWriter w;
  w(which);
  for (uint8_t code = 0; code < 20; ++code) {
    for (uint32_t input : {0u, 3u, 15u, 16u, 21u, 22u, 0xFFFFFFFFu}) {
      w.op(kOpLibraryCall, LibraryCallOp{code, input, kSelectNoInstance});
    }
  }
  w.op(kOpInstantiate, instance(kSizeSmall, 8, 8, kDepth16));
  w.op(kOpInstantiate, instance(kSizeSmall, 8, 8, kDepth3));
  w.op(kOpInstantiate, instance(kSizeSmall, 0, 8, kDepth32));
  w.op(kOpInstantiate, instance(kSizeSpecial, kSide32768, kSide32767, kDepth24));
  w.op(kOpInstantiate,
       instance(kSizeSmall, 8, 8, kDepth24, kTopFirst, InstantiateOp::kNullVideoInfo));
  w.op(kOpDeInstantiate, DeInstantiateOp{kSelectNoInstance});
  w.op(kOpInstantiate, instance(kSizeSmall, 20, 12, kDepth24));
  w.op(kOpProcessFrame, ProcessFrameOp{kSelectNoInstance, 0, {kContentTestPicture, 0}});
  w.op(kOpProcessFrame, ProcessFrameOp{0, ProcessFrameOp::kNullFrame, {kContentTestPicture, 0}});
  w.op(kOpProcessFrameCopy, ProcessFrameCopyOp{0, 0, 0, {kContentTestPicture, 0}});
  w.op(kOpProcessFrameCopy, ProcessFrameCopyOp{0, 2, ProcessFrameCopyOp::kNullInputList, {0, 0}});
  w.op(kOpProcessFrameCopy, ProcessFrameCopyOp{0, 2, ProcessFrameCopyOp::kNullFirstInput, {0, 0}});
  w.op(kOpProcessFrameCopy, ProcessFrameCopyOp{0, 1, ProcessFrameCopyOp::kNullOutput, {0, 0}});
  w.op(kOpProcessMulti,
       multi(0, slot(kPresent), slot(kPresent), 0, kCountOne, kCountOne, ProcessMultiOp::kZero));
  w.op(kOpProcessMulti, multi(0, slot(kPresent), slot(kPresent), 0, kCountOne, kCountOne,
                              ProcessMultiOp::kChannelNumber));
  w.op(kOpProcessMulti, multi(0, slot(kPresent), slot(kPresent), 0, kCountZero));
  w.op(kOpProcessMulti, multi(0, slot(kPresent), slot(kPresent), 0, kCountOne, kCountZero));
  w.op(kOpProcessMulti, multi(0, slot(kPresent, kSlotMatching, kSlotWider), slot(kPresent)));
  w.op(kOpProcessMulti, multi(0, slot(kPresent), slot(kPresent, kSlotBpp5)));
  w.op(kOpProcessMulti, multi(0, slot(kPresent | SlotRecipe::kNullData), slot(kPresent)));
  w.op(kOpProcessMulti, multi(0, slot(0), slot(kPresent)));
  w.op(kOpProcessMulti, multi(0, slot(kPresent), slot(kPresent, kSlotZero, kSlotZero, kSlotZero)));
  w.op(kOpSetParameter, SetParameterOp{0, kIndexModNPlus4, 0xFFFFFFFF, kValueUnit, 0, 0});
  w.op(kOpSetParameter, SetParameterOp{0, kIndexRaw, 0xFFFFFFFF, kValueUnit, 0, 0});
  w.op(kOpSetParameter,
       SetParameterOp{0, kIndexModN, 0, kValueUnit, 0, SetParameterOp::kNullRecord});
  w.op(kOpSetParameter, SetParameterOp{kSelectNoInstance, kIndexModN, 0, kValueUnit, 0, 0});
  w.op(kOpGetParameter, GetParameterOp{0, kIndexRaw, 0x80000000});
  w.op(kOpGetParameterDisplay, GetParameterOp{0, kIndexRaw, 16});
  w.op(kOpGetParameter, GetParameterOp{kSelectNoInstance, kIndexModN, 0});
  w.op(kOpFrameRun, FrameRunOp{0, 7, 0});
  return w.bytes;
}

std::vector<uint8_t> instancesSeed(uint8_t which) {
  ByteWriter w;
  w(which);
  w.op(kOpInstantiate, instance(kSizeSmall, 16, 16, kDepth32));
  w.op(kOpInstantiate, instance(kSizeSmall, 40, 30, kDepth24, kBottomFirst));
  for (int i = 0; i < 12; ++i) {
    w.op(kOpProcessFrame, ProcessFrameOp{static_cast<uint8_t>(i % 2), 0, {kContentTestPicture, 0}});
  }
  w.op(kOpDeInstantiate, DeInstantiateOp{0});
  w.op(kOpInstantiate, instance(kSizeSmall, 1, 1, kDepth32));
  w.op(kOpInstantiate, instance(kSizeSpecialWidth, kSide32767, 1, kDepth24));
  w.op(kOpInstantiate, instance(kSizeSmall, 3, 64, kDepth24));
  for (uint8_t i = 0; i < 4; ++i) w.op(kOpFrameRun, FrameRunOp{i, 5, FrameRunOp::kSweepParameters});
  w.op(kOpInstantiate, instance(kSizeSmall, 64, 2, kDepth32));  // one over: the oldest goes
  w.op(kOpFrameRun, FrameRunOp{3, 9, FrameRunOp::kCopyMode});
  return w.bytes;
}

std::vector<uint8_t> largeSeed(uint8_t which) {
  ByteWriter w;
  w(which);
  w.op(kOpInstantiate, instance(kSizeLarge, 320, 240, kDepth32));
  w.op(kOpFrameRun, FrameRunOp{0, 11, FrameRunOp::kSweepParameters});
  return w.bytes;
}

void write(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", file.c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path root = argv[1];
  const struct {
    const char* family;
    int deliverables;
  } families[] = {{"particles", 3}, {"inferno", 2}, {"stains", 1}};
  using Maker = std::vector<uint8_t> (*)(uint8_t);
  const struct {
    const char* name;
    Maker make;
  } seeds[] = {{"frames", framesSeed},
               {"formats", formatsSeed},
               {"refusals", refusalsSeed},
               {"instances", instancesSeed},
               {"large", largeSeed}};
  for (const auto& family : families) {
    const std::filesystem::path dir = root / family.family;
    std::filesystem::create_directories(dir);
    for (int d = 0; d < family.deliverables; ++d) {
      for (const auto& seed : seeds) {
        write(dir / (std::string(seed.name) + "-" + std::to_string(d + 1)),
              seed.make(static_cast<uint8_t>(d)));
      }
    }
  }
  return 0;
}
