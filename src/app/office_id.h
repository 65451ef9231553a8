#pragma once

#include <string>

// The office's id (see app/office_id_text.h) as the run found it.
struct OfficeId {
    enum class Source {
        // Read back from the office folder.
        Kept,
        // Made now, for a missing or malformed file, and written there.
        New,
        // Made now but not written (a read-only folder or file, or a file that
        // cannot be read now, whose id is not overwritten): every such start
        // has an id of its own, which it keeps for its whole run.
        Unkept,
    };
    // Empty only when no random value could be had.
    std::string text;
    Source source = Source::Kept;
};

// Read from the office folder; a missing or malformed file is replaced by a
// new id from the system's random generator. Read once per run, so that the
// rollout's decision and the outcome reports name the same office.
OfficeId loadOfficeId();
