// The port list's model with a scripted list of ports.
#include "ui/port_model.h"

#include <gtest/gtest.h>

#include "engine/serial_line.h"
#include "res/texts.h"

namespace quorsel {
namespace {

TEST(PortListModel, ListsOpenablePortsOnceAndSaysWhenThereIsNone) {
    PortListModel model;
    model.Load({});
    EXPECT_TRUE(model.rows().empty());
    EXPECT_EQ(model.StateText(), TEXT_PORT_LIST_NONE);
    EXPECT_FALSE(model.OkEnabled(0));

    model.Load({{"COM3", "Communications Port (COM3)"},
                {"COM7", "USB Serial Port (COM7)"},
                {"COM7", "USB Serial Port (COM7)"},
                {"CNCA0", "com0com - serial port emulator"},  // no COM number: cannot be opened
                {"COM300", "beyond COM256"}});
    ASSERT_EQ(model.rows().size(), 2u);
    EXPECT_EQ(model.rows()[1].description, "USB Serial Port (COM7)");
    EXPECT_EQ(model.StateText(), "");
    EXPECT_TRUE(model.OkEnabled(1));
    EXPECT_FALSE(model.OkEnabled(2));
    EXPECT_FALSE(model.OkEnabled(std::nullopt));
    EXPECT_FALSE(model.Choose(2));
}

TEST(PortListModel, ComOneToFourCheckARadioAnyOtherPortIsNamed) {
    PortListModel model;
    model.Load({{"COM3", ""}, {"COM12", ""}, {"/dev/ttyUSB0", "FT232R USB UART (ftdi_sio)"}});
    UpdateJob job;  // LAN, COM1
    ApplyPortChoice(*model.Choose(0), job);
    EXPECT_EQ(job.transport, TRANSPORT_SERIAL);
    EXPECT_EQ(job.comIndex, 2u);
    EXPECT_EQ(job.portName, "");
    EXPECT_EQ(PortGroupCaption(job.portName), TEXT_PORT_GROUP);
    EXPECT_EQ(JobPortText(job), "COM3");

    ApplyPortChoice(*model.Choose(1), job);
    EXPECT_EQ(job.portName, "COM12");
    EXPECT_FALSE(model.Choose(1)->comIndex);
    EXPECT_EQ(PortGroupCaption(job.portName), "ポート (COM12)");
    EXPECT_EQ(JobPortText(job), "COM12");

    // A device path is a port only where the platform opens ports by path.
    EXPECT_EQ(model.rows().size(), SerialDevicePathsAccepted() ? 3u : 2u);
    if (SerialDevicePathsAccepted()) {
        ApplyPortChoice(*model.Choose(2), job);
        EXPECT_EQ(job.portName, "/dev/ttyUSB0");
    }
    // Back to a radio: the name goes, the caption is the plain one again.
    ApplyPortChoice(*PortChoiceFor("com4"), job);
    EXPECT_EQ(job.comIndex, 3u);
    EXPECT_EQ(job.portName, "");
}

}  // namespace
}  // namespace quorsel
