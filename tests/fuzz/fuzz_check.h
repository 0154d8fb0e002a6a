#pragma once

// What every fuzz target uses, so that each file shows only its own inputs and checks.

#include <fuzzer/FuzzedDataProvider.h>

#include <QString>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// A broken invariant is a finding: say which one and abort, so that libFuzzer keeps the input.
#define PV2_FUZZ_CHECK(cond, what)                                                                 \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n  %s\n", __FILE__, __LINE__,      \
                         #cond, qUtf8Printable(QString(what)));                                    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace pv2::fuzz {

// The first byte picks how the rest becomes text, so that plain ASCII, any valid text and
// broken UTF-16 (lone surrogates) are all reached.
inline QString textFromBytes(unsigned char mode, const char *data, qsizetype size) {
    if (mode % 3 != 2)
        return mode % 3 ? QString::fromUtf8(data, size) : QString::fromLatin1(data, size);
    // The bytes need not be aligned for char16_t: copy them.
    QString s(size / 2, Qt::Uninitialized);
    std::memcpy(s.data(), data, static_cast<size_t>(s.size()) * sizeof(QChar));
    return s;
}

inline QString utf8(const std::string &raw) {
    return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
}

inline bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

} // namespace pv2::fuzz
