// An image file read the way the command line reads its inputs.
#pragma once

#include <unistd.h>

#include "files/files.h"

namespace rdsgen {

inline Status loadImageFile(const char* path, Image& image) {
    image = Image{};
    int descriptor = -1;
    if (Status status = openImageFile(path, descriptor); !status) return status;
    const Status status = readImageFile(descriptor, image, {}, 1, nameFormat(path));
    close(descriptor);
    return status;
}

}  // namespace rdsgen
