#include <gtest/gtest.h>

#include "VOQ.h"

using namespace VOQ;

TEST(Protocol, Names) {
    EXPECT_STREQ(PacketSpeciesName(8), "UnknownPacketSpecies");
    EXPECT_STREQ(PacketSpeciesName(-1), "UnknownPacketSpecies");
    EXPECT_STREQ(PacketSpeciesName(4), "ExtendedData");
    EXPECT_STREQ(ExtendedDataSubtypeName(20), "AccelerometerData");
    EXPECT_STREQ(ExtendedDataSubtypeName(21), "UnknownExtendedDataSubtype");
    EXPECT_STREQ(CommandDestinationName(2), "Slave");
    EXPECT_STREQ(CommandDestinationName(3), "UnknownCommandDestination");
    EXPECT_STREQ(CommandFamilyName(0xEC), "Echo");
    EXPECT_STREQ(CommandFamilyName(20), "UnknownCommandFamily");
    EXPECT_STREQ(SourceIDName(0), "NR");
    EXPECT_STREQ(SourceIDName(1), "Fp1");
    EXPECT_STREQ(SourceIDName(126), "G");
    EXPECT_STREQ(SourceIDName(127), "U127");
    EXPECT_STREQ(SourceIDName(128), "U128");
    EXPECT_STREQ(SourceIDName(129), "UnknownSourceID");
    EXPECT_STREQ(SourceIDName(254), "UnknownSourceID");
    EXPECT_STREQ(SourceIDName(255), "NC");
    EXPECT_STREQ(SourceIDName(256), "TRG");
    EXPECT_STREQ(SourceIDName(267), "TRG7");
    EXPECT_STREQ(SourceIDName(270), "ACCY");
    EXPECT_STREQ(SourceIDName(271), "ACCZ");
    EXPECT_STREQ(SourceIDName(272), "UnknownSourceID");
    EXPECT_STREQ(SourceIDName(SourceID::TP10), "TP10");
    EXPECT_STREQ(SourceIDName(SourceID::Pz), "Pz");
}

TEST(Protocol, Alarms) {
    EXPECT_STREQ(AlarmName(512), "UnknownAlarm");
    EXPECT_STREQ(AlarmMessage(512), "Unknown Alarm Code = %d");
    EXPECT_STREQ(AlarmName(564), "UnknownAlarm");
    EXPECT_STREQ(AlarmMessage(1600), "UnknownAlarm");
    EXPECT_STREQ(AlarmName(563), "ConnectionCreated");
    EXPECT_STREQ(AlarmName(1547), "Slave_CalibrationTimeout");
    EXPECT_STREQ(AlarmMessage(515), "Unassigned interrupt detected. Interrupt vector [%d] disabled:");
    EXPECT_STREQ(AlarmMessage(1564), "Data Acquisition system state change to state [0x%d]");
    EXPECT_STREQ(AlarmMessage(527), "Battery voltage: battery 1 = %d%%, battery 2 = %d%%; counts: %d, %d");
    EXPECT_STREQ(AlarmMessage(1567), "Output packet too big. Was [%d] bytes of type [%d]. limit is [%d] bytes");
}

TEST(Protocol, CRC) {
    EXPECT_EQ(CRC16("123456789", 9), 0xFEE8);
    EXPECT_EQ(CRC16("abc", 3), 0xCADB);
    EXPECT_EQ(CRC16(nullptr, 0), 0);
    EXPECT_EQ(CRCTABLE[0], 0x0000);
    EXPECT_EQ(CRCTABLE[1], 0x8005);
    EXPECT_EQ(CRCTABLE[2], 0x800F);
    EXPECT_EQ(CRCTABLE[3], 0x000A);
}

TEST(Protocol, CommandLayoutAndDescription) {
    Command empty(CommandDestination::Master, CommandFamily::DeviceIdentification);
    EXPECT_EQ(empty.packetLength, 6u);
    EXPECT_EQ(empty.packet[0], 5);
    empty.Sign(300);
    EXPECT_EQ(empty.packet[5], 300 & 0xFF);
    EXPECT_EQ(ReadU16LE(empty.packet + 2), CRC16(empty.packet + 4, 2));

    const uint8_t payload[] = {0x01, 0xA0};
    Command c(CommandDestination::Master, CommandFamily::SerialNumberAndSensorCount, payload, 2);
    c.Sign(7);
    EXPECT_EQ(c.Description(), "command 7: Master.SerialNumberAndSensorCount( 01 A0 )");
    EXPECT_EQ(c.packet[0], 7);
    EXPECT_EQ(c.packet[1], 1);
    EXPECT_EQ(c.packet[4], 0x28);
    EXPECT_EQ(c.packetLength, 8u);
    Command e(CommandDestination::Slave, CommandFamily::Echo);
    e.Sign(0);
    EXPECT_EQ(e.Description(), "command 0: Slave.Echo()");
}

TEST(Protocol, CommandRefusesOversizedPayload) {
    std::vector<uint8_t> big(300, 0x55);
    Command c;
    EXPECT_THROW(c.Init(CommandDestination::Master, CommandFamily::Echo, big.data(), big.size()), Error);
    EXPECT_NO_THROW(c.Init(CommandDestination::Master, CommandFamily::Echo, big.data(), 250));
    EXPECT_EQ(c.packet[0], 255);
    EXPECT_EQ(c.packetLength, 256u);
}

TEST(Protocol, InitFromPacket) {
    uint8_t raw[8] = {7, 2, 0, 0, 0xDA, 9, 1, 0};
    Command c;
    c.Init(raw, sizeof raw);
    EXPECT_EQ(c.payloadLength, 2u);
    EXPECT_EQ(c.Description(), "command 9: Slave.ImpedanceDriverMode( 01 00 )");
}

TEST(Protocol, LittleEndianRecords) {
    const uint8_t bytes[] = {56, 3, 0x10, 0x27, 0, 0, 200, 0xA5, 0xFF, 0xFF, 0x01, 0x80};
    PacketHeaderStruct header = PacketHeaderStruct::Decode(bytes);
    EXPECT_EQ(header.length, 56);
    EXPECT_EQ(header.species, 3);
    EXPECT_EQ(header.timeStamp, 10000u);
    uint8_t full[56] = {};
    std::copy(bytes, bytes + sizeof bytes, full);
    DataPacketStruct data;
    DataPacketStruct::Decode(full, data);
    EXPECT_EQ(data.sequenceNumber, 200);
    EXPECT_EQ(data.trigger, 0xA5);
    EXPECT_EQ(data.readings[0], -1);
    EXPECT_EQ(data.readings[1], -32767);
}

TEST(Protocol, SanityCheckPasses) { EXPECT_NO_THROW(SanityCheck()); }
