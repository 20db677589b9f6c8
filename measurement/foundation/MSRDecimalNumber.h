// Decimal numbers parsed from text the way the engine reads monetary and numeric strings: up to
// 38 significant decimal digits, a power-of-ten exponent and a sign; canonical text without
// exponent. Immutable; any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/Value.h"

class MSRDecimalNumber : public platform::Object {
 public:
  static constexpr int kMaxDigits = 38;
  // Plain decimal text (optional sign, digits, optional point); digits past 38 are rounded
  // half-up, and `rounded` (when given) says whether that happened. Null for anything else.
  static std::shared_ptr<MSRDecimalNumber> decimalNumberWithString(const std::string& text,
                                                                   bool* rounded = nullptr);

  bool isNegative() const { return negative_; }
  bool isZero() const { return digits_ == "0"; }
  // The canonical text: no exponent, no trailing fractional zeros, "0" for zero, "-" when below
  // zero.
  std::string stringValue() const;
  double doubleValue() const;
  std::shared_ptr<MSRDecimalNumber> negated() const;
  int compare(const MSRDecimalNumber& other) const;  // -1, 0, 1

  std::string className() const override { return "NSDecimalNumber"; }
  std::string description() const override { return stringValue(); }
  bool isEqual(const platform::Object& other) const override;
  std::size_t hash() const override;

  MSRDecimalNumber(bool negative, std::string digits, int exponent);

 private:
  bool negative_;
  std::string digits_;  // significant digits, no leading zeros ("0" for zero)
  int exponent_;        // value = digits * 10^exponent
};

// Whole-string match of "^[+-]?(([0-9]+\.?)|([0-9]*\.[0-9]+))$".
bool MSRIsDecimalNumberString(const std::string& string);
// Null (logged, codes 26001..26003 at level 2) when not numeric or when precision would be lost:
// more than 38 significant digits are refused, never rounded.
std::shared_ptr<MSRDecimalNumber> MSRDecimalNumberFromString(const std::string& string);
