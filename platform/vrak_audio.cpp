// Audio output, first step: the null device back-end, which opens and plays
// nothing, and the read-back output used for recording, which hands out one block
// of silence per call. The software mixer will sit behind the same calls.
#include "platform/vrak_local.h"

#include <vector>

enum {
    SILENCE = 0x80,             // unsigned 8-bit samples centre on 0x80
    MAX_BLOCK_FRAMES = 1 << 20, // far beyond any sensible block
};

struct VrakAudio {
    bool read_back;
    std::vector<unsigned char> block; // 2 x frames bytes, left/right interleaved
};

VrakAudio *vrak_audio_open(GameWindow *window)
{
    (void)window;
    VrakAudio *audio = new VrakAudio;
    audio->read_back = false;
    vrak_log("Audio output: null device\n");
    return audio;
}

VrakAudio *vrak_audio_open_readback(GameWindow *window, int rate, int frames_per_block)
{
    (void)window;
    if (rate <= 0 || frames_per_block <= 0 || frames_per_block > MAX_BLOCK_FRAMES)
        return nullptr;
    VrakAudio *audio = new VrakAudio;
    audio->read_back = true;
    audio->block.assign((size_t)frames_per_block * 2, SILENCE);
    return audio;
}

void vrak_audio_close(VrakAudio *audio)
{
    delete audio;
}

void vrak_audio_update(VrakAudio *audio)
{
    (void)audio;
}

const unsigned char *vrak_audio_read_back(VrakAudio *audio, int *bytes)
{
    if (!audio || !audio->read_back) {
        if (bytes)
            *bytes = 0;
        return nullptr;
    }
    if (bytes)
        *bytes = (int)audio->block.size();
    return audio->block.data();
}
