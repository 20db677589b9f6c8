#include "utilities/VTUGzip.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/base/Format.h"
#include "utilities/VTUConstants.h"

namespace {

constexpr std::size_t kChunk = 1024;
constexpr std::uint64_t kMaxLength = std::numeric_limits<std::uint32_t>::max();
// Inflation never produces more than this: a few kilobytes of a hostile response must not be
// able to take all memory.
constexpr std::size_t kMaxInflatedLength = 64u << 20;

platform::ErrorPtr zlibError(int status, const char* message = nullptr) {
  platform::Value::Dictionary info{{vtu::kZlibErrorKey, status}};
  if (message) info[platform::kLocalizedDescriptionKey] = message;
  return platform::Error::make(vtu::kZlibErrorDomain, vtu::kZlibErrorInternal, std::move(info));
}

}  // namespace

std::optional<platform::Bytes> vtu_dataByGzippingData(const platform::Bytes& data,
                                                      platform::ErrorPtr* error) {
  if (data.empty()) return std::nullopt;
  if (data.size() > kMaxLength) {
    platform::setError(error, platform::Error::make(vtu::kZlibErrorDomain,
                                                    vtu::kZlibErrorGreaterThan32BitsToCompress));
    return std::nullopt;
  }
  z_stream stream{};
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  int status = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  if (status != Z_OK) {
    platform::setError(error, zlibError(status));
    return std::nullopt;
  }
  platform::Bytes out;
  out.reserve(data.size() / 4);
  do {
    const std::size_t used = out.size();
    out.resize(used + kChunk);
    stream.next_out = out.data() + used;
    stream.avail_out = kChunk;
    status = deflate(&stream, Z_FINISH);
    out.resize(used + kChunk - stream.avail_out);
  } while (status == Z_OK);
  if (status != Z_STREAM_END) {
    deflateEnd(&stream);
    platform::setError(error, zlibError(status));
    return std::nullopt;
  }
  if (stream.avail_in != 0) {
    // zlib promises all input is consumed at the stream's end.
    platform::AssertionHandler::handleFailure(
        __func__, __FILE__, __LINE__,
        platform::format(vtu::kDeflateLeftoverMessage, static_cast<unsigned>(stream.avail_in)));
  }
  deflateEnd(&stream);
  return out;
}

std::optional<platform::Bytes> vtu_dataByInflatingGzippedData(const platform::Bytes& data,
                                                              platform::ErrorPtr* error) {
  if (data.empty()) return std::nullopt;
  if (data.size() > kMaxLength) {
    platform::setError(error, platform::Error::make(vtu::kZlibErrorDomain,
                                                    vtu::kZlibErrorGreaterThan32BitsToCompress));
    return std::nullopt;
  }
  z_stream stream{};
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  int status = inflateInit2(&stream, 47);
  if (status != Z_OK) {
    platform::setError(error, zlibError(status));
    return std::nullopt;
  }
  platform::Bytes out;
  out.reserve(std::min<std::uint64_t>(data.size() * 4ull, kMaxInflatedLength));
  for (;;) {
    const std::size_t used = out.size();
    if (used >= kMaxInflatedLength) {
      // Full, yet the stream goes on: one more byte would pass the ceiling.
      unsigned char probe;
      stream.next_out = &probe;
      stream.avail_out = 1;
      status = inflate(&stream, Z_NO_FLUSH);
      if (stream.avail_out == 0) {
        inflateEnd(&stream);
        platform::setError(
            error,
            zlibError(Z_MEM_ERROR, platform::format("Inflated data would exceed %lu bytes",
                                                    static_cast<unsigned long>(kMaxInflatedLength))
                                       .c_str()));
        return std::nullopt;
      }
      if (status == Z_OK) continue;
    } else {
      out.resize(used + std::min(kChunk, kMaxInflatedLength - used));
      stream.next_out = out.data() + used;
      stream.avail_out = static_cast<uInt>(out.size() - used);
      status = inflate(&stream, Z_NO_FLUSH);
      out.resize(out.size() - stream.avail_out);
      if (status == Z_OK) continue;
    }
    if (status == Z_STREAM_END) {
      const uInt remaining = stream.avail_in;
      inflateEnd(&stream);
      if (remaining != 0) {
        platform::setError(
            error, platform::Error::make(
                       vtu::kZlibErrorDomain, vtu::kZlibErrorDataRemaining,
                       {{vtu::kZlibRemainingBytesKey, static_cast<unsigned long>(remaining)}}));
        return std::nullopt;
      }
      return out;
    }
    platform::ErrorPtr failure = zlibError(status, stream.msg);
    inflateEnd(&stream);
    platform::setError(error, failure);
    return std::nullopt;
  }
}
