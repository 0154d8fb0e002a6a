#pragma once

#include <cstdint>

namespace pv2 {

class MidiOut;
class MessageBoxes;

// The percussion tick on channel 10 and the device it goes through.
class TickSound {
public:
    TickSound(MidiOut &midi, MessageBoxes &boxes) : m_midi(midi), m_boxes(boxes) {}

    // Opens the device and sends the program change; tells the user once if that fails.
    void openTickDevice();
    // Note-on then note-off, meant to sound at dueTick.
    void sendTick(bool downbeat, uint32_t dueTick);
    void closeTickDevice();
    void resetTickSettings();

    bool deviceOpen() const { return m_open; }
    MidiOut &midi() { return m_midi; }

    static constexpr int kOrdinaryNote = 37;
    static constexpr int kDownbeatNote = 81;

    int tickNote = kOrdinaryNote;
    int tickVelocity = 127;
    int32_t tickProgram = 20;

private:
    MidiOut &m_midi;
    MessageBoxes &m_boxes;
    bool m_open = false;
};

} // namespace pv2
