// A sound system's capture stream, as the device machinery (TambloWaveIn.h)
// drives it. Every operation but Wake is called on the device thread only,
// one at a time and with no lock held, so a call may block as long as the
// sound system makes it. Codes are 0 or negative errno values.
#pragma once

#include <memory>

namespace tamblo {

class Backend {
public:
    virtual ~Backend() = default;  // closes the stream if open

    // Opens the default input for interleaved 16-bit frames of `channels`
    // channels at `rate`, stopped; the host takes `block` frames at a time.
    virtual int Open(unsigned channels, unsigned rate, unsigned long block) = 0;
    virtual int Start() = 0;
    // Stops capture and drops what is buffered; Start begins afresh.
    virtual int Stop() = 0;
    // Reads up to `frames` frames into dst. Returns the frames read, 0 when
    // none is ready yet (then Wait), or an error that ends the capture.
    // Adds to *lost the frames it knows were lost.
    virtual long Read(char* dst, unsigned long frames, long* lost) = 0;
    // Waits until frames may be ready, or until wakeFd turns readable.
    virtual void Wait(int wakeFd) = 0;
};

typedef std::unique_ptr<Backend> (*BackendFactory)();

// The backend of devices opened from now on; null restores ALSA's.
void SetBackendFactory(BackendFactory factory);
std::unique_ptr<Backend> MakeBackend();

std::unique_ptr<Backend> MakeAlsaBackend();

}  // namespace tamblo
