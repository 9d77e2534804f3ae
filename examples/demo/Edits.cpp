// Step 8: one edit of each kind on the saved recording, each on its own
// copy: append, insert, delete and replace.
#include <covarne/Covarne2005.h>

#include <cmath>

#include "Road.h"
#include "TestSignal.h"

namespace demo {

namespace {

std::vector<double> Tone(int frames, double hz, double level) {
    std::vector<double> x(frames);
    for (int i = 0; i < frames; ++i) x[i] = level * std::sin(2 * M_PI * hz * i / kRate);
    return x;
}

}  // namespace

bool Edit(Road& road) {
    Covarne2005 wav;
    std::error_code ec;
    bool ok = true;
    auto copy = [&](const char* name) {
        const fs::path p = Output(road, name);
        if (!fs::copy_file(road.recording, p, fs::copy_options::overwrite_existing, ec))
            ok = Fail("\ncannot copy %s to %s", road.recording.c_str(), p.c_str());
        return p;
    };
    auto check = [&](int frames, const fs::path& file, const char* what) {
        if (frames < 0) ok = Fail("\n%s failed on %s", what, file.c_str());
        return ok;
    };
    const int n = static_cast<int>(road.left.size());
    Step(8, "edits on copies of %s", road.recording.c_str());

    const fs::path appended = copy("append.wav");
    std::wstring w = Wide(appended);
    std::vector<double> beepL = Tone(kRate / 2, 880, 0.5), beepR = Tone(kRate / 2, 880, 0.5);
    int frames = ok ? wav.SaveAdd(w.data(), beepL.data(), beepR.data(), kRate / 2, kRate, 16) : -1;
    if (!check(frames, appended, "append")) return false;
    Done(":");
    std::printf("      appended 0.5 s of 880 Hz (%d frames) to %s: now %d frames\n", kRate / 2, appended.c_str(),
                frames);

    const fs::path inserted = copy("insert.wav");
    w = Wide(inserted);
    frames = ok ? wav.Insert(w.data(), kRate, kRate / 4) : -1;
    if (!check(frames, inserted, "insert")) return false;
    std::printf("      inserted %d silent frames at frame %d of %s: now %d frames\n", kRate / 4, kRate,
                inserted.c_str(), frames);

    const fs::path deleted = copy("delete.wav");
    w = Wide(deleted);
    frames = ok ? wav.Delete(w.data(), kRate / 2, kRate / 2) : -1;
    if (!check(frames, deleted, "delete")) return false;
    std::printf("      deleted frames %d..%d of %s: now %d frames\n", kRate / 2, kRate - 1, deleted.c_str(), frames);

    const fs::path replaced = copy("replace.wav");
    w = Wide(replaced);
    frames = ok ? wav.SaveRep(w.data(), beepL.data(), beepR.data(), kRate, n - kRate, kRate / 2, kRate, 16) : -1;
    if (!check(frames, replaced, "replace")) return false;
    std::printf("      replaced frames %d..%d of %s by %d frames of 880 Hz: now %d frames\n", kRate, n - 1,
                replaced.c_str(), kRate / 2, frames);
    return true;
}

}  // namespace demo
