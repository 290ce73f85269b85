// The one exported function: dispatch of the FreeFrame function codes.
#include <cstring>

#include "shell/deliverable.h"
#include "shell/effect_seam.h"
#include "shell/float_mode.h"
#include "shell/frame_pipeline.h"
#include "shell/freeframe.h"
#include "shell/identity.h"
#include "shell/parameter_bank.h"

namespace {

// Answers are a zeroed union with one member set: FF_FAIL reads 0x00000000FFFFFFFF on
// 64-bit hosts, a float has its bits in the low 32 bits, addresses fill the union.
FFMixed answerUInt(uint32_t value) { return ffMixedUInt(value); }

FFMixed answerFloat(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return ffMixedUInt(bits);
}

FFMixed answerPointer(const void* pointer) { return ffMixedPointer(pointer); }

// Integer inputs are the low 32 bits: some 64-bit hosts leave the upper half unset.
uint32_t lowBits(FFMixed value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// No record can live in the lowest 64 KiB of an address space; values there are channel
// numbers that a standard host passes with code 16, not MultiFrames addresses.
MultiFrames* multiFramesAddress(FFMixed value) {
  const auto address = reinterpret_cast<uintptr_t>(value.PointerValue);
  if (address < 0x10000 || address % alignof(MultiFrames) != 0) return nullptr;
  return static_cast<MultiFrames*>(value.PointerValue);
}

bool needsInstance(uint32_t code) {
  switch (code) {
    case FF_PROCESSFRAME:
    case FF_GETPARAMETERDISPLAY:
    case FF_SETPARAMETER:
    case FF_GETPARAMETER:
    case FF_PROCESSFRAMECOPY:
    case FF_GETINPUTSTATUS:
      return true;
    default:
      return false;
  }
}

FFMixed dispatch(uint32_t functionCode, FFMixed inputValue, PlugObj* pPlugObj) {
  const FFMixed fail = answerUInt(FF_FAIL);
  if (functionCode > FF_GETINPUTSTATUS) return fail;
  if (needsInstance(functionCode) && !pPlugObj) return fail;
  const uint32_t index = lowBits(inputValue);
  switch (functionCode) {
    case FF_GETINFO:
      return answerPointer(getInfo());
    case FF_INITIALISE:
    case FF_DEINITIALISE:
      return answerUInt(FF_SUCCESS);
    case FF_PROCESSFRAME: {
      ScopedFlushDenormals floatMode;
      return answerUInt(processFrame(pPlugObj, inputValue.PointerValue));
    }
    case FF_GETNUMPARAMETERS:
      return answerUInt(kDeliverable.numParams);
    case FF_GETPARAMETERNAME:
      return isParameterIndex(index) ? answerPointer(getParameterName(index)) : fail;
    case FF_GETPARAMETERDEFAULT:
      return isParameterIndex(index) ? answerFloat(getParameterDefault(index)) : fail;
    case FF_GETPARAMETERDISPLAY:
      return isParameterIndex(index) ? answerPointer(getParameterDisplay(pPlugObj, index)) : fail;
    case FF_SETPARAMETER: {
      const auto* change = static_cast<const SetParameterStruct*>(inputValue.PointerValue);
      if (!change || !isParameterIndex(change->ParameterNumber)) return fail;
      setParameter(pPlugObj, change);
      return answerUInt(FF_SUCCESS);
    }
    case FF_GETPARAMETER:
      return isParameterIndex(index) ? answerFloat(getParameter(pPlugObj, index)) : fail;
    case FF_GETPLUGINCAPS:
      return answerUInt(getPluginCaps(index));
    case FF_INSTANTIATE: {
      PlugObj* created = instantiate(static_cast<const VideoInfoStruct*>(inputValue.PointerValue));
      return created ? answerPointer(created) : fail;
    }
    case FF_DEINSTANTIATE:
      return answerUInt(deInstantiate(pPlugObj));
    case FF_GETEXTENDEDINFO:
      return answerPointer(getExtendedInfo());
    case FF_PROCESSFRAMECOPY: {
      ScopedFlushDenormals floatMode;
      return answerUInt(
          processFrameCopy(pPlugObj, static_cast<const ProcessFrameCopyStruct*>(inputValue.PointerValue)));
    }
    case FF_GETPARAMETERTYPE:
      return answerUInt(FF_TYPE_STANDARD);
    case FF_GETINPUTSTATUS: {
      ScopedFlushDenormals floatMode;
      return answerUInt(processFrameMulti(pPlugObj, multiFramesAddress(inputValue)));
    }
    default:
      return fail;
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) FFMixed QEL_PLUGIN_CALL
plugMain(uint32_t functionCode, FFMixed inputValue, void* instanceID) {
  // Nothing may escape into the host: any exception becomes a refusal.
  try {
    return dispatch(functionCode, inputValue, static_cast<PlugObj*>(instanceID));
  } catch (...) {
    return answerUInt(FF_FAIL);
  }
}
