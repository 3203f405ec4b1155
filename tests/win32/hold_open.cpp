// quorsel-hold-open.exe FILE RELEASE: holds FILE open for writing (other programs
// may still read and write it, as an editor or a copy in progress would allow) until
// the file RELEASE appears. Prints "held" once the file is open. Exit status 0 when
// released, 1 when the hold ran out, 2 when FILE could not be opened. The Windows
// end-to-end tests use it as "another program that has the file open for writing".
#include <windows.h>

#include <cstdio>

namespace {

// The longest a hold lasts, should the test never release it.
constexpr DWORD HOLD_MAX_MS = 600000;
constexpr DWORD POLL_MS = 20;

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quorsel-hold-open FILE RELEASE\n");
        return 2;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "quorsel-hold-open: cannot open the file (error %lu)\n", GetLastError());
        return 2;
    }
    std::printf("held\n");
    std::fflush(stdout);
    int status = 1;
    for (DWORD waited = 0; waited < HOLD_MAX_MS; waited += POLL_MS) {
        if (GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES) {
            status = 0;
            break;
        }
        Sleep(POLL_MS);
    }
    CloseHandle(file);
    return status;
}
