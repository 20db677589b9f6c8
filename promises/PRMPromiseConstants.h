// The texts and numbers of the promise library that callers, stored errors and tests rely on.
// Constants only; safe from any thread.
#pragma once

// Errors the library makes itself carry this domain and no user info, except that an exception
// thrown by a block or work is reported with its text as the description.
inline constexpr const char* kPRMPromiseErrorDomain = "com.veltro.PRMPromises.Error";
inline constexpr long kPRMPromiseErrorCodeTimedOut = 1;
inline constexpr long kPRMPromiseErrorCodeValidationFailure = 2;
inline constexpr long kPRMPromiseErrorCodeThrownException = 3;

inline constexpr const char* kPRMPromiseClassName = "PRMPromise";

// Descriptions.
inline constexpr const char* kPRMPromiseFulfilledFormat = "<%@ %p> Fulfilled: %@";
inline constexpr const char* kPRMPromiseRejectedFormat = "<%@ %p> Rejected: %@";
inline constexpr const char* kPRMPromisePendingFormat = "<%@ %p> Pending";

// The text of a thrown value that is not a std::exception.
inline constexpr const char* kPRMUnknownExceptionDescription = "An unknown exception was thrown.";

// Contract checks reported to the platform assertion handler.
inline constexpr const char* kPRMInvalidParameterFormat = "Invalid parameter not satisfying: %@";
inline constexpr const char* kPRMInvalidErrorType = "Invalid error type.";
inline constexpr const char* kPRMNoPromisesToObserve = "No promises to observe";

// Source names the contract checks report, one per operation group.
inline constexpr const char* kPRMFilePromise = "PRMPromise";
inline constexpr const char* kPRMFileAll = "PRMPromise+All";
inline constexpr const char* kPRMFileAlways = "PRMPromise+Always";
inline constexpr const char* kPRMFileAny = "PRMPromise+Any";
inline constexpr const char* kPRMFileAsync = "PRMPromise+Async";
inline constexpr const char* kPRMFileCatch = "PRMPromise+Catch";
inline constexpr const char* kPRMFileDelay = "PRMPromise+Delay";
inline constexpr const char* kPRMFileDo = "PRMPromise+Do";
inline constexpr const char* kPRMFileRace = "PRMPromise+Race";
inline constexpr const char* kPRMFileRecover = "PRMPromise+Recover";
inline constexpr const char* kPRMFileReduce = "PRMPromise+Reduce";
inline constexpr const char* kPRMFileRetry = "PRMPromise+Retry";
inline constexpr const char* kPRMFileThen = "PRMPromise+Then";
inline constexpr const char* kPRMFileTimeout = "PRMPromise+Timeout";
inline constexpr const char* kPRMFileValidate = "PRMPromise+Validate";
inline constexpr const char* kPRMFileWrap = "PRMPromise+Wrap";

// Defaults of the short retry forms.
inline constexpr long long kPRMRetryDefaultAttempts = 1;
inline constexpr double kPRMRetryDefaultDelay = 1.0;
