// Writes the starting corpus of every fuzz target from the project's own encoders:
//   fuzz_corpus <fuzz/corpus directory> <source directory>
// Each target's folder gets valid inputs named valid-*; inputs kept from failures (regression-*)
// are never touched. Run by scripts/fuzz.sh --corpus.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <pb_encode.h>

#include "TVS/EntityLoader.h"
#include "VDTCORLibrary/VDTCORClock.h"
#include "VDTCORLibrary/VDTCOREvent.h"
#include "VDTCORLibrary/VDTCORFlatFileStorage.h"
#include "clt_uploader/VDTCOREvent+VDTCLTSupport.h"
#include "fuzz/FuzzTarget.h"
#include "installations/LMOInstallationsStoredAuthToken.h"
#include "installations/LMOInstallationsStoredItem.h"
#include "measurement/foundation/tests/MSREventShapes.h"
#include "measurement/messages/MSRPBSchema.h"
#include "platform/base/Bundle.h"
#include "platform/base/Files.h"
#include "platform/base/PropertyList.h"
#include "platform/runtime/Keychain.h"
#include "platform/runtime/KeyedArchiver.h"
#include "utilities/VTUGzip.h"
#include "vdt_clt.pb.h"

namespace {

using platform::Bytes;
using platform::Value;

std::filesystem::path gRoot;

void write(const std::string& target, const std::string& name, const Bytes& bytes) {
  auto dir = gRoot / target;
  std::filesystem::create_directories(dir);
  std::ofstream file(dir / ("valid-" + name), std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// An archive and, beside it, its payload alone (the targets give a payload a correct header).
void writeArchive(const std::string& target, const std::string& name, const Bytes& archive) {
  write(target, name, archive);
  write(target, name + "-payload", Bytes(archive.begin() + 16, archive.end()));
}

void write(const std::string& target, const std::string& name, const std::string& text) {
  write(target, name, Bytes(text.begin(), text.end()));
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Value everyKind() {
  return Value(Value::Dictionary{
      {"bool", true},
      {"negative", -42},
      {"double", 0.25},
      {"string", "caf\xC3\xA9 <&>"},
      {"data", Value::data(Bytes{0, 1, 2, 255})},
      {"date", Value::date(1767225600.0)},
      {"list", Value(Value::Array{1, "two", Value(Value::Array{}), Value(Value::Dictionary{})})},
      {"nested", Value(Value::Dictionary{{"inner", Value(Value::Array{2.5})}})},
  });
}

class Payload : public VDTCOREventDataObject {
 public:
  std::optional<Bytes> transportBytes() override { return Bytes{0x08, 0x96, 0x01}; }
};

std::shared_ptr<VDTCOREvent> sampleEvent() {
  auto event = VDTCOREvent::initWithMappingID("1234", 1001);
  event->setDataObject(std::make_shared<Payload>());
  event->setQosTier(2);
  event->setClockSnapshot(VDTCORClock::snapshot());
  VDTCLTSupport::setNeedsNetworkConnectionInfoPopulated(*event, true);
  VDTCLTSupport::setNetworkConnectionInfoData(*event, Bytes(16, 7));
  VDTCLTSupport::setEventCode(*event, 1986);
  return event;
}

Bytes archive(const Value& value) {
  auto bytes = platform::KeyedArchiver::archivedDataWithRootObject(value);
  if (!bytes) std::abort();
  return *bytes;
}

void catalogue(const std::filesystem::path& source) {
  auto bytes = platform::files::readFile(source / "TVS/Resources/SoundProducingEntities.json");
  auto entities = EntityLoader::decodeCatalogue(text(bytes.value_or(Bytes{})), nullptr);
  if (!entities || entities->empty()) std::abort();
  auto all = nlohmann::ordered_json::array();
  for (const auto& e : *entities) all.push_back(e->encode());
  write("catalogue_fuzz", "catalogue.json", all.dump(2));
  write("catalogue_fuzz", "one-entity.json", nlohmann::ordered_json::array({all[0]}).dump());
  write("catalogue_fuzz", "empty.json", std::string("[]"));
}

void propertyLists() {
  const std::pair<const char*, Value> values[] = {
      {"every-kind", everyKind()},
      {"empty", Value(Value::Dictionary{})},
      {"nested", Value(Value::Array{Value(Value::Array{Value(Value::Dictionary{{"a", 1}})})})},
  };
  for (const auto& [name, value] : values) {
    write("property_list_fuzz", std::string(name) + ".plist",
          *platform::serializePropertyList(value, platform::PropertyListFormat::Xml));
    write("property_list_fuzz", std::string(name) + ".bplist",
          *platform::serializePropertyList(value, platform::PropertyListFormat::Binary));
  }
}

void keyedArchives() {
  writeArchive("keyed_archive_fuzz", "every-kind", archive(everyKind()));
  writeArchive("keyed_archive_fuzz", "set", archive(Value::set({1, "two"})));
  writeArchive("keyed_archive_fuzz", "event", archive(Value(sampleEvent())));
  writeArchive("keyed_archive_fuzz", "clock", archive(Value(VDTCORClock::snapshot())));
  writeArchive("keyed_archive_fuzz", "error",
               archive(Value(platform::Error::make("Domain", 7, {{"reason", Value("why")}}))));
  auto item = std::make_shared<LMOInstallationsStoredItem>();
  item->lumoInstallationID = "cXr8h0a5SjeyQbQS3Ve-I0";
  item->refreshToken = "refresh";
  item->registrationStatus = 2;
  item->authToken = std::make_shared<LMOInstallationsStoredAuthToken>();
  item->authToken->setToken("token");
  item->authToken->setExpirationDate(1767225600.0);
  writeArchive("keyed_archive_fuzz", "installation", archive(Value(item)));
}

void transportEventFiles() {
  auto event = sampleEvent();
  auto path = VDTCORFlatFileStorage::pathForTarget(
      event->target(), event->eventID(), event->qosTier(), 1767225600.0, event->mappingID());
  Bytes stored = archive(Value(event));
  write("transport_event_file_fuzz", "event", path.filename().string() + "\n" + text(stored));
  write("transport_event_file_fuzz", "event-payload",
        path.filename().string() + "\n" + text(Bytes(stored.begin() + 16, stored.end())));
  // Once overflowed while comparing: the largest time-zone offset.
  auto farZone = VDTCOREvent::initWithMappingID("1234", 1001);
  farZone->setDataObject(std::make_shared<Payload>());
  farZone->setClockSnapshot(
      std::make_shared<VDTCORClock>(1, std::numeric_limits<std::int64_t>::max(), 5, 5));
  std::ofstream(gRoot / "transport_event_file_fuzz" / "regression-clock-offset-largest",
                std::ios::binary)
      << "1001-x-0-0-1234\n"
      << text(archive(Value(farZone)));
  auto bare = VDTCOREvent::initWithMappingID("77", 1002);
  bare->setDataObject(std::make_shared<Payload>());
  write("transport_event_file_fuzz", "bare-event", "1002-x-0-0-77\n" + text(archive(Value(bare))));
}

// A wire message with one value in every field of the type (sub-messages empty).
Bytes wireFor(const MSRPBMessageType& type) {
  Bytes out;
  auto varint = [&](std::uint64_t v) {
    while (v >= 0x80) {
      out.push_back(static_cast<std::uint8_t>(v | 0x80));
      v >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(v));
  };
  for (std::uint32_t i = 0; i < type.fieldCount; ++i) {
    const MSRPBFieldInfo& field = type.fields[i];
    std::uint32_t flags = field.flags;
    if (flags & (MSRPBFieldString | MSRPBFieldBytes | MSRPBFieldMessage)) {
      varint(field.tag << 3 | 2);
      if (flags & MSRPBFieldMessage) {
        varint(0);
      } else {
        varint(2);
        out.push_back('h');
        out.push_back('i');
      }
    } else if (flags & MSRPBFieldDouble) {
      varint(field.tag << 3 | 1);
      for (int k = 0; k < 8; ++k) out.push_back(k == 7 ? 0x3F : 0);
    } else if (flags & MSRPBFieldFloat) {
      varint(field.tag << 3 | 5);
      for (int k = 0; k < 4; ++k) out.push_back(k == 3 ? 0x3F : 0);
    } else {
      varint(field.tag << 3);
      varint(1);
    }
  }
  return out;
}

void measurementMessages() {
  const auto& types = MSRPBAllMessageTypes();
  for (std::size_t t = 0; t < types.size(); ++t) {
    const MSRPBMessageType& type = *types[t];
    Bytes wire = wireFor(type);
    auto* info = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
    MSRPBMessageInit(type, info);
    if (MSRPBMessageDecode(type, wire.data(), wire.size(), info) == 1) {
      std::uint8_t* encoded = nullptr;
      std::int32_t length = MSRPBMessageEncode(type, info, &encoded);
      if (length >= 0) {
        Bytes input{static_cast<std::uint8_t>(t)};
        input.insert(input.end(), encoded, encoded + length);
        write("measurement_message_fuzz", type.name, input);
      }
      std::free(encoded);
    }
    MSRPBMessageDeallocate(type, info);
  }
}

void uploadResponses() {
  vdtclt_UploadResponse response = vdtclt_UploadResponse_init_zero;
  response.has_wait_millis = true;
  response.wait_millis = 60000;
  std::uint8_t buffer[64];
  pb_ostream_t stream = pb_ostream_from_buffer(buffer, sizeof buffer);
  if (!pb_encode(&stream, vdtclt_UploadResponse_fields, &response)) std::abort();
  write("upload_response_fuzz", "wait", "\n" + std::string(buffer, buffer + stream.bytes_written));
  write("upload_response_fuzz", "retry-after", std::string("120\n"));
  write("upload_response_fuzz", "retry-after-fraction", std::string("0.5\n"));
}

void installationsResponses() {
  Value token(Value::Dictionary{{"token", "aaa.bbb.ccc"}, {"expiresIn", "604800s"}});
  Value registration(Value::Dictionary{{"name", "projects/1/installations/fid"},
                                       {"fid", "cXr8h0a5SjeyQbQS3Ve-I0"},
                                       {"refreshToken", "refresh"},
                                       {"authToken", token}});
  write("installations_response_fuzz", "registration.json", *platform::serializeJson(registration));
  write("installations_response_fuzz", "token.json", *platform::serializeJson(token));
}

void gzipBodies() {
  std::string sample = "{\"next_request_wait_millis\": 1000}";
  write("gzip_fuzz", "json.gz",
        *vtu_dataByGzippingData(Bytes(sample.begin(), sample.end()), nullptr));
  write("gzip_fuzz", "zeros.gz", *vtu_dataByGzippingData(Bytes(4096, 0), nullptr));
}

void urls() {
  write("url_fuzz", "file-url", platform::fileUrlForPath("/tmp/a b/c%d.mp3"));
  write("url_fuzz", "path", std::string("/usr/share/sounds/\xC3\xA9t\xC3\xA9.mp3"));
  write("url_fuzz", "https-url", std::string("https://example.test/path?q=1#frag"));
}

void keychainFiles() {
  fuzz::sandboxHome();
  auto& keychain = platform::Keychain::shared();
  keychain.add({{platform::kSecClass, Value(platform::kSecClassGenericPassword)},
                {platform::kSecAttrService, Value("service")},
                {platform::kSecAttrAccount, Value("account")},
                {platform::kSecValueData, Value::data(Bytes{1, 2, 3})}});
  keychain.add({{platform::kSecClass, Value(platform::kSecClassGenericPassword)},
                {platform::kSecAttrService, Value("other")},
                {platform::kSecAttrAccount, Value("account")}});
  writeArchive("keychain_file_fuzz", "two-items",
               *platform::files::readFile(platform::Keychain::storagePath()));
}

}  // namespace

// Raw events as the database stores them: the hand-picked shapes (times, origins, number and
// string extremes, item lists, and the shapes only the message path writes).
void rawEventStoredForms() {
  int index = 0;
  for (const auto& shape : msr_test::EventShapes(1).make(0)) {
    write("raw_event_stored_form_fuzz", "event-" + std::to_string(index++),
          msr_test::messageStoredBytes(*shape.event));
  }
}

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <fuzz/corpus directory> <source directory>\n", argv[0]);
    return 2;
  }
  gRoot = argv[1];
  catalogue(argv[2]);
  propertyLists();
  keyedArchives();
  transportEventFiles();
  measurementMessages();
  uploadResponses();
  installationsResponses();
  gzipBodies();
  urls();
  keychainFiles();
  rawEventStoredForms();
  return 0;
}
