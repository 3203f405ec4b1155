// Status codes the update run hands to its front-end.
#pragma once

namespace quorsel {

enum StatusCode : int {
    STATUS_NONE = 0,
    STATUS_CONNECTING = 256,
    STATUS_TRANSFERRING = 257,
    STATUS_WRITING = 258,
    STATUS_CONNECT_FAILED = 260,
    STATUS_COMM_ERROR = 261,
    STATUS_WRITE_ERROR = 262,
    STATUS_WRONG_MODEL = 263,
    STATUS_FILE_ERROR = 264,
    STATUS_PROGRESS = 266,
    STATUS_SERIAL_PROGRESS = 275,
    STATUS_FLASH_WRITING = 276,
    STATUS_ERASING = 277,
    STATUS_COMPLETE = 278,
    STATUS_BAD_PASSWORD = 279,
    STATUS_ABORTED = 288,
};

// True for the codes that end a run.
inline bool IsFinalStatus(int code) {
    switch (code) {
        case STATUS_CONNECT_FAILED:
        case STATUS_COMM_ERROR:
        case STATUS_WRITE_ERROR:
        case STATUS_WRONG_MODEL:
        case STATUS_FILE_ERROR:
        case STATUS_COMPLETE:
        case STATUS_BAD_PASSWORD:
        case STATUS_ABORTED:
            return true;
        default:
            return false;
    }
}

// "STATUS_COMPLETE" for 278, as the report and the run log name a code; "STATUS_NONE"
// for 0 and for a number that is no code.
const char* StatusCodeName(StatusCode code);

}  // namespace quorsel
