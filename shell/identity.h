// Identity records and capability answers (codes 0, 10 and 13).
#pragma once

#include <cstdint>

#include "shell/freeframe.h"

PluginInfoStruct* getInfo();
PluginExtendedInfoStruct* getExtendedInfo();
uint32_t getPluginCaps(uint32_t index);
