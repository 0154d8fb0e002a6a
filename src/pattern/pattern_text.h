#pragma once

#include <QString>
#include <optional>

namespace pv2 {

// The clean-up of the pattern box: the three rewrites, started over after every change until
// none of them changes the text. Never makes the text longer.
QString cleanPattern(const QString &text);

// How the fluctuation check box follows the cleaned pattern.
struct FluctBoxState {
    bool enabled = false;
    std::optional<QString> caption; // none: keep the caption it has
    bool reseed = false;            // give the 1/f map fresh random starting values
};
FluctBoxState fluctBoxFor(const QString &cleanText);

// One beat fewer / one beat more: the next shorter or longer all-ones pattern.
QString beatMinus(const QString &text);
QString beatPlus(const QString &text);

} // namespace pv2
