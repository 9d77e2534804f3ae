// wavedit FILE COMMAND [NUMBERS...]: runs one member of Covarne2005 on FILE, for
// the corpus tests. New samples are 0.25 in every channel; channels and bits are
// the file's own. Prints the member's result; on -1 the library's reason goes to
// standard error and the status is 1.
#include <covarne/Covarne2005.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(
            stderr,
            "usage: wavedit FILE info|saveadd|addsilence|saveow|makesilence|insert|delete|saverep|savesr N...\n");
        return 2;
    }
    const std::string narrow = argv[1];
    std::wstring path(narrow.begin(), narrow.end());  // the test's paths are ASCII
    const std::string op = argv[2];
    std::vector<int> n;
    for (int i = 3; i < argc; ++i) n.push_back(std::atoi(argv[i]));
    n.resize(3, 0);
    Covarne2005 wav;
    tagWAVEFILEHEADER2005 h{};
    if (wav.GetWaveInfo(path.c_str(), &h) == 0) {
        wchar_t text[256];
        wav.GetLastError(text, 256);
        std::fprintf(stderr, "%ls\n", text);
        return 1;
    }
    if (op == "info") {
        std::printf("%d %d %d %d\n", wav.GetN(path.c_str()), h.channels, h.bitsPerSample, h.sampleRate);
        return 0;
    }
    std::vector<double> x(100000, 0.25);
    double* right = h.channels == 2 ? x.data() : nullptr;
    wchar_t* p = path.data();
    const short bits = h.bitsPerSample;
    int r = -1;
    if (op == "saveadd")
        r = wav.SaveAdd(p, x.data(), right, n[0], 8000, bits);
    else if (op == "addsilence")
        r = wav.AddSilence(p, n[0]);
    else if (op == "saveow")
        r = wav.SaveOW(p, x.data(), right, n[0], n[1], 8000, bits);
    else if (op == "makesilence")
        r = wav.MakeSilence(p, n[0], n[1], h.channels, 8000, bits);
    else if (op == "insert")
        r = wav.Insert(p, n[0], n[1]);
    else if (op == "delete")
        r = wav.Delete(p, n[0], n[1]);
    else if (op == "saverep")
        r = wav.SaveRep(p, x.data(), right, n[0], n[1], n[2], 8000, bits);
    else if (op == "savesr")
        r = wav.SaveSr(p, n[0]);
    if (r < 0) {
        wchar_t text[256];
        wav.GetLastError(text, 256);
        std::fprintf(stderr, "%ls\n", text);
        return 1;
    }
    std::printf("%d\n", r);
    return 0;
}
