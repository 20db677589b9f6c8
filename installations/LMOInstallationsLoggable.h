// What the installations service's requests and answers may show in log lines: the API key, the
// refresh and auth tokens and the legacy migration token appear only as a short prefix and a
// marker. Plain functions of no state; safe from any thread.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

#include "platform/base/Value.h"
#include "platform/network/URLRequest.h"

// The first characters of a long secret (none of a short one), then "<redacted>".
std::string LMOInstallationsRedactedSecret(std::string_view secret);

// The text with the string values of its token members ("refreshToken", "token", at any depth,
// however their names are escaped) redacted. A scan rather than a parse, so that text that is not
// valid JSON, or is cut short, is redacted too; everything else stays as it was.
std::string LMOInstallationsRedactedBody(std::string_view text);

// A body for a log line: at most its first `limit` bytes (never half a character), redacted;
// nil when those bytes are not UTF-8.
platform::Value LMOInstallationsLoggableBody(
    const platform::Bytes& data, std::size_t limit = std::numeric_limits<std::size_t>::max());

// Header fields for a log line: the API key, the refresh token behind the scheme in
// Authorization, and the legacy migration token are redacted.
platform::Value LMOInstallationsLoggableHeaderValues(const platform::HTTPHeaderFields& fields);
