// The FRAM on I2C0.
#include "sim/devices/fram.h"

#include "sim/devices/device_counters.h"

#include "platform/host/host_periph.h"
#include "platform/platform.h"

namespace sim {

namespace {

class Fram : public I2cTarget {
  public:
    bool i2c_start(bool receive) override
    {
        if (device_faults().fram_absent) {
            return false;
        }
        if (!receive) {
            expect_offset_ = true;
        }
        return true;
    }

    void i2c_write(uint8_t byte) override
    {
        if (expect_offset_) {
            offset_ = byte;
            expect_offset_ = false;
        } else {
            fram_image()[offset_] = byte;
            device_counters().fram_bytes_written++;
            offset_ = static_cast<uint8_t>(offset_ + 1); // 256-byte array wraps
        }
    }

    uint8_t i2c_read() override
    {
        uint8_t b = fram_image()[offset_];
        offset_ = static_cast<uint8_t>(offset_ + 1);
        return b;
    }

  private:
    bool expect_offset_ = false;
    uint8_t offset_ = 0;
};

Fram g_fram;

} // namespace

void fram_boot()
{
    g_fram = Fram{};
    i2c_attach(I2C0_BASE, FRAM_I2C_ADDRESS, &g_fram);
}

} // namespace sim
