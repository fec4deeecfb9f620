// The marker every updater stub carries, found only whole; mkupdate itself
// does not carry it.
#include "payload/stub_marker.h"

#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "payload/payload_archive.h"
#include "testing/child_process.h"
#include "testing/mkupdate_fixture.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"
#include "testing/updater_world.h"

namespace {

TEST(StubMarkerTest, FoundOnlyWhole) {
  StubMarker marker = UnmaskedStubMarker();
  std::string bytes =
      std::string(1000, 'x') +
      std::string(reinterpret_cast<char*>(marker.bytes), kStubMarkerSize) + "y";
  const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
  EXPECT_TRUE(ContainsStubMarker(data, bytes.size()));
  EXPECT_FALSE(ContainsStubMarker(data, bytes.size() - 2));  // cut short
  EXPECT_FALSE(ContainsStubMarker(data + 1001, bytes.size() - 1001));
  bytes[1000 + kStubMarkerSize - 1] ^= 0x80;
  EXPECT_FALSE(ContainsStubMarker(data, bytes.size()));
  // The tool itself does not carry it: it could never pass for a stub.
  std::string tool = ReadFileOrEmpty(MKUPDATE_BINARY);
  ASSERT_GT(tool.size(), 0u);
  EXPECT_EQ(tool.find(std::string(reinterpret_cast<char*>(marker.bytes),
                                  kStubMarkerSize)),
            std::string::npos);
}

}  // namespace
