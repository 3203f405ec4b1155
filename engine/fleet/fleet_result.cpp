#include "engine/fleet/fleet_result.h"

namespace quorsel {

const char* FleetResultName(FleetResult result) {
    switch (result) {
        case FleetResult::NONE:
            return "";
        case FleetResult::UPDATED:
            return "updated";
        case FleetResult::FAILED_BEFORE_WRITING:
            return "failed-before-writing";
        case FleetResult::FAILED_WHILE_WRITING:
            return "failed-while-writing";
        case FleetResult::STOPPED_BEFORE_START:
            return "stopped-before-start";
        case FleetResult::STOPPED:
            return "stopped";
        case FleetResult::SKIPPED_OTHER_MODEL:
            return "skipped-other-model";
        case FleetResult::NOT_AN_ACCESS_POINT:
            return "not-an-access-point";
        case FleetResult::NO_ANSWER:
            return "no-answer";
        case FleetResult::PLANNED:
            return "planned";
    }
    return "";
}

}  // namespace quorsel
