#include "unzip/decode/decode_result.h"

namespace kestrel {

std::string DecodeResultText(TDecodeResult result, const std::string& detail) {
  std::string text;
  switch (result) {
    case drDecoded:
      text = "decoded";
      break;
    case drBadData:
      text = "damaged data";
      break;
    case drUnsupported:
      text = "unsupported data";
      break;
    case drWrongPassword:
      text = "incorrect password";
      break;
    case drAuthenticationFailed:
      text = "authentication failed";
      break;
    case drTooLarge:
      text = "more data than its declared size";
      break;
    case drOutOfMemory:
      text = "not enough memory";
      break;
  }
  if (!detail.empty()) text += " (" + detail + ")";
  return text;
}

}  // namespace kestrel
