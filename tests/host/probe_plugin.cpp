// A FreeFrame 1.0 effect written only for host tests: its output shows what the host did.
// The first 16 bytes of every output frame carry the call's facts, every later byte
// depends on the input byte, its position, the frame count and the C library's random
// generator, so a host that feeds the wrong frame, the wrong number of frames, flipped
// rows or other parameter values gets other bytes.
//
// Header: bytes 0-3 "Gain" and 4-7 "Offset" as float bits (little-endian), 8-11 the
// frames this instance has processed before (uint32), 12: 1 in copy mode, 0 in place,
// 13: the orientation given at instantiate, 14: bytes per pixel, 15: rand() & 0xFF.
//
// With "Offset" at exactly 1 every frame after the second fails, for tests of a host's
// handling of a plug-in that fails in mid-clip.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "shell/freeframe.h"

namespace {

struct ProbeInstance {
  uint32_t width, height, bytesPerPixel, orientation;
  uint32_t frames = 0;
  float params[2] = {0.5f, 0.25f};
};

const ParamRecord kParams[2] = {{0.5f, "Gain"}, {0.25f, "Offset"}};
PluginInfoStruct gInfo;
PluginExtendedInfoStruct gExtendedInfo;
char gDisplay[16];

constexpr size_t kHeaderBytes = 16;

void probeFrame(ProbeInstance& probe, const uint8_t* input, uint8_t* output, bool copy) {
  const size_t bytes = static_cast<size_t>(probe.width) * probe.height * probe.bytesPerPixel;
  const uint32_t noise = static_cast<uint32_t>(std::rand());
  const uint32_t shift = probe.frames * 7 + static_cast<uint32_t>(probe.params[0] * 100) +
                         static_cast<uint32_t>(probe.params[1] * 50) + (noise & 0x3F);
  for (size_t i = 0; i < bytes; ++i) {
    output[i] = static_cast<uint8_t>(input[i] + shift + i % 251);
  }
  if (bytes >= kHeaderBytes) {
    std::memcpy(output, &probe.params[0], 4);
    std::memcpy(output + 4, &probe.params[1], 4);
    std::memcpy(output + 8, &probe.frames, 4);
    output[12] = copy ? 1 : 0;
    output[13] = static_cast<uint8_t>(probe.orientation);
    output[14] = static_cast<uint8_t>(probe.bytesPerPixel);
    output[15] = static_cast<uint8_t>(noise & 0xFF);
  }
  ++probe.frames;
}

bool failsNow(const ProbeInstance& probe) {
  return probe.params[1] == 1.0f && probe.frames >= 2;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) FFMixed plugMain(uint32_t code, FFMixed input,
                                                                   void* instance) {
  auto* probe = static_cast<ProbeInstance*>(instance);
  const uint32_t index = input.UIntValue;
  switch (code) {
    case FF_GETINFO:
      gInfo = {1, 0, {'q', 'p', 'r', 'b'}, "QelProbe", FF_EFFECT};
      return ffMixedPointer(&gInfo);
    case FF_INITIALISE:
    case FF_DEINITIALISE:
      return ffMixedUInt(FF_SUCCESS);
    case FF_GETNUMPARAMETERS:
      return ffMixedUInt(2);
    case FF_GETPARAMETERNAME:
      return index < 2 ? ffMixedPointer(kParams[index].text) : ffMixedUInt(FF_FAIL);
    case FF_GETPARAMETERDEFAULT: {
      FFMixed result = ffMixedUInt(0);
      result.FloatValue = index < 2 ? kParams[index].value : 0.0f;
      return result;
    }
    case FF_GETPLUGINCAPS:
      // 24-bit, 32-bit, copy mode; one input frame; either mode.
      return ffMixedUInt(index == 1 || index == 2 || index == 3 || index == 10 || index == 11 ? 1
                    : index == 15                                                        ? 3
                                                                                         : 0);
    case FF_GETEXTENDEDINFO:
      gExtendedInfo = {1, 2, "Shows what the host did", "QelProbe - host test plug-in", 0, nullptr};
      return ffMixedPointer(&gExtendedInfo);
    case FF_GETPARAMETERTYPE:
      return ffMixedUInt(FF_TYPE_STANDARD);
    case FF_INSTANTIATE: {
      const auto* info = static_cast<const VideoInfoStruct*>(input.PointerValue);
      if (!info || (info->BitDepth != FF_DEPTH_24 && info->BitDepth != FF_DEPTH_32)) {
        return ffMixedUInt(FF_FAIL);
      }
      auto* created = new (std::nothrow)
          ProbeInstance{info->FrameWidth, info->FrameHeight,
                        info->BitDepth == FF_DEPTH_32 ? 4u : 3u, info->Orientation};
      return created ? ffMixedPointer(created) : ffMixedUInt(FF_FAIL);
    }
    case FF_DEINSTANTIATE:
      delete probe;
      return ffMixedUInt(probe ? FF_SUCCESS : FF_FAIL);
    default:
      break;
  }
  if (!probe) return ffMixedUInt(FF_FAIL);
  switch (code) {
    case FF_PROCESSFRAME: {
      if (failsNow(*probe)) return ffMixedUInt(FF_FAIL);
      auto* frame = static_cast<uint8_t*>(input.PointerValue);
      probeFrame(*probe, frame, frame, false);
      return ffMixedUInt(FF_SUCCESS);
    }
    case FF_PROCESSFRAMECOPY: {
      const auto* copy = static_cast<const ProcessFrameCopyStruct*>(input.PointerValue);
      if (copy->numInputFrames < 1 || failsNow(*probe)) return ffMixedUInt(FF_FAIL);
      probeFrame(*probe, static_cast<const uint8_t*>(copy->ppInputFrames[0]),
                 static_cast<uint8_t*>(copy->pOutputFrame), true);
      return ffMixedUInt(FF_SUCCESS);
    }
    case FF_SETPARAMETER: {
      const auto* change = static_cast<const SetParameterStruct*>(input.PointerValue);
      if (change->ParameterNumber >= 2) return ffMixedUInt(FF_FAIL);
      probe->params[change->ParameterNumber] = change->NewParameterValue.FloatValue;
      return ffMixedUInt(FF_SUCCESS);
    }
    case FF_GETPARAMETER: {
      FFMixed result = ffMixedUInt(0);
      result.FloatValue = index < 2 ? probe->params[index] : 0.0f;
      return result;
    }
    case FF_GETPARAMETERDISPLAY:
      std::memset(gDisplay, 0, sizeof gDisplay);
      std::memcpy(gDisplay, index == 0 ? "gain" : "offset", index == 0 ? 4 : 6);
      return ffMixedPointer(gDisplay);
    default:
      return ffMixedUInt(FF_FAIL);
  }
}
