#include "engine/search/search_targets.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>
#include <unordered_set>

namespace quorsel {

namespace {

constexpr unsigned ADDRESS_BITS = 32;
// The widest prefix whose range still has a network and a broadcast address.
constexpr unsigned WIDEST_PREFIX_WITH_BROADCAST = 30;

uint32_t ToHost(const Ipv4Address& address) {
    return (uint32_t{address[0]} << 24) | (uint32_t{address[1]} << 16) | (uint32_t{address[2]} << 8) |
           uint32_t{address[3]};
}

Ipv4Address FromHost(uint32_t value) {
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

uint32_t MaskOf(unsigned prefixLength) {
    return prefixLength == 0 ? 0 : ~uint32_t{0} << (ADDRESS_BITS - prefixLength);
}

// Four decimal parts of one to three digits, each at most 255.
std::optional<uint32_t> ParseDotted(std::string_view text) {
    uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.') return std::nullopt;
            text.remove_prefix(1);
        }
        unsigned number = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
        const auto digits = static_cast<size_t>(end - text.data());
        if (ec != std::errc() || digits == 0 || digits > 3 || number > 255) return std::nullopt;
        value = (value << 8) | number;
        text.remove_prefix(digits);
    }
    if (!text.empty()) return std::nullopt;
    return value;
}

// Every address a search may probe lies in this one block: below it is 0.0.0.0/8,
// above it 224.0.0.0/4 (multicast), 240.0.0.0/4 and 255.255.255.255.
constexpr uint32_t FIRST_PROBED = 0x01000000;  // 1.0.0.0
constexpr uint32_t LAST_PROBED = 0xDFFFFFFF;   // 223.255.255.255
constexpr unsigned LAST_OCTET_MAX = 255;

constexpr const char* NEVER_PROBED_TEXT =
    "0.0.0.0/8, 224.0.0.0/4 (multicast), 240.0.0.0/4 and 255.255.255.255 are never searched";

// A range of addresses in host order, both ends included.
struct AddressRange {
    uint32_t first = 0;
    uint32_t last = 0;
    uint64_t Size() const { return uint64_t{last} - first + 1; }
};

AddressRange HostsOf(uint32_t address, unsigned prefixLength) {
    const uint32_t mask = MaskOf(prefixLength);
    AddressRange range{address & mask, (address & mask) | ~mask};
    if (prefixLength <= WIDEST_PREFIX_WITH_BROADCAST) {
        ++range.first;
        --range.last;
    }
    return range;
}

// The part of range a search may probe; nullopt when it holds no such address.
std::optional<AddressRange> Probed(AddressRange range) {
    range.first = std::max(range.first, FIRST_PROBED);
    range.last = std::min(range.last, LAST_PROBED);
    if (range.first > range.last) return std::nullopt;
    return range;
}

std::string TooMany(uint64_t count) {
    return "the search covers " + std::to_string(count) + " addresses; at most " +
           std::to_string(SEARCH_MAX_ADDRESSES) + " can be searched at once";
}

// How many distinct addresses the ranges hold together.
uint64_t UnionSize(std::vector<AddressRange> ranges) {
    std::sort(ranges.begin(), ranges.end(), [](const AddressRange& a, const AddressRange& b) {
        return a.first < b.first;
    });
    uint64_t total = 0;
    uint64_t covered = 0;  // one past the last address counted so far
    for (const AddressRange& range : ranges) {
        const uint64_t from = std::max<uint64_t>(range.first, covered);
        if (from <= range.last) total += uint64_t{range.last} - from + 1;
        covered = std::max<uint64_t>(covered, uint64_t{range.last} + 1);
    }
    return total;
}

// One target as written: the range it names, and whether it was a single address.
struct ParsedTarget {
    AddressRange range;
    bool single = false;
};

Result<ParsedTarget, std::string> ParseTarget(const std::string& target) {
    const std::string_view text(target);
    const size_t slash = text.find('/');
    const size_t dash = text.find('-');
    const size_t end = std::min(slash, dash);
    const auto address = ParseDotted(text.substr(0, end));
    if (!address) return Fail(target + ": not an IPv4 address or range (a.b.c.d, a.b.c.d/n or a.b.c.d-e)");
    if (end == std::string_view::npos) return ParsedTarget{{*address, *address}, true};

    const std::string_view number = text.substr(end + 1);
    unsigned value = 0;
    const auto [stop, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    const bool whole = ec == std::errc() && !number.empty() && stop == number.data() + number.size();
    if (end == slash) {
        if (!whole || value > ADDRESS_BITS) return Fail(target + ": the prefix length must be a number from 0 to 32");
        return ParsedTarget{HostsOf(*address, value), false};
    }
    const uint32_t firstOctet = *address & LAST_OCTET_MAX;
    if (!whole || number.size() > 3 || value > LAST_OCTET_MAX || value < firstOctet) {
        return Fail(target + ": the range's end must be a number from " + std::to_string(firstOctet) +
                    " to 255 (a.b.c.d-e)");
    }
    return ParsedTarget{{*address, (*address & ~uint32_t{LAST_OCTET_MAX}) | value}, false};
}

TargetExpansion Failed(std::string error) {
    TargetExpansion result;
    result.error = std::move(error);
    return result;
}

std::string Trimmed(std::string_view text) {
    constexpr std::string_view BLANKS = " \t\r\f\v";
    const size_t first = text.find_first_not_of(BLANKS);
    if (first == std::string_view::npos) return std::string();
    return std::string(text.substr(first, text.find_last_not_of(BLANKS) - first + 1));
}

}  // namespace

TargetExpansion ExpandTargets(const std::vector<std::string>& targets) {
    if (targets.empty()) return Failed("the target list holds no address");
    std::vector<AddressRange> ranges;
    std::vector<bool> single;
    for (const std::string& target : targets) {
        const auto parsed = ParseTarget(target);
        if (!parsed) return Failed(parsed.error());
        const std::optional<AddressRange> probed = Probed(parsed->range);
        if (!probed) {
            return Failed(target + (parsed->single ? ": " : ": holds only addresses that are never searched; ") +
                          NEVER_PROBED_TEXT);
        }
        ranges.push_back(*probed);
        single.push_back(parsed->single);
    }
    const uint64_t total = UnionSize(ranges);
    if (total > SEARCH_MAX_ADDRESSES) return Failed(TooMany(total));

    TargetExpansion result;
    std::unordered_set<uint32_t> seen;
    std::unordered_set<uint32_t> named;
    for (size_t i = 0; i < ranges.size(); ++i) {
        if (single[i] && named.insert(ranges[i].first).second) result.named.push_back(FromHost(ranges[i].first));
        for (uint64_t value = ranges[i].first; value <= ranges[i].last; ++value) {
            const auto address = static_cast<uint32_t>(value);
            if (seen.insert(address).second) result.addresses.push_back(FromHost(address));
        }
    }
    return result;
}

TargetExpansion DefaultTargets(const std::vector<LocalSubnet>& subnets) {
    TargetExpansion result;
    std::unordered_set<uint32_t> own;
    for (const LocalSubnet& subnet : subnets) own.insert(ToHost(subnet.address));
    std::unordered_set<uint32_t> seen(own);

    const uint32_t factory = ToHost(FACTORY_ADDRESS);
    // The factory address always has its place.
    const size_t budget = SEARCH_MAX_ADDRESSES - 1;
    for (const LocalSubnet& subnet : subnets) {
        unsigned prefixLength = std::min(subnet.prefixLength, ADDRESS_BITS);
        prefixLength = std::max(prefixLength, DEFAULT_TARGET_PREFIX_CAP);
        const uint32_t address = ToHost(subnet.address);
        const std::optional<AddressRange> range = Probed(HostsOf(address, prefixLength));
        if (!range) continue;
        std::vector<uint32_t> fresh;
        for (uint64_t value = range->first; value <= range->last; ++value) {
            const auto candidate = static_cast<uint32_t>(value);
            if (candidate != factory && seen.count(candidate) == 0) fresh.push_back(candidate);
        }
        const std::string name = FormatAddress(FromHost(address & MaskOf(prefixLength))) + "/" +
                                 std::to_string(prefixLength);
        if (result.addresses.size() + fresh.size() > budget) {
            result.leftOut.push_back(name);
            continue;
        }
        if (!fresh.empty()) result.subnets.push_back(name);
        for (const uint32_t value : fresh) {
            seen.insert(value);
            result.addresses.push_back(FromHost(value));
        }
    }
    if (own.count(factory) == 0) result.addresses.push_back(FACTORY_ADDRESS);
    return result;
}

Result<std::vector<std::string>, std::string> ReadTargetArguments(const std::vector<std::string>& arguments,
                                                                  const TargetFileReader& read) {
    std::vector<std::string> targets;
    for (const std::string& argument : arguments) {
        if (argument.empty() || argument.front() != '@') {
            targets.push_back(argument);
            continue;
        }
        const std::string path = argument.substr(1);
        if (path.empty()) return Fail(std::string("@: the target file's name is missing (@FILE, or @- for standard input)"));
        const Result<std::string, std::string> text = read(path);
        if (!text) return Fail(text.error());
        std::string_view rest(*text);
        while (!rest.empty()) {
            const size_t lineEnd = rest.find('\n');
            const std::string_view line = rest.substr(0, lineEnd);
            rest = lineEnd == std::string_view::npos ? std::string_view() : rest.substr(lineEnd + 1);
            const std::string target = Trimmed(line.substr(0, line.find('#')));
            if (!target.empty()) targets.push_back(target);
        }
    }
    return targets;
}

std::string FormatAddress(const Ipv4Address& address) {
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." + std::to_string(address[2]) + "." +
           std::to_string(address[3]);
}

}  // namespace quorsel
