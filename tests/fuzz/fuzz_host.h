// A scripted CSI board read from fuzz input, for the targets that parse what the kernel
// presents (procfs and sysfs texts, directory listings, links, media entity names).
//
// The input is a list of fields separated by lines "~~"; a field's first line says what
// the rest of it is:
//   PATH            a text file served through openText (fmemopen: NULs kept)
//   dir PATH        a directory, one entry per line
//   link PATH       a symbolic link to the rest of the field
//   node PATH M:m   a character device node with that major:minor
//   entity [N]      a media entity (ids count up from 1) named by the rest of the field,
//                   with the sub-device node "/dev/v4l-subdevN" and its sysfs link when N
//   funcs           the I2C_FUNCS answer of every adapter, a number
//   @KEY            a parameter of the target, without the field's last line feed
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "tests/csi/fake_csi_host.h"

namespace Zelvo::fuzz {

class FuzzHost : public testing::FakeCsiHost {
public:
    FuzzHost(const uint8_t* data, size_t size);

    // The parameter @key, or empty.
    std::string parameter(const std::string& key) const;

    FILE* openText(const char* path, const char* mode) override;

private:
    std::map<std::string, std::string> files;
    std::map<std::string, std::string> parameters;
};

}  // namespace Zelvo::fuzz
