// Covarne: reads, writes and edits 8- and 16-bit PCM RIFF/WAVE files.
//
// Every member that touches a file takes its path, opens the file and closes it
// again before it returns. Queries answer 0 and edits -1 on failure; GetLastError
// then tells why.
#ifndef COVARNE_COVARNE2005_H
#define COVARNE_COVARNE2005_H

#include <cstdint>

#define COVARNE_API __attribute__((visibility("default")))

// The canonical 44-byte RIFF/WAVE header, laid out in memory as it lies on disk
// (little-endian host). The four identifiers hold their ASCII bytes in reading
// order, so "RIFF" reads as the word 0x46464952.
struct COVARNE_API tagWAVEFILEHEADER2005 {
    std::uint32_t riffId;    // "RIFF"
    std::int32_t riffSize;   // file length - 8
    std::uint32_t waveId;    // "WAVE"
    std::uint32_t fmtId;     // "fmt "
    std::int32_t fmtSize;    // 16
    std::int16_t formatTag;  // 1: PCM
    std::int16_t channels;
    std::int32_t sampleRate;  // frames per second
    std::int32_t byteRate;    // sampleRate * blockAlign
    std::int16_t blockAlign;  // bytes per frame
    std::int16_t bitsPerSample;
    std::uint32_t dataId;   // "data"
    std::int32_t dataSize;  // bytes of sample data
};
static_assert(sizeof(tagWAVEFILEHEADER2005) == 44, "the header record is the 44 bytes on disk");

namespace covarne {
namespace platform {
class File;
}
namespace detail {
struct Access;
struct State;
}  // namespace detail
}  // namespace covarne

class COVARNE_API Covarne2005 {
public:
    Covarne2005();
    Covarne2005(const Covarne2005& other);
    ~Covarne2005();
    Covarne2005& operator=(const Covarne2005& other);

    // Format queries: 0 when the file is missing, not a RIFF/WAVE file or not PCM.
    int CheckFile(const wchar_t* path);
    int GetWaveInfo(const wchar_t* path, tagWAVEFILEHEADER2005* header);
    int GetSr(const wchar_t* path);
    int GetCh(const wchar_t* path);
    int GetBits(const wchar_t* path);
    int GetN(const wchar_t* path);
    void MakeHeader(tagWAVEFILEHEADER2005* header, int frames, short channels, short bits, int sampleRate);
    void ResetHeader(tagWAVEFILEHEADER2005* header);
    char* GetVersion(bool numeric);
    // Why the last call failed: 0 after a success, else a code whose text goes to
    // `text` (cut to `size` - 1 characters and terminated; null for the code alone).
    int GetLastError(wchar_t* text, int size);

    // Loading: bytes of sample data read, or 0.
    int Load(const wchar_t* path, int start, int count, double* left, double* right);
    int Load(const wchar_t* path, int start, int count, short* left, short* right);
    bool Mount(wchar_t* path);
    void UnMount();
    double GetValue(int index, short channel);

    // Writing new files.
    void MakeImage(unsigned char* image, double* left, double* right, int frames, tagWAVEFILEHEADER2005* header);
    void MakeImage(unsigned char* image, double* samples, int frames, tagWAVEFILEHEADER2005* header);
    void Save(const wchar_t* path, double* left, double* right, int frames, int bits, int sampleRate);
    void Save(const wchar_t* path, double* left, double* right, int frames, int sampleRate);
    void Save(const wchar_t* path, double* samples, int frames, short bits, int sampleRate);
    void Save(const wchar_t* path, double* samples, int frames, int sampleRate);

    // Edits in place: the frame count afterwards, or -1.
    int SaveAdd(wchar_t* path, double* left, double* right, int frames, int sampleRate, short bits);
    int SaveAdd(wchar_t* path, double* samples, int frames, int sampleRate, short bits);
    int AddSilence(wchar_t* path, int frames);
    int SaveOW(wchar_t* path, double* left, double* right, int start, int count, int sampleRate, short bits);
    int SaveOW(wchar_t* path, double* samples, int start, int count, int sampleRate, short bits);
    int MakeSilence(wchar_t* path, int start, int count, short channels, int sampleRate, short bits);
    int SaveSr(wchar_t* path, int sampleRate);  // the previous sample rate, or -1
    int Insert(wchar_t* path, int start, int count);
    int Delete(wchar_t* path, int start, int count);
    int SaveRep(wchar_t* path, double* left, double* right, int start, int oldFrames, int newFrames, int sampleRate,
                short bits);
    int SaveRep(wchar_t* path, double* samples, int start, int oldFrames, int newFrames, int sampleRate, short bits);

    // Raw bytes as stored; narrow paths are passed to the file system unchanged.
    int GetOffset(const char* path);
    int GetHeaderSz(const char* path);
    int GetImgSz(const char* path);
    void GetHeader(const char* path, unsigned char* dst, int size);
    void GetImg(const char* path, unsigned char* dst, int size);

private:
    using File = covarne::platform::File;
    friend struct covarne::detail::Access;  // the library's own steps, kept out of this header

    int _check_file(File* stream);
    int _get_wave_info(File* stream, tagWAVEFILEHEADER2005* header);
    void _get_memory_2bytes(unsigned char* p, short* value);
    void _get_memory_4bytes(unsigned char* p, int* value);
    void _set_memory_2bytes(unsigned char* p, short value);
    void _set_memory_4bytes(unsigned char* p, int value);
    void _load(int start, int count);
    bool _path_exist(wchar_t* path, bool wantDirectory);
    int _save_over_write(wchar_t* path, double* left, double* right, int start, int count, int sampleRate, short bits,
                         bool write);
    bool _zero_img_copy(File* file, long long bytes);
    bool _create_tmp_file_name(char* name, int room, File* file);
    bool _file_img_copy(File* dst, File* src, long long bytes);

    unsigned char* m_pZeroBlock;
    unsigned char* m_pCopyBuffer;
    int m_nZeroBlockSize;
    int m_nCopyBufferSize;
    int m_nDataOffset;
    int m_nFrames;
    tagWAVEFILEHEADER2005 m_hdrLast;
    wchar_t m_szMountPath[260];
    tagWAVEFILEHEADER2005 m_hdrMount;
    int m_nMountFrames;
    int m_nWinFirst;
    int m_nWinLast;
    int m_nWinCapacity;
    double* m_pWinLeft;
    double* m_pWinRight;

    // The last error and the whole of the last inspection.
    covarne::detail::State* m_pState;
};

#endif
