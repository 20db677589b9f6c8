// Helpers shared by the promise library's sources: recognising errors and promises inside values,
// contract-check reporting and settling a result from what a block returned. Not for callers
// outside promises/. Stateless; safe from any thread.
#pragma once

#include <string>
#include <utility>

#include "platform/base/Error.h"
#include "platform/base/Value.h"
#include "promises/PRMPromise.h"

namespace prm_detail {

// The promise dispatch group (the one PRMPromise::dispatchGroup() hands out), by reference.
platform::DispatchGroup& promiseGroup();

// Submits `block` to `queue` as a member of the promise dispatch group: the group is entered now
// and left once the block has run, even when it throws.
template <class Block>
void submitInGroup(platform::DispatchQueue& queue, Block&& block) {
  promiseGroup().enter();
  queue.async([block = std::forward<Block>(block)] {
    struct Leave {
      ~Leave() { promiseGroup().leave(); }
    } leave;
    block();
  });
}

// The error standing for the exception being handled (code kPRMPromiseErrorCodeThrownException,
// its text as the description): call only inside a catch block.
platform::ErrorPtr errorForCurrentException();
// Logs the exception being handled, saying where it escaped: for code that runs on the caller's
// thread, where no queue catches and logs it. Call only inside a catch block.
void logCurrentException(const std::string& where);

// Runs `block` for the promise `result`: whatever it throws rejects `result` (unless it has
// settled already) and is thrown on, so that the queue running the block logs it as it logs any
// block's. Returns what the block returns.
template <class Block>
decltype(auto) rejectingOnThrow(PRMPromise& result, Block&& block) {
  try {
    return std::forward<Block>(block)();
  } catch (...) {
    result.reject(errorForCurrentException());
    throw;
  }
}

// The error a value holds, or null.
platform::ErrorPtr errorIn(const platform::Value& value);
// The promise a value holds, or null.
PRMPromisePtr promiseIn(const platform::Value& value);

// Reports "Invalid parameter not satisfying: <name>" to the assertion handler.
void reportInvalidParameter(const char* function, const char* file, int line, const char* name);
// Reports a description that has no placeholder.
void reportFailure(const char* function, const char* file, int line, const char* description);
// What an operation returns when the assertion handler let a broken contract through: a promise
// rejected with an invalid-argument error that says what was wrong, so that nothing waits forever.
PRMPromisePtr rejectedForContract(const std::string& description);
PRMPromisePtr invalidParameterPromise(const char* function, const char* file, int line,
                                      const char* name);

// Settles `result` with r: a promise is observed on `queue` and its outcome taken over, an error
// rejects, anything else (nil included) fulfils.
void resolveAdopting(const PRMPromisePtr& result, const platform::DispatchQueuePtr& queue,
                     const platform::Value& r);

}  // namespace prm_detail

// Returns from the enclosing operation when a required argument is missing.
#define PRM_REQUIRE(condition, name, file)                                                        \
  do {                                                                                            \
    if (!(condition)) return prm_detail::invalidParameterPromise(__func__, file, __LINE__, name); \
  } while (0)
