#pragma once

#ifdef _WIN32

#include "audio/midi_out.h"

namespace pv2 {

// The system's MIDI mapper through the Windows multimedia service.
class WindowsMidiOut : public MidiOut {
public:
    WindowsMidiOut() = default;
    ~WindowsMidiOut() override;
    WindowsMidiOut(const WindowsMidiOut &) = delete;
    WindowsMidiOut &operator=(const WindowsMidiOut &) = delete;

    // The result of midiOutOpen (MMSYSERR_NOERROR is 0).
    int open() override;
    void shortMsg(uint32_t packed) override;
    // The mapper has no clock of its own.
    void shortMsgAt(uint32_t packed, uint32_t dueTick) override;
    void close() override;

private:
    // An HMIDIOUT; kept as void * so that users need not include <windows.h>.
    void *m_handle = nullptr;
};

} // namespace pv2

#endif
