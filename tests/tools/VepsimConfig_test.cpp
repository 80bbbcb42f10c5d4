// vepsim's device file: a value of the wrong type or out of range is refused with the field's
// name and the device's index, before the simulator touches the network.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using ::testing::HasSubstr;

const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";

struct TOutcome {
  int ExitCode = -1;
  std::string Errors;
};

TOutcome RunWithConfig(const std::string& json) {
  const std::string base = ::testing::TempDir() + "vepsim-config-" + std::to_string(getpid());
  std::ofstream(base + ".json") << json;
  const std::string command = kVepsim + " --config " + base + ".json 2>" + base + ".log";
  const int status = std::system(command.c_str());
  std::ostringstream errors;
  errors << std::ifstream(base + ".log").rdbuf();
  unlink((base + ".json").c_str());
  unlink((base + ".log").c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, errors.str()};
}

TEST(VepsimConfig, ADhcpFlagMustBeTrueFalseOneOrZero) {
  for (const char* value : {"1e300", "0.5", "2", "-1", "\"yes\"", "null"}) {
    const TOutcome outcome =
        RunWithConfig(std::string(R"([{"mac": "00:0A:1B:2C:3D:4E", "dhcp": )") + value + "}]");
    EXPECT_EQ(outcome.ExitCode, 1) << value;
    EXPECT_THAT(outcome.Errors, HasSubstr("device 0: \"dhcp\" must be true, false, 1 or 0"))
        << value;
  }
}

TEST(VepsimConfig, TheRefusalNamesTheFieldAndTheDevicesIndex) {
  const TOutcome outcome = RunWithConfig(R"({"devices": [
      {"mac": "00:0A:1B:2C:3D:4E", "name": "AP-1"},
      {"mac": "00:0A:1B:2C:3D:4F", "name": 7}]})");
  EXPECT_EQ(outcome.ExitCode, 1);
  EXPECT_THAT(outcome.Errors, HasSubstr("device 1: \"name\" must be a text, not 7"));
}

TEST(VepsimConfig, AddressesAndHardwareAddressesAreChecked) {
  EXPECT_THAT(RunWithConfig(R"([{"mac": "00:0A:1B:2C:3D:4E", "ip": "10.0.0.300"}])").Errors,
              HasSubstr("device 0: bad ip '10.0.0.300'"));
  EXPECT_THAT(RunWithConfig(R"([{"mac": 5}])").Errors,
              HasSubstr("device 0: \"mac\" must be a text, not 5"));
  EXPECT_THAT(RunWithConfig(R"([{"name": "AP-1"}])").Errors,
              HasSubstr("device 0: \"mac\" is missing"));
  EXPECT_THAT(RunWithConfig(R"({"device": []})").Errors, HasSubstr("want \"devices\": [...]"));
  EXPECT_THAT(RunWithConfig("[{").Errors, HasSubstr("parse error"));
}

}  // namespace
