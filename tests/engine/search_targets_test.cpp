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
        {"overlapping ranges are merged", {"10.0.0.0/24", "10.0.0.128/25", "10.0.0.250-255"}, 255,
         {"10.0.0.1"}, "10.0.0.255", nullptr},
        {"a dash range takes the last part from d to e", {"10.0.0.7-9"}, 3, {"10.0.0.7", "10.0.0.8", "10.0.0.9"},
         "10.0.0.9", nullptr},
        {"a dash range of one", {"10.0.0.7-7"}, 1, {"10.0.0.7"}, "", nullptr},
        {"the top of the last block", {"223.255.255.254-255"}, 2, {"223.255.255.254", "223.255.255.255"}, "",
         nullptr},
        {"a range is counted without its reserved part", {"0.0.0.0/7"}, 0, {}, "", "16777215 addresses"},
        {"a multicast range holds nothing else", {"224.0.0.0/24", "10.0.0.1"}, 0, {}, "", "never searched"},
        {"0.0.0.0/32", {"0.0.0.0/32"}, 0, {}, "", "never searched"},
        {"255.255.255.255/32", {"255.255.255.255/32"}, 0, {}, "", "never searched"},
        {"224.0.0.1/32", {"224.0.0.1/32"}, 0, {}, "", "never searched"},
        {"0.0.0.0/8 is never probed", {"0.0.0.0/8"}, 0, {}, "", "never searched"},
        {"240.0.0.0/4 is never probed", {"240.0.0.0/4"}, 0, {}, "", "never searched"},
        {"an address in 0.0.0.0/8", {"0.1.2.3"}, 0, {}, "", "never searched"},
        {"an address in 240.0.0.0/4", {"250.1.2.3"}, 0, {}, "", "never searched"},
        {"0.0.0.0 alone", {"0.0.0.0"}, 0, {}, "", "never searched"},
        {"broadcast alone", {"255.255.255.255"}, 0, {}, "", "never searched"},
        {"multicast alone", {"224.0.0.251"}, 0, {}, "", "never searched"},
        {"no target at all", {}, 0, {}, "", "no address"},
        {"a dash range that runs backwards", {"10.0.0.9-7"}, 0, {}, "", "range's end"},
        {"a dash range past 255", {"10.0.0.9-256"}, 0, {}, "", "range's end"},
        {"a dash range without an end", {"10.0.0.9-"}, 0, {}, "", "range's end"},
        {"overlaps count once against the bound", {"10.0.0.0/20", "10.0.0.0/21", "10.0.15.0-255", "10.0.0.0"},
         4096, {"10.0.0.1"}, "10.0.0.0", nullptr},
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

TEST(ExpandTargets, NamesTheSingleAddressesOnly) {
    const TargetExpansion result = ExpandTargets({"10.0.0.5", "10.0.0.0/29", "10.0.0.3-4", "10.0.0.5", "10.0.0.2"});
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(Texts(result.named), (std::vector<std::string>{"10.0.0.5", "10.0.0.2"}));
    EXPECT_EQ(Texts(result.addresses),
              (std::vector<std::string>{"10.0.0.5", "10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.6"}));
}

struct DefaultCase {
    const char* name;
    std::vector<LocalSubnet> subnets;
    size_t count;  // with the factory address
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

TEST(DefaultTargets, CapsEachSubnetLeavesOutOwnAddressesAndAddsTheFactoryAddress) {
    const std::vector<DefaultCase> cases = {
        {"no interfaces: the factory address alone", {}, 1, {"192.168.1.254"}, {}},
        {"a /24 without the own address",
         {{{10, 79, 1, 5}, 24}}, 254, {"10.79.1.1", "10.79.1.254", "192.168.1.254"},
         {"10.79.1.5", "10.79.1.0", "10.79.1.255"}},
        {"a /16 is capped at the /22 around the own address",
         {{{172, 16, 9, 200}, 16}}, 1022, {"172.16.8.1", "172.16.11.254"},
         {"172.16.7.254", "172.16.12.1", "172.16.9.200"}},
        {"the factory address is in the subnet once",
         {{{192, 168, 1, 10}, 24}}, 253, {"192.168.1.254"}, {"192.168.1.10"}},
        {"the own address of another interface is left out too",
         {{{10, 0, 0, 1}, 24}, {{10, 0, 0, 2}, 32}}, 253, {"10.0.0.3"}, {"10.0.0.1", "10.0.0.2"}},
        {"two addresses in one subnet search it once",
         {{{10, 0, 0, 1}, 24}, {{10, 0, 0, 2}, 24}}, 253, {"10.0.0.3"}, {"10.0.0.1", "10.0.0.2"}},
    };
    for (const DefaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TargetExpansion result = DefaultTargets(c.subnets);
        EXPECT_EQ(result.error, "");
        EXPECT_TRUE(result.leftOut.empty());
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

TEST(DefaultTargets, BeyondTheBoundTakesWholeSubnetsFirstAddressFirstAndNamesTheRest) {
    // A /24 (the access points), five /16 bridges capped at /22 (1022 each), then a
    // /30 that still fits: 254 + 4 * 1022 = 4342 would pass 4096.
    const std::vector<LocalSubnet> subnets = {
        {{192, 168, 10, 5}, 24}, {{172, 17, 0, 1}, 16}, {{172, 18, 0, 1}, 16}, {{172, 19, 0, 1}, 16},
        {{172, 20, 0, 1}, 16}, {{172, 21, 5, 1}, 16}, {{10, 9, 9, 1}, 30}};
    const TargetExpansion result = DefaultTargets(subnets);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.leftOut, (std::vector<std::string>{"172.20.0.0/22", "172.21.4.0/22"}));
    const std::vector<std::string> texts = Texts(result.addresses);
    // 253 + 3 * 1021 + 1 (10.9.9.2) + the factory address.
    EXPECT_EQ(texts.size(), 253u + 3u * 1021u + 1u + 1u);
    EXPECT_LE(texts.size(), SEARCH_MAX_ADDRESSES);
    EXPECT_EQ(texts.front(), "192.168.10.1");
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "10.9.9.2"), 1);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "172.20.0.2"), 0);
    EXPECT_EQ(texts.back(), "192.168.1.254");

    // The first address's subnet is taken even when a wide one comes second.
    const TargetExpansion wideLater = DefaultTargets({{{10, 0, 0, 1}, 24}, {{10, 4, 0, 1}, 8}});
    EXPECT_TRUE(wideLater.leftOut.empty());
    EXPECT_EQ(wideLater.addresses.size(), 253u + 1021u + 1u);
}

// A reader over a fixed set of files; any other name is missing.
TargetFileReader FilesReader(std::vector<std::pair<std::string, std::string>> files) {
    return [files](const std::string& path) -> Result<std::string, std::string> {
        for (const auto& [name, text] : files) {
            if (name == path) return text;
        }
        return Fail(path + ": no such file");
    };
}

TEST(ReadTargetArguments, ReplacesEachFileByItsTargetsAndStopsAtOneThatCannotBeRead) {
    const TargetFileReader read =
        FilesReader({{"list", "# access points\n10.0.0.2\r\n\n  10.0.1.0/24  # second floor\n\t\n10.0.2.1-9"},
                     {"-", "10.0.3.4\n"},
                     {"empty", "# nothing here\n\n"}});
    const auto targets = ReadTargetArguments({"10.0.0.1", "@list", "@-", "@empty", "10.0.9.9"}, read);
    ASSERT_TRUE(targets.ok()) << targets.error();
    EXPECT_EQ(*targets, (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.1.0/24", "10.0.2.1-9", "10.0.3.4",
                                                  "10.0.9.9"}));

    const auto onlyEmpty = ReadTargetArguments({"@empty"}, read);
    ASSERT_TRUE(onlyEmpty.ok());
    EXPECT_TRUE(onlyEmpty->empty());
    // What an empty file leaves is no target, which the expansion refuses.
    EXPECT_NE(ExpandTargets(*onlyEmpty).error, "");

    const auto missing = ReadTargetArguments({"10.0.0.1", "@gone", "@list"}, read);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), "gone: no such file");
    EXPECT_FALSE(ReadTargetArguments({"@"}, read).ok());
}

}  // namespace
}  // namespace quorsel
