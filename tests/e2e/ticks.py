"""Finding tick onsets in a recording and comparing them with a pattern."""

import math

# A desktop's usual rate, not the program's fallback one: its stream must follow the sink's.
RATE = 48000
BLOCK = RATE // 1000  # about one millisecond


def envelope(samples):
    """The peak magnitude of each block of about one millisecond."""
    ends = range(0, len(samples) - BLOCK + 1, BLOCK)
    return [max(map(abs, samples[i : i + BLOCK])) for i in ends]


class Onset:
    def __init__(self, sample, peak):
        self.sample = sample
        self.peak = peak

    @property
    def ms(self):
        return 1000.0 * self.sample / RATE

    def __repr__(self):
        return f"<onset {self.ms:.1f} ms peak {self.peak}>"


def onsets(samples, floor=60, rise=4.0):
    """Sample positions where a sound starts: a block much louder than the 30 ms before it.
    Ringing of earlier notes is allowed for by comparing with what came just before."""
    env = envelope(samples)
    found = []
    last = -10**9
    for b, level in enumerate(env):
        if level < floor or b - last < 60:
            continue
        before = max(env[max(0, b - 32) : max(0, b - 2)], default=0)
        if level <= rise * before + floor:
            continue
        # The first sample clearly above the ringing, set by the peak of the next 10 ms.
        start = max(0, (b - 2) * BLOCK)
        peak = max(env[b : b + 10])
        threshold = max(3 * before, 0.12 * peak, floor / 2)
        i = start
        while abs(samples[i]) <= threshold:
            i += 1
        last = b
        found.append(Onset(i, max(env[b : b + 30])))
    return found


def dropouts(samples):
    """Moments (ms) where the sound broke off to digital silence and came back within 200 ms:
    the audio path ran dry, which shifts every later tick."""
    env = envelope(samples)
    found = []
    b = 1
    while b < len(env):
        if env[b] == 0 and env[b - 1] > 50:
            end = b
            while end < len(env) and end - b < 200 and env[end] == 0:
                end += 1
            if end < len(env) and env[end] > 50:
                found.append(1000.0 * b * BLOCK / RATE)
            b = end
        b += 1
    return found


def intervals_ms(found):
    return [1000.0 * (b.sample - a.sample) / RATE for a, b in zip(found, found[1:])]


def match_cycle(intervals, cycle):
    """The phase at which the intervals follow the repeating cycle best, and the largest
    deviation in ms at that phase."""
    best = None
    for phase in range(len(cycle)):
        worst = max(
            (abs(iv - cycle[(phase + k) % len(cycle)]) for k, iv in enumerate(intervals)),
            default=0.0,
        )
        if best is None or worst < best[1]:
            best = (phase, worst)
    return best


def describe(found, samples=None):
    ivs = intervals_ms(found)
    gaps = dropouts(samples) if samples is not None else []
    if gaps:
        return ("audio dropouts at " + ", ".join(f"{g:.1f}" for g in gaps) + " ms; "
                + describe(found))
    return ("onsets at " + ", ".join(f"{o.ms:.1f}" for o in found) + " ms; intervals "
            + ", ".join(f"{iv:.1f}" for iv in ivs))


def loudness_ratio(a, b):
    return abs(math.log(max(a, 1) / max(b, 1)))
