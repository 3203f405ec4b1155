#include "engine/status_code.h"

namespace quorsel {

const char* StatusCodeName(StatusCode code) {
    switch (code) {
        case STATUS_NONE: return "STATUS_NONE";
        case STATUS_CONNECTING: return "STATUS_CONNECTING";
        case STATUS_TRANSFERRING: return "STATUS_TRANSFERRING";
        case STATUS_WRITING: return "STATUS_WRITING";
        case STATUS_CONNECT_FAILED: return "STATUS_CONNECT_FAILED";
        case STATUS_COMM_ERROR: return "STATUS_COMM_ERROR";
        case STATUS_WRITE_ERROR: return "STATUS_WRITE_ERROR";
        case STATUS_WRONG_MODEL: return "STATUS_WRONG_MODEL";
        case STATUS_FILE_ERROR: return "STATUS_FILE_ERROR";
        case STATUS_PROGRESS: return "STATUS_PROGRESS";
        case STATUS_SERIAL_PROGRESS: return "STATUS_SERIAL_PROGRESS";
        case STATUS_FLASH_WRITING: return "STATUS_FLASH_WRITING";
        case STATUS_ERASING: return "STATUS_ERASING";
        case STATUS_COMPLETE: return "STATUS_COMPLETE";
        case STATUS_BAD_PASSWORD: return "STATUS_BAD_PASSWORD";
        case STATUS_ABORTED: return "STATUS_ABORTED";
    }
    return "STATUS_NONE";
}

}  // namespace quorsel
