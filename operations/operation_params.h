// operation_params.h - the one record of transfer parameters, created zeroed at
// start-up and written by the dialog before it starts a worker that reads it.
#pragma once

#include <cstdint>

#include "platform/path_text.h"

namespace ops {

struct OperationParams {
    uint32_t StartAddress;
    uint32_t Length;
    // The transfer file's path as the file calls take it (UTF-8 on Windows,
    // the bytes given on Linux): at most 255 characters, like the edit's text.
    char FileName[platform::kPathBytes];
};

}  // namespace ops
