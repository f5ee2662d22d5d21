// operation_params.h - the one record of transfer parameters, created zeroed at
// start-up and written by the dialog before it starts a worker that reads it.
#pragma once

#include <cstdint>

namespace ops {

struct OperationParams {
    uint32_t StartAddress;
    uint32_t Length;
    char FileName[256];
};

}  // namespace ops
