// Every text of the installations subsystem that callers, stored records or the service may rely
// on: error domain and codes, archive keys, log codes and messages, request names and headers.
#pragma once

namespace lmoinst {

inline constexpr const char* kService = "[Lumo/Installations]";
inline constexpr const char* kErrorDomain = "com.lumo.installations";
inline constexpr const char* kExceptionName = "com.lumo.installations";

inline constexpr long kErrorCodeUnknown = 0;
inline constexpr long kErrorCodeKeychain = 1;
inline constexpr long kErrorCodeServerUnreachable = 2;

// Error reasons.
inline constexpr const char* kUnderlyingErrorFormat = "Underlying error: %@";
inline constexpr const char* kKeychainErrorFormat = "%@ (%li)";
inline constexpr const char* kNotFoundFormat = "Installation for appID %@ appName %@ not found";
inline constexpr const char* kCorruptedIIDTokenData =
    "IID token data stored in Keychain is corrupted or in an incompatible format.";
inline constexpr const char* kJSONSerializationFailed = "Failed to serialize JSON data.";
inline constexpr const char* kMissingFieldFormat =
    "A required response field with name %@ is missing";
inline constexpr const char* kTooManyRequests = "Too many server requests.";
inline constexpr const char* kHTTPErrorFormat =
    "The server responded with an error: \n - URL: %@ \n - HTTP status code: %ld \n - Response "
    "body: %@";
inline constexpr const char* kValidationErrorsFormat = "LMOInstallationsItem validation errors: %@";

// Validation messages.
inline constexpr const char* kAppIDEmpty = "`appID` must not be empty";
inline constexpr const char* kAppNameEmpty = "`lumoAppName` must not be empty";
inline constexpr const char* kFIDEmpty = "`lumoInstallationID` must not be empty";
inline constexpr const char* kRefreshTokenEmpty =
    "registered installation must have non-empty `refreshToken`";
inline constexpr const char* kAuthTokenEmpty =
    "registered installation must have non-empty `authToken.token`";
inline constexpr const char* kAuthTokenDateEmpty =
    "registered installation must have non-empty `authToken.expirationDate`";
inline constexpr const char* kInvalidStatus = "invalid `registrationStatus`";

// Archives.
inline constexpr const char* kStoredItemClassName = "LMOInstallationsStoredItem";
inline constexpr const char* kStoredAuthTokenClassName = "LMOInstallationsStoredAuthToken";
inline constexpr const char* kHTTPErrorClassName = "LMOInstallationsHTTPError";
inline constexpr const char* kKeyFID = "lumoInstallationID";
inline constexpr const char* kKeyRefreshToken = "refreshToken";
inline constexpr const char* kKeyAuthToken = "authToken";
inline constexpr const char* kKeyRegistrationStatus = "registrationStatus";
inline constexpr const char* kKeyIIDDefaultToken = "IIDDefaultToken";
inline constexpr const char* kKeyStorageVersion = "storageVersion";
inline constexpr const char* kKeyStatus = "status";
inline constexpr const char* kKeyToken = "token";
inline constexpr const char* kKeyExpirationDate = "expirationDate";
inline constexpr long kStorageVersion = 1;

inline constexpr const char* kCodeStoredItemNewerVersion = "I-LIS003000";
inline constexpr const char* kStoredItemNewerVersion =
    "LMOInstallationsStoredItem was encoded by a newer coder version %ld. Current coder version is "
    "%ld. Some installation data may be lost.";
inline constexpr const char* kCodeAuthTokenNewerVersion = "I-LIS004000";
inline constexpr const char* kAuthTokenNewerVersion =
    "LMOInstallationsStoredAuthToken was encoded by a newer coder version %ld. Current coder "
    "version is %ld. Some auth token data may be lost.";

// Store.
inline constexpr const char* kStoreQueueLabel = "com.lumo.LMOInstallationsStore";
inline constexpr const char* kDefaultUserDefaultsSuite = "com.lumo.LMOInstallations";
inline constexpr const char* kKeychainService = "com.lumo.LMOInstallations.installations";

// REST client.
inline constexpr const char* kDefaultBaseURL = "https://lumoinstallations.veltroapis.com";
inline constexpr const char* kRegisterPathFormat = "%@/v1/projects/%@/installations/";
inline constexpr const char* kAuthTokenPathFormat =
    "%@/v1/projects/%@/installations/%@/authTokens:generate";
inline constexpr const char* kDeletePathFormat = "%@/v1/projects/%@/installations/%@/";
inline constexpr const char* kSDKVersionFormat = "i:%@";
inline constexpr const char* kAuthVersion = "LIS_v2";
inline constexpr const char* kAuthorizationFormat = "LIS_v2 %@";
inline constexpr const char* kHeaderAPIKey = "X-Veltro-Api-Key";
inline constexpr const char* kHeaderBundleID = "X-Ios-Bundle-Identifier";
inline constexpr const char* kHeaderContentType = "Content-Type";
inline constexpr const char* kContentTypeJSON = "application/json";
inline constexpr const char* kHeaderAuthorization = "Authorization";
inline constexpr const char* kHeaderUserAgent = "X-lumo-client";
inline constexpr const char* kHeaderHeartbeat = "X-lumo-client-log-type";
inline constexpr const char* kHeaderIIDMigration = "x-veltro-lis-ios-iid-migration-auth";
inline constexpr const char* kHeartbeatTag = "lumo-installations";
// Stands in debug lines for what follows a secret's first characters.
inline constexpr const char* kRedacted = "<redacted>";

inline constexpr const char* kCodeSendingRequest = "I-LIS001001";
inline constexpr const char* kSendingRequest = "Sending request: %@, body:%@, headers: %@.";
inline constexpr const char* kCodeRequestFailed = "I-LIS001002";
inline constexpr const char* kRequestFailed = "Request failed: %@, error: %@.";
inline constexpr const char* kCodeResponseReceived = "I-LIS001003";
inline constexpr const char* kResponseReceived =
    "Request response received: %@, error: %@, body: %@.";
inline constexpr const char* kCodeUnexpectedResponse = "I-LIS001004";
inline constexpr const char* kUnexpectedResponse = "Unexpected API response: %@, body: %@.";
inline constexpr const char* kCodeParsing = "I-LIS001005";
inline constexpr const char* kParsing = "Parsing server response for %@.";
inline constexpr const char* kCodeItemParseFailed = "I-LIS001006";
inline constexpr const char* kItemParseFailed = "Failed to parse LMOInstallationsItem: %@.";
inline constexpr const char* kCodeItemParsed = "I-LIS001007";
inline constexpr const char* kItemParsed = "LMOInstallationsItem parsed successfully.";
inline constexpr const char* kCodeTokenParseFailed = "I-LIS001008";
inline constexpr const char* kTokenParseFailed =
    "Failed to parse LMOInstallationsStoredAuthToken: %@.";
inline constexpr const char* kCodeTokenParsed = "I-LIS001009";
inline constexpr const char* kTokenParsed = "LMOInstallationsStoredAuthToken parsed successfully.";

}  // namespace lmoinst

namespace lmoinst {

// Legacy instance-ID artefacts.
inline constexpr const char* kIIDPlistDirectory = "Veltro/LumoInstanceID";
inline constexpr const char* kIIDPlistName = "com.veltro.iid-keypair.plist";
inline constexpr const char* kIIDPlistMarkerKey = "|S|cre";
inline constexpr const char* kIIDPublicKeyTagPrefix = "com.veltro.iid.keypair.public-";
inline constexpr const char* kIIDPrivateKeyTagPrefix = "com.veltro.iid.keypair.private-";
inline constexpr const char* kIIDTokensGeneric = "com.veltro.iid-tokens";
inline constexpr const char* kIIDServiceKeyFormat = "%@:%@";
inline constexpr const char* kIIDDefaultTokenScope = "*";
inline constexpr const char* kIIDLegacyTokenClassName = "LMOInstanceIDTokenInfo";
inline constexpr const char* kIIDTokenInfoClassName = "LMOInstallationsIIDTokenInfo";
inline constexpr const char* kSecItemDeleteFunction = "SecItemDelete";
inline constexpr const char* kSecItemCopyMatchingFunction = "SecItemCopyMatching";

}  // namespace lmoinst

namespace lmoinst {

// Identity controller and public interface.
inline constexpr const char* kLibraryName = "lumo-install";
inline constexpr const char* kInstallationsClassName = "LMOInstallations";
inline constexpr const char* kInstanceProviderProtocol = "LMOInstallationsInstanceProvider";
inline constexpr const char* kDefaultAppName = "__LMOAPP_DEFAULT";
inline constexpr const char* kIDDidChangeNotification = "LMOInstallationIDDidChangeNotification";
inline constexpr const char* kAppNameKey = "LMOInstallationIDDidChangeNotification";
inline constexpr double kTokenExpirationThreshold = 60 * 60;

inline constexpr const char* kCodeGetInstallation = "I-LIS002000";
inline constexpr const char* kGetInstallationFormat = "%s, appName: %@";
inline constexpr const char* kGetInstallationFunction =
    "-[LMOInstallationsIDController createGetInstallationItemPromise]";
inline constexpr const char* kCodeValidToken = "I-LIS002001";
inline constexpr const char* kValidTokenFormat =
    "-[LMOInstallationsIDController installationWithValidAuthTokenForcingRefresh:%@], appName: %@";
inline constexpr const char* kCodeDeleteInstallation = "I-LIS002002";
inline constexpr const char* kDeleteInstallationFunction =
    "-[LMOInstallationsIDController createDeleteInstallationPromise]";
inline constexpr const char* kCodeRegistrationFailed = "I-LIS002003";
inline constexpr const char* kRegistrationFailed =
    "Lumo Installation registration failed for app with name: %@, error:\n%@\nPlease make sure you "
    "use valid VeltroService-Info.plist";
inline constexpr const char* kCodeStoredValidation = "I-LIS002004";
inline constexpr const char* kStoredValidation = "Stored installation validation error: %@";

inline constexpr const char* kNilHandlerReason = "`newOperationHandler` must not be `nil`.";
inline constexpr const char* kCodeInvalidOptions = "I-LIS008000";
inline constexpr const char* kMissingOptionsReason =
    "%@[%@] Could not configure Lumo Installations due to invalid LumoApp options. The following "
    "parameters are nil or empty: %@. If you use VeltroServices-Info.plist please download the "
    "most recent version from the Lumo Console. If you configure Lumo in code, please make sure "
    "you specify all required parameters.";
inline constexpr const char* kInvalidAPIKeyReason =
    "%@[%@] Could not configure Lumo Installations due to invalid LumoApp options. "
    "`LumoOptions.APIKey` doesn't match the expected format: %@. If you use "
    "VeltroServices-Info.plist please download the most recent version from the Lumo Console. If "
    "you configure Lumo in code, please make sure you specify all required parameters.";
inline constexpr const char* kOptionAppName = "`LumoApp.name`";
inline constexpr const char* kOptionAPIKey = "`LumoOptions.APIKey`";
inline constexpr const char* kOptionAppID = "`LumoOptions.veltroAppID`";
inline constexpr const char* kOptionProjectID = "`LumoOptions.projectID`";
inline constexpr unsigned long kAPIKeyLength = 39;
inline constexpr const char* kAPIKeyLengthFormat = "API Key length must be %lu characters";
inline constexpr const char* kAPIKeyFirstCharacter = "API Key must start with `A`";
inline constexpr const char* kAPIKeyCharacters =
    "API Key must contain only base64 url-safe characters characters";
inline constexpr const char* kLegacyInstanceIDClassName = "LMOInstanceID";
inline constexpr const char* kUsesFISSelector = "usesFIS";
inline constexpr const char* kLegacyIncompatibleReason =
    "Lumo Instance ID is not compatible with Lumo 8.x+. Please remove the dependency from the app. "
    "See the migration notes in the README of the installations library.";
inline constexpr const char* kNoDefaultAppReason =
    "The default LumoApp instance must be configured before the defaultLumoApp instance can be "
    "initialized. One way to ensure this is to call `LumoApp.configure()` in the App  Delegate's "
    "`application(_:didFinishLaunchingWithOptions:)` (or the `@main` struct's initializer in "
    "SwiftUI).";

}  // namespace lmoinst
