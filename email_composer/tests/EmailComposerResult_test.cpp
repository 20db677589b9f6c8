#include "email_composer/EmailComposerResult.h"

#include <gtest/gtest.h>

#include <unordered_set>

#include "email_composer/EmailData.h"

namespace {

TEST(EmailComposerResultTest, RawValuesRoundTripAndOutOfRangeIsAbsent) {
  struct Case {
    std::int64_t raw;
    std::optional<EmailComposerResult> expected;
  };
  const Case cases[] = {
      {0, EmailComposerResult::cancelled},
      {1, EmailComposerResult::saved},
      {2, EmailComposerResult::sent},
      {3, EmailComposerResult::failed},
      {4, EmailComposerResult::deviceCannotSendEmails},
      {5, std::nullopt},
      {-1, std::nullopt},
      {INT64_MIN, std::nullopt},
      {INT64_MAX, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    EXPECT_EQ(email_composer::fromRaw(c.raw), c.expected);
    if (c.expected) {
      EXPECT_EQ(email_composer::rawValue(*c.expected), c.raw);
    }
  }
}

TEST(EmailComposerResultTest, DescriptionsAreTheEnglishKeys) {
  EXPECT_EQ(email_composer::description(EmailComposerResult::cancelled), "Cancelled");
  EXPECT_EQ(email_composer::description(EmailComposerResult::saved), "Saved");
  EXPECT_EQ(email_composer::description(EmailComposerResult::sent), "Sent");
  EXPECT_EQ(email_composer::description(EmailComposerResult::failed), "Failed");
  EXPECT_EQ(email_composer::description(EmailComposerResult::deviceCannotSendEmails),
            "Unable to send emails from this device.");
}

TEST(EmailComposerResultTest, HashesByRawValueSoEveryCaseIsDistinctInASet) {
  std::unordered_set<EmailComposerResult> seen;
  for (std::int64_t raw = 0; raw < 5; ++raw) seen.insert(*email_composer::fromRaw(raw));
  seen.insert(EmailComposerResult::sent);
  EXPECT_EQ(seen.size(), 5u);
}

TEST(EmailComposerOutcomeTest, FailureCarriesTheSameErrorObject) {
  auto error = platform::Error::withDescription("MFMailComposeErrorDomain", 1, "save failed");
  auto outcome = EmailComposerOutcome::failure(error);
  EXPECT_FALSE(outcome.isSuccess());
  EXPECT_EQ(outcome.error().get(), error.get());

  auto ok = EmailComposerOutcome::success(EmailComposerResult::saved);
  EXPECT_TRUE(ok.isSuccess());
  EXPECT_EQ(ok.result(), EmailComposerResult::saved);
  EXPECT_EQ(ok.error(), nullptr);
}

TEST(EmailDataTest, DefaultsGiveTheEmptyMail) {
  EmailData mail;
  EXPECT_EQ(mail.subject, "");
  EXPECT_FALSE(mail.recipients.has_value());
  EXPECT_EQ(mail.body, "");
  EXPECT_FALSE(mail.isBodyHTML);
  EXPECT_TRUE(mail.attachments.empty());
}

}  // namespace
