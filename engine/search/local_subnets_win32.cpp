// The machine's IPv4 subnets from the IP helper library (iphlpapi, a system DLL).
// Only its structures' sockaddr bytes are read: no Winsock 2 call is made.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <cstring>
#include <vector>

#include "engine/search/probe_network_win32.h"

namespace quorsel {

namespace {

constexpr ULONG FIRST_BUFFER_SIZE = 16 * 1024;
constexpr int BUFFER_TRIES = 3;  // the list may grow between the size query and the call

}  // namespace

std::vector<LocalSubnet> AdapterSubnets() {
    std::vector<LocalSubnet> subnets;
    constexpr ULONG FLAGS = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = FIRST_BUFFER_SIZE;
    std::vector<uint64_t> buffer;  // 8-byte aligned, as the adapter records need
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < BUFFER_TRIES && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.assign((size + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
        result = ::GetAdaptersAddresses(AF_INET, FLAGS, nullptr,
                                        reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) return subnets;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
            const SOCKADDR* address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET) continue;
            sockaddr_in ipv4{};
            std::memcpy(&ipv4, address, sizeof ipv4);
            LocalSubnet subnet;
            std::memcpy(subnet.address.data(), &ipv4.sin_addr, subnet.address.size());
            subnet.prefixLength = unicast->OnLinkPrefixLength;
            if (subnet.address[0] == 127) continue;  // loopback by address, whatever the adapter says
            subnets.push_back(subnet);
        }
    }
    return subnets;
}

}  // namespace quorsel
