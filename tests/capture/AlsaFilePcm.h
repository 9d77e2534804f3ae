// Points ALSA's "default" PCM at a `file` PCM over "null" that captures the
// raw samples of a generated file, through ALSA_CONFIG_PATH. ALSA reads its
// configuration once per process, so set it up before the first open.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

class AlsaFilePcm {
public:
    // `pcmBody` is the body of pcm.!default; "@INFILE@" in it names the raw file.
    AlsaFilePcm(long samples, std::int16_t (*sample)(long), const std::string& pcmBody = kFilePcm) {
        char tmpl[] = "/tmp/tamblo-alsa-XXXXXX";
        m_dir = mkdtemp(tmpl) ? tmpl : "/tmp";
        m_raw = m_dir + "/in.raw";
        m_conf = m_dir + "/asound.conf";
        if (FILE* f = std::fopen(m_raw.c_str(), "wb")) {
            for (long n = 0; n < samples; ++n) {
                std::int16_t s = sample(n);
                unsigned char le[2] = {static_cast<unsigned char>(s & 0xff),
                                       static_cast<unsigned char>((s >> 8) & 0xff)};
                std::fwrite(le, 1, 2, f);
            }
            std::fclose(f);
        }
        std::string body = pcmBody;
        for (size_t at; (at = body.find("@INFILE@")) != std::string::npos;) body.replace(at, 8, m_raw);
        if (FILE* f = std::fopen(m_conf.c_str(), "w")) {
            std::fprintf(f, "</usr/share/alsa/alsa.conf>\npcm.!default {\n%s\n}\n", body.c_str());
            std::fclose(f);
        }
        setenv("ALSA_CONFIG_PATH", m_conf.c_str(), 1);
    }
    ~AlsaFilePcm() {
        std::remove(m_raw.c_str());
        std::remove(m_conf.c_str());
        rmdir(m_dir.c_str());
    }

    static constexpr const char* kFilePcm =
        "  type file\n  slave.pcm \"null\"\n  file \"/dev/null\"\n  infile \"@INFILE@\"\n  format \"raw\"";

private:
    std::string m_dir, m_raw, m_conf;
};
