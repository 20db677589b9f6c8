// Decides whether the next registration or token request may go out, from the outcomes of the
// earlier ones in this run: exponential waits after recoverable failures, a day after an
// unrecoverable one. State lives in memory only. Thread-safe (one lock per controller).
#pragma once

#include <functional>
#include <memory>
#include <mutex>

enum class LMOInstallationsBackoffEvent : long {
  Success = 0,
  RecoverableFailure = 1,
  UnrecoverableFailure = 2,
};

// Seconds since 1970.
using LMOInstallationsCurrentDateProviderBlock = std::function<double()>;
// The system's current date (Clock::current()).
LMOInstallationsCurrentDateProviderBlock LMOInstallationsCurrentDateProvider();

class LMOInstallationsBackoffEventData {
 public:
  LMOInstallationsBackoffEventData(LMOInstallationsBackoffEvent eventType, double lastEventDate,
                                   long eventCount);
  LMOInstallationsBackoffEvent eventType() const { return eventType_; }
  double lastEventDate() const { return lastEventDate_; }
  long eventCount() const { return eventCount_; }
  double backoffTimeInterval() const { return backoffTimeInterval_; }

 private:
  LMOInstallationsBackoffEvent eventType_;
  double lastEventDate_;
  long eventCount_;
  double backoffTimeInterval_;
};

class LMOInstallationsBackoffController {
 public:
  LMOInstallationsBackoffController();
  explicit LMOInstallationsBackoffController(LMOInstallationsCurrentDateProviderBlock provider);

  bool isNextRequestAllowed();
  void registerEvent(LMOInstallationsBackoffEvent event);
  std::shared_ptr<const LMOInstallationsBackoffEventData> lastEventData() const;

 private:
  mutable std::mutex mutex_;
  LMOInstallationsCurrentDateProviderBlock currentDateProvider_;
  std::shared_ptr<const LMOInstallationsBackoffEventData> lastEventData_;
};
