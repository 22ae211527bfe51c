// What the guest suite asks the guest's kernel itself, outside the driver: the vivid
// capture nodes and their set-up, vivid's error-injection controls, the I2C adapters,
// and the descriptors and mappings of this process.
#pragma once

#include <string>
#include <vector>

namespace Zelvo::guest {

// Indexes N of the vivid capture nodes /dev/videoN, in order.
std::vector<int> vividCaptureNodes();

// Puts the node into the sensor's mode: input 0, 240 x 180 timings in short bursts of
// frames, 12-bit greyscale. "" or what failed.
std::string prepareVividNode(int index);

// Sets the vivid control of that name (a button is pressed) through a descriptor of the
// suite's own. "" or what failed, with the names the node offers.
std::string setVividControl(int index, const std::string& name, int value = 1);

struct AdapterFunctions {
    int bus = -1;
    std::string name;
    unsigned long functions = 0;
};
// Every I2C adapter, from sysfs, with what I2C_FUNCS answers for it.
std::vector<AdapterFunctions> i2cAdapters();
// The first adapter offering plain I2C transfers, or -1.
int plainI2cBus();

// Descriptors of this process whose target starts with prefix ("" for all of them).
int openDescriptors(const std::string& prefix = "");
// Mappings of this process whose line names text.
int mappingsNaming(const std::string& text);

// The value of name=value on the kernel's command line, or "".
std::string kernelArgument(const std::string& name);

}  // namespace Zelvo::guest
