#include "measurement/foundation/MSRDecimalNumber.h"

#include <cstdlib>
#include <functional>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRMonitor.h"

MSRDecimalNumber::MSRDecimalNumber(bool negative, std::string digits, int exponent)
    : negative_(negative), digits_(std::move(digits)), exponent_(exponent) {
  // Normal form: no leading zeros, no trailing zeros (moved into the exponent), zero unsigned.
  const auto first = digits_.find_first_not_of('0');
  if (first == std::string::npos) {
    digits_ = "0";
    exponent_ = 0;
    negative_ = false;
    return;
  }
  digits_.erase(0, first);
  while (digits_.size() > 1 && digits_.back() == '0') {
    digits_.pop_back();
    ++exponent_;
  }
}

std::shared_ptr<MSRDecimalNumber> MSRDecimalNumber::decimalNumberWithString(const std::string& text,
                                                                            bool* rounded) {
  if (rounded) *rounded = false;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::string digits;
  int exponent = 0;
  bool point = false, any = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      any = true;
      if (digits.empty() && c == '0') {
        if (point) --exponent;
        continue;
      }
      digits += c;
      if (point) --exponent;
    } else {
      return nullptr;
    }
  }
  if (!any) return nullptr;
  // Trailing zeros are not significant: they only move the exponent.
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
    ++exponent;
  }
  if (static_cast<int>(digits.size()) > kMaxDigits) {
    if (rounded) *rounded = true;
    // Keep 38 digits, rounding half up, as the platform's decimal type does.
    const int drop = static_cast<int>(digits.size()) - kMaxDigits;
    const bool roundUp = digits[kMaxDigits] >= '5';
    digits.resize(kMaxDigits);
    exponent += drop;
    if (roundUp) {
      int k = kMaxDigits - 1;
      while (k >= 0 && digits[k] == '9') digits[k--] = '0';
      if (k < 0) {
        digits.insert(digits.begin(), '1');
        digits.pop_back();
        ++exponent;
      } else {
        ++digits[k];
      }
    }
  }
  return std::make_shared<MSRDecimalNumber>(negative, digits.empty() ? "0" : digits, exponent);
}

std::string MSRDecimalNumber::stringValue() const {
  std::string out = negative_ ? "-" : "";
  if (exponent_ >= 0) {
    out += digits_;
    if (digits_ != "0") out.append(static_cast<std::size_t>(exponent_), '0');
    return out;
  }
  const int fraction = -exponent_;
  if (static_cast<int>(digits_.size()) > fraction) {
    out += digits_.substr(0, digits_.size() - fraction) + "." +
           digits_.substr(digits_.size() - fraction);
  } else {
    out += "0." + std::string(static_cast<std::size_t>(fraction) - digits_.size(), '0') + digits_;
  }
  return out;
}

double MSRDecimalNumber::doubleValue() const { return std::strtod(stringValue().c_str(), nullptr); }

std::shared_ptr<MSRDecimalNumber> MSRDecimalNumber::negated() const {
  return std::make_shared<MSRDecimalNumber>(!negative_, digits_, exponent_);
}

int MSRDecimalNumber::compare(const MSRDecimalNumber& other) const {
  if (isZero() && other.isZero()) return 0;
  if (negative_ != other.negative_) return negative_ ? -1 : 1;
  // Same sign: compare magnitudes by order of magnitude, then digit by digit.
  int mag;
  if (isZero() || other.isZero()) {
    mag = isZero() ? -1 : 1;
  } else {
    const int ma = static_cast<int>(digits_.size()) + exponent_;
    const int mb = static_cast<int>(other.digits_.size()) + other.exponent_;
    if (ma != mb) {
      mag = ma < mb ? -1 : 1;
    } else {
      const int c = digits_.compare(other.digits_);
      mag = c == 0 ? 0 : (c < 0 ? -1 : 1);
    }
  }
  return negative_ ? -mag : mag;
}

bool MSRDecimalNumber::isEqual(const platform::Object& other) const {
  const auto* o = dynamic_cast<const MSRDecimalNumber*>(&other);
  return o && compare(*o) == 0;
}

std::size_t MSRDecimalNumber::hash() const {
  return std::hash<std::string>()(stringValue());
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// The whole string must match "^[+-]?(([0-9]+\.?)|([0-9]*\.[0-9]+))$". Matched by hand: the
// pattern is fixed and small, and a hand matcher cannot fail to build.
bool MSRIsDecimalNumberString(const std::string& string) {
  std::size_t i = 0;
  const std::size_t n = string.size();
  if (i < n && (string[i] == '+' || string[i] == '-')) ++i;
  std::size_t intDigits = 0;
  while (i < n && isDigit(string[i])) ++i, ++intDigits;
  if (i == n) return intDigits > 0;
  if (string[i] != '.') return false;
  ++i;
  std::size_t fracDigits = 0;
  while (i < n && isDigit(string[i])) ++i, ++fracDigits;
  if (i != n) return false;
  return intDigits > 0 || fracDigits > 0;
}

std::shared_ptr<MSRDecimalNumber> MSRDecimalNumberFromString(const std::string& string) {
  auto monitor = MSRMeasurement::monitor();
  if (!MSRIsDecimalNumberString(string)) {
    monitor->logWithLevel(2, 26001, "String value does not represent a numeric value. Value",
                          platform::Value(string));
    return nullptr;
  }
  bool rounded = false;
  auto d = MSRDecimalNumber::decimalNumberWithString(string, &rounded);
  if (!d) {
    monitor->logWithLevel(2, 26002, "Unable to create a NSDecimalNumber from string value. Value",
                          platform::Value(string));
    return nullptr;
  }
  std::string t = string;
  if (t.rfind("+.", 0) == 0 || t.rfind("-.", 0) == 0 || t.rfind(".", 0) == 0) {
    std::string replaced;
    for (char c : t) replaced += c == '.' ? std::string("0.") : std::string(1, c);
    t = replaced;
  }
  const std::string s = d->isNegative() ? d->negated()->stringValue() : d->stringValue();
  // Rounding can leave a text that still occurs in the original ("1.000...0001" rounds to "1"),
  // so a rounded number is refused whatever the comparison of texts says.
  if (rounded || t.find(s) == std::string::npos) {
    monitor->logWithLevel(
        2, 26003, "Unable to create a NSDecimalNumber from string value: loss of precision. Value",
        platform::Value(t));
    return nullptr;
  }
  return d;
}
