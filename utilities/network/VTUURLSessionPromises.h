// The promise form of a data task: the event transport sends its requests through it. The task
// starts on the promises' default queue; the promise settles on the session's delegate queue.
#pragma once

#include <memory>

#include "platform/network/URLSession.h"
#include "promises/PRMPromise.h"
#include "utilities/network/VTUURLSessionDataResponse.h"

// Fulfilled with a VTUURLSessionDataResponse (any HTTP status, 4xx and 5xx included), rejected
// with the task's error when the request got no response. A session that refuses the task
// (invalidated) rejects with kURLErrorUnknown of platform::kURLErrorDomain.
PRMPromisePtr vtu_dataTaskPromiseWithRequest(const std::shared_ptr<platform::URLSession>& session,
                                             const platform::URLRequest& request);
