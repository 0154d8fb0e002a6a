#include "windows_midi_out.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <mmsystem.h>

namespace pv2 {

WindowsMidiOut::~WindowsMidiOut() {
    close();
}

int WindowsMidiOut::open() {
    close();
    HMIDIOUT handle = nullptr;
    const MMRESULT result =
        midiOutOpen(&handle, static_cast<UINT>(-1) /* MIDI_MAPPER */, 0, 0, CALLBACK_NULL);
    if (result != MMSYSERR_NOERROR)
        return static_cast<int>(result);
    m_handle = handle;
    return 0;
}

void WindowsMidiOut::shortMsg(uint32_t packed) {
    if (m_handle)
        midiOutShortMsg(static_cast<HMIDIOUT>(m_handle), static_cast<DWORD>(packed));
}

void WindowsMidiOut::shortMsgAt(uint32_t packed, uint32_t dueTick) {
    (void)dueTick;
    shortMsg(packed);
}

void WindowsMidiOut::close() {
    if (m_handle) {
        midiOutClose(static_cast<HMIDIOUT>(m_handle));
        m_handle = nullptr;
    }
}

} // namespace pv2
