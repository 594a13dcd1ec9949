// The vendor RSA payload: a parse that succeeds hands out views that lie
// inside the input, in order, and the version is 1.
#include <cstdlib>

#include "platform/crypt/KeyBlobs.h"

namespace {

void CheckInside(const tessaline::ByteView& view, const uint8_t* begin, const uint8_t* end, const uint8_t** last) {
  if (view.data() < *last || view.data() + view.size() > end || view.data() < begin) std::abort();
  *last = view.data() + view.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessaline::crypt::VendorRsaPayload payload;
  if (tessaline::crypt::ParseVendorRsaPayload(tessaline::ByteView(data, size), &payload) != 0) return 0;
  const uint8_t* last = data;
  CheckInside(payload.asymmetric_oid, data, data + size, &last);
  CheckInside(payload.symmetric_oid, data, data + size, &last);
  CheckInside(payload.encrypted_session_key, data, data + size, &last);
  CheckInside(payload.encrypted_private_key, data, data + size, &last);
  return 0;
}
