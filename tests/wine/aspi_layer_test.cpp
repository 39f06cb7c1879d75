// The ASPI port against stand-in layers staged beside this program (see CMakeLists.txt).
#include <gtest/gtest.h>

#include "platform/win32/win32.h"
#include "platform/win32/win32_ports.h"

namespace {

namespace aspi = platform::aspi;

bool LayerInProcess() { return GetModuleHandleA("WNASPI32.dll") != nullptr; }

TEST(CompleteLayer, LoadsCallsThroughAndUnloadsOnce) {
  platform::win32::Win32AspiLayer layer;
  ASSERT_TRUE(layer.Load());
  EXPECT_TRUE(LayerInProcess());
  EXPECT_EQ(layer.GetSupportInfo(), (aspi::kSsComp << 8) | 2u);

  aspi::SrbExecScsiCmd srb{};
  std::uint8_t buffer[4] = {};
  srb.cmd = aspi::kScExecScsiCmd;
  srb.bufLen = sizeof buffer;
  srb.bufPointer = buffer;
  srb.cdb[0] = 0x12;
  EXPECT_EQ(layer.SendCommand(&srb), aspi::kSsComp);
  EXPECT_EQ(srb.status, aspi::kSsComp);
  EXPECT_EQ(buffer[0], 0x12);

  // Discovery loads the layer on every scan; one unload must still release it.
  ASSERT_TRUE(layer.Load());
  layer.Unload();
  EXPECT_FALSE(LayerInProcess());

  // Requests after the unload fail with a status instead of calling into a freed module.
  aspi::SrbExecScsiCmd late{};
  EXPECT_NE(layer.SendCommand(&late), aspi::kSsComp);
  EXPECT_NE(late.status, aspi::kSsComp);
  EXPECT_NE(late.status, aspi::kSsPending);
  EXPECT_EQ(layer.GetSupportInfo() >> 8 & 0xFF, 0u);
  layer.Unload();
}

TEST(PartialLayer, MissingEntryPointLeavesNothingLoaded) {
  platform::win32::Win32AspiLayer layer;
  EXPECT_FALSE(layer.Load());
  EXPECT_FALSE(LayerInProcess());
  EXPECT_EQ(layer.GetSupportInfo(), 0u);
  aspi::SrbExecScsiCmd srb{};
  EXPECT_NE(layer.SendCommand(&srb), aspi::kSsComp);
}

}  // namespace
