// The texts of the app's platform layer that callers and peers rely on: life-cycle notification
// names, error domains, the file-type hint of MP3 audio, launch arguments and the share sheet's
// and mail sheet's own labels. One place, copied exactly.
#pragma once

namespace platform::app {

// Life-cycle notifications, posted on the main thread by the application object.
inline constexpr const char* kDidFinishLaunchingNotification =
    "UIApplicationDidFinishLaunchingNotification";
inline constexpr const char* kDidBecomeActiveNotification =
    "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kWillResignActiveNotification =
    "UIApplicationWillResignActiveNotification";
inline constexpr const char* kDidEnterBackgroundNotification =
    "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kWillTerminateNotification = "UIApplicationWillTerminateNotification";

// Runtime names under which the application object and its delegate protocol are found.
inline constexpr const char* kApplicationClassName = "UIApplication";
inline constexpr const char* kApplicationDelegateProtocolName = "UIApplicationDelegate";
inline constexpr const char* kViewControllerClassName = "UIViewController";
inline constexpr const char* kActivityViewControllerClassName = "UIActivityViewController";
inline constexpr const char* kMailComposeControllerClassName = "MFMailComposeViewController";

// The file-type hint of MPEG layer 3 audio.
inline constexpr const char* kFileTypeMPEGLayer3 = "public.mp3";

// Error domains of this layer.
inline constexpr const char* kOSStatusErrorDomain = "NSOSStatusErrorDomain";
inline constexpr const char* kAudioSessionErrorDomain = "com.tavo.platform.AudioSession";
inline constexpr const char* kMailErrorDomain = "com.tavo.platform.Mail";
// Codes of audio errors (the four-character codes of the audio file services).
inline constexpr long kAudioFileUnsupportedFileTypeError = 0x7479703F;  // 'typ?'
inline constexpr long kAudioFileInvalidFileError = 0x6474613F;          // 'dta?'
inline constexpr long kAudioOutputUnavailableError = 0x21646576;        // '!dev'
// Codes of mail errors.
inline constexpr long kMailNoTransportError = 1;
inline constexpr long kMailSendFailedError = 2;
inline constexpr long kMailSaveFailedError = 3;
inline constexpr long kMailInvalidMessageError = 4;

// Launch arguments: "-DeviceIdiom pad" makes the device a tablet (the window host reads the same
// argument); "-MailOutboxDirectory <dir>" configures the outbox mail transport.
inline constexpr const char* kIdiomArgument = "DeviceIdiom";
inline constexpr const char* kIdiomTabletValue = "pad";
inline constexpr const char* kMailOutboxArgument = "MailOutboxDirectory";

// The share sheet's actions.
inline constexpr const char* kShareOpenTitle = "Open";
inline constexpr const char* kShareSaveCopyTitle = "Save a Copy";
inline constexpr const char* kShareCancelTitle = "Cancel";
// Said in the share sheet, before a file's name and the reason, when its copy was not written.
inline constexpr const char* kShareSaveCopyFailedMessage = "Could not save a copy of";
// The mail sheet's actions and field labels.
inline constexpr const char* kMailSendTitle = "Send";
inline constexpr const char* kMailSaveTitle = "Save";
inline constexpr const char* kMailCancelTitle = "Cancel";
inline constexpr const char* kMailToLabel = "To:";
inline constexpr const char* kMailSubjectLabel = "Subject:";
// Said in the mail sheet, above the reason, when sending or saving failed.
inline constexpr const char* kMailSendFailedMessage = "The mail could not be sent.";
inline constexpr const char* kMailSaveFailedMessage = "The draft could not be saved.";

// Where things land: drafts under Application Support, copies in the user's downloads folder.
inline constexpr const char* kMailDraftsFolder = "Mail Drafts";

}  // namespace platform::app
