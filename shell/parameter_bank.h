// The parameter bank (codes 5 to 9). Indices outside 0 .. N-1 are refused with FF_FAIL
// by the dispatcher before these are called.
#pragma once

#include <cstdint>

#include "shell/freeframe.h"
#include "shell/plug_obj.h"

bool isParameterIndex(uint32_t index);
const char* getParameterName(uint32_t index);
float getParameterDefault(uint32_t index);
char* getParameterDisplay(PlugObj* pPlugObj, uint32_t index);
void setParameter(PlugObj* pPlugObj, const SetParameterStruct* change);
float getParameter(const PlugObj* pPlugObj, uint32_t index);

// Sets every value of the instance to its default.
void loadParameterDefaults(PlugObj* pPlugObj);

// Clamps every value into [0, 1] in place; NaN passes unchanged.
void clampParameters(PlugObj* pPlugObj);
