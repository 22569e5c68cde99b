// The stand-ins the other tests trust: the fake port's time-outs and the interface model's
// answers.
#include "tests/unit/harness.h"

namespace valdrix {
namespace {

Bytes Answer(InterfaceModel& model, Bytes in, std::uint32_t rate = 57600) {
  return model.Receive(in.data(), in.size(), rate);
}

TEST(InterfaceModel, AnswersAtItsOwnRateOnly) {
  InterfaceModel model;
  EXPECT_TRUE(Answer(model, {0xF0, 0xF0}, 9600).empty());
  const Bytes reply = Answer(model, {0xF0, 0xF0});
  ASSERT_EQ(reply.size(), 4u);
  EXPECT_EQ(reply[0], 0x02);
  EXPECT_EQ(Hex(Answer(model, {0xF2, 0xFD, 0x00, 0x0F})), "F2 FD 66 69");
}

TEST(InterfaceModel, StoresSetFramesAndIgnoresNoise) {
  InterfaceModel model;
  // A frame split over two writes, noise before it, a frame with a bad check byte after it.
  EXPECT_TRUE(Answer(model, {0x55, 0xF2, 0xF1}).empty());
  EXPECT_EQ(Hex(Answer(model, {0x09, 0x0A})), "F2 F1 09 0A");
  EXPECT_TRUE(Answer(model, {0xF2, 0xF1, 0x07, 0x00}).empty());
  EXPECT_EQ(model.Settings().base, 9);
  // A frame begun at the wrong rate is dropped.
  Answer(model, {0xF2, 0x01}, 19200);
  EXPECT_EQ(Hex(Answer(model, {0xF2, 0x01, 0xFF, 0x0C})), "F2 01 01 F2");
}

TEST(InterfaceModel, Faults) {
  InterfaceFaults faults;
  faults.badCheck = true;
  faults.forcedValue[SUB_XN_ADDRESS] = 40;
  InterfaceModel model({}, faults);
  EXPECT_EQ(Hex(Answer(model, {0xF2, 0x01, 0xFF, 0x0C})), "F2 01 28 24");
  model.Faults().noReplyTo = SUB_BASE_ADDRESS;
  EXPECT_TRUE(Answer(model, {0xF2, 0xF1, 0xFF, 0xFC}).empty());
}

TEST(FakePort, ReadTimeOutsFollowTheLineSettings) {
  InterfaceModel model;  // at 57600
  FakeSerial serial(&model);
  auto port = serial.OpenPort("COM3", 9600);
  ASSERT_TRUE(port);
  std::uint8_t buffer[4] = {};
  // Nothing comes: success, no bytes, 1000 + 4 ms.
  ReadResult r = port->ReadFrame(buffer, 4);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0u);
  EXPECT_EQ(serial.NowMs(), 1004u);
  // A reply comes within a few milliseconds and the read returns with it at once.
  port->SetPortRate(57600);
  const std::uint8_t query[2] = {0xF0, 0xF0};
  ASSERT_TRUE(port->WriteFrame(query, 2));
  r = port->ReadFrame(buffer, 4);
  EXPECT_EQ(r.count, 4u);
  EXPECT_LT(serial.NowMs(), 1004u + 10u);
  // A drain ends one second after the last byte.
  const std::uint8_t open[4] = {0xF2, 0xFF, 0x01, 0x0C};
  ASSERT_TRUE(port->WriteFrame(open, 4));
  const std::uint64_t sent = serial.NowMs();
  DrainPort(*port);
  EXPECT_GE(serial.NowMs() - sent, 1001u);
  EXPECT_LE(serial.NowMs() - sent, 1010u);
}

TEST(FakePort, OneOpenPortAtATime) {
  FakeSerial serial;
  auto first = serial.OpenPort("COM3", 9600);
  EXPECT_TRUE(first);
  EXPECT_FALSE(serial.OpenPort("COM3", 9600));
  first.reset();
  EXPECT_TRUE(serial.OpenPort("COM3", 9600));
  EXPECT_FALSE(serial.OpenPort("COM4", 9600));  // no such port
}

}  // namespace
}  // namespace valdrix
