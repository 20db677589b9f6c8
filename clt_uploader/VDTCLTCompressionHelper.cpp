#include "clt_uploader/VDTCLTCompressionHelper.h"

#include <zlib.h>

#include <cstdint>
#include <limits>

std::optional<platform::Bytes> VDTCLTCompressionHelper::gzippedData(const platform::Bytes& data) {
  if (data.empty() || data.size() > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return std::nullopt;
  }
  platform::Bytes out;
  out.reserve(data.size() / 4);
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  unsigned char window[1024];
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = window;
    stream.avail_out = sizeof(window);
    status = deflate(&stream, Z_FINISH);
    out.insert(out.end(), window, window + (sizeof(window) - stream.avail_out));
  }
  deflateEnd(&stream);
  if (status != Z_STREAM_END) return std::nullopt;
  return out;
}

bool VDTCLTCompressionHelper::isGzipped(const platform::Bytes& data) {
  return data.size() >= 2 && data[0] == 0x1F && data[1] == 0x8B;
}
