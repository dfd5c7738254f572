// IntegerText: a number the way the operator types it into the window's boxes.
#pragma once

#include <QString>

#include <cstdint>

// Leading blanks, optional sign, decimal, or hexadecimal after $, x or 0x; anything else
// (trailing blanks too) or a value outside signed 32 bits is no number and gives
// defaultValue.
int32_t IntegerTextOrDefault(const QString& text, int32_t defaultValue);
