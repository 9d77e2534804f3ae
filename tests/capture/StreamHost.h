// A host that streams into vectors: its window, on the test's thread, fetches
// every announced block and hands the buffer back until `giveBack` blocks.
#pragma once

#include <tamblo/CTamblo.h>
#include <tamblo/CTambloWindow.h>

#include <climits>
#include <functional>
#include <vector>

struct StreamHost {
    StreamHost(CTamblo& recorder, int blockLength, int channelCount)
        : rec(recorder), length(blockLength), channels(channelCount) {}

    CTamblo& rec;
    int length;
    int channels;
    int giveBack = INT_MAX;
    std::function<void()> onBlock;  // runs inside the handler, after GetBuffer
    std::vector<int> indices;
    std::vector<double> left, right;

    CTambloWindow window{[this](UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        if (message == UM_BLOCK_READY) Handle(static_cast<int>(wParam));
        return 0;
    }};

    void Handle(int index) {
        indices.push_back(index);
        std::vector<double> l(length), r(length);
        rec.GetBuffer(index, l.data(), channels == 2 ? r.data() : nullptr);
        left.insert(left.end(), l.begin(), l.end());
        right.insert(right.end(), r.begin(), r.end());
        if (onBlock) onBlock();
        if (static_cast<int>(indices.size()) < giveBack) rec.AddBuffer();
    }

    // Handles blocks until `blocks` have come or none came for quietMs.
    void PumpUntil(size_t blocks, int quietMs = 2000) {
        while (indices.size() < blocks && window.Pump(quietMs) > 0) {
        }
    }
};
