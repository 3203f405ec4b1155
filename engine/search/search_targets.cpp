#include "engine/search/search_targets.h"

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

bool IsMulticast(uint32_t value) { return (value >> 28) == 0xE; }

// Addresses that a search never probes, whatever range they stand in.
bool NeverProbed(uint32_t value) { return value == 0 || value == 0xFFFFFFFF || IsMulticast(value); }

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

std::string TooMany(uint64_t count) {
    return "the search covers " + std::to_string(count) + " addresses; at most " +
           std::to_string(SEARCH_MAX_ADDRESSES) + " can be searched at once";
}

// Collects addresses in order, each once, and says when there are too many.
class AddressCollector {
public:
    explicit AddressCollector(TargetExpansion& out) : out_(out) {}

    // Adds every probed address of range except those in skip. False (and the error
    // set) when the total passes SEARCH_MAX_ADDRESSES.
    bool AddRange(AddressRange range, const std::unordered_set<uint32_t>& skip = {}) {
        if (range.Size() > SEARCH_MAX_ADDRESSES) return Refuse(out_.addresses.size() + range.Size());
        for (uint64_t value = range.first; value <= range.last; ++value) {
            const auto address = static_cast<uint32_t>(value);
            if (NeverProbed(address) || skip.count(address) != 0) continue;
            if (!seen_.insert(address).second) continue;
            if (out_.addresses.size() == SEARCH_MAX_ADDRESSES) return Refuse(out_.addresses.size() + 1);
            out_.addresses.push_back(FromHost(address));
        }
        return true;
    }

private:
    bool Refuse(uint64_t count) {
        out_.addresses.clear();
        out_.error = TooMany(count);
        return false;
    }

    TargetExpansion& out_;
    std::unordered_set<uint32_t> seen_;
};

TargetExpansion Failed(std::string error) {
    TargetExpansion result;
    result.error = std::move(error);
    return result;
}

}  // namespace

TargetExpansion ExpandTargets(const std::vector<std::string>& targets) {
    TargetExpansion result;
    AddressCollector collector(result);
    for (const std::string& target : targets) {
        const std::string_view text(target);
        const size_t slash = text.find('/');
        const auto address = ParseDotted(text.substr(0, slash));
        if (!address) return Failed(target + ": not an IPv4 address or range (a.b.c.d or a.b.c.d/n)");

        unsigned prefixLength = ADDRESS_BITS;
        if (slash != std::string_view::npos) {
            const std::string_view prefix = text.substr(slash + 1);
            const auto [end, ec] = std::from_chars(prefix.data(), prefix.data() + prefix.size(), prefixLength);
            if (ec != std::errc() || end != prefix.data() + prefix.size() || prefix.empty() ||
                prefixLength > ADDRESS_BITS) {
                return Failed(target + ": the prefix length must be a number from 0 to 32");
            }
        } else if (NeverProbed(*address)) {
            return Failed(target + ": 0.0.0.0, 255.255.255.255 and multicast addresses are never searched");
        }
        if (!collector.AddRange(HostsOf(*address, prefixLength))) return result;
    }
    return result;
}

TargetExpansion DefaultTargets(const std::vector<LocalSubnet>& subnets) {
    TargetExpansion result;
    std::unordered_set<uint32_t> own;
    for (const LocalSubnet& subnet : subnets) own.insert(ToHost(subnet.address));

    AddressCollector collector(result);
    for (const LocalSubnet& subnet : subnets) {
        unsigned prefixLength = subnet.prefixLength > ADDRESS_BITS ? ADDRESS_BITS : subnet.prefixLength;
        if (prefixLength < DEFAULT_TARGET_PREFIX_CAP) prefixLength = DEFAULT_TARGET_PREFIX_CAP;
        if (!collector.AddRange(HostsOf(ToHost(subnet.address), prefixLength), own)) return result;
    }
    const uint32_t factory = ToHost(FACTORY_ADDRESS);
    collector.AddRange({factory, factory}, own);
    return result;
}

std::string FormatAddress(const Ipv4Address& address) {
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." + std::to_string(address[2]) + "." +
           std::to_string(address[3]);
}

}  // namespace quorsel
