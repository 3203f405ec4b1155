// How one access point of a fleet update ended, as the report, the table and the
// scan's JSON name it.
#pragma once

namespace quorsel {

enum class FleetResult {
    NONE,                   // not ended yet
    UPDATED,                // every range written and acknowledged
    FAILED_BEFORE_WRITING,  // nothing reached its flash (no connection, inquiry, password, model or header refused)
    FAILED_WHILE_WRITING,   // a header was accepted: its flash may be partly written
    STOPPED_BEFORE_START,   // the fleet stopped, or a rollout bound was reached, before its turn
    STOPPED,                // the fleet was stopped while this run was not busy
    SKIPPED_OTHER_MODEL,    // its model has no firmware file here
    NOT_AN_ACCESS_POINT,    // it answered the inquiry with something else
    NO_ANSWER,              // refused, silent, or no answer to the inquiry within the search's bounds
    PLANNED,                // a dry run: it would be updated
};

// "updated", "failed-before-writing", ...; "" for NONE.
const char* FleetResultName(FleetResult result);

}  // namespace quorsel
