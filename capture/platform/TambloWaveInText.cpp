#include "platform/TambloWaveInText.h"

namespace tamblo {

const char* waveInOwnErrorText(MMRESULT code) {
    switch (code) {
        case MMSYSERR_NOERROR:
            return "No error";
        case MMSYSERR_INVALHANDLE:
            return "The device is not open";
        case MMSYSERR_INVALPARAM:
            return "Invalid argument";
        case MMSYSERR_NOMEM:
            return "Out of memory";
        case MMSYSERR_NOTHREAD:
            return "A capture thread could not be started";
        case WAVERR_BADFORMAT:
            return "Unsupported format: 16-bit PCM with 1 or 2 channels only";
        case WAVERR_STILLQUEUED:
            return "A buffer is still queued with the device";
        case WAVERR_UNPREPARED:
            return "The buffer was not prepared";
        case WAVERR_TIMEDOUT:
            return "The device did not respond in time";
        case WAVERR_STOPPED:
            return "The recording was stopped before it was complete";
        default:
            return nullptr;
    }
}

void copyErrorText(const char* message, wchar_t* text, int size) {
    if (!text || size <= 0) return;
    int i = 0;
    for (; message && message[i] && i < size - 1; ++i) text[i] = static_cast<unsigned char>(message[i]);
    text[i] = L'\0';
}

}  // namespace tamblo
