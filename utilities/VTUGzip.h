// Gzip compression of request bodies and inflation of gzip or zlib streams, over zlib. Errors are
// of "com.veltro.VTUNSDataZlibErrorDomain". Plain functions of their input; thread-safe.
#pragma once

#include <optional>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

// Empty input gives nullopt and no error.
std::optional<platform::Bytes> vtu_dataByGzippingData(const platform::Bytes& data,
                                                      platform::ErrorPtr* error);
std::optional<platform::Bytes> vtu_dataByInflatingGzippedData(const platform::Bytes& data,
                                                              platform::ErrorPtr* error);
