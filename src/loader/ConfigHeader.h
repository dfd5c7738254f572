// ConfigHeader: the kernel header a send writes and a verify compares, built from a base
// header, the controller's current unit settings and the settings a job gives.
#pragma once

#include "Job.h"
#include "hCodeMemory.h"

// An item of HardwareModels -> its model code; 0xFFFF for none.
uint16_t HardwareModelCode(int itemIndex);
// An item of IEXBaudRates -> its baud rate code; 100kbps for none.
uint16_t IEXBaudRateCode(int itemIndex);

// base: the loaded kernel file's header, the controller's, or DefaultKernelHeader.
// controller: the controller's kernel header as last read; its unit settings are carried
// over when controllerValid, and it supplies the defaults for unreadable alias and IP text.
TKernelHeader MakeConfigHeader(const TKernelHeader& base, const TKernelHeader& controller, bool controllerValid,
                               const TUnitSettings& settings);

// The fields a verify compares: Magic and the unit settings.
bool SameConfiguration(const TKernelHeader& a, const TKernelHeader& b);
