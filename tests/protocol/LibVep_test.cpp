// libvep.so as other programs meet it: a C program linked against it, a program that loads it
// at run time, and the symbols it exports.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "protocol/VEP.h"
#include "tests/support/NetnsBed.h"

namespace scoutor {
namespace {

const std::string kLibrary = SCOUTOR_BINARY_DIR "/protocol/libvep.so";
const std::string kCClient = SCOUTOR_BINARY_DIR "/tests/vep_c_client";
const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";

TEST(LibVep, ExportsExactlyTheTenFunctionsOfItsHeader) {
  FILE* pipe = popen(("nm -D --defined-only " + kLibrary).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> exported;
  char line[512];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream fields(line);
    std::string address, kind, name;
    fields >> address >> kind >> name;
    exported.insert(name);
  }
  pclose(pipe);
  const std::set<std::string> expected = {
      "VEPSetApplicationCallback", "VEPDiscover",      "VEPGetIP",          "VEPSetIP",
      "VEPMacToID",                "VEPUpgradeDevice", "VEPPingDevice",     "VEPChooseIPAddress",
      "VEPStartEngine",            "VEPProcessEvents"};
  EXPECT_EQ(exported, expected);
}

// A host on one segment with two simulated devices, one of them outside the host's subnet.
class LibVepNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    SCOUTOR_REQUIRE_NETNS();
    Host = Bed.AddHost("host");
    Devices = Bed.AddHost("devices");
    const std::string segment = Bed.AddSegment("lan");
    Bed.Attach(Host, segment, "eth0", "192.168.7.1/24");
    Bed.Attach(Devices, segment, "eth0", "192.168.7.20/24");
    Bed.Spawn(Devices,
              {kVepsim, "--device",
               "mac=00:0A:1B:2C:3D:4E,name=AP-1,type=Bridge,ip=192.168.7.20,mask=255.255.255.0,"
               "gw=0.0.0.0",
               "--device",
               "mac=00:0A:1B:2C:3D:4F,name=AP-2,type=Bridge,ip=10.9.9.9,mask=255.0.0.0,"
               "gw=0.0.0.0"});
  }

  test::TNetnsBed Bed;
  std::string Host;
  std::string Devices;
};

TEST_F(LibVepNetwork, ACProgramDiscoversDevicesThroughTheExportedFunctionsAlone) {
  const std::string output = Bed.Run(Host, kCClient);
  EXPECT_NE(output.find("00:0A:1B:2C:3D:4E 192.168.7.1 192.168.7.20 AP-1 Bridge"), std::string::npos)
      << output;
  EXPECT_NE(output.find("00:0A:1B:2C:3D:4F"), std::string::npos) << output;
}

// The functions a program looks up after loading the library at run time.
struct TLoadedVep {
  decltype(&VEPStartEngine) Start;
  decltype(&VEPSetApplicationCallback) SetCallback;
  decltype(&VEPDiscover) Discover;
  decltype(&VEPProcessEvents) ProcessEvents;
};

std::set<std::string> FoundIDs;
void CollectDevices(uint32_t event, void* record) {
  if (event == vepDeviceFound) FoundIDs.insert(static_cast<TVEPDeviceEvent*>(record)->ID);
}

TEST_F(LibVepNetwork, AProgramThatLoadsTheLibraryAtRunTimeDiscoversDevices) {
  Bed.InNamespace(Host, [&] {
    void* library = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    TLoadedVep vep{
        reinterpret_cast<decltype(&VEPStartEngine)>(dlsym(library, "VEPStartEngine")),
        reinterpret_cast<decltype(&VEPSetApplicationCallback)>(
            dlsym(library, "VEPSetApplicationCallback")),
        reinterpret_cast<decltype(&VEPDiscover)>(dlsym(library, "VEPDiscover")),
        reinterpret_cast<decltype(&VEPProcessEvents)>(dlsym(library, "VEPProcessEvents"))};
    ASSERT_TRUE(vep.Start && vep.SetCallback && vep.Discover && vep.ProcessEvents);
    ASSERT_EQ(vep.Start(), 1);
    vep.SetCallback(&CollectDevices, 0);
    for (int i = 0; i < 5 && FoundIDs.size() < 2; ++i) {
      vep.Discover();
      vep.ProcessEvents(500);
    }
    // The library stays loaded: its engine lives until the process ends.
  });
  EXPECT_EQ(FoundIDs, (std::set<std::string>{"00:0A:1B:2C:3D:4E", "00:0A:1B:2C:3D:4F"}));
}

}  // namespace
}  // namespace scoutor
