#include "tick_sound.h"

#include "audio/midi_out.h"
#include "platform/message_boxes.h"

#include <QString>
#include <algorithm>
#include <cmath>

namespace pv2 {

void TickSound::resetTickSettings() {
    tickNote = kOrdinaryNote;
    tickProgram = 20;
    tickVelocity = 127;
}

void TickSound::openTickDevice() {
    if (m_open)
        closeTickDevice();
    m_open = m_midi.open() == 0;
    m_renderedPair = m_pair;
    if (!m_open)
        m_boxes.show(
            QStringLiteral("MIDIデバイスオープンに失敗しました。サウンド機能は無効となります。"));
    resetTickSettings();
    // Without a device the messages would be lost anyway.
    if (m_open)
        m_midi.shortMsg(packMidi(0xC0, static_cast<uint32_t>(tickProgram)));
}

std::vector<int> TickSound::pairNotes(int index) {
    const Pair &p = kPairs[std::clamp(index, 0, kPairCount - 1)];
    return {p.ordinary, p.downbeat};
}

void TickSound::setVolumePercent(int percent) {
    m_volume = std::clamp(percent, 0, 100);
}

void TickSound::setPair(int index) {
    m_pair = std::clamp(index, 0, kPairCount - 1);
    m_midi.setTickNotes(pairNotes(m_pair));
}

void TickSound::sendTick(bool downbeat, uint32_t dueTick, Volume volume) {
    const Pair &p = kPairs[m_pair];
    tickNote = downbeat ? p.downbeat : p.ordinary;
    tickVelocity = static_cast<int>(std::lround(127.0 * (volume ? 100 : m_volume) / 100.0));
    if (!m_open || tickVelocity == 0)
        return;
    const auto note = static_cast<uint32_t>(tickNote);
    m_midi.shortMsgAt(packMidi(0x99, note, static_cast<uint32_t>(tickVelocity)), dueTick);
    m_midi.shortMsgAt(packMidi(0x89, note, 0), dueTick);
}

void TickSound::closeTickDevice() {
    // Both shut-down paths may run; the device is closed once.
    if (!m_open)
        return;
    m_midi.close();
    m_open = false;
}

} // namespace pv2
