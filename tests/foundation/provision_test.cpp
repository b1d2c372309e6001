// A new simulated board as board QA leaves it, seen in its board folder.
#include "records/version.h"
#include "records/system_data.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace {

// The configuration record's image starts at EEPROM address 1024; its last
// 248 bytes are stored at addresses 0..247.
std::size_t eeprom_address(std::size_t image_offset)
{
    return image_offset < 1024 ? 1024 + image_offset : image_offset - 1024;
}

} // namespace

TEST(Provisioning, FirmwareVersionFieldHoldsOnlyTheVersion)
{
    sim::RunOptions o;
    o.board_dir = test::fresh_board_dir("provision-version");
    o.params["card_size_mib"] = "40";
    test::run_script(o, "", 1);
    auto eeprom = test::read_file(o.board_dir + "/eeprom.bin");
    ASSERT_EQ(eeprom.size(), 2048u);
    const std::size_t field = offsetof(systemData, qa) + offsetof(qaData, firmware_version);
    const std::size_t size = sizeof(qaData::firmware_version);
    ASSERT_EQ(eeprom_address(field) / 1024, eeprom_address(field + size - 1) / 1024) << "field is split";
    const uint8_t* stored = eeprom.data() + eeprom_address(field);
    const std::size_t len = std::strlen(FIRMWARE_VERSION_STR);
    EXPECT_EQ(std::memcmp(stored, FIRMWARE_VERSION_STR, len), 0);
    for (std::size_t i = len; i < size; ++i) {
        EXPECT_EQ(stored[i], 0) << "byte " << i << " of the field";
    }
}
