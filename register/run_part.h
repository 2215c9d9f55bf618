#pragma once

#include "register/run_result.h"
#include "register/run_settings.h"

#include <QString>

// A part of a long sequence counted on its own (tessel-count --frames FIRST:LAST), so that
// a recording too long for one run can be spread over many: parts that share their end
// frames ([0, 500], [500, 1000], ...) count, summed, what the whole run counts.
//
// Only the counting line counts in parts: a particle is counted in the frame in which it
// crosses the line, so a part owns the crossings of its frames FIRST + 1 .. LAST (and of
// frame FIRST too when it is the sequence's first frame). The part is read with up to
// kPartContext frames on either side, so that the particles crossing in its first and
// last frames are followed and sized as the whole run follows them; their counts are
// dropped. The rules for particles "already past the line" and "not yet at it" thus
// apply only at the sequence's real first and last frame.
constexpr int kPartContext = 40;

struct PartFrames {
    int first = 0;  // the frames read, indices of the whole sequence
    int last = -1;
};

// Whether the settings ask for a part; an "[ERRO] ..." text when they ask for one that
// cannot be counted (the frames of interest, a range outside the sequence), else empty.
bool IsPart(const RunSettings& settings);
QString PartProblem(const RunSettings& settings);

// The frames a part reads: its range with the context, within the sequence.
PartFrames PartFramesRead(const RunSettings& settings);

// The settings of the run that reads them: their frames only, the part no longer asked.
RunSettings PartReadSettings(const RunSettings& settings, const PartFrames& read);

// The result of that run made the part's: indices of the whole sequence, and only what
// the part owns (records by their counting frame, frames left out, faint frames, bands
// by their frame in FIRST .. LAST); frameCount the part's frames. Counters are left to
// the caller's recount.
void KeepPart(const RunSettings& settings, const PartFrames& read, RunResult& result);
