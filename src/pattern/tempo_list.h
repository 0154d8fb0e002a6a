#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace pv2 {

// The 42 metronome markings of the tempo box, ascending, in the order they are appended.
const QStringList &tempoList();

// TEMPO-: index of the largest entry below the box value, or none (value 20 or less, above 300).
std::optional<int> tempoStepDownIndex(const QString &boxText);
// TEMPO+: index of the smallest entry above the box value, or none (value 300 or more, below 20).
std::optional<int> tempoStepUpIndex(const QString &boxText);

// Final list index after Up (up = true) or Down with no entry selected: the handler's preselection
// followed by the list's own one step. Where the handler selects nothing the arrow lands on the
// nearest end of the list, so the result is always a valid index; -1 would mean none.
int arrowSelection(const QString &boxText, bool up);

} // namespace pv2
