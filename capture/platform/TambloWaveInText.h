// Error texts shared by the wave-input implementations.
#pragma once

#include "platform/TambloWaveIn.h"

namespace tamblo {

// Text of one of the device's own codes (not ALSA's), or null for other codes.
const char* waveInOwnErrorText(MMRESULT code);

// Copies a narrow text into text[0 … size − 1], cut and terminated; nothing
// when text is null or size is not positive.
void copyErrorText(const char* message, wchar_t* text, int size);

}  // namespace tamblo
