// The yardstick for the dialogs benchmark (scripts/bench-windows-dialogs.sh): the
// least a Windows Sockets 1.1 program can do to move one old-generation range.
// Blocking socket, one send per block and one recv per reply, no file, no
// descrambler, no threads, no dialogs. The range is zero bytes, so its checksum is
// the start sum alone and the access point accepts it.
//
//   quorsel_win32_bare_send_loop PORT START LENGTH
//
// Connects to 127.0.0.1:PORT; START and LENGTH (multiples of 4096) give the range.
// Exit status 0 when the access point answered the range's final "OK".
#include <windows.h>
#include <winsock.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t BLOCK_SIZE = 4096;
constexpr size_t HEADER_SIZE_OLD = 16;
constexpr DWORD REPLY_WAIT_MS = 30000;

void StoreLe(uint8_t* at, uint32_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Reads one reply line (up to '\n' or NUL), keeping what follows it for the next.
class Lines {
public:
    explicit Lines(SOCKET socket) : socket_(socket) {}
    bool Next(std::string& line) {
        for (;;) {
            for (size_t i = 0; i < fill_; ++i) {
                if (buffer_[i] == '\n' || buffer_[i] == '\0') {
                    line.assign(buffer_.data(), i);
                    std::memmove(buffer_.data(), buffer_.data() + i + 1, fill_ - i - 1);
                    fill_ -= i + 1;
                    return true;
                }
            }
            if (fill_ == buffer_.size()) return false;
            const int got = ::recv(socket_, buffer_.data() + fill_, static_cast<int>(buffer_.size() - fill_), 0);
            if (got <= 0) return false;
            fill_ += static_cast<size_t>(got);
        }
    }

private:
    SOCKET socket_;
    std::array<char, 1024> buffer_{};
    size_t fill_ = 0;
};

bool SendAll(SOCKET socket, const void* data, size_t n) {
    return ::send(socket, static_cast<const char*>(data), static_cast<int>(n), 0) == static_cast<int>(n);
}

int Fail(const char* step) {
    std::fprintf(stderr, "bare send loop: %s failed\n", step);
    return 1;
}

int Run(uint16_t port, uint32_t start, uint32_t length) {
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) return Fail("socket");
    const DWORD wait = REPLY_WAIT_MS;
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return Fail("connect");

    Lines lines(socket);
    std::string line;
    if (!SendAll(socket, "FLSH", 4) || !lines.Next(line) || line.rfind("OK", 0) != 0) return Fail("FLSH");

    // "_Flash", checksum, start, length; the checksum of zero bytes is the start sum.
    std::array<uint8_t, HEADER_SIZE_OLD> header{};
    std::memcpy(header.data(), "_Flash", 6);
    uint32_t sum = 0;
    for (int i = 0; i < 4; ++i) sum += ((start >> (8 * i)) & 0xFF) + ((length >> (8 * i)) & 0xFF);
    StoreLe(header.data() + 6, sum % 65535, 2);
    StoreLe(header.data() + 8, start, 4);
    StoreLe(header.data() + 12, length, 4);
    if (!SendAll(socket, header.data(), header.size()) || !lines.Next(line) || line.rfind("OK", 0) != 0) {
        return Fail("range header");
    }
    if (!lines.Next(line) || line.rfind("S", 0) != 0) return Fail("start line");

    std::array<char, BLOCK_SIZE> block{};
    for (uint32_t sent = 0; sent < length; sent += BLOCK_SIZE) {
        if (!SendAll(socket, block.data(), block.size()) || !lines.Next(line)) return Fail("data block");
    }
    if (!lines.Next(line) || line.rfind("E ", 0) != 0) return Fail("end line");
    if (!lines.Next(line) || line.rfind("OK", 0) != 0) return Fail("final OK");
    ::closesocket(socket);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: quorsel_win32_bare_send_loop PORT START LENGTH\n");
        return 2;
    }
    const unsigned long port = std::strtoul(argv[1], nullptr, 0);
    const unsigned long start = std::strtoul(argv[2], nullptr, 0);
    const unsigned long length = std::strtoul(argv[3], nullptr, 0);
    if (port == 0 || port > 65535 || start % BLOCK_SIZE != 0 || length % BLOCK_SIZE != 0) {
        std::fprintf(stderr, "quorsel_win32_bare_send_loop: bad port or range\n");
        return 2;
    }
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) return Fail("WSAStartup");
    const int status = Run(static_cast<uint16_t>(port), static_cast<uint32_t>(start), static_cast<uint32_t>(length));
    ::WSACleanup();
    return status;
}
