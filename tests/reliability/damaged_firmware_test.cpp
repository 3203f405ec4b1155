// Damaged firmware files: every way the container can be cut short, lie about its
// lengths, fail its sum, have the wrong size or name an unknown model, and a file
// that shrinks after its size was looked up. Each one ends the run with
// STATUS_FILE_ERROR before anything is connected, opened or asked, and leaves no
// descriptor behind. A file that shrinks while a range is being sent never ends
// in STATUS_COMPLETE.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "common/le_bytes.h"
#include "tests/reliability/process_probe.h"
#include "tests/reliability/run_harness.h"
#include "tests/support/container_builder.h"
#include "tests/support/fake_network.h"
#include "tests/support/fake_serial_line.h"
#include "tests/support/temp_dir.h"

namespace quorsel::testing {
namespace {

constexpr size_t PREFIX = 512;
constexpr size_t LOADER = 300;
constexpr size_t HEADER_AT = PREFIX;            // signature, loaderLength, imageLength, byteSum
constexpr size_t LOADER_AT = HEADER_AT + 20;
constexpr size_t IMAGE_AT = LOADER_AT + LOADER;
constexpr size_t FILE_END = IMAGE_AT + MIB2;

using Bytes = std::vector<uint8_t>;

Bytes Cut(const Bytes& bytes, size_t size) { return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)); }

// The header's sum made to match loaderLength + imageLength bytes after the header again.
void Resum(Bytes& bytes) {
    const uint64_t count = uint64_t{LoadLe32(&bytes[HEADER_AT + 8])} + LoadLe32(&bytes[HEADER_AT + 12]);
    uint32_t sum = 0;
    for (uint64_t i = LOADER_AT; i < LOADER_AT + count && i < bytes.size(); ++i) sum += bytes[i];
    StoreLe32(&bytes[HEADER_AT + 16], sum);
}

Bytes WithField(Bytes bytes, size_t field, uint32_t value, bool resum) {
    StoreLe32(&bytes[HEADER_AT + field], value);
    if (resum) Resum(bytes);
    return bytes;
}

// A well-formed container around another plain image.
Bytes ContainerOf(const Bytes& plainImage, Bytes suffix = {}) {
    ContainerParts parts = MakeContainerParts(plainImage, PseudoRandomBytes(LOADER, 4), ExecutableLikeBytes(PREFIX, 2));
    parts.suffix = std::move(suffix);
    return BuildContainerFile(parts);
}

struct Damage {
    const char* name;
    std::function<Bytes(const FirmwareFile&)> make;  // the file as written
    std::optional<size_t> shrinkTo;                  // then cut to this size once it is open
};

std::vector<Damage> Damages() {
    std::vector<Damage> rows;
    auto cutAt = [&rows](const char* name, size_t size) {
        rows.push_back({name, [size](const FirmwareFile& good) { return Cut(good.bytes, size); }, std::nullopt});
    };
    auto shrinkAt = [&rows](const char* name, size_t size) {
        rows.push_back({name, [](const FirmwareFile& good) { return good.bytes; }, size});
    };
    rows.push_back({"empty file", [](const FirmwareFile&) { return Bytes{}; }, std::nullopt});
    rows.push_back({"the executable part alone", [](const FirmwareFile& good) { return Cut(good.bytes, PREFIX); },
                    std::nullopt});
    rows.push_back({"signature only",
                    [](const FirmwareFile& good) {
                        return Bytes(good.bytes.begin() + HEADER_AT, good.bytes.begin() + HEADER_AT + 8);
                    },
                    std::nullopt});
    rows.push_back({"first half of the signature, then the rest of the file",
                    [](const FirmwareFile& good) {
                        Bytes bytes = good.bytes;
                        bytes.erase(bytes.begin() + HEADER_AT + 4, bytes.begin() + HEADER_AT + 8);
                        return bytes;
                    },
                    std::nullopt});
    cutAt("cut after the signature", HEADER_AT + 8);
    cutAt("cut inside loaderLength", HEADER_AT + 10);
    cutAt("cut after loaderLength", HEADER_AT + 12);
    cutAt("cut inside imageLength", HEADER_AT + 14);
    cutAt("cut after imageLength", HEADER_AT + 16);
    cutAt("cut inside byteSum", HEADER_AT + 18);
    cutAt("cut after the header", LOADER_AT);
    cutAt("cut inside the loader", LOADER_AT + LOADER / 2);
    cutAt("cut after the loader", IMAGE_AT);
    cutAt("cut one byte into the image", IMAGE_AT + 1);
    cutAt("cut in the middle of the image", IMAGE_AT + MIB2 / 2);
    cutAt("cut before the trailer block", FILE_END - 4096);
    cutAt("cut inside the model code", FILE_END - 4096 + 0xFF3);
    cutAt("one byte short", FILE_END - 1);
    rows.push_back({"byte sum off by one",
                    [](const FirmwareFile& good) {
                        return WithField(good.bytes, 16, LoadLe32(&good.bytes[HEADER_AT + 16]) + 1, false);
                    },
                    std::nullopt});
    rows.push_back({"one image byte changed",
                    [](const FirmwareFile& good) {
                        Bytes bytes = good.bytes;
                        bytes[IMAGE_AT + 0x12345] ^= 0x40;
                        return bytes;
                    },
                    std::nullopt});
    rows.push_back({"loaderLength one too large, imageLength one too small, sum matching",
                    [](const FirmwareFile& good) {
                        return WithField(WithField(good.bytes, 8, LOADER + 1, false), 12, MIB2 - 1, true);
                    },
                    std::nullopt});
    rows.push_back({"loaderLength beyond the file",
                    [](const FirmwareFile& good) { return WithField(good.bytes, 8, 0xFFFFFFF0u, false); },
                    std::nullopt});
    rows.push_back({"imageLength beyond the file",
                    [](const FirmwareFile& good) { return WithField(good.bytes, 12, 0xFFFFFFFFu, false); },
                    std::nullopt});
    rows.push_back({"loaderLength + imageLength wrapping to the real length",
                    [](const FirmwareFile& good) {
                        // 0xFFFFFFFF + (LOADER + MIB2 + 1) is LOADER + MIB2 in 32 bits.
                        Bytes bytes = WithField(good.bytes, 8, 0xFFFFFFFFu, false);
                        return WithField(bytes, 12, static_cast<uint32_t>(LOADER + MIB2 + 1), false);
                    },
                    std::nullopt});
    rows.push_back({"image one block short",
                    [](const FirmwareFile&) { return ContainerOf(MakePlainImage(MIB2 - 4096, "KRV001", 9)); },
                    std::nullopt});
    rows.push_back({"image one byte long",
                    [](const FirmwareFile&) { return ContainerOf(MakePlainImage(MIB2, "KRV001", 9), Bytes{0x5A}); },
                    std::nullopt});
    rows.push_back({"image of 3 MiB",
                    [](const FirmwareFile&) { return ContainerOf(MakePlainImage(0x300000, "KRV001", 9)); },
                    std::nullopt});
    rows.push_back({"unknown model KRV002",
                    [](const FirmwareFile&) { return ContainerOf(MakePlainImage(MIB2, "KRV002", 9)); }, std::nullopt});
    rows.push_back({"model code in lower case",
                    [](const FirmwareFile&) { return ContainerOf(MakePlainImage(MIB2, "krv001", 9)); }, std::nullopt});
    rows.push_back({"model code blank",
                    [](const FirmwareFile&) { return ContainerOf(MakePlainImage(MIB2, "      ", 9)); }, std::nullopt});
    shrinkAt("shrinks to nothing once measured", 0);
    shrinkAt("shrinks into the signature once measured", HEADER_AT + 4);
    shrinkAt("shrinks into the header once measured", HEADER_AT + 19);
    shrinkAt("shrinks into the loader once measured", LOADER_AT + 10);
    shrinkAt("shrinks into the image once measured", IMAGE_AT + 10);
    shrinkAt("shrinks into the trailer once measured", FILE_END - 4096 + 0xFF0);
    shrinkAt("shrinks by one byte once measured", FILE_END - 1);
    return rows;
}

class DamagedFirmwareTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(good_.Make(dir_.File("good"), MIB2, "KRV001", LOADER, PREFIX)); }

    TempDir dir_;
    FirmwareFile good_;
};

TEST_F(DamagedFirmwareTest, EveryDamageIsAFileErrorBeforeAnyConnectionOrPrompt) {
    const std::string path = dir_.File("damaged");
    for (const Damage& damage : Damages()) {
        for (uint32_t transport : {0u, 1u}) {
            SCOPED_TRACE(std::string(damage.name) + (transport == 0 ? " (LAN)" : " (serial)"));
            ASSERT_TRUE(WriteBytes(path, damage.make(good_)));
            if (damage.shrinkTo) ShrinkOnNextOpen(path, *damage.shrinkTo);

            FakeNetwork network;
            FakeSerialPorts ports;
            FrontEnd front;
            const size_t descriptors = OpenDescriptorCount();
            ResetBadCloseCount();
            const StatusCode code = front.Run(ShortRunSettings(path, transport, 0x0030), network, ports);

            EXPECT_EQ(code, STATUS_FILE_ERROR);
            EXPECT_EQ(front.sink.codes(), std::vector<StatusCode>{STATUS_FILE_ERROR});
            EXPECT_EQ(front.sink.diagnostics().size(), 1u);
            EXPECT_TRUE(network.log().empty()) << "nothing may be connected";
            EXPECT_TRUE(ports.opens().empty()) << "no serial port may be opened";
            EXPECT_EQ(front.password.asked, 0);
            EXPECT_EQ(front.powerOn.shown, 0);
            EXPECT_FALSE(ShrinkPending()) << "the file was opened once";
            EXPECT_EQ(OpenDescriptorCount(), descriptors) << "the program file is closed again";
            EXPECT_EQ(BadCloseCount(), 0u);
        }
    }
}

TEST_F(DamagedFirmwareTest, TheUndamagedFileAndASignatureAtOffsetZeroStillOpen) {
    // The table's damages are damages: the same file unharmed completes a serial run.
    for (size_t prefix : {PREFIX, size_t{0}}) {
        SCOPED_TRACE("prefix " + std::to_string(prefix));
        FirmwareFile file;
        ASSERT_TRUE(file.Make(dir_.File("whole"), MIB2, "KRV001", LOADER, prefix));
        FakeNetwork network;
        FakeSerialPorts ports;
        ports.PrepareLines([](FakeSerialLine& line) {
            line.OnWrite([](const std::vector<uint8_t>& written) {
                if (written.size() == 1 && written[0] == 'X') return Answer({'*', 'C'});
                if (written.size() == 1 && written[0] == 0x04) return Answer({0x06, 'E', 'P', 'F'});
                return Answer({0x06});
            });
        });
        FrontEnd front;
        EXPECT_EQ(front.Run(ShortRunSettings(file.path, 1, 0x0002), network, ports), STATUS_COMPLETE);
    }
}

TEST_F(DamagedFirmwareTest, ASerialLoaderOfMoreThan4096BytesEndsBeforeThePortIsOpened) {
    FirmwareFile file;
    ASSERT_TRUE(file.Make(dir_.File("long-loader"), MIB2, "KRV001", 4097, PREFIX));
    FakeNetwork network;
    FakeSerialPorts ports;
    FrontEnd front;
    const size_t descriptors = OpenDescriptorCount();
    EXPECT_EQ(front.Run(ShortRunSettings(file.path, 1, 0x0030), network, ports), STATUS_FILE_ERROR);
    EXPECT_TRUE(ports.opens().empty());
    EXPECT_EQ(front.powerOn.shown, 0);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST_F(DamagedFirmwareTest, ALoaderThatShrinksWhileThePasswordIsAskedIsAFileErrorBeforeThePort) {
    FakeNetwork network;
    FakeSerialPorts ports;
    FrontEnd front;
    front.password.onAsk = [&] { ASSERT_EQ(::truncate(good_.path.c_str(), LOADER_AT + 10), 0); };
    const size_t descriptors = OpenDescriptorCount();
    EXPECT_EQ(front.Run(ShortRunSettings(good_.path, 1, 0x0030), network, ports), STATUS_FILE_ERROR);
    EXPECT_EQ(front.password.asked, 1);
    EXPECT_TRUE(ports.opens().empty());
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

// The file loses its tail while a range is on its way: the access point was promised
// `length` bytes and got fewer, so the run must not report the range as written,
// even to a peer that confirms whatever it gets.
TEST_F(DamagedFirmwareTest, AFileThatShrinksDuringALanRangeIsNeverReportedAsWritten) {
    FakeNetwork network;
    FakeSerialPorts ports;
    auto inquiry = network.AddPeer();
    inquiry->AwaitSend().Deliver("KRV0012\n");
    // A careless peer: it confirms the range after the four blocks it got.
    auto range = network.AddPeer();
    range->AwaitSend().Deliver("OK\n").AwaitSend().Deliver("OK\n").Deliver("S\n");
    for (int block = 0; block < 4; ++block) range->AwaitSend().Deliver("C \n");
    range->Deliver("E \n").Deliver("OK\n");

    FrontEnd front;
    const size_t cut = IMAGE_AT + 0xB000 + 3 * 4096 + 100;  // region 4 starts at 0xB000
    front.sink.onNotify = [&](StatusCode code, const TransferCounters&) {
        if (code == STATUS_WRITING) {
            ASSERT_EQ(::truncate(good_.path.c_str(), static_cast<off_t>(cut)), 0);
        }
    };
    const StatusCode code = front.Run(ShortRunSettings(good_.path, 0, 0x0010), network, ports);
    EXPECT_EQ(code, STATUS_FILE_ERROR);
    EXPECT_EQ(front.sink.Count(STATUS_COMPLETE), 0u);
    size_t sent = 0;
    for (size_t i = 2; i < range->sends().size(); ++i) sent += range->sends()[i].size();
    EXPECT_EQ(sent, 3u * 4096 + 100) << "what the file still had went out, nothing more";
    EXPECT_EQ(network.streamsOpen(), 0);
    EXPECT_EQ(network.librariesHeld(), 0);
}

TEST_F(DamagedFirmwareTest, AFileThatShrinksDuringASerialRangeIsNeverReportedAsWritten) {
    FakeNetwork network;
    FakeSerialPorts ports;
    ports.PrepareLines([](FakeSerialLine& line) {
        line.OnWrite([](const std::vector<uint8_t>& written) {
            if (written.size() == 1 && written[0] == 'X') return Answer({'*', 'C'});
            if (written.size() == 1 && written[0] == 0x04) return Answer({0x06, 'E', 'P', 'F'});
            return Answer({0x06});
        });
    });
    FrontEnd front;
    const size_t cut = IMAGE_AT + 0xB000 + 5000;
    front.sink.onNotify = [&](StatusCode code, const TransferCounters&) {
        if (code == STATUS_TRANSFERRING) {
            ASSERT_EQ(::truncate(good_.path.c_str(), static_cast<off_t>(cut)), 0);
        }
    };
    const StatusCode code = front.Run(ShortRunSettings(good_.path, 1, 0x0010), network, ports);
    EXPECT_EQ(code, STATUS_FILE_ERROR);
    EXPECT_EQ(front.sink.Count(STATUS_COMPLETE), 0u);
    ASSERT_EQ(ports.lines().size(), 1u);
    EXPECT_TRUE(ports.lines()[0]->released());
}

}  // namespace
}  // namespace quorsel::testing
