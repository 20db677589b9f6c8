// Keyed archives as every room stores them (installations, events, clocks, tokens, errors; an
// input without the archive's magic is taken as the payload of a correct header):
// decoded with every registered class allowed, and what decodes is archived again and must
// decode to the same archive.
#include "fuzz/FuzzTarget.h"
#include "platform/runtime/KeyedArchiver.h"
#include "platform/runtime/Runtime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const platform::ClassSet kAnything = {platform::runtime::kRootClassName};
  platform::ErrorPtr error;
  platform::Value value = platform::KeyedUnarchiver::unarchivedObjectOfClasses(
      kAnything, fuzz::keyedArchiveOf(data, size), &error);
  if (error || value.isNil()) return 0;
  auto again = platform::KeyedArchiver::archivedDataWithRootObject(value, &error);
  if (!again) return 0;  // objects whose decoders keep less than they read may not re-encode
  platform::Value back =
      platform::KeyedUnarchiver::unarchivedObjectOfClasses(kAnything, *again, &error);
  fuzz::require(!error, "an archive this system wrote decodes");
  // Compared as archives, which are deterministic, so that NaN payloads compare equal.
  fuzz::require(platform::KeyedArchiver::archivedDataWithRootObject(back) == again,
                "what decodes survives a second archive unchanged");
  return 0;
}
