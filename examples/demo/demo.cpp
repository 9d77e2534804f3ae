// Demo host: the WAV-file road of a typical piece of work. It stores two
// seconds of a two-channel tone, asks the file for its length and rate, loads
// a range back, and then shows one edit of each kind, each on its own copy:
// append, insert, delete and replace.
//
//   demo [folder]     writes into folder (default: demo-out in the current one)
#include <covarne/Covarne2005.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 16000;
constexpr int kFrames = 2 * kRate;  // two seconds

std::vector<double> Tone(int frames, double hz, double level) {
  std::vector<double> x(frames);
  for (int i = 0; i < frames; ++i) x[i] = level * std::sin(2 * M_PI * hz * i / kRate);
  return x;
}

// The library takes wide paths and turns them into UTF-8 for the file
// system, so a narrow path is decoded as UTF-8 here, whatever the locale says.
// A byte that does not start a valid sequence stands for itself.
std::wstring Wide(const fs::path& p) {
  const std::string& s = p.native();
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  std::wstring w;
  for (size_t i = 0; i < s.size();) {
    const unsigned b = byte(i);
    const int more = b < 0x80 ? 0 : b < 0xC2 ? -1 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF5 ? 3 : -1;
    unsigned long c = more == 1 ? b & 0x1F : more == 2 ? b & 0x0F : more == 3 ? b & 0x07 : b;
    int k = 1;
    while (k <= more && i + k < s.size() && (byte(i + k) & 0xC0) == 0x80)
      c = c << 6 | (byte(i + k++) & 0x3F);
    if (k <= more) {  // a broken sequence: its first byte stands for itself
      c = b;
      k = 1;
    }
    w += static_cast<wchar_t>(c);
    i += k;
  }
  return w;
}

bool Check(int result, const fs::path& file, const char* what) {
  if (result >= 0) return true;
  std::fprintf(stderr, "demo: %s failed on %s\n", what, file.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::path("demo-out");
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "demo: cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
    return 1;
  }

  Covarne2005 wav;
  std::vector<double> left = Tone(kFrames, 440, 0.5);
  std::vector<double> right = Tone(kFrames, 660, 0.25);

  // 1. Store the tone, then ask the file what it holds.
  const fs::path tone = dir / "tone.wav";
  wav.Save(Wide(tone).c_str(), left.data(), right.data(), kFrames, 16, kRate);
  const int n = wav.GetN(Wide(tone).c_str());
  const int sr = wav.GetSr(Wide(tone).c_str());
  std::printf("saved %s: 2 s of 440 Hz left, 660 Hz right, 16 bits\n", tone.c_str());
  std::printf("%s holds %d frames at %d frames/s, %d channels\n", tone.c_str(), n, sr,
              wav.GetCh(Wide(tone).c_str()));
  if (n != kFrames || sr != kRate) {
    std::fprintf(stderr, "demo: %s does not hold what was saved\n", tone.c_str());
    return 1;
  }

  // 2. Load a range back: 0.1 s from the middle.
  const int start = kFrames / 2, count = kRate / 10;
  std::vector<double> l(count), r(count);
  const int bytes = wav.Load(Wide(tone).c_str(), start, count, l.data(), r.data());
  double peakL = 0, peakR = 0;
  for (int i = 0; i < count; ++i) {
    peakL = std::fmax(peakL, std::fabs(l[i]));
    peakR = std::fmax(peakR, std::fabs(r[i]));
  }
  std::printf("loaded frames %d..%d of %s: %d bytes, peaks %.4f left, %.4f right\n", start,
              start + count - 1, tone.c_str(), bytes, peakL, peakR);
  if (bytes != count * 4) return 1;

  // 3. One edit of each kind, each on a fresh copy of the tone.
  auto copy = [&](const char* name) {
    const fs::path p = dir / name;
    if (!fs::copy_file(tone, p, fs::copy_options::overwrite_existing, ec)) {
      std::fprintf(stderr, "demo: cannot copy %s to %s\n", tone.c_str(), p.c_str());
      std::exit(1);
    }
    return p;
  };

  const fs::path appended = copy("append.wav");
  std::wstring w = Wide(appended);
  std::vector<double> beepL = Tone(kRate / 2, 880, 0.5), beepR = Tone(kRate / 2, 880, 0.5);
  int frames = wav.SaveAdd(w.data(), beepL.data(), beepR.data(), kRate / 2, kRate, 16);
  if (!Check(frames, appended, "append")) return 1;
  std::printf("appended 0.5 s of 880 Hz (%d frames) to %s: now %d frames\n", kRate / 2,
              appended.c_str(), frames);

  const fs::path inserted = copy("insert.wav");
  w = Wide(inserted);
  frames = wav.Insert(w.data(), kRate, kRate / 4);
  if (!Check(frames, inserted, "insert")) return 1;
  std::printf("inserted %d silent frames at frame %d of %s: now %d frames\n", kRate / 4, kRate,
              inserted.c_str(), frames);

  const fs::path deleted = copy("delete.wav");
  w = Wide(deleted);
  frames = wav.Delete(w.data(), kRate / 2, kRate / 2);
  if (!Check(frames, deleted, "delete")) return 1;
  std::printf("deleted frames %d..%d of %s: now %d frames\n", kRate / 2, kRate - 1,
              deleted.c_str(), frames);

  const fs::path replaced = copy("replace.wav");
  w = Wide(replaced);
  frames = wav.SaveRep(w.data(), beepL.data(), beepR.data(), kRate, kRate, kRate / 2, kRate, 16);
  if (!Check(frames, replaced, "replace")) return 1;
  std::printf("replaced frames %d..%d of %s by %d frames of 880 Hz: now %d frames\n", kRate,
              2 * kRate - 1, replaced.c_str(), kRate / 2, frames);
  return 0;
}
