#pragma once

#include <QString>

namespace pv2 {

// First captured group of the first match, or an empty string when nothing matches.
QString regexFirstGroup(const QString &text, const QString &pattern);

// Replaces the first match only; "$n" in the replacement inserts group n.
QString regexReplaceFirst(const QString &text, const QString &pattern, const QString &replacement);

} // namespace pv2
