#include "engine/search/search_targets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quorsel {
namespace {

// Addresses as text, to compare whole lists at a glance.
std::vector<std::string> Texts(const std::vector<Ipv4Address>& addresses) {
    std::vector<std::string> texts;
    for (const Ipv4Address& address : addresses) texts.push_back(FormatAddress(address));
    return texts;
}

struct ExpandCase {
    const char* name;
    std::vector<std::string> targets;
    size_t count;                     // addresses expected
    std::vector<std::string> first;   // the first addresses expected, in order
    std::string last;                 // the last address expected ("" : not checked)
    const char* errorPart;            // nullptr: no error expected
};

TEST(ExpandTargets, ExpandsAddressesAndRangesOrRefusesThem) {
    const std::vector<ExpandCase> cases = {
        {"single address", {"127.0.0.1"}, 1, {"127.0.0.1"}, "127.0.0.1", nullptr},
        {"/32 is the address", {"10.1.2.3/32"}, 1, {"10.1.2.3"}, "", nullptr},
        {"/31 has no network or broadcast", {"10.1.2.3/31"}, 2, {"10.1.2.2", "10.1.2.3"}, "", nullptr},
        {"/30 leaves both out", {"10.1.2.3/30"}, 2, {"10.1.2.1", "10.1.2.2"}, "", nullptr},
        {"/24 from a host address", {"10.79.1.77/24"}, 254, {"10.79.1.1", "10.79.1.2"}, "10.79.1.254", nullptr},
        {"/22", {"192.168.4.9/22"}, 1022, {"192.168.4.1"}, "192.168.7.254", nullptr},
        {"/20 is the widest that fits", {"10.0.0.0/20"}, 4094, {"10.0.0.1"}, "10.0.15.254", nullptr},
        {"each address once, in the order given",
         {"10.0.0.9", "10.0.0.8/30", "10.0.0.9"}, 2, {"10.0.0.9", "10.0.0.10"}, "", nullptr},
        {"a multicast range gives nothing", {"224.0.0.0/24", "10.0.0.1"}, 1, {"10.0.0.1"}, "", nullptr},
        {"0.0.0.0 alone", {"0.0.0.0"}, 0, {}, "", "never searched"},
        {"broadcast alone", {"255.255.255.255"}, 0, {}, "", "never searched"},
        {"multicast alone", {"224.0.0.251"}, 0, {}, "", "never searched"},
        {"/19 is too many", {"10.0.0.0/19"}, 0, {}, "", "at most 4096"},
        {"/8 is refused without expanding it", {"10.0.0.0/8"}, 0, {}, "", "16777214 addresses"},
        {"exactly 4096 in all", {"10.0.0.0/20", "10.0.16.0/30"}, 4096, {"10.0.0.1"}, "10.0.16.2", nullptr},
        {"4100 in all are too many", {"10.0.0.0/20", "10.0.16.0/29"}, 0, {}, "", "at most 4096"},
        {"three parts", {"10.0.1"}, 0, {}, "", "not an IPv4 address"},
        {"part above 255", {"10.0.0.256"}, 0, {}, "", "not an IPv4 address"},
        {"trailing text", {"10.0.0.1x"}, 0, {}, "", "not an IPv4 address"},
        {"host name", {"router.local"}, 0, {}, "", "not an IPv4 address"},
        {"prefix above 32", {"10.0.0.0/33"}, 0, {}, "", "prefix length"},
        {"empty prefix", {"10.0.0.0/"}, 0, {}, "", "prefix length"},
        {"signed prefix", {"10.0.0.0/-1"}, 0, {}, "", "prefix length"},
    };
    for (const ExpandCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TargetExpansion result = ExpandTargets(c.targets);
        if (c.errorPart != nullptr) {
            EXPECT_NE(result.error.find(c.errorPart), std::string::npos) << result.error;
            EXPECT_TRUE(result.addresses.empty());
            continue;
        }
        EXPECT_EQ(result.error, "");
        const std::vector<std::string> texts = Texts(result.addresses);
        ASSERT_EQ(texts.size(), c.count);
        for (size_t i = 0; i < c.first.size(); ++i) EXPECT_EQ(texts[i], c.first[i]);
        if (!c.last.empty()) {
            EXPECT_EQ(texts.back(), c.last);
        }
    }
}

struct DefaultCase {
    const char* name;
    std::vector<LocalSubnet> subnets;
    size_t count;  // with the factory address
    std::vector<std::string> present;
    std::vector<std::string> absent;
    const char* errorPart;
};

TEST(DefaultTargets, CapsEachSubnetLeavesOutOwnAddressesAndAddsTheFactoryAddress) {
    const std::vector<DefaultCase> cases = {
        {"no interfaces: the factory address alone", {}, 1, {"192.168.1.254"}, {}, nullptr},
        {"a /24 without the own address",
         {{{10, 79, 1, 5}, 24}}, 254, {"10.79.1.1", "10.79.1.254", "192.168.1.254"},
         {"10.79.1.5", "10.79.1.0", "10.79.1.255"}, nullptr},
        {"a /16 is capped at the /22 around the own address",
         {{{172, 16, 9, 200}, 16}}, 1022, {"172.16.8.1", "172.16.11.254"},
         {"172.16.7.254", "172.16.12.1", "172.16.9.200"}, nullptr},
        {"the factory address is in the subnet once",
         {{{192, 168, 1, 10}, 24}}, 253, {"192.168.1.254"}, {"192.168.1.10"}, nullptr},
        {"the own address of another interface is left out too",
         {{{10, 0, 0, 1}, 24}, {{10, 0, 0, 2}, 32}}, 253, {"10.0.0.3"}, {"10.0.0.1", "10.0.0.2"}, nullptr},
        {"five /22 are too many",
         {{{10, 0, 0, 1}, 8}, {{10, 1, 0, 1}, 8}, {{10, 2, 0, 1}, 8}, {{10, 3, 0, 1}, 8}, {{10, 4, 0, 1}, 8}},
         0, {}, {}, "at most 4096"},
    };
    for (const DefaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TargetExpansion result = DefaultTargets(c.subnets);
        if (c.errorPart != nullptr) {
            EXPECT_NE(result.error.find(c.errorPart), std::string::npos) << result.error;
            continue;
        }
        EXPECT_EQ(result.error, "");
        const std::vector<std::string> texts = Texts(result.addresses);
        EXPECT_EQ(texts.size(), c.count);
        for (const std::string& address : c.present) {
            EXPECT_EQ(std::count(texts.begin(), texts.end(), address), 1) << address;
        }
        for (const std::string& address : c.absent) {
            EXPECT_EQ(std::count(texts.begin(), texts.end(), address), 0) << address;
        }
    }
}

}  // namespace
}  // namespace quorsel
