// What an update run (its preview, its undo) did, counted where the run
// decides: one struct, kept by the run's batches, the same numbers the log's
// lines and the database show.
#pragma once

#include <chrono>
#include <vector>

#include "app/outage_watch.h"

namespace tolmar {

struct RunCounts {
    int patients = 0;          // rows of the patient list (an undo: the journal's saves to put back)
    int lookedUp = 0;          // lookups the register answered or failed
    int saved = 0;             // rows saved (a preview: rows that would be saved; an undo: rows put back)
    int unchanged = 0;         // found, and the row already as the register has it
    int notFound = 0;          // the register knows no such person
    int failedLookups = 0;     // a lookup that failed (no answer, a fault, a refused reply)
    int failedSaves = 0;       // a save the database refused
    int malformedNumbers = 0;  // no usable personal number (malformed, empty, the row gone)
    int sharedKeys = 0;        // a PATIENTNR on more than one row
    int notLookedUp = 0;       // rows the run did not reach, having stopped before them
    int restored = 0;          // an undo: rows put back
    int notRestored = 0;       // an undo: rows left alone (edited since, or gone)
    // The register's outages that held the run up, in wall-clock time.
    std::vector<OutageSpan<std::chrono::system_clock::time_point>> outages;
};

}  // namespace tolmar
