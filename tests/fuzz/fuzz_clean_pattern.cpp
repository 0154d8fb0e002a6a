// The pattern clean-up: any text up to 64 characters. The box holds 15; long runs of '0' cost the
// first rewrite a pass per '0' and heavy backtracking in each (about 3 ms for 200 characters),
// which would only measure the regex engine.
#include "fuzz_check.h"
#include "pattern/pattern_text.h"

using pv2::fuzz::isAsciiDigit;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    const QString in = pv2::fuzz::textFromBytes(data[0], reinterpret_cast<const char *>(data + 1),
                                                static_cast<qsizetype>(size - 1))
                           .left(64);
    const QString out = pv2::cleanPattern(in);

    PV2_FUZZ_CHECK(out.size() <= in.size(), "longer: [" + in + "] -> [" + out + "]");
    PV2_FUZZ_CHECK(pv2::cleanPattern(out) == out,
                   "not a fixed point: [" + in + "] -> [" + out + "]");
    // What the rewrites leave: empty, or a digit first and a digit or one '-' after a digit last.
    // The regex engine refuses broken UTF-16 (a lone surrogate, which no key can type): such a
    // text is left as it is, which is harmless as the schedule reads any text.
    if (!out.isEmpty() && in.isValidUtf16()) {
        PV2_FUZZ_CHECK(isAsciiDigit(out.front()), "starts with a non-digit: [" + out + "]");
        const bool digitLast = isAsciiDigit(out.back());
        const bool dashLast =
            out.back() == u'-' && out.size() >= 2 && isAsciiDigit(out[out.size() - 2]);
        PV2_FUZZ_CHECK(digitLast || dashLast, "bad ending: [" + in + "] -> [" + out + "]");
    }
    return 0;
}
