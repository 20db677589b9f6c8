#include "email_composer/DeviceCannotSendEmailsView.h"

#include "email_composer/Constants.h"

using namespace platform::ui;

View DeviceCannotSendEmailsDefaultView::body() const {
  // The presentation of the sheet this view is shown in, read afresh on every build.
  const PresentationMode presentationMode = environment().presentationMode;
  return VStack({
      Text(email_composer::kDeviceCannotSendEmailsDescription)
          .padding(Edges::bottom, 20)
          .multilineTextAlignment(TextAlignment::center),
      Button(email_composer::kDismissTitle, [presentationMode] { presentationMode.dismiss(); }),
  });
}
