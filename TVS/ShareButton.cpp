#include "TVS/ShareButton.h"

#include "platform/app/Haptics.h"

using namespace platform::ui;

namespace {

constexpr const char* kShareImage = "imessage";

}  // namespace

View ShareButton::body() const {
  auto vm = soundVM;
  auto owner = entity;
  auto clip = sound;
  return Button(
      [vm, owner, clip] {
        // The tap is felt before the sheet comes up.
        platform::app::ImpactFeedbackGenerator generator(platform::app::ImpactStyle::Heavy);
        generator.impactOccurred();
        if (vm) vm->shareSound(clip, owner);
      },
      Image(kShareImage).padding());
}
