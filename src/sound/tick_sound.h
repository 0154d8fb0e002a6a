#pragma once

#include <cstdint>
#include <vector>

namespace pv2 {

class MidiOut;
class MessageBoxes;

// The percussion tick on channel 10 and the device it goes through.
class TickSound {
public:
    TickSound(MidiOut &midi, MessageBoxes &boxes) : m_midi(midi), m_boxes(boxes) {}

    // Opens the device and sends the program change; tells the user once if that fails.
    void openTickDevice();
    // Note-on then note-off, meant to sound at dueTick, at the volume set or at full volume
    // (the offset measurement's clicks must be heard whatever the volume).
    enum Volume : bool { kSetVolume = false, kFullVolume = true };
    void sendTick(bool downbeat, uint32_t dueTick, Volume volume = kSetVolume);
    void closeTickDevice();
    void resetTickSettings();

    bool deviceOpen() const { return m_open; }
    MidiOut &midi() { return m_midi; }

    static constexpr int kOrdinaryNote = 37;
    static constexpr int kDownbeatNote = 81;

    // General MIDI percussion pairs to choose from; the first is the usual one.
    struct Pair {
        const char *name;
        int ordinary, downbeat;
    };
    static constexpr Pair kPairs[] = {
        {"サイドスティック / トライアングル", kOrdinaryNote, kDownbeatNote},
        {"ウッドブロック", 77, 76},
        {"クラベス / カウベル", 75, 56},
        {"ハイハット / バスドラム", 42, 36},
    };
    static constexpr int kPairCount = static_cast<int>(sizeof(kPairs) / sizeof(kPairs[0]));
    // The notes of a pair; the backend renders those of the pair in use ahead, at open.
    static std::vector<int> pairNotes(int index);
    // A pair chosen since the device opened is rendered when it opens again.
    bool needsReopen() const { return m_open && m_renderedPair != m_pair; }

    // 0 to 100; 0 sends no tick at all (a note-on at velocity 0 is a note-off).
    void setVolumePercent(int percent);
    int volumePercent() const { return m_volume; }
    void setPair(int index);
    int pair() const { return m_pair; }

    int tickNote = kOrdinaryNote;
    int tickVelocity = 127;
    int32_t tickProgram = 20;

private:
    MidiOut &m_midi;
    MessageBoxes &m_boxes;
    bool m_open = false;
    int m_volume = 100;
    int m_pair = 0;
    int m_renderedPair = 0;
};

} // namespace pv2
